// The names the setup itself writes, reads or removes in the working directory, and the rule that
// keeps a BIOS image (or another name from outside) off them.
#pragma once

#include <string>

#include "shared/ansi_text.h"

constexpr char kCleanupBatchName[] = "delzrph.bat";

// The payload files, each as the setup writes it (the store's table names each entry by these).
constexpr char kProfileName[] = "profile.xml";
constexpr char kSchemaName[] = "schema.xml";
constexpr char kBootDevicesName[] = "bootdevices.xml";
constexpr char kClientModule64CabName[] = "runvex64.cab";
constexpr char kClientModule32CabName[] = "Runvex.cab";
constexpr char kLayer64CabName[] = "QMB64.cab";
constexpr char kLayer32CabName[] = "QMB.cab";
constexpr char kStandaloneServiceCabName[] = "QTMStandaloneSvc.cab";
constexpr char kUninstallerName[] = "uninst.exe";
constexpr char kServiceStopperName[] = "StopHWIX.exe";
constexpr char kSmbiosDataName[] = "ksmbios_data.htm";
constexpr char kReadmeName[] = "!Readme.txt";
// The programs the cabinets leave in the working directory.
constexpr char kClientModule64Name[] = "ZunaClientModule64.exe";
constexpr char kClientModule32Name[] = "ZunaClientModule32.exe";
constexpr char kStandaloneServiceName[] = "QTMStandaloneSvc.exe";

// A name of the working directory as the setup's relative steps name it: ".\NAME".
std::string InWorkingFolder(const char* name);
// Left by the client module when the task goes on after a restart; the setup reads and removes it.
constexpr char kRebootMarker[] = "reboot.txt";
// The folder the instrumentation layer is unpacked into.
constexpr char kLayerFolderName[] = "hwixqmb";

// The files the cleanup batch deletes, in its order: before the BIOS image, after it, and after
// the layer folder.
constexpr const char* const kFilesBeforeImage[] = {kProfileName, kSchemaName, kBootDevicesName};
constexpr const char* const kFilesAfterImage[] = {kServiceStopperName, kClientModule32Name,
                                                  kClientModule64Name, kUninstallerName};
constexpr const char* const kFilesAfterLayer[] = {kSmbiosDataName, kReadmeName,
                                                  kStandaloneServiceName, kCleanupBatchName};

// True for a name that can only mean a file in the working directory: not empty, not "." or
// "..", no path separator, drive colon, quote, wildcard or other character Windows refuses, and
// not a device name.
bool IsPlainFileName(const std::string& ansiName, LeadBytePredicate isLeadByte);

// True when `name` (ANSI), compared as Windows compares file names (letters without case,
// trailing dots and blanks dropped), is one the setup itself writes, reads or removes in the
// working directory: a payload file or archive, a client module, the layer folder, the batch, the
// reboot marker, the executable's own name or its result or trace log's. An image of such a name
// would overwrite or remove it.
bool IsSetupOwnName(const std::string& name, const std::string& executableName,
                    LeadBytePredicate isLeadByte);
