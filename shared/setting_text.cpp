#include "shared/setting_text.h"

#include "platform/code_pages.h"
#include "shared/ansi_text.h"

std::wstring WideSettingText(const std::string& value) {
    std::wstring wide;
    return DecodeUtf8(value, wide) ? wide : platform::FromAnsi(value);
}

std::string AsciiShadow(const std::wstring& path) {
    std::string shadow;
    for (wchar_t c : path) shadow += c < 0x80 ? static_cast<char>(c) : '?';
    return shadow;
}
