// Any cabinet entry name that the extractor accepts stays inside the destination when Windows
// resolves it: components of dots and blanks only are taken as a step up, the worst reading, and
// no component names a device. A name marked UTF-8 decodes only when it is valid UTF-8.
#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "payload/cabinet_text.h"

namespace {

bool IsSeparator(char c) {
    return c == '\\' || c == '/';
}

bool Escapes(const std::string& name) {
    if (name.empty() || IsSeparator(name[0]) || name.find(':') != std::string::npos) return true;
    int depth = 0;
    std::size_t start = 0;
    while (start <= name.size()) {
        std::size_t end = start;
        while (end < name.size() && !IsSeparator(name[end])) ++end;
        const std::string component = name.substr(start, end - start);
        const bool dotsAndBlanks = component.find_first_not_of(". ") == std::string::npos;
        if (dotsAndBlanks && component != ".") {
            if (--depth < 0) return true;
        } else if (component != ".") {
            ++depth;
        }
        start = end + 1;
    }
    return false;
}

// A device name in any component, read as Windows reads it (an independent rendering).
bool NamesDevice(const std::string& name) {
    static const char* const kDevices[] = {"CON",  "CONIN$", "CONOUT$", "NUL",  "AUX",  "PRN",
                                           "COM1", "COM2",   "COM3",    "COM4", "COM5", "COM6",
                                           "COM7", "COM8",   "COM9",    "LPT1", "LPT2", "LPT3",
                                           "LPT4", "LPT5",   "LPT6",    "LPT7", "LPT8", "LPT9"};
    std::size_t start = 0;
    while (start <= name.size()) {
        std::size_t end = start;
        while (end < name.size() && !IsSeparator(name[end])) ++end;
        std::string stem = name.substr(start, end - start);
        stem = stem.substr(0, stem.find('.'));
        stem.erase(stem.find_last_not_of(' ') + 1);
        for (char& c : stem) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        for (const char* device : kDevices) {
            if (stem == device) return true;
        }
        start = end + 1;
    }
    return false;
}

// UTF-8 of UTF-16 text (an independent encoder): a name decodes only when it encodes back to
// exactly its bytes, so no two byte strings name one file and no invalid form gets through.
std::string EncodeUtf8(const std::wstring& text) {
    std::string bytes;
    for (std::size_t i = 0; i < text.size(); ++i) {
        std::uint32_t c = text[i];
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < text.size()) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00u);
        }
        if (c < 0x80) {
            bytes += static_cast<char>(c);
        } else if (c < 0x800) {
            bytes += static_cast<char>(0xC0 | (c >> 6));
            bytes += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            bytes += static_cast<char>(0xE0 | (c >> 12));
            bytes += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            bytes += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            bytes += static_cast<char>(0xF0 | (c >> 18));
            bytes += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            bytes += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            bytes += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return bytes;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    const std::string name = bytes.substr(0, bytes.find('\0'));
    if (IsContainedEntryName(name) && (Escapes(name) || NamesDevice(name))) std::abort();
    std::wstring decoded;
    if (DecodeUtf8(name, decoded) && EncodeUtf8(decoded) != name) std::abort();
    return 0;
}
