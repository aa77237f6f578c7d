#include "payload/cabinet_text.h"

#include <gtest/gtest.h>

#include "code_page_932.h"

namespace {

TEST(FdiErrorText, KnownAndUnknownCodes) {
    EXPECT_STREQ(FdiErrorText(0), "No error");
    EXPECT_STREQ(FdiErrorText(4), "Corrupt cabinet");
    EXPECT_STREQ(FdiErrorText(10), "Cabinet returned on fdintNEXT_CABINET is incorrect");
    EXPECT_STREQ(FdiErrorText(11), "User aborted");
    for (int code : {12, 13, 1000, -1, -2147483647 - 1}) {
        EXPECT_STREQ(FdiErrorText(code), "Unknown error") << code;
    }
    EXPECT_EQ(FdiFailureText("FDICopy", 8),
              "FDICopy() failed: code 8 [Failure writing to target file]\n");
    EXPECT_EQ(FdiFailureText("FDICreate", -3), "FDICreate() failed: code -3 [Unknown error]\n");
}

TEST(CabinetInformationText, NineLinesAndAnEmptyOne) {
    CabinetInformation info;
    info.cbCabinet = 28229;
    info.cFolders = 1;
    info.cFiles = 3;
    info.setID = 65535;
    info.iCabinet = 0;
    info.fReserve = 1;
    info.hasprev = 2;  // only exactly 1 reads "yes"
    info.hasnext = 0;
    EXPECT_EQ(CabinetInformationText(".\\QMB.cab", info),
              "Information on cabinet file '.\\QMB.cab'\n"
              "   Total length of cabinet file : 28229\n"
              "   Number of folders in cabinet : 1\n"
              "   Number of files in cabinet   : 3\n"
              "   Cabinet set ID               : 65535\n"
              "   Cabinet number in set        : 0\n"
              "   RESERVE area in cabinet?     : yes\n"
              "   Chained to prev cabinet?     : no\n"
              "   Chained to next cabinet?     : no\n"
              "\n");
}

TEST(CabinetInformationText, LongPathIsKeptWhole) {
    std::string path(3000, 'a');
    EXPECT_EQ(CabinetInformationText(path, CabinetInformation()).find(path), 29u);
}

struct SplitCase {
    const char* path;
    const char* folder;
    const char* name;
};

class SplitCabinetPathTest : public ::testing::TestWithParam<SplitCase> {};

TEST_P(SplitCabinetPathTest, AtTheLastBackslash) {
    std::string folder, name;
    SplitCabinetPath(GetParam().path, IsCodePage932LeadByte, folder, name);
    EXPECT_EQ(folder, GetParam().folder);
    EXPECT_EQ(name, GetParam().name);
}

INSTANTIATE_TEST_SUITE_P(Paths, SplitCabinetPathTest,
                         ::testing::Values(SplitCase{".\\QMB.cab", ".\\", "QMB.cab"},
                                           SplitCase{"QMB.cab", "", "QMB.cab"},
                                           SplitCase{"C:\\a\\b\\", "C:\\a\\b\\", ""},
                                           SplitCase{"C:\\\x95\x5c.cab", "C:\\", "\x95\x5c.cab"}));

struct EntryCase {
    const char* name;
    bool contained;
};

class EntryNameTest : public ::testing::TestWithParam<EntryCase> {};

TEST_P(EntryNameTest, StaysInsideTheDestination) {
    EXPECT_EQ(IsContainedEntryName(GetParam().name), GetParam().contained) << GetParam().name;
}

INSTANTIATE_TEST_SUITE_P(
    Names, EntryNameTest,
    ::testing::Values(
        EntryCase{"setup.exe", true}, EntryCase{"QTMStandaloneSvc.exe ", true},
        EntryCase{"a\\b\\c.txt", true}, EntryCase{".\\a.txt", true}, EntryCase{"a..b", true},
        EntryCase{"..a", true}, EntryCase{"..\\evil.txt", false}, EntryCase{"a\\..\\..\\x", false},
        EntryCase{"a/../x", false}, EntryCase{"../x", false}, EntryCase{"\\Windows\\x.dll", false},
        EntryCase{"/etc/x", false}, EntryCase{"C:\\x", false}, EntryCase{"C:x", false},
        EntryCase{"a.txt:stream", false}, EntryCase{"..", false}, EntryCase{"a\\.. \\x", false},
        EntryCase{"a\\...\\x", false}, EntryCase{"a\\\\x", false}, EntryCase{"a\\", false},
        EntryCase{"", false},
        // devices, in any component, case, extension, trailing dots or blanks
        EntryCase{"nul", false}, EntryCase{"sub\\NUL.hdr", false}, EntryCase{"COM1 .txt", false},
        EntryCase{"lpt9...", false}, EntryCase{"conin$", false}, EntryCase{"aux\\x.txt", false},
        EntryCase{"a/prn.x.y", false}, EntryCase{"com0", true}, EntryCase{"com10", true},
        EntryCase{"nul_", true}, EntryCase{"xcon", true}));

}  // namespace
