// The names the setup itself writes, reads or removes in the working directory, and the rule that
// keeps a BIOS image (or another name from outside) off them.
#pragma once

#include <string>

#include "shared/ansi_text.h"

constexpr char kCleanupBatchName[] = "delzrph.bat";
// Left by the client module when the task goes on after a restart; the setup reads and removes it.
constexpr char kRebootMarker[] = "reboot.txt";
// The folder the instrumentation layer is unpacked into.
constexpr char kLayerFolderName[] = "hwixqmb";

// The files the cleanup batch deletes, in its order: before the BIOS image, after it, and after
// the layer folder.
inline constexpr const char* kFilesBeforeImage[] = {"profile.xml", "schema.xml", "bootdevices.xml"};
inline constexpr const char* kFilesAfterImage[] = {"StopHWIX.exe", "ZunaClientModule32.exe",
                                                   "ZunaClientModule64.exe", "uninst.exe"};
inline constexpr const char* kFilesAfterLayer[] = {"ksmbios_data.htm", "!Readme.txt",
                                                   "QTMStandaloneSvc.exe", kCleanupBatchName};

// True when `name` (ANSI), compared as Windows compares file names (letters without case,
// trailing dots and blanks dropped), is one the setup itself writes, reads or removes in the
// working directory: a payload file or archive, a client module, the layer folder, the batch, the
// reboot marker, the executable's own name or its result or trace log's. An image of such a name
// would overwrite or remove it.
bool IsSetupOwnName(const std::string& name, const std::string& executableName,
                    LeadBytePredicate isLeadByte);
