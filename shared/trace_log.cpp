#include "shared/trace_log.h"

#include "platform/code_pages.h"
#include "platform/debug_output.h"
#include "platform/handles.h"
#include "platform/own_files.h"
#include "platform/path_limit.h"
#include "shared/format_text.h"
#include "shared/package_settings.h"
#include "shared/result_log.h"
#include "shared/run_state.h"
#include "shared/setting_text.h"

namespace {

constexpr char kExtraMark[] = "* ";
constexpr char kFolderIgnoredFormat[] =
    "trace log folder %s ignored, error %d: the trace log is in the working directory";

struct TraceLog {
    bool collecting = false;
    std::string component;  // the package's file name without extension
    long biasMinutes = 0;
    std::string pending;  // records made before the file could be opened
    platform::FileHandle file;
    LONG size = 0;  // bytes of whole records in the file
};

TraceLog& Log() {
    static TraceLog log;
    return log;
}

// UTC minus local time in minutes, daylight saving time included, as the platform reports it.
long CurrentBiasMinutes() {
    TIME_ZONE_INFORMATION zone{};
    switch (GetTimeZoneInformation(&zone)) {
        case TIME_ZONE_ID_DAYLIGHT:
            return zone.Bias + zone.DaylightBias;
        case TIME_ZONE_ID_STANDARD:
            return zone.Bias + zone.StandardBias;
        default:
            return zone.Bias;
    }
}

TraceStamp Now(long biasMinutes) {
    SYSTEMTIME local{};
    GetLocalTime(&local);
    TraceStamp stamp;
    stamp.year = local.wYear;
    stamp.month = local.wMonth;
    stamp.day = local.wDay;
    stamp.hour = local.wHour;
    stamp.minute = local.wMinute;
    stamp.second = local.wSecond;
    stamp.milliseconds = local.wMilliseconds;
    stamp.biasMinutes = biasMinutes;
    stamp.threadId = GetCurrentThreadId();
    return stamp;
}

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

std::string Record(const std::string& text, TraceRecordType type) {
    const TraceLog& log = Log();
    return TraceRecord(log.component, Now(log.biasMinutes), text, type);
}

void Append(const std::string& text, TraceRecordType type) {
    TraceLog& log = Log();
    if (!log.collecting) return;
    if (!log.file.valid()) {
        log.pending += Record(text, type);
        return;
    }
    // A failed write changes nothing else of the run.
    WriteRecords(log, Record(text, type));
}

void AppendDebugText(const char* text, platform::Severity severity) {
    Append(text, static_cast<TraceRecordType>(severity));
}

// Creates the log anew (an old one goes first, read-only or not; a link is never written
// through); 0 on success, else the platform's error.
DWORD CreateLogFile(const std::wstring& path) {
    if (!platform::RemoveOwnFile(path)) return ERROR_ACCESS_DENIED;
    Log().file.reset(platform::CreateNewFile(path, FILE_ATTRIBUTE_NORMAL, FILE_SHARE_READ));
    return Log().file.valid() ? 0 : GetLastError();
}

// The package's trace log folder with %NAME% expanded, created with its parents; empty (and
// `error` set) when it cannot be. A folder that is not absolute once expanded (a %NAME% that no
// variable defines, or one that expands to a relative path) is never created: it would land in
// the working directory, which the cleanup empties. Wide throughout, so that the folder is the
// same on every PC whatever its code pages.
std::wstring PreparedFolder(const std::string& folder, DWORD& error) {
    const std::wstring wanted = WideSettingText(folder);
    wchar_t expanded[kPathBufferSize] = {};
    DWORD length = ExpandEnvironmentStringsW(wanted.c_str(), expanded, kPathBufferSize);
    if (length == 0 || length > kPathBufferSize) {
        error = length == 0 ? GetLastError() : ERROR_FILENAME_EXCED_RANGE;
        return {};
    }
    std::wstring prepared(expanded);
    if (HoldsVariableReference(AsciiShadow(prepared))) {
        error = ERROR_ENVVAR_NOT_FOUND;
        return {};
    }
    if (!IsAbsoluteFolderPath(AsciiShadow(prepared))) {
        error = ERROR_BAD_PATHNAME;
        return {};
    }
    if (prepared.back() != L'\\') prepared += L'\\';
    platform::CreateFoldersOf(prepared);
    const DWORD attributes = GetFileAttributesW(prepared.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        error = ERROR_PATH_NOT_FOUND;
        return {};
    }
    return prepared;
}

// Writes the records made so far as the log's first ones; a log that cannot take them whole (a
// full drive) is removed, so that the run falls back to the working directory instead of leaving
// an empty log. 0 on success, else the platform's error.
DWORD WriteFirstRecords(TraceLog& log, const std::wstring& path) {
    if (platform::WriteWhole(log.file.get(), log.pending.data(),
                             static_cast<DWORD>(log.pending.size()))) {
        log.size = static_cast<LONG>(log.pending.size());
        log.pending.clear();
        return 0;
    }
    const DWORD error = GetLastError();
    log.file.reset();
    platform::RemoveOwnFile(path);
    return error != 0 ? error : ERROR_WRITE_FAULT;
}

// Opens the log in the package's folder, keeping an earlier run's log as .trace.lo_ (one
// generation, as the log viewers keep theirs), and writes the records made so far; 0 on success,
// else the platform's error.
DWORD OpenInFolder(const std::string& folderSetting, const std::string& executableName) {
    DWORD error = 0;
    const std::wstring folder = PreparedFolder(folderSetting, error);
    if (folder.empty()) return error;
    const std::wstring path =
        folder + platform::FromAnsi(TraceLogFileName(executableName, platform::IsAnsiLeadByte));
    const std::wstring kept =
        folder + platform::FromAnsi(KeptTraceLogFileName(executableName, platform::IsAnsiLeadByte));
    if (kept.size() >= kPathBufferSize || path.size() >= kPathBufferSize) {
        return ERROR_FILENAME_EXCED_RANGE;
    }
    if (!platform::IsLink(path) && GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES &&
        platform::RemoveOwnFile(kept) && !MoveFileW(path.c_str(), kept.c_str())) {
        TraceText("earlier trace log " + platform::ToAnsi(path) + " not kept, error " +
                      std::to_string(GetLastError()),
                  TraceRecordType::kWarning);
    }
    error = CreateLogFile(path);
    return error != 0 ? error : WriteFirstRecords(Log(), path);
}

}  // namespace

void StartTraceLog() {
    TraceLog& log = Log();
    log.collecting = true;
    std::string executableName;
    if (GetExecutableFileName(executableName) == 0) {
        log.component = ExecutableStem(executableName, platform::IsAnsiLeadByte);
    }
    log.biasMinutes = CurrentBiasMinutes();
    platform::g_DebugTextObserver = AppendDebugText;
}

void TraceText(const std::string& text, TraceRecordType type) {
    Append(kExtraMark + text, type);
}

void OpenTraceLog(const RunInputs& run) {
    TraceLog& log = Log();
    if (!log.collecting || log.file.valid()) return;
    std::string executableName;
    if (GetExecutableFileName(executableName) != 0) return;
    std::string reason;
    const std::string& folder = run.Settings.traceLogFolder;
    if (!folder.empty()) {
        const DWORD error = OpenInFolder(folder, executableName);
        if (error == 0) return;
        reason = FormatText(kFolderIgnoredFormat,
                            {platform::ToAnsi(WideSettingText(folder)), std::to_string(error)});
    }
    // Named like the result log, in the working directory.
    std::string path = WorkingPath(run, TraceLogFileName(executableName, platform::IsAnsiLeadByte));
    if (path.empty() || CreateLogFile(platform::FromAnsi(path)) != 0) return;
    // The reason arose now, after the records made so far: it follows them, so that the times
    // never go backward.
    std::string records;
    records.swap(log.pending);
    if (!reason.empty()) records += Record(kExtraMark + reason, TraceRecordType::kWarning);
    WriteRecords(log, records);
}

void CloseTraceLog() {
    TraceLog& log = Log();
    platform::g_DebugTextObserver = nullptr;
    log.collecting = false;
    log.pending.clear();
    log.file.reset();
}
