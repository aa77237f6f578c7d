#include "shared/trace_log.h"

#include "platform/code_pages.h"
#include "platform/debug_output.h"
#include "platform/handles.h"
#include "platform/own_files.h"
#include "platform/path_limit.h"
#include "platform/system_facts.h"
#include "shared/format_text.h"
#include "shared/package_settings.h"
#include "shared/result_log.h"
#include "shared/run_state.h"
#include "shared/setting_text.h"

namespace {

constexpr char kExtraMark[] = "* ";
constexpr char kFolderIgnoredFormat[] =
    "trace log folder %s ignored, error %d: the trace log is in the working directory";
constexpr char kCutFormat[] = "* trace log cut: error %d";

TraceStamp Now(long biasMinutes) {
    const SYSTEMTIME local = platform::LocalTimeNow();
    TraceStamp stamp;
    stamp.year = local.wYear;
    stamp.month = local.wMonth;
    stamp.day = local.wDay;
    stamp.hour = local.wHour;
    stamp.minute = local.wMinute;
    stamp.second = local.wSecond;
    stamp.milliseconds = local.wMilliseconds;
    stamp.biasMinutes = biasMinutes;
    stamp.threadId = platform::CurrentThreadId();
    return stamp;
}

// The package's trace log folder with %NAME% expanded, created with its parents; empty (and
// `error` set) when it cannot be. A folder that is not absolute once expanded is never created:
// it would land in the working directory, which the cleanup empties.
std::wstring PreparedFolder(const std::string& folder, DWORD& error) {
    std::wstring prepared = ExpandedFolderSetting(folder, error);
    if (prepared.empty()) return {};
    if (prepared.back() != L'\\') prepared += L'\\';
    platform::CreateFoldersOf(prepared);
    const DWORD attributes = platform::FileAttributes(prepared);
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        error = ERROR_PATH_NOT_FOUND;
        return {};
    }
    return prepared;
}

}  // namespace

// Writes records whole or ends the log: a record cut short (a full disk) is taken back, and
// nothing more is written, so no record is ever glued to a later one; the debug output says so.
void TraceLog::writeRecords(const std::string& records) {
    if (platform::WriteWhole(file_.get(), records.data(), static_cast<DWORD>(records.size()))) {
        size_ += static_cast<LONG>(records.size());
        return;
    }
    const DWORD error = platform::WriteWholeError();
    platform::CutFileAt(file_.get(), size_);
    file_.reset();
    collecting_ = false;
    cut_ = true;
    platform::DebugText(FormatText(kCutFormat, {std::to_string(static_cast<long>(error))}),
                        platform::Severity::kWarning);
}

std::string TraceLog::record(const std::string& text, platform::Severity type) const {
    return TraceRecord(component_, Now(biasMinutes_), text, type);
}

void TraceLog::heard(const char* text, platform::Severity type) {
    if (!collecting_) return;
    if (!file_.valid()) {
        pending_ += record(text, type);
        return;
    }
    // A failed write changes nothing else of the run.
    writeRecords(record(text, type));
}

// Creates the log anew (an old one goes first, read-only or not; a link is never written
// through); 0 on success, else the platform's error.
DWORD TraceLog::createFile(const std::wstring& path) {
    if (!platform::RemoveOwnFile(path)) return ERROR_ACCESS_DENIED;
    file_.reset(platform::CreateNewFile(path, FILE_ATTRIBUTE_NORMAL, FILE_SHARE_READ));
    return file_.valid() ? 0 : platform::LastError();
}

// Writes the records made so far as the log's first ones; a log that cannot take them whole (a
// full drive) is removed, so that the run falls back to the working directory instead of leaving
// an empty log. 0 on success, else the platform's error.
DWORD TraceLog::writeFirstRecords(const std::wstring& path) {
    if (platform::WriteWhole(file_.get(), pending_.data(), static_cast<DWORD>(pending_.size()))) {
        size_ = static_cast<LONG>(pending_.size());
        pending_.clear();
        return 0;
    }
    const DWORD error = platform::WriteWholeError();
    file_.reset();
    platform::RemoveOwnFile(path);
    return error;
}

// Creates the log at <folder><executable name>.trace.log, keeping an earlier run's log as
// .trace.lo_ (one generation, as the log viewers keep theirs: a failed run's log outlives its
// retry); 0 on success, else the platform's error.
DWORD TraceLog::createKeepingEarlier(const std::wstring& folder, const std::string& executableName,
                                     std::wstring& path) {
    path = folder + platform::FromAnsi(TraceLogFileName(executableName, platform::IsAnsiLeadByte));
    const std::wstring kept =
        folder + platform::FromAnsi(KeptTraceLogFileName(executableName, platform::IsAnsiLeadByte));
    if (kept.size() >= kPathBufferSize || path.size() >= kPathBufferSize) {
        return ERROR_FILENAME_EXCED_RANGE;
    }
    if (!platform::IsLink(path) && platform::FileAttributes(path) != INVALID_FILE_ATTRIBUTES &&
        platform::RemoveOwnFile(kept)) {
        if (const DWORD error = platform::RenameOwnFile(path, kept); error != 0) {
            TraceText("earlier trace log " + platform::ToAnsi(path) + " not kept, error " +
                          std::to_string(error),
                      platform::Severity::kWarning);
        }
    }
    return createFile(path);
}

// Opens the log in the package's folder and writes the records made so far; 0 on success, else
// the platform's error.
DWORD TraceLog::openInFolder(const std::string& folderSetting, const std::string& executableName) {
    DWORD error = 0;
    const std::wstring folder = PreparedFolder(folderSetting, error);
    if (folder.empty()) return error;
    std::wstring path;
    error = createKeepingEarlier(folder, executableName, path);
    return error != 0 ? error : writeFirstRecords(path);
}

namespace {

// The debug output's listener: the trace log that started.
void HearText(void* log, const char* text, platform::Severity type) {
    static_cast<TraceLog*>(log)->heard(text, type);
}

}  // namespace

TraceLog::~TraceLog() {
    close();
}

void TraceLog::start(const std::string& executableName) {
    collecting_ = true;
    if (!executableName.empty()) {
        component_ = ExecutableStem(executableName, platform::IsAnsiLeadByte);
    }
    biasMinutes_ = platform::LocalBiasMinutes();
    platform::g_DebugTextListener = {HearText, this};
}

void TraceLog::open(const RunInputs& run) {
    if (!collecting_ || file_.valid()) return;
    const std::string& executableName = run.ExecutableName;
    if (executableName.empty()) return;
    std::string reason;
    const std::string& folder = run.Settings.traceLogFolder;
    if (!folder.empty()) {
        const DWORD error = openInFolder(folder, executableName);
        if (error == 0) return;
        reason = FormatText(kFolderIgnoredFormat,
                            {platform::ToAnsi(WideSettingText(folder)), std::to_string(error)});
    }
    // Named like the result log, in the working directory.
    if (run.WorkingDirectory.empty()) return;
    std::wstring path;
    if (createKeepingEarlier(platform::FromAnsi(run.WorkingDirectory) + L'\\', executableName,
                             path) != 0) {
        return;
    }
    // The reason arose now, after the records made so far: it follows them, so that the times
    // never go backward.
    std::string records;
    records.swap(pending_);
    if (!reason.empty()) records += record(kExtraMark + reason, platform::Severity::kWarning);
    writeRecords(records);
}

void TraceLog::close() {
    if (platform::g_DebugTextListener.listener == this) platform::g_DebugTextListener = {};
    collecting_ = false;
    pending_.clear();
    file_.reset();
}

void TraceText(const std::string& text, platform::Severity type) {
    platform::ListenerText(kExtraMark + text, type);
}
