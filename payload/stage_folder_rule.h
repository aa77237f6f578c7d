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

// Why a user without administrator rights could change the folder or what it holds; empty when
// none could. Trusted are the system account, the administrators and `runningAccount` (the account
// that runs the setup, an administrator); the owner must be one of them, and every entry that
// allows writing, deleting or changing access, for the folder or for what is made inside, must
// name one of them.
std::string UnsafeFolderReason(const FolderAccess& access, const std::string& runningAccount);
