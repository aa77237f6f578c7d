#include "shared/setting_text.h"

#include "platform/code_pages.h"
#include "platform/system_facts.h"
#include "shared/ansi_text.h"
#include "shared/package_settings.h"

std::wstring WideSettingText(const std::string& value) {
    std::wstring wide;
    return DecodeUtf8(value, wide) ? wide : platform::FromAnsi(value);
}

std::string AsciiShadow(const std::wstring& path) {
    std::string shadow;
    for (wchar_t c : path) shadow += c < 0x80 ? static_cast<char>(c) : '?';
    return shadow;
}

std::wstring ExpandedFolderSetting(const std::string& folder, unsigned long& error) {
    const std::wstring wanted = WideSettingText(folder);
    std::wstring result;
    error = platform::ExpandVariables(wanted, result);
    if (error != 0) return {};
    if (HoldsVariableReference(AsciiShadow(result))) {
        error = ERROR_ENVVAR_NOT_FOUND;
        return {};
    }
    if (!IsAbsoluteFolderPath(AsciiShadow(result))) {
        error = ERROR_BAD_PATHNAME;
        return {};
    }
    // A drive's root keeps its backslash.
    if (result.size() > 3 && result.back() == L'\\') result.pop_back();
    return result;
}
