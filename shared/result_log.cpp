#include "shared/result_log.h"

#include "platform/code_pages.h"
#include "platform/own_files.h"
#include "platform/system_facts.h"
#include "shared/run_state.h"

int GetExecutableFileName(std::string& name) {
    const std::string fullPath = platform::ExecutablePath();
    if (fullPath.empty()) return 1;
    std::size_t slash = FindLastAnsiByte(fullPath, '\\', platform::IsAnsiLeadByte);
    name = slash == std::string::npos ? fullPath : fullPath.substr(slash + 1);
    return 0;
}

namespace {
// The log is a text file: every line ends in CR LF.
std::string WithCrLf(const std::string& text) {
    std::string converted;
    for (char c : text) {
        if (c == '\n') converted += '\r';
        converted += c;
    }
    return converted;
}
}  // namespace

void WriteResultLog(int result, const RunInputs& run) {
    std::string executableName;
    // Without the executable's name there is no right name for the log: write none.
    if (GetExecutableFileName(executableName) != 0) return;
    std::string path =
        WorkingPath(run, ResultLogFileName(executableName, platform::IsAnsiLeadByte));
    if (path.empty()) return;
    // Created anew (an old log goes first, read-only or not; a link is never written through) and
    // written whole or not at all.
    std::string text = WithCrLf(ResultLogText(result));
    platform::WriteNewFile(path.c_str(), text.data(), static_cast<DWORD>(text.size()));
}
