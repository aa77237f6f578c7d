// Security family: folders that only administrators may change, and what the platform says of
// an existing folder's owner and access list.
#pragma once

#include <windows.h>

#include <string>

#include "platform/folder_access.h"

namespace platform {

// Creates the folder, and the missing folders above it, with an access list of their own (SYSTEM
// and Administrators full control, for them and what is made inside; nothing inherited from the
// parent). 0 when made, else the platform's
// error (ERROR_ALREADY_EXISTS when something lies there).
DWORD CreateAdminOnlyFolder(const std::wstring& path);

// The owner and access list of an existing folder; 0 on success, else the platform's error.
DWORD ReadFolderAccess(const std::wstring& path, FolderAccess& access);

// The account this process runs as ("S-1-5-18" for the system account); empty when unknown.
std::string RunningAccount();

// The platform's type of the drive of a drive path ("C:\..."): DRIVE_FIXED, DRIVE_REMOTE, ...
UINT DriveTypeOf(const std::wstring& path);

}  // namespace platform
