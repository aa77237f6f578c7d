#include "install/result_record.h"

#include "platform/code_pages.h"
#include "platform/registry.h"
#include "shared/run_state.h"
#include "shared/setting_text.h"
#include "shared/trace_log.h"
#include "shared/utc_time.h"

namespace {

constexpr char kRebootPendingValue[] = "RebootPending";
constexpr char kProcessesLeftValue[] = "ProcessesLeft";
constexpr char kStartedValue[] = "Started";
constexpr char kFinishedValue[] = "Finished";
constexpr char kPackageValue[] = "Package";
constexpr char kBitLockerSuspendedValue[] = "BitLockerSuspended";
constexpr char kTraceLogCutValue[] = "TraceLogCut";
constexpr char kModelValue[] = "Model";
constexpr char kAlreadyCurrentValue[] = "AlreadyCurrent";
constexpr char kBiosVersionBeforeValue[] = "BIOSVersionBefore";
// Every value a run writes: none of the last run's may be read as this run's.
constexpr const char* kRecordValues[] = {
    kRecordExitCodeValue, kRebootPendingValue,  kProcessesLeftValue,      kStartedValue,
    kFinishedValue,       kPackageValue,        kBitLockerSuspendedValue, kTraceLogCutValue,
    kModelValue,          kAlreadyCurrentValue, kBiosVersionBeforeValue};

// The record's key, created where it is missing; its name as the trace log shows it.
LONG CreateRecordKey(const RunInputs& run, platform::RegistryKey& key, std::string& shown) {
    // Wide, so that the same package names the same key on every PC whatever its code pages.
    const std::wstring subkey = platform::FromAnsi(kResultRecordParentKey) + L'\\' +
                                WideSettingText(run.Settings.resultKey);
    shown = "result record HKLM\\" + platform::ToAnsi(subkey);
    // The 32-bit setup on 64-bit Windows writes where a 64-bit detection rule reads.
    const REGSAM access = KEY_SET_VALUE | (run.Is64BitWindows ? KEY_WOW64_64KEY : 0);
    return platform::CreateMachineKey(subkey, access, key);
}

LONG RemoveLastRunsValues(HKEY key) {
    for (const char* name : kRecordValues) {
        const LONG status = platform::DeleteRegistryValue(key, name);
        if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND) return status;
    }
    return ERROR_SUCCESS;
}

LONG SetPackage(HKEY key, const RunInputs& run) {
    return platform::SetRegistryText(key, kPackageValue, run.ExecutableName);
}

LONG SetBitLockerSuspended(HKEY key, const RunInputs& run, const RunOutcome& outcome) {
    if (!run.Settings.suspendBitLocker) return ERROR_SUCCESS;
    return platform::SetRegistryNumber(key, kBitLockerSuspendedValue,
                                       outcome.BitLockerSuspended ? 1 : 0);
}

// What the package's models and BIOS version were compared with, and what came of it.
LONG SetPcValues(HKEY key, const RunInputs& run, const RunOutcome& outcome) {
    const PackageSettings& settings = run.Settings;
    LONG status = ERROR_SUCCESS;
    if (!settings.models.empty()) {
        status = platform::SetRegistryText(key, kModelValue, run.Pc.productName.text);
    }
    if (status == ERROR_SUCCESS && !settings.biosVersion.empty()) {
        status = platform::SetRegistryNumber(key, kAlreadyCurrentValue, outcome.AlreadyCurrent);
    }
    const bool compared = !settings.models.empty() || !settings.biosVersion.empty();
    if (status == ERROR_SUCCESS && compared && run.Pc.biosVersion.read) {
        status = platform::SetRegistryText(key, kBiosVersionBeforeValue, run.Pc.biosVersion.text);
    }
    return status;
}

LONG SetOpeningValues(HKEY key, const RunInputs& run, const RunOutcome& outcome) {
    LONG status = RemoveLastRunsValues(key);
    if (status == ERROR_SUCCESS)
        status = platform::SetRegistryText(key, kStartedValue, UtcNowText());
    if (status == ERROR_SUCCESS) status = SetPackage(key, run);
    if (status == ERROR_SUCCESS) status = SetBitLockerSuspended(key, run, outcome);
    if (status == ERROR_SUCCESS) status = SetPcValues(key, run, outcome);
    return status;
}

// The values in order, Finished last; the first failure's error, or ERROR_SUCCESS.
LONG SetFinalValues(HKEY key, int exitCode, const RunInputs& run, const RunOutcome& outcome) {
    LONG status = outcome.RecordOpened ? ERROR_SUCCESS : RemoveLastRunsValues(key);
    if (status == ERROR_SUCCESS) {
        status =
            platform::SetRegistryNumber(key, kRecordExitCodeValue, static_cast<DWORD>(exitCode));
    }
    if (status == ERROR_SUCCESS) {
        status =
            platform::SetRegistryNumber(key, kRebootPendingValue, outcome.RebootPending ? 1 : 0);
    }
    if (status == ERROR_SUCCESS) {
        status = platform::SetRegistryNumber(key, kProcessesLeftValue, outcome.ProcessesLeft);
    }
    if (status == ERROR_SUCCESS) status = SetPackage(key, run);
    if (status == ERROR_SUCCESS) status = SetBitLockerSuspended(key, run, outcome);
    if (status == ERROR_SUCCESS) status = SetPcValues(key, run, outcome);
    if (status == ERROR_SUCCESS && outcome.TraceLogCut) {
        status = platform::SetRegistryNumber(key, kTraceLogCutValue, 1);
    }
    if (status == ERROR_SUCCESS)
        status = platform::SetRegistryText(key, kFinishedValue, UtcNowText());
    return status;
}

void TraceRecordWritten(const std::string& shown, const char* what, LONG status) {
    if (status != ERROR_SUCCESS) {
        TraceText(shown + " not " + what + ", error " + std::to_string(status),
                  platform::Severity::kFailure);
        return;
    }
    TraceText(shown + " " + what);
}

}  // namespace

void OpenResultRecord(const RunInputs& run, RunOutcome& outcome) {
    if (run.Settings.resultKey.empty()) return;
    platform::RegistryKey key;
    std::string shown;
    LONG status = CreateRecordKey(run, key, shown);
    if (status == ERROR_SUCCESS) status = SetOpeningValues(key.get(), run, outcome);
    outcome.RecordOpened = status == ERROR_SUCCESS;
    TraceRecordWritten(shown, "opened", status);
}

void WriteResultRecord(int exitCode, const RunInputs& run, const RunOutcome& outcome) {
    if (run.Settings.resultKey.empty()) return;
    platform::RegistryKey key;
    std::string shown;
    LONG status = CreateRecordKey(run, key, shown);
    if (status == ERROR_SUCCESS) status = SetFinalValues(key.get(), exitCode, run, outcome);
    TraceRecordWritten(shown, "written", status);
}
