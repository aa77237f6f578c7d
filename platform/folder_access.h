// Who owns a folder and who may do what in it, in portable terms (security identifiers as their
// "S-1-..." strings, access masks as numbers): the platform reads it, portable code judges it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct AccessEntry {
    bool allows = true;        // an allowing entry; a denying one only takes rights away
    std::string account;       // "S-1-5-18"
    std::uint32_t rights = 0;  // the access mask
    bool inheritOnly = false;  // applies to what is created inside, not to the folder itself
};

struct FolderAccess {
    std::string owner;
    bool hasAccessList = true;  // a folder without one lets everyone do everything
    std::vector<AccessEntry> entries;
};
