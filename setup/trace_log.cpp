#include "setup/trace_log.h"

#include "platform/files_processes.h"
#include "setup/result_log.h"
#include "setup/setup_state.h"

namespace {

constexpr char kExtraMark[] = "* ";

struct TraceLog {
    bool collecting = false;
    DWORD start = 0;
    std::string pending;  // records made before the file could be opened
    platform::FileHandle file;
};

TraceLog& Log() {
    static TraceLog log;
    return log;
}

void Append(const std::string& text) {
    TraceLog& log = Log();
    if (!log.collecting) return;
    std::string record = TraceRecord(GetTickCount() - log.start, text);
    if (!log.file.valid()) {
        log.pending += record;
        return;
    }
    // A failed write changes nothing else of the run.
    DWORD written = 0;
    WriteFile(log.file.get(), record.data(), static_cast<DWORD>(record.size()), &written, nullptr);
}

void AppendDebugText(const char* text) {
    Append(text);
}

}  // namespace

void StartTraceLog() {
    TraceLog& log = Log();
    log.collecting = true;
    log.start = GetTickCount();
    platform::g_DebugTextObserver = AppendDebugText;
}

void TraceText(const std::string& text) {
    Append(kExtraMark + text);
}

void OpenTraceLog() {
    TraceLog& log = Log();
    if (!log.collecting || log.file.valid()) return;
    std::string executableName;
    if (GetExecutableFileName(executableName) != 0) return;
    // Named like the result log, and only ever in the working directory.
    std::string path = WorkingPath(TraceLogFileName(executableName, platform::IsAnsiLeadByte));
    if (path.empty()) return;
    platform::MakeReplaceable(path.c_str());
    log.file.reset(CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!log.file.valid()) return;
    std::string pending;
    pending.swap(log.pending);
    DWORD written = 0;
    WriteFile(log.file.get(), pending.data(), static_cast<DWORD>(pending.size()), &written,
              nullptr);
}

void CloseTraceLog() {
    TraceLog& log = Log();
    platform::g_DebugTextObserver = nullptr;
    log.collecting = false;
    log.pending.clear();
    log.file.reset();
}
