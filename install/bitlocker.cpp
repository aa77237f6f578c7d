#include "install/bitlocker.h"

#include "platform/debug_output.h"
#include "platform/process_launcher.h"
#include "platform/system_facts.h"
#include "shared/format_text.h"
#include "shared/trace_log.h"

namespace {

constexpr char kToolName[] = "manage-bde.exe";
constexpr char kStatusArguments[] = " -status %s -ProtectionAsErrorLevel";
constexpr char kSuspendArguments[] = " -protectors -disable %s -RebootCount 1";
constexpr char kResumeArguments[] = " -protectors -enable %s";
// What -ProtectionAsErrorLevel answers; any other code is no answer.
constexpr DWORD kProtectionOn = 0;
constexpr DWORD kProtectionOff = 1;
// The tool answers in seconds; one that hangs must not hold the task for long.
constexpr DWORD kToolWaitMilliseconds = 60000;
// Windows 8 (6.2) is the first that resumes protection by itself after a counted restart.
constexpr DWORD kOneRestartMajor = 6;
constexpr DWORD kOneRestartMinor = 2;

constexpr char kStatusUnknown[] =
    "fn_Install: BitLocker protection status could not be read, client module not started.";
constexpr char kNotSuspended[] =
    "fn_Install: BitLocker protection could not be suspended, client module not started.";
constexpr char kNotResumed[] =
    "fn_Install: BitLocker protection could not be resumed, it resumes after the next restart.";

// What one call of the tool gave: its exit code, or why there is none.
struct ToolAnswer {
    bool answered = false;
    DWORD exitCode = 0;
    std::string failure;  // when not answered

    bool succeeded() const { return answered && exitCode == 0; }
    std::string text() const {
        return answered ? std::string(kToolName) + " exit code " +
                              std::to_string(static_cast<unsigned long>(exitCode))
                        : failure;
    }
};

// Runs the tool from the 64-bit system folder on 64-bit Windows (the 32-bit one lacks it) and
// waits for it and what it starts.
ToolAnswer RunTool(const RunInputs& run, const std::string& arguments) {
    ToolAnswer answer;
    const std::string tool = platform::NativeSystemFilePath(kToolName, run.Is64BitWindows);
    if (tool.empty()) {
        answer.failure = std::string(kToolName) + " path too long";
        return answer;
    }
    const std::string commandLine = '"' + tool + '"' + arguments;
    TraceText("BitLocker: " + commandLine);
    platform::ChildProcess child;
    if (!child.start(tool.c_str(), commandLine, nullptr, nullptr, true)) {
        answer.failure = std::string(kToolName) + " not started, error " +
                         std::to_string(static_cast<unsigned long>(child.error()));
        return answer;
    }
    child.resume();
    const platform::ChildWait wait = child.wait(kToolWaitMilliseconds);
    if (!wait.endedInTime || !wait.exitCodeKnown) {
        answer.failure = std::string(kToolName) + " gave no exit code within " +
                         std::to_string(kToolWaitMilliseconds) + " ms";
        return answer;
    }
    answer.answered = true;
    answer.exitCode = wait.exitCode;
    return answer;
}

bool SuspendsForOneRestart() {
    OSVERSIONINFOA version{};
    version.dwOSVersionInfoSize = sizeof version;
    if (!GetVersionExA(&version)) return false;
    if (version.dwMajorVersion != kOneRestartMajor)
        return version.dwMajorVersion > kOneRestartMajor;
    return version.dwMinorVersion >= kOneRestartMinor;
}

bool Fail(const std::string& record, const char* debugText) {
    TraceText(record, TraceRecordType::kError);
    platform::DebugText(debugText, platform::Severity::kFailure);
    return false;
}

}  // namespace

bool SuspendBitLockerForOneRestart(const RunInputs& run, bool& suspended) {
    suspended = false;
    if (!SuspendsForOneRestart()) {
        TraceText(
            "BitLocker protection not suspended: this Windows cannot suspend it for one "
            "restart only (Windows 8 and later can); the task runs as without the setting",
            TraceRecordType::kWarning);
        return true;
    }
    const std::string drive = platform::SystemDrive();
    if (drive.empty()) return Fail("BitLocker: the system drive is unknown", kStatusUnknown);
    const std::string protection = "BitLocker protection of " + drive;
    const ToolAnswer status = RunTool(run, FormatText(kStatusArguments, {drive}));
    if (!status.answered) return Fail(protection + " unknown: " + status.failure, kStatusUnknown);
    if (status.exitCode == kProtectionOff) {
        TraceText(protection + " is off: nothing to suspend");
        return true;
    }
    if (status.exitCode != kProtectionOn) {
        return Fail(protection + " unknown: " + status.text(), kStatusUnknown);
    }
    TraceText(protection + " is on");
    const ToolAnswer suspension = RunTool(run, FormatText(kSuspendArguments, {drive}));
    if (!suspension.succeeded()) {
        return Fail(protection + " not suspended: " + suspension.text(), kNotSuspended);
    }
    TraceText(protection + " suspended for one restart");
    suspended = true;
    return true;
}

bool KeepOrResumeBitLocker(const RunInputs& run, bool rebootPending, bool clientStillRuns) {
    const std::string drive = platform::SystemDrive();
    const std::string protection = "BitLocker protection of " + drive;
    if (rebootPending) {
        TraceText(protection + " stays suspended for the restart");
        return true;
    }
    if (clientStillRuns) {
        TraceText(protection + " stays suspended while the client module still runs",
                  TraceRecordType::kWarning);
        return true;
    }
    const ToolAnswer resumption = RunTool(run, FormatText(kResumeArguments, {drive}));
    if (resumption.succeeded()) {
        TraceText(protection + " resumed");
        return false;
    }
    TraceText(protection + " not resumed: " + resumption.text(), TraceRecordType::kError);
    platform::DebugText(kNotResumed, platform::Severity::kWarning);
    return true;
}
