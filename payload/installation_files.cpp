#include "payload/installation_files.h"

#include <cstring>
#include <string>

#include "payload/cabinet_extractor.h"
#include "payload/own_names.h"
#include "payload/payload_store.h"
#include "payload/profile_reader.h"
#include "platform/code_pages.h"
#include "platform/debug_output.h"
#include "platform/own_files.h"
#include "shared/result_log.h"
#include "shared/setup_state.h"

namespace {

constexpr char kLayerPrefix[] = ".\\hwixqmb\\";
constexpr char kWorkingPrefix[] = ".\\";
constexpr char kProfileFile[] = "profile.xml";

constexpr char kAllCreated[] = "fn_CreateInstallationFiles: All files created successfully.";
constexpr char kNotAllCreated[] = "fn_CreateInstallationFiles: Could not create all files.";
constexpr char kNoImageName[] = "Could not get BIOS image name";
constexpr char kImageNameLine[] = "BIOS image name is: ";
constexpr char kImageNameRefused[] =
    "fn_CreateInstallationFiles: BIOS image name is not a plain file name.";
constexpr char kImagePathTooLong[] = "fn_CreateInstallationFiles: BIOS image path too long.";
constexpr char kDirectoryTooLong[] = "fn_CreateInstallationFiles: Working directory path too long.";
constexpr char kDirectoryUnnamed[] =
    "fn_CreateInstallationFiles: Working directory path has no exact name in the system code "
    "pages.";
constexpr char kLayerFolderNotRemoved[] =
    "fn_CreateInstallationFiles: Folder hwixqmb could not be removed.";
// The longest name the setup itself builds under the working directory.
constexpr char kLongestWorkingName[] = "ZunaClientModule64.exe";

// One cabinet payload: the archive as it is passed on, the name it is written as, and the
// file it leaves that is removed before (none for the layer, whose folder is removed instead).
struct CabinetStep {
    const char* archive;
    PayloadId entry;
    const char* writtenAs;
    const char* previousFile;
};

constexpr CabinetStep kLayer32{".\\QMB.cab", kPayloadLayer32Cab, "QMB.cab", nullptr};
constexpr CabinetStep kLayer64{".\\QMB64.cab", kPayloadLayer64Cab, "QMB64.cab", nullptr};
constexpr CabinetStep kClient32{".\\Runvex.cab", kPayloadClientModule32Cab, "Runvex.cab",
                                ".\\ZunaClientModule32.exe"};
constexpr CabinetStep kClient64{".\\runvex64.cab", kPayloadClientModule64Cab, "runvex64.cab",
                                ".\\ZunaClientModule64.exe"};
constexpr CabinetStep kStandaloneService{".\\QTMStandaloneSvc.cab", kPayloadStandaloneServiceCab,
                                         "QTMStandaloneSvc.cab", ".\\QTMStandaloneSvc.exe"};

struct PlainFileStep {
    const char* deletedFirst;
    PayloadId entry;
    const char* writtenAs;
};

constexpr PlainFileStep kDataFiles[] = {
    {"profile.xml", kPayloadProfile, "profile.xml"},
    {"schema.xml", kPayloadSchema, "schema.xml"},
    {"bootdevices.xml", kPayloadBootDevices, "bootdevices.xml"},
};
constexpr PlainFileStep kToolFiles[] = {
    {".\\ksmbios_data.htm", kPayloadSmbiosData, "ksmbios_data.htm"},
    {".\\uninst.exe", kPayloadUninstaller, "uninst.exe"},
    {".\\StopHWIX.exe", kPayloadServiceStopper, "StopHWIX.exe"},
    {".\\!Readme.txt", kPayloadReadme, "!Readme.txt"},
};

// Writes the archive and unpacks it; true when both worked.
bool WriteAndExtract(const CabinetStep& step, const char* destinationPrefix) {
    return fn_CreateFileFromResource(step.entry, step.writtenAs) == 0 &&
           ExtractCabinet(step.archive, destinationPrefix) == 1;
}

bool UnpackLayer(const CabinetStep& step) {
    platform::RemoveOwnFile(step.archive);
    // A leftover folder that cannot be removed (a link, or a link inside it) is never unpacked
    // into.
    platform::DeleteTree(kLayerFolder);
    if (platform::FileAttributes(kLayerFolder) != INVALID_FILE_ATTRIBUTES) {
        platform::DebugText(kLayerFolderNotRemoved, platform::Severity::kFailure);
        return false;
    }
    bool unpacked = WriteAndExtract(step, kLayerPrefix);
    platform::RemoveOwnFile(step.archive);
    return unpacked;
}

// Skipped after an earlier failure, but its archive is still removed.
bool UnpackIntoWorkingDirectory(const CabinetStep& step, bool earlierFailed) {
    bool unpacked = false;
    if (!earlierFailed) {
        platform::RemoveOwnFile(step.archive);
        platform::RemoveOwnFile(step.previousFile);
        unpacked = WriteAndExtract(step, kWorkingPrefix);
    }
    platform::RemoveOwnFile(step.archive);
    return unpacked;
}

bool UnpackCabinets() {
    const bool windows64 = g_SetupState.Is64BitWindows != 0;
    bool ok = UnpackLayer(windows64 ? kLayer64 : kLayer32);
    ok = UnpackIntoWorkingDirectory(windows64 ? kClient64 : kClient32, !ok);
    ok = UnpackIntoWorkingDirectory(kStandaloneService, !ok);
    return ok;
}

bool WritePlainFile(const PlainFileStep& step) {
    platform::RemoveOwnFile(step.deletedFirst);
    return fn_CreateFileFromResource(step.entry, step.writtenAs) == 0;
}

// A name from the profile must never reach another directory or a device, replace or remove a
// file the setup needs, or be one the cleanup batch cannot name in the interpreter's code page.
bool IsAcceptableImageName(const std::wstring& wideName, const std::string& name) {
    std::string oemName;
    std::string executableName;
    if (GetExecutableFileName(executableName) != 0) executableName.clear();
    return platform::ToOemExactly(wideName, oemName) &&
           IsPlainFileName(name, platform::IsAnsiLeadByte) &&
           !IsSetupOwnName(name, executableName, platform::IsAnsiLeadByte);
}

bool WriteBiosImage() {
    if (!GetBiosImageName(kProfileFile, g_SetupState.BiosImageName)) {
        platform::DebugText(kNoImageName, platform::Severity::kFailure);
        return false;
    }
    std::string name;
    const bool exact = platform::ToAnsiExactly(g_SetupState.BiosImageName, name);
    if (!exact) name = platform::ToAnsi(g_SetupState.BiosImageName);
    platform::DebugText(kImageNameLine + name);
    if (!exact || !IsAcceptableImageName(g_SetupState.BiosImageName, name)) {
        platform::DebugText(kImageNameRefused, platform::Severity::kFailure);
        g_SetupState.BiosImageName.clear();  // the batch gets no line for it
        return false;
    }
    if (WorkingPath(name).empty()) {
        platform::DebugText(kImagePathTooLong, platform::Severity::kFailure);
        return false;
    }
    platform::RemoveOwnFile(name.c_str());
    return fn_CreateFileFromResource(kPayloadBiosImage, name.c_str()) == 0;
}

bool WritePlainFiles() {
    for (const PlainFileStep& step : kDataFiles) {
        if (!WritePlainFile(step)) return false;
    }
    if (!WriteBiosImage()) return false;
    for (const PlainFileStep& step : kToolFiles) {
        if (!WritePlainFile(step)) return false;
    }
    return true;
}

}  // namespace

bool PayloadPathsFit() {
    return !WorkingPath(kLongestWorkingName).empty();
}

int fn_CreateInstallationFiles() {
    // Nothing is written where not every file could be named, run and removed again.
    const bool pathsFit = PayloadPathsFit();
    if (!pathsFit) {
        platform::DebugText(
            g_SetupState.WorkingDirectoryUnnamed ? kDirectoryUnnamed : kDirectoryTooLong,
            platform::Severity::kFailure);
    }
    if (!pathsFit || !UnpackCabinets() || !WritePlainFiles()) {
        platform::DebugText(kNotAllCreated, platform::Severity::kFailure);
        return kExitFilesNotCreated;
    }
    g_SetupState.PayloadComplete = 1;
    platform::DebugText(kAllCreated);
    return kExitSuccess;
}
