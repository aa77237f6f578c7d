#include "payload/stage_folder.h"

#include <string>
#include <vector>

#include "payload/stage_folder_rule.h"
#include "platform/code_pages.h"
#include "platform/debug_output.h"
#include "platform/folder_security.h"
#include "platform/handles.h"
#include "platform/own_files.h"
#include "platform/system_facts.h"
#include "shared/format_text.h"
#include "shared/package_settings.h"
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

// What lies at `folder` when it is not a folder of its own: missing, a file, a link; empty
// when it is one.
std::string NotAFolderFault(const std::wstring& folder) {
    const DWORD attributes = platform::FileAttributes(folder);
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return WithError("not found, error ", platform::LastError());
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) return "it is not a folder";
    if (platform::IsLink(folder)) return "it is a link";
    return {};
}

// Makes the folder when it is missing (noted in `made`), then judges whatever lies there by
// `rule`; empty when it is safe.
using FolderRule = std::string (*)(const FolderAccess&, const std::string&);
std::string SecuredFolderFault(const std::wstring& folder, const std::string& account,
                               FolderRule rule, std::vector<std::wstring>& made) {
    if (platform::FileAttributes(folder) == INVALID_FILE_ATTRIBUTES) {
        const DWORD error = platform::CreateAdminOnlyFolder(folder);
        if (error == 0) made.push_back(folder);
        if (error != 0 && error != ERROR_ALREADY_EXISTS)
            return WithError("not made, error ", error);
    }
    std::string fault = NotAFolderFault(folder);
    if (!fault.empty()) return fault;
    FolderAccess access;
    const DWORD error = platform::ReadFolderAccess(folder, access);
    if (error != 0) return WithError("its access list cannot be read, error ", error);
    return rule(access, account);
}

// Every folder from the drive's root down to the stage folder's parent, in that order.
std::vector<std::wstring> FoldersAbove(const std::wstring& stageFolder) {
    std::vector<std::wstring> folders;
    // "C:\" first; then each folder down to the last backslash.
    for (std::size_t slash = stageFolder.find(L'\\');
         slash != std::wstring::npos && slash + 1 < stageFolder.size();
         slash = stageFolder.find(L'\\', slash + 1)) {
        folders.push_back(folders.empty() ? stageFolder.substr(0, slash + 1)
                                          : stageFolder.substr(0, slash));
    }
    return folders;
}

// True when `name` has an exact form in the ANSI and the OEM code pages, as the working
// directory must.
bool NamedExactly(const std::wstring& name) {
    std::string ansi;
    std::string oem;
    return platform::ToAnsiExactly(name, ansi) && platform::ToOemExactly(name, oem);
}

// <stage folder>\<package name without extension>, from the executable's name read in wide
// characters: empty, with `why` set, when it is unknown or has no exact name in the system's code
// pages (a look-alike would be another package's folder).
std::wstring PackageFolderIn(const std::wstring& stageFolder, const std::wstring& stem,
                             std::string& why) {
    if (stem.empty()) {
        why = "the package's name is unknown";
        return {};
    }
    if (!NamedExactly(stem)) {
        why = "the package's name has no exact name in the system code pages";
        return {};
    }
    const bool root = stageFolder.back() == L'\\';
    return stageFolder + (root ? L"" : L"\\") + stem;
}

// The stage folder as the platform names it; empty, after a debug text, when its name is not a
// plain folder path (as set, or once expanded) or it is not a folder of a local fixed drive.
std::wstring LocalStageFolder(const std::string& setting) {
    std::string fault = FolderNameFault(setting);
    if (!fault.empty()) {
        Refuse(WideSettingText(setting), "its name " + fault);
        return {};
    }
    DWORD error = 0;
    const std::wstring folder = ExpandedFolderSetting(setting, error);
    if (folder.empty()) {
        Refuse(WideSettingText(setting), WithError("it is not an absolute folder, error ", error));
        return {};
    }
    fault = FolderNameFault(AsciiShadow(folder));
    if (!fault.empty()) {
        Refuse(folder, "its name " + fault);
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

// Checks, and makes where missing, every folder from the drive's root to the package's own, in
// order; the folders it made are noted in `made`. Empty when all are safe, else why not, naming
// the folder.
std::string FolderChainFault(const std::wstring& stageFolder, const std::wstring& packageFolder,
                             std::vector<std::wstring>& made) {
    const std::string account = platform::RunningAccount();
    for (const std::wstring& above : FoldersAbove(stageFolder)) {
        const std::string fault = SecuredFolderFault(above, account, UnsafeAncestorReason, made);
        if (!fault.empty()) return "the folder " + platform::ToAnsi(above) + " above it: " + fault;
    }
    for (const std::wstring& folder : {stageFolder, packageFolder}) {
        const std::string fault = SecuredFolderFault(folder, account, UnsafeFolderReason, made);
        if (!fault.empty()) {
            return folder == stageFolder ? fault : platform::ToAnsi(folder) + ": " + fault;
        }
    }
    return {};
}

// Nothing the refused run made stays: its folders go, deepest first, where still empty.
void RemoveMadeFolders(const std::vector<std::wstring>& made) {
    for (auto folder = made.rbegin(); folder != made.rend(); ++folder) {
        platform::RemoveEmptyFolder(*folder);
    }
}

}  // namespace

bool EnterStageFolder(RunInputs& run) {
    const std::wstring stageFolder = LocalStageFolder(run.Settings.stageFolder);
    if (stageFolder.empty()) return false;
    std::string why;
    const std::wstring packageFolder = PackageFolderIn(stageFolder, run.WideExecutableStem, why);
    if (packageFolder.empty()) return Refuse(stageFolder, why);
    // The working directory's rule, checked before anything is made: a folder without an exact
    // name could not be used after all.
    if (!NamedExactly(packageFolder)) {
        return Refuse(stageFolder, "it has no exact name in the system code pages");
    }
    std::vector<std::wstring> made;
    const std::string fault = FolderChainFault(stageFolder, packageFolder, made);
    if (!fault.empty()) {
        RemoveMadeFolders(made);
        return Refuse(stageFolder, fault);
    }
    if (const DWORD error = platform::EnterFolder(packageFolder); error != 0) {
        RemoveMadeFolders(made);
        return Refuse(packageFolder, WithError("it cannot be entered, error ", error));
    }
    run.StageDirectory = packageFolder;
    platform::DebugText(FormatText(kEnteredFormat, {platform::ToAnsi(packageFolder)}));
    return true;
}

void StepOutOfStageFolder() {
    platform::EnterFolder(kDriveRoot);
}

void RemoveEmptyStageFolder(const RunInputs& run) {
    StepOutOfStageFolder();
    platform::RemoveEmptyFolder(run.StageDirectory);
}
