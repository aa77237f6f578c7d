#include "shared/format_text.h"

std::string FormatText(const char* format, std::initializer_list<std::string> arguments) {
    std::string text;
    auto next = arguments.begin();
    for (const char* p = format; *p != '\0'; ++p) {
        if (p[0] == '%' && (p[1] == 's' || p[1] == 'd') && next != arguments.end()) {
            text += *next++;
            ++p;
        } else {
            text += *p;
        }
    }
    return text;
}
