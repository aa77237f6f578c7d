#include "payload/stage_folder_rule.h"

#include <cstdint>

namespace {

// Rights that change a folder, its entries or its access list, specific and generic ones:
// write data or add a file, append data or add a folder, write extended attributes, delete a
// child, write attributes, delete, write the access list, take ownership, all, write.
constexpr std::uint32_t kChangingRights =
    0x2 | 0x4 | 0x10 | 0x40 | 0x100 | 0x10000 | 0x40000 | 0x80000 | 0x10000000 | 0x40000000;

// Rights that remove, rename or replace a folder or its entries: delete a child, delete, write
// the access list, take ownership, all.
constexpr std::uint32_t kReplacingRights = 0x40 | 0x10000 | 0x40000 | 0x80000 | 0x10000000;

bool IsTrusted(const std::string& account, const std::string& runningAccount) {
    return account == kSystemAccount || account == kAdministratorsGroup ||
           account == kTrustedInstaller || (!runningAccount.empty() && account == runningAccount);
}

// The owner's entries stand for whoever owns the folder or what is made inside: an owner that is
// trusted (checked first) or this run, which creates the files.
bool StandsForOwner(const std::string& account) {
    return account == kCreatorOwner || account == kOwnerRights;
}

// The owner, who may always change the access list, and a missing list, which lets everyone.
std::string UntrustedOwnerOrNoList(const FolderAccess& access, const std::string& runningAccount) {
    if (!IsTrusted(access.owner, runningAccount)) {
        return "it is owned by " +
               (access.owner.empty() ? std::string("an unknown account") : access.owner);
    }
    if (!access.hasAccessList) return "it has no access list: everyone may change it";
    return {};
}

}  // namespace

std::string UnsafeAncestorReason(const FolderAccess& access, const std::string& runningAccount) {
    const std::string fault = UntrustedOwnerOrNoList(access, runningAccount);
    if (!fault.empty()) return fault;
    for (const AccessEntry& entry : access.entries) {
        // What applies only inside is checked on each existing folder below as it stands there.
        if (!entry.allows || entry.inheritOnly || (entry.rights & kReplacingRights) == 0) continue;
        if (IsTrusted(entry.account, runningAccount) || StandsForOwner(entry.account)) continue;
        return entry.account + " may remove or replace it or what it holds";
    }
    return {};
}

std::string UnsafeFolderReason(const FolderAccess& access, const std::string& runningAccount) {
    const std::string fault = UntrustedOwnerOrNoList(access, runningAccount);
    if (!fault.empty()) return fault;
    for (const AccessEntry& entry : access.entries) {
        if (!entry.allows || (entry.rights & kChangingRights) == 0) continue;
        if (IsTrusted(entry.account, runningAccount) || StandsForOwner(entry.account)) continue;
        return entry.account +
               (entry.inheritOnly ? " may change what is made inside it" : " may change it");
    }
    return {};
}
