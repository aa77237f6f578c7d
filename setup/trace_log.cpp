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
    LONG size = 0;  // bytes of whole records in the file
};

// Writes records whole or ends the log: a record cut short (a full disk) is taken back, and
// nothing more is written, so no record is ever glued to a later one.
void WriteRecords(TraceLog& log, const std::string& records) {
    if (platform::WriteWhole(log.file.get(), records.data(), static_cast<DWORD>(records.size()))) {
        log.size += static_cast<LONG>(records.size());
        return;
    }
    SetFilePointer(log.file.get(), log.size, nullptr, FILE_BEGIN);
    SetEndOfFile(log.file.get());
    log.file.reset();
    log.collecting = false;
}

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
    WriteRecords(log, record);
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
    // Created anew: an old log goes first, read-only or not, and a link is never written through.
    const std::wstring widePath = platform::FromAnsi(path);
    if (!platform::RemoveOwnFile(widePath)) return;
    log.file.reset(platform::CreateNewFile(widePath, FILE_ATTRIBUTE_NORMAL, FILE_SHARE_READ));
    if (!log.file.valid()) return;
    std::string pending;
    pending.swap(log.pending);
    WriteRecords(log, pending);
}

void CloseTraceLog() {
    TraceLog& log = Log();
    platform::g_DebugTextObserver = nullptr;
    log.collecting = false;
    log.pending.clear();
    log.file.reset();
}
