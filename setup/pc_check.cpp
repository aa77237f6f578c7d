#include "setup/pc_check.h"

#include "platform/debug_output.h"
#include "platform/registry.h"
#include "shared/format_text.h"
#include "shared/pc_identity.h"

namespace {

constexpr char kModelSupportedFormat[] = "fn_CheckModel: PC model supported: %s";
constexpr char kModelNotSupportedFormat[] =
    "fn_CheckModel: PC model not supported: %s; package models: %s";
constexpr char kVersionCurrentFormat[] =
    "fn_CheckBIOSVersion: BIOS version \"%s\" already installed, nothing to do.";
constexpr char kVersionUnknown[] =
    "fn_CheckBIOSVersion: BIOS version cannot be read, the task runs (its flash tool decides).";

void ReadFirmwareValue(HKEY key, const char* name, FirmwareValue& value) {
    value.read = platform::ReadRegistryText(key, name, value.text);
}

}  // namespace

void ReadPcIdentity(RunInputs& run) {
    if (run.Settings.models.empty() && run.Settings.biosVersion.empty()) return;
    platform::RegistryKey key;
    if (platform::OpenMachineKeyToRead(kFirmwareKey, 0, key) != ERROR_SUCCESS) return;
    PcIdentity& pc = run.Pc;
    ReadFirmwareValue(key.get(), kProductNameValue, pc.productName);
    ReadFirmwareValue(key.get(), kSkuValue, pc.sku);
    ReadFirmwareValue(key.get(), kBaseBoardValue, pc.baseBoard);
    ReadFirmwareValue(key.get(), kBiosVersionValue, pc.biosVersion);
}

int fn_CheckModel(const RunInputs& run) {
    const std::string& models = run.Settings.models;
    if (models.empty()) return kExitSuccess;
    const std::string names = PcNamesText(run.Pc);
    if (IsOneOfModels(run.Pc, models)) {
        platform::DebugText(FormatText(kModelSupportedFormat, {names}));
        return kExitSuccess;
    }
    // Names that cannot be read show as missing: such a PC is refused too.
    platform::DebugText(FormatText(kModelNotSupportedFormat, {names, models}),
                        platform::Severity::kFailure);
    return kExitUnsupportedOs;
}

bool fn_CheckBIOSVersion(const RunInputs& run) {
    const std::string& version = run.Settings.biosVersion;
    if (version.empty()) return false;
    const FirmwareValue& installed = run.Pc.biosVersion;
    if (!IsKnownFirmwareValue(installed)) {
        platform::DebugText(kVersionUnknown, platform::Severity::kWarning);
        return false;
    }
    if (!HasBiosVersion(run.Pc, version)) return false;
    platform::DebugText(FormatText(kVersionCurrentFormat, {installed.text}));
    return true;
}
