#include "install/client_command_line.h"

#include <cstring>

#include "payload/own_names.h"
#include "shared/format_text.h"

namespace {
constexpr char kProfileOption[] = " -file:";
constexpr char kWithheldFormat[] = " <%s characters withheld>";
}  // namespace

const char* ClientModuleFileName(bool windows64) {
    return windows64 ? kClientModule64Name : kClientModule32Name;
}

std::string ClientModuleCommandLine(const std::string& modulePath, const char* text) {
    // Quoted, so that a working directory with blanks cannot start another program.
    std::string commandLine = '"' + modulePath + '"';
    commandLine += kProfileOption;
    commandLine += kProfileName;
    if (text != nullptr && *text != '\0') {
        commandLine += ' ';
        commandLine += text;
    }
    return commandLine;
}

std::string WithheldArguments(const char* text, const char* traced) {
    if (traced != nullptr || text == nullptr || *text == '\0') return {};
    return FormatText(kWithheldFormat, {std::to_string(std::strlen(text))});
}
