// Registry family: owner of an open registry key, value setters.
#pragma once

#include <windows.h>

#include <cstring>
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

// The longest text value read back (the setup's own values and firmware names are far shorter).
constexpr DWORD kLongestRegistryText = 1024;

// Reads a REG_SZ value; false where it is missing, of another type or longer than
// kLongestRegistryText.
inline bool ReadRegistryText(HKEY key, const char* name, std::string& value) {
    char buffer[kLongestRegistryText] = {};
    DWORD size = sizeof buffer - 1;
    DWORD type = 0;
    if (RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size) !=
            ERROR_SUCCESS ||
        type != REG_SZ) {
        return false;
    }
    value.assign(buffer, strnlen(buffer, size));
    return true;
}

// Creates (or opens) a lasting key of HKEY_LOCAL_MACHINE; `access` holds the view with the rights.
inline LONG CreateMachineKey(const std::wstring& subkey, REGSAM access, RegistryKey& key) {
    return RegCreateKeyExW(HKEY_LOCAL_MACHINE, subkey.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                           access, nullptr, key.put(), nullptr);
}
inline LONG CreateMachineKey(const char* subkey, REGSAM access, RegistryKey& key) {
    return RegCreateKeyExA(HKEY_LOCAL_MACHINE, subkey, 0, nullptr, REG_OPTION_NON_VOLATILE, access,
                           nullptr, key.put(), nullptr);
}

// Creates (or opens) a key below `parent` that the platform forgets at the next restart.
inline LONG CreateVolatileKey(HKEY parent, const char* name, REGSAM access, RegistryKey& key) {
    return RegCreateKeyExA(parent, name, 0, nullptr, REG_OPTION_VOLATILE, access, nullptr,
                           key.put(), nullptr);
}

// Deletes a value; the platform's status (ERROR_FILE_NOT_FOUND where there was none).
inline LONG DeleteRegistryValue(HKEY key, const char* name) {
    return RegDeleteValueA(key, name);
}

// Opens a key of HKEY_LOCAL_MACHINE to read its values; `view` is 0 or KEY_WOW64_64KEY.
inline LONG OpenMachineKeyToRead(const char* subkey, REGSAM view, RegistryKey& key) {
    return RegOpenKeyExA(HKEY_LOCAL_MACHINE, subkey, 0, KEY_QUERY_VALUE | view, key.put());
}

}  // namespace platform
