#include "setup/result_record.h"

#include "platform/code_pages.h"
#include "platform/registry.h"
#include "shared/result_log.h"
#include "shared/run_state.h"
#include "shared/setting_text.h"
#include "shared/trace_log.h"
#include "shared/utc_time.h"

namespace {

constexpr char kExitCodeValue[] = "ExitCode";
constexpr char kRebootPendingValue[] = "RebootPending";
constexpr char kFinishedValue[] = "Finished";
constexpr char kPackageValue[] = "Package";
constexpr char kBitLockerSuspendedValue[] = "BitLockerSuspended";

// The values in order; the first failure's error, or ERROR_SUCCESS.
LONG SetValues(HKEY key, int exitCode, const RunInputs& run, const RunOutcome& outcome) {
    std::string package;
    if (GetExecutableFileName(package) != 0) package.clear();
    LONG status = platform::SetRegistryNumber(key, kExitCodeValue, static_cast<DWORD>(exitCode));
    if (status == ERROR_SUCCESS) {
        status =
            platform::SetRegistryNumber(key, kRebootPendingValue, outcome.RebootPending ? 1 : 0);
    }
    if (status == ERROR_SUCCESS)
        status = platform::SetRegistryText(key, kFinishedValue, UtcNowText());
    if (status == ERROR_SUCCESS) status = platform::SetRegistryText(key, kPackageValue, package);
    if (status == ERROR_SUCCESS && run.Settings.suspendBitLocker) {
        status = platform::SetRegistryNumber(key, kBitLockerSuspendedValue,
                                             outcome.BitLockerSuspended ? 1 : 0);
    }
    return status;
}

}  // namespace

void WriteResultRecord(int exitCode, const RunInputs& run, const RunOutcome& outcome) {
    const std::string& name = run.Settings.resultKey;
    if (name.empty()) return;
    // Wide, so that the same package names the same key on every PC whatever its code pages.
    const std::wstring subkey =
        platform::FromAnsi(kResultRecordParentKey) + L'\\' + WideSettingText(name);
    // The 32-bit setup on 64-bit Windows writes where a 64-bit detection rule reads.
    const REGSAM access = KEY_SET_VALUE | (run.Is64BitWindows ? KEY_WOW64_64KEY : 0);
    platform::RegistryKey key;
    LONG status = RegCreateKeyExW(HKEY_LOCAL_MACHINE, subkey.c_str(), 0, nullptr,
                                  REG_OPTION_NON_VOLATILE, access, nullptr, key.put(), nullptr);
    if (status == ERROR_SUCCESS) status = SetValues(key.get(), exitCode, run, outcome);
    const std::string shown = "result record HKLM\\" + platform::ToAnsi(subkey);
    if (status != ERROR_SUCCESS) {
        TraceText(shown + " not written, error " + std::to_string(status), TraceRecordType::kError);
        return;
    }
    TraceText(shown + " written");
}
