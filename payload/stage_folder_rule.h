// Whether a folder is safe to lay a payload out in and start its programs from: only the system
// account and administrators may change it or what it holds.
#pragma once

#include <string>

#include "platform/folder_access.h"

constexpr char kSystemAccount[] = "S-1-5-18";
constexpr char kAdministratorsGroup[] = "S-1-5-32-544";
// Stand for the owner of what is made inside, and for the owner itself.
constexpr char kCreatorOwner[] = "S-1-3-0";
constexpr char kOwnerRights[] = "S-1-3-4";
// Owns the drive's root and the Windows folders; only the system acts as it.
constexpr char kTrustedInstaller[] =
    "S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";

// Why a user without administrator rights could change the folder or what it holds; empty when
// none could. Trusted are the system account, the administrators and `runningAccount` (the account
// that runs the setup, an administrator); the owner must be one of them, and every entry that
// allows writing, deleting or changing access, for the folder or for what is made inside, must
// name one of them.
std::string UnsafeFolderReason(const FolderAccess& access, const std::string& runningAccount);

// Why a user without administrator rights could remove, rename or replace a folder above the
// stage folder, or what it holds (the next folder down): delete it or its entries, or change its
// owner or access list; empty when none could. Adding entries, which users may in C:\ and in
// %ProgramData%, is no danger: a missing folder is made by the setup, an existing one is checked.
std::string UnsafeAncestorReason(const FolderAccess& access, const std::string& runningAccount);
