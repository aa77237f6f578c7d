#include "shared/result_log.h"

#include "platform/code_pages.h"
#include "platform/own_files.h"
#include "shared/run_state.h"

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
    // Without the executable's name there is no right name for the log: write none.
    if (run.ExecutableName.empty()) return;
    std::string path =
        WorkingPath(run, ResultLogFileName(run.ExecutableName, platform::IsAnsiLeadByte));
    if (path.empty()) return;
    // Created anew (an old log goes first, read-only or not; a link is never written through) and
    // written whole or not at all.
    std::string text = WithCrLf(ResultLogText(result));
    platform::WriteNewFile(path.c_str(), text.data(), static_cast<DWORD>(text.size()));
}
