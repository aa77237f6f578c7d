#include "install/bitlocker.h"

#include "install/child_waits.h"
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
// Windows 8 (6.2) is the first that resumes protection by itself after a counted restart.
constexpr DWORD kOneRestartMajor = 6;
constexpr DWORD kOneRestartMinor = 2;

constexpr char kStatusUnknown[] =
    "fn_Install: BitLocker protection status could not be read, client module not started.";
constexpr char kNotSuspended[] =
    "fn_Install: BitLocker protection could not be suspended, client module not started.";
constexpr char kNotResumed[] =
    "fn_Install: BitLocker protection could not be resumed, it resumes after the next restart.";
constexpr char kOlderWindows[] =
    "BitLocker protection not suspended: this Windows cannot suspend it for one restart only "
    "(Windows 8 and later can); the task runs as without the setting";
constexpr char kWindowsPE[] =
    "BitLocker protection not suspended: Windows PE runs from a RAM disk, not from the protected "
    "Windows; suspend protection of the installed Windows before the task sequence restarts into "
    "Windows PE; the task runs as without the setting";

// What one call of the tool gave: its exit code, or why there is none.
struct ToolAnswer {
    bool answered = false;
    DWORD exitCode = 0;
    bool ended = false;   // it did not answer in time and was ended: it may have acted all the same
    std::string failure;  // when not answered

    bool succeeded() const { return answered && exitCode == 0; }
    std::string text() const {
        return answered ? std::string(kToolName) + " exit code " +
                              std::to_string(static_cast<unsigned long>(exitCode))
                        : failure;
    }
};

// Runs the tool from the 64-bit system folder on 64-bit Windows (the 32-bit one lacks it) and
// waits for it and what it starts; a call that outlives its wait is ended, so that it cannot
// change protection after the setup has given up on it.
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
    platform::ChildStart how;
    how.ownJob = true;
    child.start(tool.c_str(), commandLine, nullptr, how);
    const DWORD waitMilliseconds = ToolWaitMilliseconds();
    const platform::ChildWait wait = child.wait(waitMilliseconds);
    switch (wait.state) {
        case platform::ChildWait::State::kNotStarted:
            answer.failure = std::string(kToolName) + " not started, error " +
                             std::to_string(static_cast<unsigned long>(wait.error));
            break;
        case platform::ChildWait::State::kStillRunning:
            answer.ended = true;
            answer.failure = std::string(kToolName) + " gave no exit code within " +
                             std::to_string(waitMilliseconds) + " ms and was ended" +
                             (child.terminate() ? "" : ", though not all of it ended in time");
            break;
        case platform::ChildWait::State::kEnded:
            answer.answered = true;
            answer.exitCode = wait.exitCode;
            break;
    }
    return answer;
}

bool SuspendsForOneRestart(const RunInputs& run) {
    if (run.WindowsMajor != kOneRestartMajor) return run.WindowsMajor > kOneRestartMajor;
    return run.WindowsMinor >= kOneRestartMinor;
}

bool Fail(const std::string& record, const char* debugText) {
    TraceText(record, platform::Severity::kFailure);
    platform::DebugText(debugText, platform::Severity::kFailure);
    return false;
}

std::string ProtectionOf(const std::string& drive) {
    return "BitLocker protection of " + drive;
}

// Resumes protection; true when it is on again. A failure is an error record and a warning.
bool Resume(const RunInputs& run, const std::string& drive) {
    const ToolAnswer resumption = RunTool(run, FormatText(kResumeArguments, {drive}));
    if (resumption.succeeded()) {
        TraceText(ProtectionOf(drive) + " resumed");
        return true;
    }
    TraceText(ProtectionOf(drive) + " not resumed: " + resumption.text(),
              platform::Severity::kFailure);
    platform::DebugText(kNotResumed, platform::Severity::kWarning);
    return false;
}

// After a suspension whose tool was ended before it answered: reads the status again and resumes
// a suspension found (or a status still unknown: resuming protection that is on changes
// nothing). True when protection is left suspended.
bool UndoEndedSuspension(const RunInputs& run, const std::string& drive) {
    const ToolAnswer status = RunTool(run, FormatText(kStatusArguments, {drive}));
    if (status.answered && status.exitCode == kProtectionOn) {
        TraceText(ProtectionOf(drive) + " is on: it was not suspended");
        return false;
    }
    return !Resume(run, drive);
}

}  // namespace

bool ReadBitLockerProtection(const RunInputs& run, bool& toSuspend) {
    toSuspend = false;
    if (!run.Settings.suspendBitLocker) return true;
    if (!SuspendsForOneRestart(run)) {
        TraceText(kOlderWindows, platform::Severity::kWarning);
        return true;
    }
    if (platform::IsWindowsPE()) {
        TraceText(kWindowsPE, platform::Severity::kWarning);
        return true;
    }
    const std::string drive = platform::SystemDrive();
    if (drive.empty()) return Fail("BitLocker: the system drive is unknown", kStatusUnknown);
    const ToolAnswer status = RunTool(run, FormatText(kStatusArguments, {drive}));
    if (status.answered && status.exitCode == kProtectionOff) {
        TraceText(ProtectionOf(drive) + " is off: nothing to suspend");
        return true;
    }
    if (!status.answered || status.exitCode != kProtectionOn) {
        return Fail(ProtectionOf(drive) + " unknown: " + status.text(), kStatusUnknown);
    }
    TraceText(ProtectionOf(drive) + " is on");
    toSuspend = true;
    return true;
}

bool SuspendBitLockerForOneRestart(const RunInputs& run, bool& suspended) {
    suspended = false;
    const std::string drive = platform::SystemDrive();
    const ToolAnswer suspension = RunTool(run, FormatText(kSuspendArguments, {drive}));
    if (!suspension.succeeded()) {
        Fail(ProtectionOf(drive) + " not suspended: " + suspension.text(), kNotSuspended);
        if (suspension.ended) suspended = UndoEndedSuspension(run, drive);
        return false;
    }
    TraceText(ProtectionOf(drive) + " suspended for one restart");
    suspended = true;
    return true;
}

bool KeepOrResumeBitLocker(const RunInputs& run, bool rebootPending, bool taskNotOver) {
    const std::string drive = platform::SystemDrive();
    if (rebootPending) {
        TraceText(ProtectionOf(drive) + " stays suspended for the restart");
        return true;
    }
    if (taskNotOver) {
        TraceText(ProtectionOf(drive) + " stays suspended for the restart: the task is not over",
                  platform::Severity::kWarning);
        return true;
    }
    return !Resume(run, drive);
}
