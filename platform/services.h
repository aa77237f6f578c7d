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

// True when the service exists and is in any state but stopped (false when it cannot be asked).
inline bool IsServiceActive(const char* name) {
    ServiceHandle manager(OpenSCManagerA(nullptr, nullptr, GENERIC_READ));
    if (!manager.valid()) return false;
    ServiceHandle service(OpenServiceA(manager.get(), name, GENERIC_READ));
    if (!service.valid()) return false;
    SERVICE_STATUS_PROCESS status{};
    DWORD needed = 0;
    return QueryServiceStatusEx(service.get(), SC_STATUS_PROCESS_INFO,
                                reinterpret_cast<BYTE*>(&status), sizeof status, &needed) &&
           status.dwCurrentState != SERVICE_STOPPED;
}

}  // namespace platform
