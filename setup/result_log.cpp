#include "setup/result_log.h"

#include <cstdio>
#include <memory>

#include "platform/files_processes.h"
#include "setup/setup_state.h"

int GetExecutableFileName(std::string& name) {
    char path[kPathBufferSize] = {};
    DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
    // A length that fills the buffer means the path was cut: its last component is not the name.
    if (length == 0 || length >= sizeof path) return 1;
    std::string fullPath(path, length);
    std::size_t slash = FindLastAnsiByte(fullPath, '\\', platform::IsAnsiLeadByte);
    name = slash == std::string::npos ? fullPath : fullPath.substr(slash + 1);
    return 0;
}

void WriteResultLog(int result) {
    std::string executableName;
    // Without the executable's name there is no right name for the log: write none.
    if (GetExecutableFileName(executableName) != 0) return;
    std::string path = WorkingPath(ResultLogFileName(executableName, platform::IsAnsiLeadByte));
    if (path.empty()) return;
    // Text mode: every "\n" of the text becomes CR LF in the file.
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "w"),
                                                         &std::fclose);
    if (!file) return;
    std::fputs(ResultLogText(result).c_str(), file.get());
}
