// Service family: owner of service control manager handles.
#pragma once

#include <windows.h>
// winsvc.h is part of windows.h; named here for the reader.
#include <winsvc.h>

#include "platform/handles.h"

namespace platform {

// Handles of the service control manager or of a service.
struct ServiceHandleTraits {
    using Handle = SC_HANDLE;
    static Handle Empty() { return nullptr; }
    static void Close(Handle handle) { CloseServiceHandle(handle); }
};
using ServiceHandle = UniqueHandle<ServiceHandleTraits>;

}  // namespace platform
