// File family: the files and folders the setup writes and removes itself, never through a link.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace platform {

// The attributes of what lies at a path, or INVALID_FILE_ATTRIBUTES when nothing does (then
// LastError says why).
DWORD FileAttributes(const std::string& path);
DWORD FileAttributes(const std::wstring& path);

// Sets a file's attributes; 0 on success, else the platform's error.
DWORD SetFileAttributesOf(const std::wstring& path, DWORD attributes);

// Sets a file's creation and last write times from an MS-DOS date and time in local time, as
// archives store them; 0 on success, else the platform's error.
DWORD SetDosFileTimes(const std::wstring& path, unsigned short date, unsigned short time);

// True when a file at `path` exists and can be opened to read.
bool OpensToRead(const char* path);

// Renames a file the setup wrote; 0 on success, else the platform's error.
DWORD RenameOwnFile(const std::wstring& from, const std::wstring& to);

// Removes a folder when it is empty; one that holds anything stays.
void RemoveEmptyFolder(const std::wstring& path);

// Makes `folder` the current directory; 0 on success, else the platform's error.
DWORD EnterFolder(const std::wstring& folder);

// True when `path` is a link: the platform marks it as a reparse point (a symbolic link or a
// junction), or it leads elsewhere than its name says (a link the platform does not mark, such as
// a Unix link under Wine, found by its final path where the platform can tell it).
bool IsLink(const std::wstring& path);

// Clears the way for a file of the setup's own name to be created anew at `path`: a file, read-only
// or not, is deleted; a link the platform marks is removed itself, never its target; anything
// else (a folder, a link the platform does not mark, whose deletion would reach its target) is
// left alone. True when nothing lies at `path` afterwards.
bool RemoveOwnFile(const std::wstring& path);
bool RemoveOwnFile(const char* path);

// Creates a file that did not exist (never opens one over an old file or through a link).
HANDLE CreateNewFile(const std::wstring& path, DWORD flagsAndAttributes = FILE_ATTRIBUTE_NORMAL,
                     DWORD share = 0);

// Writes all `size` bytes; false on a failed or short write.
bool WriteWhole(HANDLE file, const void* bytes, DWORD size);

// Why the last WriteWhole failed; a short write that the platform reports as done (a full drive
// under some file systems) leaves no error of its own and is a write fault.
DWORD WriteWholeError();

// Cuts an open file back to its first `size` bytes.
void CutFileAt(HANDLE file, LONG size);

enum class NewFileResult { kWritten, kNotCreated, kNotWritten };

// Clears the way (RemoveOwnFile), creates the file anew and writes `size` bytes in one write. A
// file that could not be written whole is deleted at once: it never stays under its name.
NewFileResult WriteNewFile(const char* path, const void* bytes, DWORD size,
                           DWORD flagsAndAttributes = FILE_ATTRIBUTE_NORMAL);

// Creates every folder of the path before its last backslash, in order; one that exists already
// or cannot be made (a drive root, a share) is passed by. With `made`, the folders it made are
// added there; with `security`, they are made with it.
void CreateFoldersOf(const std::wstring& path, std::vector<std::wstring>* made = nullptr,
                     SECURITY_ATTRIBUTES* security = nullptr);

// Removes `path` when it is a link the platform marks, itself and never its target. True when
// nothing lies at `path` afterwards.
bool RemoveMarkedLink(const std::wstring& path);

// Removes every link inside the folder tree at `folder`, each itself, without descending into
// one, so that the tree can then be deleted without reaching outside it. False when a link stays
// (one the platform does not mark cannot be removed without reaching its target).
bool RemoveLinksInside(const std::wstring& folder);

// Silent, unconfirmed, permanent delete of a file or folder tree through the shell. Never reaches
// through a link: a link is removed itself where the platform allows it, else left, and so is a
// tree with such a link inside. Returns 1 on success, else 0.
int DeleteTree(const char* path);

}  // namespace platform
