// Who the PC is, as its firmware tables name it: what a package's models and BIOS version are
// compared with.
#pragma once

#include <string>

// Windows fills this key of HKEY_LOCAL_MACHINE from the firmware's tables at each start; it is not
// redirected under WOW64.
constexpr char kFirmwareKey[] = "HARDWARE\\DESCRIPTION\\System\\BIOS";
constexpr char kProductNameValue[] = "SystemProductName";
constexpr char kSkuValue[] = "SystemSKU";
constexpr char kBaseBoardValue[] = "BaseBoardProduct";
constexpr char kBiosVersionValue[] = "BIOSVersion";

// One value of the firmware's key; `read` false where it is missing or not text.
struct FirmwareValue {
    std::string text;
    bool read = false;
};

struct PcIdentity {
    FirmwareValue productName;  // SystemProductName
    FirmwareValue sku;          // SystemSKU
    FirmwareValue baseBoard;    // BaseBoardProduct
    FirmwareValue biosVersion;  // BIOSVersion
};

// True for a value that could be read and holds more than blanks.
bool IsKnownFirmwareValue(const FirmwareValue& value);

// Firmware names are compared as administrators read them: blanks at both ends do not count,
// nor does the case of ASCII letters.
bool SameFirmwareName(const std::string& pc, const std::string& package);

// True when one of the PC's three names that could be read, and is not empty, is one of `models`
// ("NAME;NAME…").
bool IsOneOfModels(const PcIdentity& pc, const std::string& models);

// True when the PC's BIOS version could be read and is `version`.
bool HasBiosVersion(const PcIdentity& pc, const std::string& version);

// The PC's names for a debug text: SystemProductName "X", SystemSKU "Y", BaseBoardProduct "Z"
// (a name that could not be read shows as missing).
std::string PcNamesText(const PcIdentity& pc);
