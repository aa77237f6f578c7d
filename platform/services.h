// Service family: owner of service control manager handles.
#pragma once

#include <windows.h>
// winsvc.h is part of windows.h; named here for the reader.
#include <winsvc.h>

namespace platform {

// Owns a handle of the service control manager or of a service.
class ServiceHandle {
  public:
    explicit ServiceHandle(SC_HANDLE handle = nullptr) : handle_(handle) {}
    ~ServiceHandle() {
        if (handle_ != nullptr) CloseServiceHandle(handle_);
    }
    ServiceHandle(const ServiceHandle&) = delete;
    ServiceHandle& operator=(const ServiceHandle&) = delete;
    SC_HANDLE get() const { return handle_; }

  private:
    SC_HANDLE handle_;
};

}  // namespace platform
