#include "setup/ansi_text.h"

std::size_t FindLastAnsiByte(const std::string& text, char wanted, LeadBytePredicate isLeadByte) {
    std::size_t found = std::string::npos;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == wanted) {
            found = i;
        } else if (isLeadByte(static_cast<unsigned char>(text[i])) && i + 1 < text.size()) {
            ++i;
        }
    }
    return found;
}
