#include "payload/stage_folder.h"

#include <string>

#include "payload/stage_folder_rule.h"
#include "platform/code_pages.h"
#include "platform/debug_output.h"
#include "platform/folder_security.h"
#include "platform/own_files.h"
#include "shared/format_text.h"
#include "shared/result_log.h"
#include "shared/setting_text.h"

namespace {

constexpr char kRefusedFormat[] =
    "EnterStageFolder: Stage folder %s cannot be used: %s; nothing written, exit code 3.";
constexpr char kEnteredFormat[] = "EnterStageFolder: Files are laid out in %s";
constexpr wchar_t kDriveRoot[] = L"\\";
constexpr char kShareStart[] = "\\\\";

bool Refuse(const std::wstring& folder, const std::string& why) {
    platform::DebugText(FormatText(kRefusedFormat, {platform::ToAnsi(folder), why}),
                        platform::Severity::kFailure);
    return false;
}

std::string WithError(const char* what, DWORD error) {
    return what + std::to_string(static_cast<unsigned long>(error));
}

// Makes the folder when it is missing, then judges whatever lies there; empty when it is safe.
std::string SecuredFolderFault(const std::wstring& folder, const std::string& account) {
    DWORD error = platform::CreateAdminOnlyFolder(folder);
    if (error != 0 && error != ERROR_ALREADY_EXISTS) return WithError("not made, error ", error);
    const DWORD attributes = GetFileAttributesW(folder.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return WithError("not found, error ", GetLastError());
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) return "it is not a folder";
    if (platform::IsLink(folder)) return "it is a link";
    FolderAccess access;
    error = platform::ReadFolderAccess(folder, access);
    if (error != 0) return WithError("its access list cannot be read, error ", error);
    return UnsafeFolderReason(access, account);
}

// <stage folder>\<package name without extension>; empty when the executable's name is unknown.
std::wstring PackageFolderIn(const std::wstring& stageFolder) {
    std::string executableName;
    if (GetExecutableFileName(executableName) != 0) return {};
    const std::string stem = ExecutableStem(executableName, platform::IsAnsiLeadByte);
    if (stem.empty()) return {};
    const bool root = stageFolder.back() == L'\\';
    return stageFolder + (root ? L"" : L"\\") + platform::FromAnsi(stem);
}

// The stage folder as the platform names it; empty, after a debug text, when it is not a folder
// of a local fixed drive.
std::wstring LocalStageFolder(const std::string& setting) {
    DWORD error = 0;
    const std::wstring folder = ExpandedFolderSetting(setting, error);
    if (folder.empty()) {
        Refuse(WideSettingText(setting), WithError("it is not an absolute folder, error ", error));
        return {};
    }
    if (AsciiShadow(folder).compare(0, 2, kShareStart) == 0) {
        Refuse(folder, "it is on a share");
        return {};
    }
    const UINT driveType = platform::DriveTypeOf(folder);
    if (driveType != DRIVE_FIXED) {
        Refuse(folder,
               "it is not on a local fixed drive (drive type " + std::to_string(driveType) + ")");
        return {};
    }
    return folder;
}

}  // namespace

bool EnterStageFolder(RunInputs& run) {
    const std::wstring stageFolder = LocalStageFolder(run.Settings.stageFolder);
    if (stageFolder.empty()) return false;
    const std::wstring packageFolder = PackageFolderIn(stageFolder);
    if (packageFolder.empty()) return Refuse(stageFolder, "the package's name is unknown");
    const std::string account = platform::RunningAccount();
    for (const std::wstring& folder : {stageFolder, packageFolder}) {
        const std::string fault = SecuredFolderFault(folder, account);
        if (!fault.empty()) return Refuse(folder, fault);
    }
    if (!SetCurrentDirectoryW(packageFolder.c_str())) {
        return Refuse(packageFolder, WithError("it cannot be entered, error ", GetLastError()));
    }
    run.StageDirectory = packageFolder;
    platform::DebugText(FormatText(kEnteredFormat, {platform::ToAnsi(packageFolder)}));
    return true;
}

void StepOutOfStageFolder() {
    SetCurrentDirectoryW(kDriveRoot);
}

void RemoveEmptyStageFolder(const RunInputs& run) {
    StepOutOfStageFolder();
    RemoveDirectoryW(run.StageDirectory.c_str());
}
