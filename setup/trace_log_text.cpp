#include "setup/trace_log.h"

namespace {
constexpr char kLineEnd[] = "\r\n";
constexpr std::size_t kMillisecondsWidth = 8;
constexpr std::size_t kStampWidth = kMillisecondsWidth + 5;  // "[" and " ms] "

// "[     123 ms] ", the milliseconds right-aligned (wider when they need more room).
std::string Stamp(unsigned long elapsedMilliseconds) {
    std::string number = std::to_string(elapsedMilliseconds);
    std::string padding(number.size() < kMillisecondsWidth ? kMillisecondsWidth - number.size() : 0,
                        ' ');
    return "[" + padding + number + " ms] ";
}

std::string WithoutTrailingBlanks(std::string line) {
    while (!line.empty() && line.back() == ' ') line.pop_back();
    return line;
}
}  // namespace

std::string TraceRecord(unsigned long elapsedMilliseconds, const std::string& text) {
    std::string record;
    std::string line = Stamp(elapsedMilliseconds);
    for (char c : text) {
        if (c == '\r') continue;  // a line end of the text, which CR LF replaces
        if (c == '\n') {
            record += WithoutTrailingBlanks(line) + kLineEnd;
            line.assign(kStampWidth, ' ');
            continue;
        }
        line += c;
    }
    return record + WithoutTrailingBlanks(line) + kLineEnd;
}
