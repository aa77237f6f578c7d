#include "install/install_sequence.h"

#include "install/bitlocker.h"
#include "install/child_waits.h"
#include "install/cleanup.h"
#include "install/client_command_line.h"
#include "install/result_record.h"
#include "payload/installation_files.h"
#include "payload/own_names.h"
#include "platform/debug_output.h"
#include "platform/own_files.h"
#include "platform/process_launcher.h"
#include "platform/services.h"
#include "shared/file_names.h"
#include "shared/format_text.h"
#include "shared/run_state.h"
#include "shared/trace_log.h"

namespace {

constexpr DWORD kMillisecondsPerSecond = 1000;

constexpr char kAllFilesKept[] = "the files of this run are kept";
constexpr char kTaskNotOver[] =
    "the task is not over: the files of this run are kept and the PC waits for its restart";

constexpr char kServiceName[] = "hwix";
// Names in the working directory as the trace log shows them.
// The layer's installer, in the layer folder.
constexpr char kLayerInstallerName[] = "Setup.exe";
constexpr char kLayerInstallerCommandLine[] = "-l -s";
constexpr char kStopVerb[] = "stop";
constexpr char kStartVerb[] = "start";
constexpr int kNoExitCode = 1;

constexpr char kAlreadyInstalled[] = "HWIX QMB already installed.\nHWIX.SYS Version: 0";
constexpr char kNotInstalled[] = "HWIX QMB not already installed";
constexpr char kStopFailed[] = "fn_Install: Call to 'StopHWIX stop' failed.";
constexpr char kStopSucceeded[] = "fn_Install: Call to 'StopHWIX stop' successfull.";
constexpr char kStartFailed[] = "fn_Install: Call to 'StopHWIX start' failed.";
constexpr char kStartSucceeded[] = "fn_Install: Call to 'StopHWIX start' successfull.";
constexpr char kInstallFailed[] = "fn_Install: Install HWIX QMB failed, continue anyway";
constexpr char kInstallSucceeded[] = "fn_Install: Install HWIX QMB successfull.";
constexpr char kClientFailed[] = "fn_Install: Call to Runvex.exe failed";
constexpr char kClientSucceeded[] = "fn_Install: Call to Runvex.exe successfull";
constexpr char kMarkerFound[] = "Is shutdown";
constexpr char kMarkerAbsent[] = "Is not shutdown";
constexpr char kTaskNotOverFormat[] =
    "fn_Install: Task not over, processes still running: %s. Files kept, restart required.";
constexpr char kEarlierMarkerRemoved[] =
    "reboot.txt of an earlier task removed: only this run's client module asks for a restart";
constexpr char kEarlierMarkerStays[] =
    "fn_Install: reboot.txt of an earlier task cannot be removed, client module not started.";
constexpr char kPayloadIncomplete[] = "fn_Install: Payload incomplete, nothing started.";
constexpr char kBatchNotWritten[] = "fn_Install: Cleanup batch not written, nothing started.";
constexpr char kDirectoryTooLong[] = "fn_Install: Working directory path too long.";
constexpr char kDirectoryUnnamed[] =
    "fn_Install: Working directory path has no exact name in the system code pages.";

// The client module's result, from what it did; mapped here only: its exit code once its task has
// ended.
int ClientModuleResult(const platform::ChildWait& wait) {
    return wait.ended() ? static_cast<int>(wait.exitCode) : kNoExitCode;
}

// What the trace log says of a child once its wait is over.
void TraceChildRun(const platform::ChildWait& wait, DWORD waitMilliseconds) {
    if (wait.state == platform::ChildWait::State::kNotStarted) {
        TraceText("child not started, error " + std::to_string(wait.error),
                  platform::Severity::kFailure);
    } else if (!wait.programEnded) {
        TraceText(
            "child still running after its wait of " + std::to_string(waitMilliseconds) + " ms",
            platform::Severity::kFailure);
    } else {
        TraceText("child ended within its wait, exit code " + std::to_string(wait.exitCode));
    }
}

// Starts one child hidden in the working directory, in a job of its own, holding the machine
// lock, and waits for it and what it started, at most `waitMilliseconds`. A child still running
// after the wait is left running. `tracedCommandLine` is what the trace log may show of the
// command line.
platform::ChildWait RunChild(const RunInputs& run, const char* applicationName,
                             const std::string& commandLine, const std::string& tracedCommandLine,
                             DWORD waitMilliseconds) {
    TraceText("child " + (applicationName != nullptr ? std::string(applicationName) + " " : "") +
              "command line: " + tracedCommandLine);
    platform::ChildProcess child;
    platform::ChildStart how;
    how.inherited = run.MachineLockHandle;
    how.ownJob = true;
    child.start(applicationName, commandLine, run.WorkingDirectory.c_str(), how);
    const platform::ChildWait wait = child.wait(waitMilliseconds);
    TraceChildRun(wait, waitMilliseconds);
    return wait;
}

// What the trace log says of a program that still runs, or whose processes do, and what stays.
void TraceStillRunning(const platform::ChildWait& wait, const char* program,
                       const std::string& what, platform::Severity programType) {
    if (!wait.programEnded) {
        TraceText(std::string(program) + " still runs after its wait: " + what, programType);
    } else {
        TraceText(std::string("processes started by ") + program + " still run after its wait: " +
                      std::to_string(wait.processesLeft) + "; " + what,
                  platform::Severity::kWarning);
    }
}

// A stopper or layer installer that still runs keeps `kept` (a name in the working directory).
void KeepWhileRunning(const platform::ChildWait& wait, const char* program, const char* kept,
                      FileLedger& files) {
    if (!wait.stillRuns()) return;
    TraceStillRunning(wait, program, std::string(kept) + " is kept", platform::Severity::kFailure);
    files.keepForRunningProgram(kept);
}

// A client module whose task is not over keeps every file, and the PC closed to BIOS tasks
// until it restarts: the firmware's state is unknown until then.
void KeepForTaskNotOver(const platform::ChildWait& wait, const char* module, RunOutcome& outcome) {
    if (!wait.stillRuns()) return;
    TraceStillRunning(wait, module, kTaskNotOver, platform::Severity::kWarning);
    outcome.Files.keepAll();
    outcome.ProcessesLeft = wait.processesLeft;
    platform::DebugText(FormatText(kTaskNotOverFormat, {std::to_string(wait.processesLeft)}),
                        platform::Severity::kWarning);
}

// A program this run did not write completely is never started; the trace log says why.
bool IsOwnProgram(const char* relativePath, const FileLedger& files) {
    if (files.wasWritten(relativePath)) return true;
    TraceText(std::string("child not started: ") + relativePath + " was not written by this run",
              platform::Severity::kFailure);
    return false;
}

// Runs a program that lies in the working directory, which keeps `kept` while it runs; true when
// it ended within its wait (what it started, a service, may run on). A path that does not fit, or
// a file this run did not write (a leftover or planted one), fails as a missing program would.
bool RunWorkingDirectoryProgram(const RunInputs& run, FileLedger& files, const char* relativePath,
                                const std::string& commandLine, const char* kept) {
    std::string application = WorkingPath(run, relativePath);
    if (application.empty() || !IsOwnProgram(relativePath, files)) return false;
    const platform::ChildWait wait =
        RunChild(run, application.c_str(), commandLine, commandLine, ChildWaitMilliseconds());
    KeepWhileRunning(wait, relativePath, kept, files);
    return wait.programEnded;
}

// The package's wait for its client module, or the setup's own.
DWORD ClientWaitMilliseconds(const PackageSettings& settings) {
    const int seconds = settings.clientWaitSeconds;
    return seconds != 0 ? static_cast<DWORD>(seconds) * kMillisecondsPerSecond
                        : ChildWaitMilliseconds();
}

// A reboot.txt that lies in the working directory before the client module starts is an earlier
// task's: it is removed, so that only this run's client module asks for a restart. False when it
// cannot be (a folder of that name is no marker and stays).
bool RemoveEarlierRebootMarker() {
    const DWORD attributes = platform::FileAttributes(kRebootMarker);
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        return true;
    }
    if (!platform::RemoveOwnFile(kRebootMarker)) {
        TraceText(std::string(kRebootMarker) + " of an earlier task cannot be removed",
                  platform::Severity::kFailure);
        platform::DebugText(kEarlierMarkerStays, platform::Severity::kFailure);
        return false;
    }
    TraceText(kEarlierMarkerRemoved, platform::Severity::kWarning);
    return true;
}

void Report(bool failed, const char* failure, const char* success) {
    if (failed) {
        platform::DebugText(failure, platform::Severity::kFailure);
    } else {
        platform::DebugText(success);
    }
}

// True when StopHWIX.exe (as this run wrote it) was started with the verb and ended within the
// wait.
bool RunServiceStopper(const char* verb, const RunInputs& run, FileLedger& files) {
    return RunWorkingDirectoryProgram(run, files, kServiceStopperName, std::string(" ") + verb,
                                      kServiceStopperName);
}

// True when the layer's Setup.exe (as this run wrote it) was started and ended within the wait.
bool InstallInstrumentationLayer(const RunInputs& run, FileLedger& files) {
    const std::string installer = std::string(kLayerFolderName) + '\\' + kLayerInstallerName;
    const std::string folder = InWorkingFolder(kLayerFolderName);
    return RunWorkingDirectoryProgram(run, files, installer.c_str(), kLayerInstallerCommandLine,
                                      folder.c_str());
}

// The client module's exit code once its task has ended, or 1 when this run did not write it, it
// could not be started, or its task is not over after its wait (it, or a process it started,
// still runs: every file is kept and `outcome.ProcessesLeft` counts them).
int RunClientModule(const char* text, const RunInputs& run, RunOutcome& outcome) {
    const char* module = ClientModuleFileName(run.Is64BitWindows);
    std::string modulePath = WorkingPath(run, module);
    if (modulePath.empty() || !IsOwnProgram(module, outcome.Files)) return kNoExitCode;
    // The caller's arguments may hold secrets (a BIOS password): the trace log shows them only
    // when the package's maker asked for it.
    const char* traced = run.Settings.traceArguments ? text : nullptr;
    const platform::ChildWait wait =
        RunChild(run, nullptr, ClientModuleCommandLine(modulePath, text),
                 ClientModuleCommandLine(modulePath, traced) + WithheldArguments(text, traced),
                 ClientWaitMilliseconds(run.Settings));
    KeepForTaskNotOver(wait, module, outcome);
    return ClientModuleResult(wait);
}

// True when the reboot marker was present (it is deleted).
bool CheckRebootMarker() {
    if (!platform::OpensToRead(kRebootMarker)) {
        platform::DebugText(kMarkerAbsent);
        return false;
    }
    platform::RemoveOwnFile(kRebootMarker);
    platform::DebugText(kMarkerFound);
    return true;
}

}  // namespace

int fn_Install(const char* text, const RunInputs& run, RunOutcome& outcome) {
    // A child that could not be named in full must never be started by a cut path.
    if (!PayloadPathsFit(run)) {
        platform::DebugText(run.WorkingDirectoryUnnamed ? kDirectoryUnnamed : kDirectoryTooLong,
                            platform::Severity::kFailure);
        return kExitClientModuleFailed;
    }
    const bool serviceActive = platform::IsServiceActive(kServiceName);
    WriteCleanupBatch(run, outcome);
    // A BIOS task never runs from a payload known to be incomplete, nor where its files could not
    // be removed afterwards (a full disk); what was written is removed.
    if (!outcome.PayloadComplete || !outcome.CleanupBatchWritten) {
        platform::DebugText(outcome.PayloadComplete ? kBatchNotWritten : kPayloadIncomplete,
                            platform::Severity::kFailure);
        if (!outcome.CleanupBatchWritten) RemoveWrittenFiles(outcome.Files);
        return kExitClientModuleFailed;
    }
    FileLedger& files = outcome.Files;
    if (serviceActive) {
        platform::DebugText(kAlreadyInstalled);
        Report(!RunServiceStopper(kStopVerb, run, files), kStopFailed, kStopSucceeded);
    } else {
        platform::DebugText(kNotInstalled);
    }
    Report(!InstallInstrumentationLayer(run, files), kInstallFailed, kInstallSucceeded);
    if (serviceActive) {
        Report(!RunServiceStopper(kStartVerb, run, files), kStartFailed, kStartSucceeded);
    }
    // Never under a layer installer that still runs: a later run removes it.
    if (!files.isKept(kLayerFolderName)) platform::DeleteTree(kLayerFolderName);
    if (!RemoveEarlierRebootMarker()) return kExitClientModuleFailed;
    if (outcome.BitLockerToSuspend &&
        !SuspendBitLockerForOneRestart(run, outcome.BitLockerSuspended)) {
        return kExitClientModuleFailed;
    }
    OpenResultRecord(run, outcome);
    int code = RunClientModule(text, run, outcome);
    Report(code != 0, kClientFailed, kClientSucceeded);
    if (CheckRebootMarker()) outcome.RebootPending = true;
    if (outcome.BitLockerSuspended) {
        outcome.BitLockerSuspended =
            KeepOrResumeBitLocker(run, outcome.RebootPending, outcome.ProcessesLeft != 0);
    }
    return code != 0 || outcome.ProcessesLeft != 0 ? kExitClientModuleFailed : kExitSuccess;
}
