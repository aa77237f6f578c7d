#include "shared/ansi_text.h"

namespace {
constexpr unsigned char kLowestTrailByte = 0x40;
}

char FoldAsciiLetter(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

std::string WithoutTrailingDotsAndBlanks(std::string name) {
    while (!name.empty() && (name.back() == '.' || name.back() == ' ')) name.pop_back();
    return name;
}

bool IsDoubleByteAt(const std::string& text, std::size_t i, LeadBytePredicate isLeadByte) {
    return i + 1 < text.size() && isLeadByte(static_cast<unsigned char>(text[i])) &&
           static_cast<unsigned char>(text[i + 1]) >= kLowestTrailByte;
}

std::size_t FindLastAnsiByte(const std::string& text, char wanted, LeadBytePredicate isLeadByte) {
    std::size_t found = std::string::npos;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == wanted) {
            found = i;
        } else if (IsDoubleByteAt(text, i, isLeadByte)) {
            ++i;
        }
    }
    return found;
}
