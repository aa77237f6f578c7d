// Registry family: owner of an open registry key, value setters.
#pragma once

#include <windows.h>

#include <string>

#include "platform/handles.h"

namespace platform {

// Keys opened or created with RegCreateKeyEx; put() is the out-parameter.
struct RegistryKeyTraits {
    using Handle = HKEY;
    static Handle Empty() { return nullptr; }
    static void Close(Handle handle) { RegCloseKey(handle); }
};
using RegistryKey = UniqueHandle<RegistryKeyTraits>;

// Sets a REG_SZ value (with its terminator) or a REG_DWORD value; the platform's status.
inline LONG SetRegistryText(HKEY key, const char* name, const std::string& value) {
    return RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                          static_cast<DWORD>(value.size() + 1));
}
inline LONG SetRegistryNumber(HKEY key, const char* name, DWORD value) {
    return RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                          sizeof value);
}

}  // namespace platform
