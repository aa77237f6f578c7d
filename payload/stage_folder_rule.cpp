#include "payload/stage_folder_rule.h"

#include <cstdint>

namespace {

// Rights that change a folder, its entries or its access list, specific and generic ones:
// write data or add a file, append data or add a folder, write extended attributes, delete a
// child, write attributes, delete, write the access list, take ownership, all, write.
constexpr std::uint32_t kChangingRights =
    0x2 | 0x4 | 0x10 | 0x40 | 0x100 | 0x10000 | 0x40000 | 0x80000 | 0x10000000 | 0x40000000;

bool IsTrusted(const std::string& account, const std::string& runningAccount) {
    return account == kSystemAccount || account == kAdministratorsGroup ||
           (!runningAccount.empty() && account == runningAccount);
}

// The owner's entries stand for whoever owns the folder or what is made inside: an owner that is
// trusted (checked first) or this run, which creates the files.
bool StandsForOwner(const std::string& account) {
    return account == kCreatorOwner || account == kOwnerRights;
}

}  // namespace

std::string UnsafeFolderReason(const FolderAccess& access, const std::string& runningAccount) {
    if (!IsTrusted(access.owner, runningAccount)) {
        return "it is owned by " +
               (access.owner.empty() ? std::string("an unknown account") : access.owner);
    }
    if (!access.hasAccessList) return "it has no access list: everyone may change it";
    for (const AccessEntry& entry : access.entries) {
        if (!entry.allows || (entry.rights & kChangingRights) == 0) continue;
        if (IsTrusted(entry.account, runningAccount) || StandsForOwner(entry.account)) continue;
        return entry.account +
               (entry.inheritOnly ? " may change what is made inside it" : " may change it");
    }
    return {};
}
