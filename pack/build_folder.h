// The build's own folder beside the output. The package is made there, and so is the platform's
// copy of it (its resource update writes one into the temporary folder), so that a build that is
// killed leaves nothing elsewhere, and the next build of that output finds and removes it.
#pragma once

#include <string>

#include "platform/handles.h"

// The longest path a build folder may have: the platform's temporary files are made in it.
constexpr std::size_t kLongestBuildFolderPath = 246;

// Why the output's path leaves no room for its build folder beside it; empty when it does.
std::string BuildFolderRoomFault(const std::string& out);

// Removes the folders that builds of `out` left behind, and only those that are provably
// abandoned, whichever PC made them: a build claims a marker file in its folder (held open without
// sharing, its first byte locked), so a folder whose marker can be opened, locked and deleted is
// no longer written into; a folder
// without a marker (made by an older builder, or one that is just being made) only once it has
// not changed for a day. Folders of other outputs are never considered.
void RemoveAbandonedBuildFolders(const std::string& out);

// Makes a new build folder for `out` and claims its marker until it is removed, with what is left
// in it, when this goes out of scope.
class BuildFolder {
  public:
    explicit BuildFolder(const std::string& out);
    ~BuildFolder();
    BuildFolder(const BuildFolder&) = delete;
    BuildFolder& operator=(const BuildFolder&) = delete;
    // Empty when the folder could not be made or marked; then `error` says why.
    const std::string& path() const { return path_; }
    unsigned long error() const { return error_; }

  private:
    std::string path_;
    unsigned long error_ = 0;
    platform::FileHandle marker_;
};
