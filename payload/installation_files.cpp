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
#include "shared/run_state.h"

namespace {

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
constexpr const char* kLongestWorkingName = kClientModule64Name;

// One cabinet payload, and the program it leaves that is removed before (none for the layer, whose
// folder is removed instead).
struct CabinetStep {
    PayloadId entry;
    const char* previousFile;
};

constexpr CabinetStep kLayer32{kPayloadLayer32Cab, nullptr};
constexpr CabinetStep kLayer64{kPayloadLayer64Cab, nullptr};
constexpr CabinetStep kClient32{kPayloadClientModule32Cab, kClientModule32Name};
constexpr CabinetStep kClient64{kPayloadClientModule64Cab, kClientModule64Name};
constexpr CabinetStep kStandaloneService{kPayloadStandaloneServiceCab, kStandaloneServiceName};

// The plain payload files, in the order they are written: the data files before the BIOS image,
// the tools after it.
constexpr PayloadId kDataFiles[] = {kPayloadProfile, kPayloadSchema, kPayloadBootDevices};
constexpr PayloadId kToolFiles[] = {kPayloadSmbiosData, kPayloadUninstaller, kPayloadServiceStopper,
                                    kPayloadReadme};

// The archive as it is written and passed on to the extractor.
std::string ArchiveOf(const CabinetStep& step) {
    return InWorkingFolder(PayloadFileName(step.entry));
}

// Writes the archive and unpacks it; true when both worked.
bool WriteAndExtract(const CabinetStep& step, const char* destinationPrefix, FileLedger& files) {
    return fn_CreateFileFromResource(step.entry, PayloadFileName(step.entry), files) == 0 &&
           ExtractCabinet(ArchiveOf(step).c_str(), destinationPrefix, files) == 1;
}

bool UnpackLayer(const CabinetStep& step, FileLedger& files) {
    platform::RemoveOwnFile(ArchiveOf(step).c_str());
    // A leftover folder that cannot be removed (a link, or a link inside it) is never unpacked
    // into.
    platform::DeleteTree(kLayerFolderName);
    if (platform::FileAttributes(kLayerFolderName) != INVALID_FILE_ATTRIBUTES) {
        platform::DebugText(kLayerFolderNotRemoved, platform::Severity::kFailure);
        return false;
    }
    const std::string layerPrefix = InWorkingFolder(kLayerFolderName) + '\\';
    bool unpacked = WriteAndExtract(step, layerPrefix.c_str(), files);
    platform::RemoveOwnFile(ArchiveOf(step).c_str());
    return unpacked;
}

// Skipped after an earlier failure, but its archive is still removed.
bool UnpackIntoWorkingDirectory(const CabinetStep& step, bool earlierFailed, FileLedger& files) {
    bool unpacked = false;
    if (!earlierFailed) {
        platform::RemoveOwnFile(ArchiveOf(step).c_str());
        platform::RemoveOwnFile(step.previousFile);
        unpacked = WriteAndExtract(step, InWorkingFolder("").c_str(), files);
    }
    platform::RemoveOwnFile(ArchiveOf(step).c_str());
    return unpacked;
}

bool UnpackCabinets(bool windows64, FileLedger& files) {
    bool ok = UnpackLayer(windows64 ? kLayer64 : kLayer32, files);
    ok = UnpackIntoWorkingDirectory(windows64 ? kClient64 : kClient32, !ok, files);
    ok = UnpackIntoWorkingDirectory(kStandaloneService, !ok, files);
    return ok;
}

bool WritePlainFile(PayloadId entry, FileLedger& files) {
    const char* name = PayloadFileName(entry);
    platform::RemoveOwnFile(InWorkingFolder(name).c_str());
    return fn_CreateFileFromResource(entry, name, files) == 0;
}

// A name from the profile must never reach another directory or a device, replace or remove a
// file the setup needs, or be one the cleanup batch cannot name in the interpreter's code page.
bool IsAcceptableImageName(const std::wstring& wideName, const std::string& name,
                           const RunInputs& run) {
    std::string oemName;
    return platform::ToOemExactly(wideName, oemName) &&
           IsPlainFileName(name, platform::IsAnsiLeadByte) &&
           !IsSetupOwnName(name, run.ExecutableName, platform::IsAnsiLeadByte);
}

// The image is written under the name the profile gives. `imageName` is what the cleanup batch
// names: the profile's name (or the default one) unless it was refused.
bool WriteBiosImage(const RunInputs& run, std::wstring& imageName, FileLedger& files) {
    if (!GetBiosImageName(kProfileName, imageName)) {
        platform::DebugText(kNoImageName, platform::Severity::kFailure);
        return false;
    }
    std::string name;
    const bool exact = platform::ToAnsiExactly(imageName, name);
    if (!exact) name = platform::ToAnsi(imageName);
    platform::DebugText(kImageNameLine + name);
    if (!exact || !IsAcceptableImageName(imageName, name, run)) {
        platform::DebugText(kImageNameRefused, platform::Severity::kFailure);
        imageName.clear();  // the batch gets no line for it
        return false;
    }
    if (WorkingPath(run, name).empty()) {
        platform::DebugText(kImagePathTooLong, platform::Severity::kFailure);
        return false;
    }
    platform::RemoveOwnFile(name.c_str());
    return fn_CreateFileFromResource(kPayloadBiosImage, name.c_str(), files) == 0;
}

bool WritePlainFiles(const RunInputs& run, RunOutcome& outcome) {
    for (PayloadId entry : kDataFiles) {
        if (!WritePlainFile(entry, outcome.Files)) return false;
    }
    if (!WriteBiosImage(run, outcome.BiosImageName, outcome.Files)) return false;
    for (PayloadId entry : kToolFiles) {
        if (!WritePlainFile(entry, outcome.Files)) return false;
    }
    return true;
}

}  // namespace

bool PayloadPathsFit(const RunInputs& run) {
    return !WorkingPath(run, kLongestWorkingName).empty();
}

int fn_CreateInstallationFiles(const RunInputs& run, RunOutcome& outcome) {
    // Nothing is written where not every file could be named, run and removed again.
    const bool pathsFit = PayloadPathsFit(run);
    if (!pathsFit) {
        platform::DebugText(run.WorkingDirectoryUnnamed ? kDirectoryUnnamed : kDirectoryTooLong,
                            platform::Severity::kFailure);
    }
    if (!pathsFit || !UnpackCabinets(run.Is64BitWindows, outcome.Files) ||
        !WritePlainFiles(run, outcome)) {
        platform::DebugText(kNotAllCreated, platform::Severity::kFailure);
        return kExitFilesNotCreated;
    }
    outcome.PayloadComplete = true;
    platform::DebugText(kAllCreated);
    return kExitSuccess;
}
