// The optional trace log: every debug text of a run, in order, and what the debug output never
// says (children's command lines and exit codes, payload entries written, the exit code), in the
// record format that administrators' log viewers read. Written only when the package's settings
// ask for it.
#pragma once

#include <string>

#include "platform/debug_output.h"
#include "platform/handles.h"
#include "shared/run_state.h"
#include "shared/trace_log_text.h"

// The log of one run. Once started it hears every debug text and every trace text (it is the
// debug output's one listener); it writes them once opened, and never after it is closed.
class TraceLog final {
  public:
    TraceLog() = default;
    ~TraceLog();
    TraceLog(const TraceLog&) = delete;
    TraceLog& operator=(const TraceLog&) = delete;

    // Starts collecting: from here every debug text is also a record.
    void start(const std::string& executableName);

    // Opens <executable name>.trace.log in the package's trace log folder or, where that cannot
    // be used, in the working directory, keeping an earlier one as .trace.lo_, and writes what was
    // collected; nothing when the log is off or the working directory is unresolved.
    void open(const RunInputs& run);

    // Closes the log for good (before the cleanup batch is started, so that it is complete then).
    void close();

    // One text the debug output's listener hears: a record, collected until the log opens.
    void heard(const char* text, platform::Severity type);

    // True once a write failed (a full drive) and the log ended early.
    bool cut() const { return cut_; }

  private:
    std::string record(const std::string& text, platform::Severity type) const;
    void writeRecords(const std::string& records);
    DWORD createFile(const std::wstring& path);
    DWORD createKeepingEarlier(const std::wstring& folder, const std::string& executableName,
                               std::wstring& path);
    DWORD writeFirstRecords(const std::wstring& path);
    DWORD openInFolder(const std::string& folderSetting, const std::string& executableName);

    bool collecting_ = false;
    std::string component_;  // the package's file name without extension
    long biasMinutes_ = 0;
    std::string pending_;  // records made before the file could be opened
    platform::FileHandle file_;
    LONG size_ = 0;  // bytes of whole records in the file
    bool cut_ = false;
};

// Adds a record of what the debug output does not show; marked with "* ".
void TraceText(const std::string& text, platform::Severity type = platform::Severity::kInformation);
