// Registry family: owner of an open registry key.
#pragma once

#include <windows.h>

namespace platform {

// Owns a key opened or created with RegCreateKeyExA; put() is the out-parameter.
class RegistryKey {
  public:
    RegistryKey() = default;
    ~RegistryKey() {
        if (key_ != nullptr) RegCloseKey(key_);
    }
    RegistryKey(const RegistryKey&) = delete;
    RegistryKey& operator=(const RegistryKey&) = delete;
    HKEY get() const { return key_; }
    HKEY* put() { return &key_; }

  private:
    HKEY key_ = nullptr;
};

}  // namespace platform
