#include "install/install_sequence.h"

#include <cstdlib>

#include "install/bitlocker.h"
#include "install/cleanup.h"
#include "payload/installation_files.h"
#include "platform/code_pages.h"
#include "platform/debug_output.h"
#include "platform/handles.h"
#include "platform/own_files.h"
#include "platform/process_launcher.h"
#include "platform/services.h"
#include "shared/file_names.h"
#include "shared/run_state.h"
#include "shared/trace_log.h"

namespace {

// How long each child may run before the setup goes on without it; the package may choose
// another wait for its client module.
constexpr DWORD kChildWaitMilliseconds = 120000;
constexpr DWORD kMillisecondsPerSecond = 1000;

#ifdef SETUP_CHILD_WAIT_MS
// Test builds only: a short wait that grows with the test machine's slowness, so that only the
// children a test makes late outlive it, also on an emulated CPU.
constexpr char kTimeFactorVariable[] = "SETUP_TIME_FACTOR";
constexpr double kLargestTimeFactor = 100.0;

DWORD ChildWaitMilliseconds() {
    const char* text = std::getenv(kTimeFactorVariable);
    double factor = text != nullptr ? std::strtod(text, nullptr) : 1.0;
    if (!(factor >= 1.0)) factor = 1.0;
    if (factor > kLargestTimeFactor) factor = kLargestTimeFactor;
    return static_cast<DWORD>(SETUP_CHILD_WAIT_MS * factor);
}
#else
constexpr DWORD ChildWaitMilliseconds() {
    return kChildWaitMilliseconds;
}
#endif

constexpr char kAllFilesKept[] = "the files of this run are kept";

constexpr char kServiceName[] = "hwix";
constexpr char kServiceStopper[] = "StopHWIX.exe";
// Names in the working directory as the trace log shows them.
constexpr char kCurrentFolderPrefix[] = ".\\";
// The layer's installer, in the layer folder.
constexpr char kLayerInstallerName[] = "Setup.exe";
constexpr char kLayerInstallerCommandLine[] = "-l -s";
constexpr char kStopVerb[] = "stop";
constexpr char kStartVerb[] = "start";
constexpr int kServiceStopperFailed = 5;
constexpr int kLayerInstallFailed = 1;
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
constexpr char kPayloadIncomplete[] = "fn_Install: Payload incomplete, nothing started.";
constexpr char kBatchNotWritten[] = "fn_Install: Cleanup batch not written, nothing started.";
constexpr char kDirectoryTooLong[] = "fn_Install: Working directory path too long.";
constexpr char kDirectoryUnnamed[] =
    "fn_Install: Working directory path has no exact name in the system code pages.";

// What became of one child: not started, or what it did within its wait.
struct ChildRun {
    bool started = false;
    platform::ChildWait wait;
    // The child, or a process it started, still runs after the wait: what it uses must stay.
    bool stillRuns() const {
        return started && (!wait.endedInTime || wait.descendantsRunning != 0);
    }
};

// What the trace log says of a child once it was started.
void TraceChildRun(const platform::ChildWait& wait, DWORD waitMilliseconds) {
    if (!wait.endedInTime) {
        TraceText(
            "child still running after its wait of " + std::to_string(waitMilliseconds) + " ms",
            TraceRecordType::kError);
    } else if (!wait.exitCodeKnown) {
        TraceText("child ended within its wait, exit code unknown");
    } else {
        TraceText("child ended within its wait, exit code " + std::to_string(wait.exitCode));
    }
}

// Starts one child hidden in the working directory, in a job of its own, holding the machine
// lock; waits for it and what it started, at most `waitMilliseconds`, and reads its exit code. A
// child still running after the wait is left running. `tracedCommandLine` is what the trace log
// may show of the command line.
ChildRun RunChild(const RunInputs& run, const char* applicationName, const std::string& commandLine,
                  const std::string& tracedCommandLine, DWORD waitMilliseconds) {
    ChildRun result;
    TraceText("child " + (applicationName != nullptr ? std::string(applicationName) + " " : "") +
              "command line: " + tracedCommandLine);
    platform::ChildProcess child;
    if (!child.start(applicationName, commandLine, run.WorkingDirectory.c_str(),
                     run.MachineLockHandle, true)) {
        TraceText("child not started, error " + std::to_string(child.error()),
                  TraceRecordType::kError);
        return result;
    }
    child.resume();
    result.started = true;
    result.wait = child.wait(waitMilliseconds);
    TraceChildRun(result.wait, waitMilliseconds);
    return result;
}

// A child that still runs keeps `kept` (a name in the working directory, or every file of the
// run when null); the trace log says which program and what stays.
void KeepWhileRunning(const ChildRun& run, const char* program, const char* kept,
                      FileLedger& files) {
    if (!run.stillRuns()) return;
    const std::string what =
        kept != nullptr ? std::string(kept) + " is kept" : std::string(kAllFilesKept);
    if (!run.wait.endedInTime) {
        TraceText(std::string(program) + " still runs after its wait: " + what,
                  TraceRecordType::kError);
    } else {
        TraceText(std::string("processes started by ") + program + " still run after its wait: " +
                      std::to_string(run.wait.descendantsRunning) + "; " + what,
                  TraceRecordType::kWarning);
    }
    if (kept != nullptr) {
        files.keepForRunningProgram(kept);
    } else {
        files.keepAll();
    }
}

// A program this run did not write completely is never started; the trace log says why.
bool IsOwnProgram(const char* relativePath, const FileLedger& files) {
    if (files.wasWritten(relativePath)) return true;
    TraceText(std::string("child not started: ") + relativePath + " was not written by this run",
              TraceRecordType::kError);
    return false;
}

// Runs a program that lies in the working directory, which keeps `kept` while it runs; a path
// that does not fit, or a file this run did not write (a leftover or planted one), fails as a
// missing program would.
bool RunWorkingDirectoryProgram(const RunInputs& run, FileLedger& files, const char* relativePath,
                                const std::string& commandLine, const char* kept) {
    std::string application = WorkingPath(run, relativePath);
    if (application.empty() || !IsOwnProgram(relativePath, files)) return false;
    ChildRun child =
        RunChild(run, application.c_str(), commandLine, commandLine, ChildWaitMilliseconds());
    KeepWhileRunning(child, relativePath, kept, files);
    return child.started && child.wait.endedInTime;
}

// The package's wait for its client module, or the setup's own.
DWORD ClientWaitMilliseconds(const PackageSettings& settings) {
    const int seconds = settings.clientWaitSeconds;
    return seconds != 0 ? static_cast<DWORD>(seconds) * kMillisecondsPerSecond
                        : ChildWaitMilliseconds();
}

void Report(bool failed, const char* failure, const char* success) {
    if (failed) {
        platform::DebugText(failure, platform::Severity::kFailure);
    } else {
        platform::DebugText(success);
    }
}

}  // namespace

int IsInstrumentationServiceRunning() {
    platform::ServiceHandle manager(OpenSCManagerA(nullptr, nullptr, GENERIC_READ));
    if (manager.get() == nullptr) return 0;
    platform::ServiceHandle service(OpenServiceA(manager.get(), kServiceName, GENERIC_READ));
    if (service.get() == nullptr) return 0;
    SERVICE_STATUS_PROCESS status{};
    DWORD needed = 0;
    BOOL queried = QueryServiceStatusEx(service.get(), SC_STATUS_PROCESS_INFO,
                                        reinterpret_cast<BYTE*>(&status), sizeof status, &needed);
    if (!queried) return 0;
    return status.dwCurrentState == SERVICE_STOPPED ? 0 : queried;
}

int RunServiceStopper(const char* verb, const RunInputs& run, FileLedger& files) {
    return RunWorkingDirectoryProgram(run, files, kServiceStopper, std::string(" ") + verb,
                                      kServiceStopper)
               ? 0
               : kServiceStopperFailed;
}

int InstallInstrumentationLayer(const RunInputs& run, FileLedger& files) {
    const std::string installer = std::string(kLayerFolderName) + '\\' + kLayerInstallerName;
    const std::string folder = std::string(kCurrentFolderPrefix) + kLayerFolderName;
    return RunWorkingDirectoryProgram(run, files, installer.c_str(), kLayerInstallerCommandLine,
                                      folder.c_str())
               ? 0
               : kLayerInstallFailed;
}

int RunClientModule(const char* text, const RunInputs& run, FileLedger& files) {
    const char* module = ClientModuleFileName(run.Is64BitWindows);
    std::string modulePath = WorkingPath(run, module);
    if (modulePath.empty() || !IsOwnProgram(module, files)) return kNoExitCode;
    // The caller's arguments may hold secrets (a BIOS password): the trace log shows them only
    // when the package's maker asked for it.
    const char* traced = run.Settings.traceArguments ? text : nullptr;
    ChildRun client =
        RunChild(run, nullptr, ClientModuleCommandLine(modulePath, text),
                 ClientModuleCommandLine(modulePath, traced) + WithheldArguments(text, traced),
                 ClientWaitMilliseconds(run.Settings));
    KeepWhileRunning(client, module, nullptr, files);
    if (!client.started || !client.wait.exitCodeKnown) return kNoExitCode;
    return static_cast<int>(client.wait.exitCode);
}

int CheckRebootMarker() {
    {
        platform::FileHandle marker(CreateFileW(platform::FromAnsi(kRebootMarker).c_str(),
                                                GENERIC_READ, FILE_SHARE_READ, nullptr,
                                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!marker.valid()) {
            platform::DebugText(kMarkerAbsent);
            return 0;
        }
    }
    platform::RemoveOwnFile(kRebootMarker);
    platform::DebugText(kMarkerFound);
    return 1;
}

int fn_Install(const char* text, const RunInputs& run, RunOutcome& outcome) {
    // A child that could not be named in full must never be started by a cut path.
    if (!PayloadPathsFit(run)) {
        platform::DebugText(run.WorkingDirectoryUnnamed ? kDirectoryUnnamed : kDirectoryTooLong,
                            platform::Severity::kFailure);
        return kExitClientModuleFailed;
    }
    const bool serviceActive = IsInstrumentationServiceRunning() != 0;
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
        Report(RunServiceStopper(kStopVerb, run, files) != 0, kStopFailed, kStopSucceeded);
    } else {
        platform::DebugText(kNotInstalled);
    }
    Report(InstallInstrumentationLayer(run, files) != 0, kInstallFailed, kInstallSucceeded);
    if (serviceActive) {
        Report(RunServiceStopper(kStartVerb, run, files) != 0, kStartFailed, kStartSucceeded);
    }
    // Never under a layer installer that still runs: a later run removes it.
    if (!files.isKept(kLayerFolderName)) platform::DeleteTree(kLayerFolderName);
    bool bitLockerSuspended = false;
    if (run.Settings.suspendBitLocker && !SuspendBitLockerForOneRestart(run, bitLockerSuspended)) {
        return kExitClientModuleFailed;
    }
    int code = RunClientModule(text, run, files);
    Report(code != 0, kClientFailed, kClientSucceeded);
    if (CheckRebootMarker() == 1) outcome.RebootPending = true;
    if (bitLockerSuspended) {
        outcome.BitLockerSuspended =
            KeepOrResumeBitLocker(run, outcome.RebootPending, files.allKept());
    }
    return code != 0 ? kExitClientModuleFailed : kExitSuccess;
}
