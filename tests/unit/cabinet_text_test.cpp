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

// The extractor's buffer holds 4,999 characters: a long cabinet path's information is cut there,
// and a shorter text is kept whole.
TEST(ExtractorMessage, CutAtTheBuffersLength) {
    const std::string information = CabinetInformationText(std::string(6000, 'a'), {});
    EXPECT_EQ(ExtractorMessage(information), information.substr(0, 4999));
    const std::string shortText = CabinetInformationText("C:\\x.cab", {});
    EXPECT_EQ(ExtractorMessage(shortText), shortText);
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

namespace {

struct Utf8Case {
    const char* bytes;
    const wchar_t* name;  // null: refused
};

class DecodeUtf8NameTest : public ::testing::TestWithParam<Utf8Case> {};

TEST_P(DecodeUtf8NameTest, DecodesValidAndRefusesTheRest) {
    std::wstring name = L"unchanged";
    const bool decoded = DecodeUtf8(GetParam().bytes, name);
    if (GetParam().name == nullptr) {
        EXPECT_FALSE(decoded);
        EXPECT_EQ(name, L"unchanged");
    } else {
        ASSERT_TRUE(decoded);
        EXPECT_EQ(name, GetParam().name);
    }
}

INSTANTIATE_TEST_SUITE_P(Names, DecodeUtf8NameTest,
                         ::testing::Values(Utf8Case{"plain.exe", L"plain.exe"}, Utf8Case{"", L""},
                                           Utf8Case{"J\xc3\xb6rg", L"J\u00f6rg"},
                                           Utf8Case{"\xe2\x82\xac\xe8\xa1\xa8", L"\u20ac\u8868"},
                                           Utf8Case{"\xf0\x9f\x98\x80", L"\xD83D\xDE00"},
                                           Utf8Case{"\xf4\x8f\xbf\xbf", L"\xDBFF\xDFFF"},
                                           Utf8Case{"a\xc3", nullptr},  // cut at the end
                                           Utf8Case{"\xc3(", nullptr},  // no continuation byte
                                           Utf8Case{"\x80", nullptr},   // a lone continuation byte
                                           Utf8Case{"\xc0\xaf", nullptr},      // overlong "/"
                                           Utf8Case{"\xe0\x80\xaf", nullptr},  // overlong "/"
                                           Utf8Case{"\xed\xa0\x80", nullptr},  // a surrogate
                                           Utf8Case{"\xf4\x90\x80\x80",
                                                    nullptr},  // beyond U+10FFFF
                                           Utf8Case{"\xff", nullptr}));

}  // namespace
