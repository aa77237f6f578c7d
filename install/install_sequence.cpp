#include "install/install_sequence.h"

#include "install/cleanup.h"
#include "payload/installation_files.h"
#include "platform/code_pages.h"
#include "platform/debug_output.h"
#include "platform/handles.h"
#include "platform/own_files.h"
#include "platform/process_launcher.h"
#include "platform/services.h"
#include "shared/setup_state.h"
#include "shared/trace_log.h"

#ifndef SETUP_CHILD_WAIT_MS
#define SETUP_CHILD_WAIT_MS 120000
#endif

namespace {

// How long each child may run before the setup goes on without it; the package may choose
// another wait for its client module.
constexpr DWORD kChildWaitMilliseconds = SETUP_CHILD_WAIT_MS;
constexpr DWORD kMillisecondsPerSecond = 1000;
constexpr char kAllFilesKept[] = "the files of this run are kept";

constexpr char kServiceName[] = "hwix";
constexpr DWORD kServiceStatusBufferSize = 8192;
constexpr char kServiceStopper[] = "StopHWIX.exe";
constexpr char kLayerInstaller[] = "hwixqmb\\Setup.exe";
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
ChildRun RunChild(const char* applicationName, const std::string& commandLine,
                  const std::string& tracedCommandLine, DWORD waitMilliseconds) {
    ChildRun run;
    TraceText("child " + (applicationName != nullptr ? std::string(applicationName) + " " : "") +
              "command line: " + tracedCommandLine);
    platform::ChildProcess child;
    if (!child.start(applicationName, commandLine, g_SetupState.WorkingDirectory.c_str(),
                     g_SetupState.MachineLockHandle, true)) {
        TraceText("child not started, error " + std::to_string(child.error()),
                  TraceRecordType::kError);
        return run;
    }
    child.resume();
    run.started = true;
    run.wait = child.wait(waitMilliseconds);
    TraceChildRun(run.wait, waitMilliseconds);
    return run;
}

// A child that still runs keeps `kept` (a name in the working directory, or every file of the
// run when null); the trace log says which program and what stays.
void KeepWhileRunning(const ChildRun& run, const char* program, const char* kept) {
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
        KeepForRunningProgram(kept);
    } else {
        g_SetupState.AllFilesKept = true;
    }
}

// A program this run did not write completely is never started; the trace log says why.
bool IsOwnProgram(const char* relativePath) {
    if (WasWrittenByThisRun(relativePath)) return true;
    TraceText(std::string("child not started: ") + relativePath + " was not written by this run",
              TraceRecordType::kError);
    return false;
}

// Runs a program that lies in the working directory, which keeps `kept` while it runs; a path
// that does not fit, or a file this run did not write (a leftover or planted one), fails as a
// missing program would.
bool RunWorkingDirectoryProgram(const char* relativePath, const std::string& commandLine,
                                const char* kept) {
    std::string application = WorkingPath(relativePath);
    if (application.empty() || !IsOwnProgram(relativePath)) return false;
    ChildRun run = RunChild(application.c_str(), commandLine, commandLine, kChildWaitMilliseconds);
    KeepWhileRunning(run, relativePath, kept);
    return run.started && run.wait.endedInTime;
}

// The package's wait for its client module, or the setup's own.
DWORD ClientWaitMilliseconds() {
    const int seconds = g_SetupState.Settings.clientWaitSeconds;
    return seconds != 0 ? static_cast<DWORD>(seconds) * kMillisecondsPerSecond
                        : kChildWaitMilliseconds;
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
    alignas(SERVICE_STATUS_PROCESS) BYTE buffer[kServiceStatusBufferSize] = {};
    DWORD needed = 0;
    BOOL queried =
        QueryServiceStatusEx(service.get(), SC_STATUS_PROCESS_INFO, buffer, sizeof buffer, &needed);
    if (!queried) return 0;
    const auto* status = reinterpret_cast<const SERVICE_STATUS_PROCESS*>(buffer);
    return status->dwCurrentState == SERVICE_STOPPED ? 0 : queried;
}

int RunServiceStopper(const char* verb) {
    return RunWorkingDirectoryProgram(kServiceStopper, std::string(" ") + verb, kServiceStopper)
               ? 0
               : kServiceStopperFailed;
}

int InstallInstrumentationLayer() {
    return RunWorkingDirectoryProgram(kLayerInstaller, kLayerInstallerCommandLine, kLayerFolder)
               ? 0
               : kLayerInstallFailed;
}

int RunClientModule(const char* text) {
    const char* module = ClientModuleFileName(g_SetupState.Is64BitWindows != 0);
    std::string modulePath = WorkingPath(module);
    if (modulePath.empty() || !IsOwnProgram(module)) return kNoExitCode;
    // The caller's arguments may hold secrets (a BIOS password): the trace log shows them only
    // when the package's maker asked for it.
    const char* traced = g_SetupState.Settings.traceArguments ? text : nullptr;
    ChildRun run =
        RunChild(nullptr, ClientModuleCommandLine(modulePath, text),
                 ClientModuleCommandLine(modulePath, traced) + WithheldArguments(text, traced),
                 ClientWaitMilliseconds());
    KeepWhileRunning(run, module, nullptr);
    if (!run.started || !run.wait.exitCodeKnown) return kNoExitCode;
    return static_cast<int>(run.wait.exitCode);
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

int fn_Install(const char* text) {
    // A child that could not be named in full must never be started by a cut path.
    if (!PayloadPathsFit()) {
        platform::DebugText(
            g_SetupState.WorkingDirectoryUnnamed ? kDirectoryUnnamed : kDirectoryTooLong,
            platform::Severity::kFailure);
        return kExitClientModuleFailed;
    }
    const bool serviceActive = IsInstrumentationServiceRunning() != 0;
    WriteCleanupBatch();
    // A BIOS task never runs from a payload known to be incomplete, nor where its files could not
    // be removed afterwards (a full disk); what was written is removed.
    if (!g_SetupState.PayloadComplete || !g_SetupState.CleanupBatchWritten) {
        platform::DebugText(g_SetupState.PayloadComplete ? kBatchNotWritten : kPayloadIncomplete,
                            platform::Severity::kFailure);
        if (!g_SetupState.CleanupBatchWritten) RemoveWrittenFiles();
        return kExitClientModuleFailed;
    }
    if (serviceActive) {
        platform::DebugText(kAlreadyInstalled);
        Report(RunServiceStopper(kStopVerb) != 0, kStopFailed, kStopSucceeded);
    } else {
        platform::DebugText(kNotInstalled);
    }
    Report(InstallInstrumentationLayer() != 0, kInstallFailed, kInstallSucceeded);
    if (serviceActive) Report(RunServiceStopper(kStartVerb) != 0, kStartFailed, kStartSucceeded);
    // Never under a layer installer that still runs: a later run removes it.
    if (!IsKeptForRunningProgram(kLayerFolder)) platform::DeleteTree(kLayerFolder);
    int code = RunClientModule(text);
    Report(code != 0, kClientFailed, kClientSucceeded);
    if (CheckRebootMarker() == 1) g_SetupState.RebootPending = 1;
    return code != 0 ? kExitClientModuleFailed : kExitSuccess;
}
