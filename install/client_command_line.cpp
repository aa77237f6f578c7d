#include <cstring>

#include "install/install_sequence.h"
#include "shared/format_text.h"

namespace {
constexpr char kClientModule64[] = "ZunaClientModule64.exe";
constexpr char kClientModule32[] = "ZunaClientModule32.exe";
constexpr char kProfileOption[] = " -file:";
constexpr char kProfileFile[] = "profile.xml";
constexpr char kWithheldFormat[] = " <%s characters withheld>";
}  // namespace

const char* ClientModuleFileName(bool windows64) {
    return windows64 ? kClientModule64 : kClientModule32;
}

std::string ClientModuleCommandLine(const std::string& modulePath, const char* text) {
    // Quoted, so that a working directory with blanks cannot start another program.
    std::string commandLine = '"' + modulePath + '"';
    commandLine += kProfileOption;
    commandLine += kProfileFile;
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
