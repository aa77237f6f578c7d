#include "platform/code_pages.h"

namespace platform {

namespace {

// UTF-8 (which a system may choose as its ANSI code page) takes neither the no-best-fit flag nor
// a default character; it has every character.
DWORD NoBestFitFlags(UINT codePage) {
    UINT actual = codePage == CP_ACP ? GetACP() : codePage == CP_OEMCP ? GetOEMCP() : codePage;
    return actual == CP_UTF8 ? 0 : WC_NO_BEST_FIT_CHARS;
}

std::string FromWide(UINT codePage, const std::wstring& text, BOOL* usedDefault) {
    if (text.empty()) return {};
    const int length = static_cast<int>(text.size());
    const DWORD flags = NoBestFitFlags(codePage);
    if (flags == 0) usedDefault = nullptr;
    int size =
        WideCharToMultiByte(codePage, flags, text.c_str(), length, nullptr, 0, nullptr, nullptr);
    std::string result(static_cast<std::size_t>(size > 0 ? size : 0), '\0');
    if (size > 0) {
        WideCharToMultiByte(codePage, flags, text.c_str(), length, &result[0], size, nullptr,
                            usedDefault);
    }
    return result;
}

std::wstring ToWide(UINT codePage, const std::string& text) {
    if (text.empty()) return {};
    int size =
        MultiByteToWideChar(codePage, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring result(static_cast<std::size_t>(size > 0 ? size : 0), L'\0');
    if (size > 0) {
        MultiByteToWideChar(codePage, 0, text.c_str(), static_cast<int>(text.size()), &result[0],
                            size);
    }
    return result;
}

// Exact when no default character was used and the bytes read back as the same text.
bool FromWideExactly(UINT codePage, const std::wstring& text, std::string& converted) {
    BOOL usedDefault = FALSE;
    std::string result = FromWide(codePage, text, &usedDefault);
    if (usedDefault || (result.empty() && !text.empty()) || ToWide(codePage, result) != text) {
        return false;
    }
    converted = result;
    return true;
}

}  // namespace

std::string ToAnsi(const std::wstring& text) {
    return FromWide(CP_ACP, text, nullptr);
}

bool ToAnsiExactly(const std::wstring& text, std::string& converted) {
    return FromWideExactly(CP_ACP, text, converted);
}

bool ToOemExactly(const std::wstring& text, std::string& converted) {
    return FromWideExactly(CP_OEMCP, text, converted);
}

std::wstring FromAnsi(const std::string& text) {
    return ToWide(CP_ACP, text);
}

std::wstring FromOem(const std::string& text) {
    return ToWide(CP_OEMCP, text);
}

std::string ToUtf8(const std::wstring& text) {
    if (text.empty()) return {};
    const int length = static_cast<int>(text.size());
    const int size =
        WideCharToMultiByte(CP_UTF8, 0, text.c_str(), length, nullptr, 0, nullptr, nullptr);
    std::string result(static_cast<std::size_t>(size > 0 ? size : 0), '\0');
    if (size > 0) {
        WideCharToMultiByte(CP_UTF8, 0, text.c_str(), length, &result[0], size, nullptr, nullptr);
    }
    return result;
}

}  // namespace platform
