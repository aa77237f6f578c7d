#include "setup/command_line_options.h"

#include <new>

namespace {
constexpr char kHyphen = '-';
constexpr char kColon = ':';
constexpr char kQuote = '"';
constexpr char kBackslash = '\\';
constexpr char kSpace = ' ';
}  // namespace

CommandLineOptions::CommandLineOptions(const char* commandLine) {
    try {
        CommandLineCopy = commandLine != nullptr ? commandLine : "";
        Split();
    } catch (const std::bad_alloc&) {
        // Without memory for the copy the object holds no options.
        OptionStarts.clear();
        CommandLineCopy.clear();
    }
}

void CommandLineOptions::Split() {
    InQuotes = 0;
    QuotingEnabled = 1;
    // Writes go through a pointer to the copy's first byte, so that the NULs stay inside the
    // copy's own bytes.
    char* text = &CommandLineCopy[0];
    const std::size_t length = CommandLineCopy.size();
    for (std::size_t i = 0; i < length; ++i) {
        const char c = text[i];
        if (c == '\0') break;
        if (c == kHyphen && !InQuotes) {
            QuotingEnabled = 0;
            text[i] = '\0';
            OptionStarts.push_back(i + 1);
        } else if (c == kColon && !InQuotes) {
            QuotingEnabled = 1;
        } else if (c == kQuote && (i == 0 || text[i - 1] != kBackslash) && QuotingEnabled) {
            InQuotes = !InQuotes;
        }
    }
}

int CommandLineOptions::GetCount() const {
    return static_cast<int>(OptionStarts.size());
}

std::string CommandLineOptions::GetName(int index) {
    if (index < 0 || OptionStarts.empty() || index >= GetCount()) return {};
    std::string& entry = NameCache[index];
    if (entry.empty()) entry = ParseName(static_cast<unsigned>(index));
    return entry;
}

std::string CommandLineOptions::ParseName(unsigned index) const {
    const char* option = CommandLineCopy.c_str() + OptionStarts[index];
    while (*option == kSpace) ++option;
    const char* end = option;
    while (*end != '\0' && *end != kSpace && *end != kColon) ++end;
    return std::string(option, end);
}

const char* CommandTail(const char* commandLine) {
    if (commandLine == nullptr) return "";
    const char* p = commandLine;
    bool inQuotes = false;
    for (; *p != '\0'; ++p) {
        if (*p == kQuote) inQuotes = !inQuotes;
        if (!inQuotes && static_cast<unsigned char>(*p) <= 32) break;
    }
    while (*p != '\0' && static_cast<unsigned char>(*p) <= 32) ++p;
    return p;
}
