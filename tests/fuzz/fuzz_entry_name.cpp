// Any cabinet entry name that the extractor accepts stays inside the destination when Windows
// resolves it: components of dots and blanks only are taken as a step up, the worst reading.
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

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    const std::string name = bytes.substr(0, bytes.find('\0'));
    if (IsContainedEntryName(name) && Escapes(name)) std::abort();
    return 0;
}
