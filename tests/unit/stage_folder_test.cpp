#include <gtest/gtest.h>

#include "payload/stage_folder_rule.h"

namespace {

constexpr char kRunner[] = "S-1-5-21-1-2-3-1000";
constexpr char kUsers[] = "S-1-5-32-545";
constexpr char kEveryone[] = "S-1-1-0";
constexpr std::uint32_t kFullControl = 0x1F01FF;
constexpr std::uint32_t kReadAndExecute = 0x1200A9;

FolderAccess AdminOnly(const std::string& owner = kAdministratorsGroup) {
    FolderAccess access;
    access.owner = owner;
    access.entries = {{true, kSystemAccount, kFullControl, false},
                      {true, kAdministratorsGroup, kFullControl, false}};
    return access;
}

struct FolderCase {
    const char* what;
    FolderAccess access;
    const char* reason;  // empty: safe
};

FolderAccess With(FolderAccess access, AccessEntry entry) {
    access.entries.push_back(entry);
    return access;
}

}  // namespace

TEST(UnsafeFolderReason, OnlyAdministratorsMayChangeTheFolderOrWhatItHolds) {
    FolderAccess noList = AdminOnly();
    noList.hasAccessList = false;
    const FolderCase cases[] = {
        {"made by the setup", AdminOnly(), ""},
        {"owned by the system", AdminOnly(kSystemAccount), ""},
        {"owned by the account that runs the setup", AdminOnly(kRunner), ""},
        {"users may read and run", With(AdminOnly(), {true, kUsers, kReadAndExecute, false}), ""},
        {"a denied right takes away only",
         With(AdminOnly(), {false, kEveryone, kFullControl, false}), ""},
        {"creator owner, for what is made inside",
         With(AdminOnly(), {true, kCreatorOwner, kFullControl, true}), ""},
        {"owned by a user", AdminOnly(kUsers), "it is owned by S-1-5-32-545"},
        {"owner unknown", AdminOnly(""), "it is owned by an unknown account"},
        {"no access list", noList, "it has no access list: everyone may change it"},
        {"users may add files", With(AdminOnly(), {true, kUsers, 0x2, false}),
         "S-1-5-32-545 may change it"},
        {"users may add folders", With(AdminOnly(), {true, kUsers, 0x4, false}),
         "S-1-5-32-545 may change it"},
        {"everyone may write, generically", With(AdminOnly(), {true, kEveryone, 0x40000000, false}),
         "S-1-1-0 may change it"},
        {"users may change the access list", With(AdminOnly(), {true, kUsers, 0x40000, false}),
         "S-1-5-32-545 may change it"},
        {"users may delete", With(AdminOnly(), {true, kUsers, 0x10000, false}),
         "S-1-5-32-545 may change it"},
        {"users may change what is made inside",
         With(AdminOnly(), {true, kUsers, kFullControl, true}),
         "S-1-5-32-545 may change what is made inside it"},
    };
    for (const FolderCase& c : cases) {
        EXPECT_EQ(UnsafeFolderReason(c.access, kRunner), c.reason) << c.what;
    }
    // Above the stage folder only removing, renaming or replacing what it holds is a danger:
    // users may add folders in C:\ and %ProgramData%.
    const FolderCase ancestors[] = {
        {"users may add files and folders (%ProgramData%)",
         With(AdminOnly(), {true, kUsers, 0x2 | 0x4 | 0x10 | 0x100, false}), ""},
        {"the installer's own, as the drive's root", AdminOnly(kTrustedInstaller), ""},
        {"users may change what is made inside (checked there)",
         With(AdminOnly(), {true, kUsers, kFullControl, true}), ""},
        {"owned by a user", AdminOnly(kUsers), "it is owned by S-1-5-32-545"},
        {"everyone may delete entries", With(AdminOnly(), {true, kEveryone, 0x40, false}),
         "S-1-1-0 may remove or replace it or what it holds"},
        {"users may change the access list", With(AdminOnly(), {true, kUsers, 0x40000, false}),
         "S-1-5-32-545 may remove or replace it or what it holds"},
        {"users have full control", With(AdminOnly(), {true, kUsers, kFullControl, false}),
         "S-1-5-32-545 may remove or replace it or what it holds"},
    };
    for (const FolderCase& c : ancestors) {
        EXPECT_EQ(UnsafeAncestorReason(c.access, kRunner), c.reason) << c.what;
    }
    // Without a known running account, only the system and the administrators are trusted.
    EXPECT_EQ(UnsafeFolderReason(AdminOnly(kRunner), ""), std::string("it is owned by ") + kRunner);
}
