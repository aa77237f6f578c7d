#include "pack/build_folder.h"

#include "pack/pack_text.h"
#include "platform/build_files.h"
#include "platform/own_files.h"
#include "shared/file_names.h"

namespace {

constexpr char kBuildFolderInfix[] = ".building-";
constexpr char kBuildFolderSuffix[] = ".tmp";
// Eight hex digits name a build folder; older builders wrote a decimal process ID.
constexpr std::size_t kBuildFolderNumberDigits = 8;
constexpr char kHexDigits[] = "0123456789abcdefABCDEF";
constexpr char kMarkerName[] = "build.lock";
constexpr unsigned long long kSecondsOfADay = 24ull * 60 * 60;

// True for "<output's name>.building-<hex digits>.tmp", compared as Windows compares names: the
// platform's pattern also matches short names and more than the digits.
bool IsBuildFolderOf(const std::string& folderName, const std::string& outName) {
    const std::string stem = outName + kBuildFolderInfix;
    const std::size_t suffix = sizeof kBuildFolderSuffix - 1;
    if (folderName.size() <= stem.size() + suffix) return false;
    const std::string number =
        folderName.substr(stem.size(), folderName.size() - stem.size() - suffix);
    return ComparableName(folderName.substr(0, stem.size())) == ComparableName(stem) &&
           ComparableName(folderName.substr(folderName.size() - suffix)) == kBuildFolderSuffix &&
           number.find_first_not_of(kHexDigits) == std::string::npos;
}

bool IsAbandoned(const std::string& folder, unsigned long long secondsSinceChange) {
    const std::string marker = folder + '\\' + kMarkerName;
    if (platform::FileAttributes(marker) == INVALID_FILE_ATTRIBUTES) {
        return secondsSinceChange > kSecondsOfADay;
    }
    return platform::DeleteUnclaimedFile(marker);
}

}  // namespace

std::string BuildFolderRoomFault(const std::string& out) {
    const std::size_t length = platform::FullPathOf(out).size() + sizeof kBuildFolderInfix - 1 +
                               kBuildFolderNumberDigits + sizeof kBuildFolderSuffix - 1;
    if (length <= kLongestBuildFolderPath) return {};
    return "--out " + out + ": the path is too long for a build beside it (its build folder's " +
           "path would have " + std::to_string(length) + " characters, at most " +
           std::to_string(kLongestBuildFolderPath) + ")";
}

void RemoveAbandonedBuildFolders(const std::string& out) {
    const std::string folderPart = FolderOf(out);
    const std::string outName = FileNameOf(out);
    const std::string pattern = out + kBuildFolderInfix + "*" + kBuildFolderSuffix;
    for (const platform::FoundFolder& found : platform::FoldersMatching(pattern)) {
        if (!IsBuildFolderOf(found.name, outName)) continue;
        const std::string folder = folderPart + found.name;
        if (IsAbandoned(folder, found.secondsSinceChange)) platform::DeleteTree(folder.c_str());
    }
}

BuildFolder::BuildFolder(const std::string& out) {
    std::string made;
    DWORD error = 0;
    if (!platform::CreateNewNumberedFolder(out + kBuildFolderInfix, kBuildFolderSuffix, made,
                                           error)) {
        error_ = error;
        return;
    }
    marker_ = platform::ClaimNewFile(made + '\\' + kMarkerName);
    if (!marker_.valid()) {
        error_ = platform::LastError();
        platform::DeleteTree(made.c_str());
        return;
    }
    path_ = made;
}

BuildFolder::~BuildFolder() {
    if (path_.empty()) return;
    marker_.reset();
    platform::DeleteTree(path_.c_str());
}
