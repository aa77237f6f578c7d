#include <gtest/gtest.h>

#include "code_page_932.h"
#include "payload/own_names.h"
#include "payload/profile_reader.h"

namespace {

TEST(IsFlashCommandType, FoldsOnlyAsciiLetters) {
    for (const wchar_t* type : {L"flash", L"FLASH", L"Flash", L"fLaSh"}) {
        EXPECT_TRUE(IsFlashCommandType(type));
    }
    for (const wchar_t* type :
         {L"", L" flash", L"flash ", L"flas", L"flashes", L"\x0130lash", L"fl\x0131sh", L"set"}) {
        EXPECT_FALSE(IsFlashCommandType(type));
    }
}

struct NameCase {
    const char* name;
    bool plain;
};

class PlainFileNameTest : public ::testing::TestWithParam<NameCase> {};

TEST_P(PlainFileNameTest, OnlyAFileInTheWorkingDirectory) {
    EXPECT_EQ(IsPlainFileName(GetParam().name, IsCodePage932LeadByte), GetParam().plain)
        << GetParam().name;
}

INSTANTIATE_TEST_SUITE_P(
    Names, PlainFileNameTest,
    ::testing::Values(NameCase{"Flash.hdr", true}, NameCase{"BIOS 1.2%.bin", true},
                      NameCase{"\x95\x5c.hdr", true}, NameCase{"", false}, NameCase{".", false},
                      NameCase{"..", false}, NameCase{"..\\x.hdr", false}, NameCase{"a/b", false},
                      NameCase{"C:x", false}, NameCase{"a\"b", false}, NameCase{"*.hdr", false},
                      NameCase{"a?", false}, NameCase{"a|b", false}, NameCase{"a<b>", false},
                      NameCase{"a\tb", false}, NameCase{"\\\\server\\x", false},
                      // a lead byte never hides a line feed from the check
                      NameCase{"x\x8f\nshutdown -r", false}, NameCase{"x\xe4\r", false},
                      NameCase{"x\x8f", true},
                      // a device takes the payload, whatever the extension
                      NameCase{"nul.hdr", false}, NameCase{"NUL", false},
                      NameCase{"Con.bin", false}, NameCase{"CONOUT$", false},
                      NameCase{"com9.hdr", false}, NameCase{"LPT1 .hdr", false},
                      NameCase{"prn.", false}, NameCase{"lpt0.hdr", true},
                      NameCase{"null.hdr", true}, NameCase{"console.hdr", true}));

}  // namespace
