#include "shared/format_text.h"
#include "shared/result_log.h"

namespace {

constexpr const char* kHeaderLines[] = {
    "[Setup Result]\n",
    "Application = Corvane\n",
};
constexpr char kResultLineFormat[] = "nResult = %d\n";
constexpr const char* kLegendLines[] = {
    "==========================\n",
    "Result Code:\n",
    "0 - Success.\n",
    "1 - Incorrect OS version, only Window 2000/XP are supported.\n",
    "2 - Could not create all installation files.\n",
    "3 - Call to Runvex.exe failed.\n",
    "4 - Could not uninstall HWIX QMB.\n",
};
constexpr char kLogExtension[] = ".log";
constexpr char kTraceLogExtension[] = ".trace.log";
constexpr char kKeptTraceLogExtension[] = ".trace.lo_";

}  // namespace

std::string ResultLogText(int result) {
    std::string text;
    for (const char* line : kHeaderLines) text += line;
    text += FormatText(kResultLineFormat, {std::to_string(result)});
    for (const char* line : kLegendLines) text += line;
    return text;
}

std::string ExecutableStem(const std::string& executableName, LeadBytePredicate isLeadByte) {
    return executableName.substr(0, FindLastAnsiByte(executableName, '.', isLeadByte));
}

std::string ResultLogFileName(const std::string& executableName, LeadBytePredicate isLeadByte) {
    return ExecutableStem(executableName, isLeadByte) + kLogExtension;
}

std::string TraceLogFileName(const std::string& executableName, LeadBytePredicate isLeadByte) {
    return ExecutableStem(executableName, isLeadByte) + kTraceLogExtension;
}

std::string KeptTraceLogFileName(const std::string& executableName, LeadBytePredicate isLeadByte) {
    return ExecutableStem(executableName, isLeadByte) + kKeptTraceLogExtension;
}
