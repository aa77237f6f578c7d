#include "setup/win_main.h"

#include "install/bitlocker.h"
#include "install/cleanup.h"
#include "install/install_sequence.h"
#include "install/restart_mark.h"
#include "install/result_record.h"
#include "payload/installation_files.h"
#include "payload/payload_store.h"
#include "payload/stage_folder.h"
#include "platform/code_pages.h"
#include "platform/debug_output.h"
#include "platform/machine_lock.h"
#include "platform/path_limit.h"
#include "platform/system_facts.h"
#include "setup/command_line_options.h"
#include "setup/pc_check.h"
#include "shared/format_text.h"
#include "shared/package_settings.h"
#include "shared/result_log.h"
#include "shared/run_state.h"
#include "shared/trace_log.h"

namespace {

constexpr char kWriteLogOption[] = "l";
constexpr char kExtractOnlyOption[] = "x";
constexpr char kOsSupported[] = "fn_CheckOS: Operating System supported";
constexpr char kOsNotSupported[] = "fn_CheckOS: Operating System not supported";
constexpr char kIsWow64Failed[] = "IsWow64: Operating System not supported";
constexpr char kSettingsIgnored[] = "Package settings cannot be read, ignored.";
constexpr DWORD kMinimumMajorVersion = 5;
// One task at a time on a PC, whichever package, folder or session (the system account runs in
// session 0): the global namespace is seen from every session.
constexpr char kMachineLockName[] = "Global\\Corvane BIOS task package";
constexpr char kAnotherRunInProgress[] =
    "WinMain: Another BIOS task package is running, exit code 1618: retry later.";
constexpr char kLockNotTakenFormat[] =
    "WinMain: The BIOS task package lock %s cannot be taken, error %d, exit code 1618: retry "
    "later.";
constexpr char kRestartPendingFormat[] =
    "WinMain: A restart is pending for BIOS task package %s in %s, exit code 1618: retry after "
    "the restart.";

// 1 when this 32-bit process runs on 64-bit Windows, else 0 (also 0 for a 64-bit process).
int IsWow64() {
    bool wow64 = false;
    if (!platform::ReadWow64(wow64)) {
        platform::DebugText(kIsWow64Failed, platform::Severity::kFailure);
        return 0;
    }
    return wow64 ? 1 : 0;
}

// Overwrites `workingDirectory` with the WOW64 system directory, where the platform has one.
void UseWow64SystemDirectory(std::string& workingDirectory) {
    const std::string wow64 = platform::Wow64SystemDirectory();
    if (!wow64.empty()) workingDirectory = wow64;
}

void ReadOptions(CommandLineOptions& options, RunInputs& run) {
    for (int i = 0; i < options.GetCount(); ++i) {
        std::string name = options.GetName(i);
        if (name == kWriteLogOption) {
            run.WriteLog = true;
        } else if (name == kExtractOnlyOption) {
            run.ExtractOnly = true;
        }
    }
}

// A package without settings runs as it always did; one whose settings cannot be read too.
void ReadPackageSettings(RunInputs& run, TraceLog& traceLog) {
    PackageSettings& settings = run.Settings;
    std::string text;
    if (!ReadPayloadText(kPayloadSettings, kSettingsLanguage, text)) return;
    SettingsFault fault;
    if (!ParsePackageSettings(text, settings, fault)) {
        platform::DebugText(kSettingsIgnored, platform::Severity::kWarning);
        return;
    }
    if (WritesTraceLog(settings)) traceLog.start(run.ExecutableName);
}

// Exit code 0 of a task that goes on after a restart becomes the package's reboot exit code,
// so that a deployment system schedules the restart.
int WithRebootExitCode(int result, const PackageSettings& settings, bool rebootPending) {
    const int rebootExitCode = settings.rebootExitCode;
    return result == kExitSuccess && rebootPending && rebootExitCode != 0 ? rebootExitCode : result;
}

// The current directory, read in wide characters: the ANSI reading would give a lookalike
// (another folder) for a character the code page lacks. It stays unresolved unless it has an
// exact name in the ANSI code page (for paths) and the OEM code page (for the cleanup batch).
std::string ExactWorkingDirectory(bool& unnamed) {
    std::wstring current = platform::CurrentDirectory();
    std::string ansi;
    std::string oem;
    if (current.empty()) return {};
    if (!platform::ToAnsiExactly(current, ansi) || !platform::ToOemExactly(current, oem)) {
        unnamed = true;
        return {};
    }
    // A directory that does not fit stays unresolved; every later path then fails to fit too.
    return FitsPathBuffer(ansi) ? ansi : std::string();
}

// Current directory, or the WOW64 system directory when a 32-bit process on 64-bit Windows
// was started in the system directory (which the file system redirects there).
void ResolveWorkingDirectory(RunInputs& run) {
    run.WorkingDirectory = ExactWorkingDirectory(run.WorkingDirectoryUnnamed);
    std::string system = platform::SystemDirectory();
    if (!platform::kNative64BitBuild && run.Is64BitWindows && !system.empty() &&
        system == run.WorkingDirectory) {
        UseWow64SystemDirectory(run.WorkingDirectory);
    }
    std::string& directory = run.WorkingDirectory;
    if (!directory.empty() && directory.back() == '\\') directory.pop_back();
}

// Says why no task may run now, if so: another run's lock, a lock that cannot be made, or a
// restart that a task waits for.
bool MayRunNow(const platform::MachineLock& lock) {
    switch (lock.state()) {
        case platform::MachineLock::State::kExists:
            platform::DebugText(kAnotherRunInProgress, platform::Severity::kFailure);
            return false;
        case platform::MachineLock::State::kFailed:
            platform::DebugText(
                FormatText(kLockNotTakenFormat,
                           {kMachineLockName, std::to_string(static_cast<long>(lock.error()))}));
            return false;
        case platform::MachineLock::State::kTaken:
            break;
    }
    RestartMark mark;
    if (!FindRestartMark(Is64BitWindows(), mark)) return true;
    platform::DebugText(FormatText(kRestartPendingFormat, {mark.package, mark.folder}),
                        platform::Severity::kFailure);
    return false;
}

}  // namespace

int fn_CheckOS(RunInputs& run) {
    const platform::WindowsVersion version = platform::ReadWindowsVersion();
    // The Windows 9x line never reached version 5: one refusal covers it.
    if (!version.ntLine || version.major < kMinimumMajorVersion) {
        platform::DebugText(kOsNotSupported, platform::Severity::kFailure);
        return kExitUnsupportedOs;
    }
    run.WindowsMajor = version.major;
    run.WindowsMinor = version.minor;
    run.Is64BitWindows = Is64BitWindows();
    platform::DebugText(kOsSupported);
    return kExitSuccess;
}

bool Is64BitWindows() {
    return platform::kNative64BitBuild || IsWow64() != 0;
}

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    platform::RestrictDllSearchPath();
    // The runtime's own tail may differ from the platform rules; cut it from the full line.
    const char* commandTail = CommandTail(platform::CommandLine());
    // Lives while any process of this run does (every child and the cleanup batch inherit it); a
    // run that finds it, or a PC that waits for a restart, writes and starts nothing.
    platform::MachineLock lock(kMachineLockName);
    if (!MayRunNow(lock)) return kExitAnotherRunInProgress;
    RunInputs run;
    run.MachineLockHandle = lock.handle();
    const platform::ExecutableNames names = platform::ReadExecutableNames();
    run.ExecutableName = LastPathComponent(names.ansiPath, platform::IsAnsiLeadByte);
    run.WideExecutableStem = names.wideStem;
    TraceLog traceLog;
    ReadPackageSettings(run, traceLog);
    CommandLineOptions options;
    ReadOptions(options, run);
    int result = fn_CheckOS(run);
    RunOutcome outcome;
    // A PC the package is not for, or one that has its BIOS already, gets nothing written.
    ReadPcIdentity(run);
    if (result == kExitSuccess) result = fn_CheckModel(run);
    if (result == kExitSuccess && !run.ExtractOnly)
        outcome.AlreadyCurrent = fn_CheckBIOSVersion(run);
    const bool runsTask = result == kExitSuccess && !outcome.AlreadyCurrent;
    // A stage folder that cannot be used safely fails the run before anything is written.
    if (runsTask && !run.Settings.stageFolder.empty() && !EnterStageFolder(run)) {
        result = kExitClientModuleFailed;
    }
    ResolveWorkingDirectory(run);
    traceLog.open(run);
    // BitLocker is settled before anything is installed: a status that cannot be read stops the
    // run with nothing of the payload written.
    if (runsTask && result == kExitSuccess && !run.ExtractOnly &&
        !ReadBitLockerProtection(run, outcome.BitLockerToSuspend)) {
        result = kExitClientModuleFailed;
    }
    if (runsTask && result == kExitSuccess) {
        result = fn_CreateInstallationFiles(run, outcome);
        if (!run.ExtractOnly) {
            result = fn_Install(commandTail, run, outcome);
            result = WithRebootExitCode(result, run.Settings, outcome.RebootPending);
        }
    }
    if (run.WriteLog) WriteResultLog(result, run);
    outcome.TraceLogCut = traceLog.cut();
    if (!run.ExtractOnly) WriteResultRecord(result, run, outcome);
    TraceText("exit code " + std::to_string(result),
              result == kExitSuccess || result == run.Settings.rebootExitCode
                  ? platform::Severity::kInformation
                  : platform::Severity::kFailure);
    if (!run.ExtractOnly) fn_Cleanup(run, outcome, traceLog);
    traceLog.close();
    if (!run.StageDirectory.empty() && !outcome.CleanupBatchStarted) RemoveEmptyStageFolder(run);
    return result;
}
