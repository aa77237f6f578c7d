// Build file family: what the package builder needs of a folder that builders on other PCs may
// share (a build share): full paths, held files, numbered folders, free space. Linked into the
// builder only.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "platform/handles.h"

namespace platform {

// The full path the platform makes of an ANSI path (from the current directory and drive); the
// path as given when the platform cannot make one.
std::string FullPathOf(const std::string& path);

// A claim that other PCs sharing the folder see: a new file at `path`, held open without sharing
// and with its first byte locked, until the handle is closed (or its process ends, however it
// ends). File servers enforce both for every client; the lock is also what a Wine prefix sees of
// another prefix's claim. An invalid handle, with the platform's error, when it cannot be made.
FileHandle ClaimNewFile(const std::string& path);

// Deletes the file at `path` when nobody claims it (ClaimNewFile) any more, here or on another PC;
// true when it was deleted.
bool DeleteUnclaimedFile(const std::string& path);

// A folder found beside others: its name and how long ago it or its entries last changed.
struct FoundFolder {
    std::string name;
    unsigned long long secondsSinceChange = 0;
};

// The folders whose names match `pattern` (a path whose last component may hold '*'), links left
// out; the caller checks each name, since the platform also matches short names.
std::vector<FoundFolder> FoldersMatching(const std::string& pattern);

// Makes a new folder named `stem` + a number in hex + `suffix`, trying other numbers while the
// name is taken (by a folder this or another PC made); `made` gets its path. False with the
// platform's error when none could be made.
bool CreateNewNumberedFolder(const std::string& stem, const std::string& suffix, std::string& made,
                             DWORD& error);

// True when both paths name one file (by its volume and index), whatever names lead to it.
bool IsSameFile(const std::string& a, const std::string& b);

// Makes one folder; false when it exists already or cannot be made.
bool CreateFolder(const std::string& path);

// Makes a new empty file of a unique name starting with `prefix` in `folder` (the platform's
// temporary folder when empty); its path, or empty when none could be made.
std::string CreateTemporaryFile(const std::string& folder, const char* prefix);

// Makes `folder` where this process and the platform's calls in it put temporary files.
void UseTemporaryFolder(const std::string& folder);

// Copies a whole file over `to`; false when it could not.
bool CopyWholeFile(const std::string& from, const std::string& to);

// Puts the file at `from` in place of `to` in one step; false when it could not.
bool ReplaceWithFile(const std::string& from, const std::string& to);

// Writes `bytes` at `offset` of the file at `path`; false when they could not be written whole.
bool WriteFileAt(const std::string& path, unsigned long long offset, const void* bytes, DWORD size);

// Cuts the file at `path` to its first `size` bytes; false when it could not.
bool CutFileTo(const std::string& path, unsigned long long size);

// A fault inside a platform call ends the process with exit code 1 after `report` has been told
// the fault's code, instead of the platform's crash handling.
void EndOnUnexpectedFault(void (*report)(unsigned long code));

// The bytes free to this user on the drive or share that holds `folder`; false when unknown.
bool FreeDiskBytes(const std::string& folder, unsigned long long& bytes);

}  // namespace platform
