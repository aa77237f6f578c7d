#include "shared/result_log.h"

#include <gtest/gtest.h>

#include "code_page_932.h"

namespace {

TEST(ResultLog, TextHoldsTheCodeAndTheWholeLegend) {
    const std::string legend =
        "==========================\n"
        "Result Code:\n"
        "0 - Success.\n"
        "1 - Incorrect OS version, only Window 2000/XP are supported.\n"
        "2 - Could not create all installation files.\n"
        "3 - Call to Runvex.exe failed.\n"
        "4 - Could not uninstall HWIX QMB.\n";
    for (int code : {0, 1, 3, -7, 2147483647}) {
        EXPECT_EQ(ResultLogText(code), "[Setup Result]\nApplication = Corvane\nnResult = " +
                                           std::to_string(code) + "\n" + legend);
    }
}

struct NameCase {
    const char* executable;
    const char* log;
};

class ResultLogNameTest : public ::testing::TestWithParam<NameCase> {};

TEST_P(ResultLogNameTest, ReplacesFromTheLastDot) {
    EXPECT_EQ(ResultLogFileName(GetParam().executable, IsCodePage932LeadByte), GetParam().log);
}

INSTANTIATE_TEST_SUITE_P(
    Names, ResultLogNameTest,
    ::testing::Values(NameCase{"pkg.exe", "pkg.log"}, NameCase{"my.pkg.exe", "my.pkg.log"},
                      NameCase{"pkg", "pkg.log"}, NameCase{"", ".log"}, NameCase{"pkg.", "pkg.log"},
                      // 0x2E cannot be a trail byte: the dot counts
                      NameCase{"a\x82.b", "a\x82.log"}, NameCase{"a\x82\x80.b", "a\x82\x80.log"},
                      NameCase{"\x95\x5c.exe", "\x95\x5c.log"}));

TEST(AnsiText, TrailByteIsNeverTheByteSearchedFor) {
    // 表 in code page 932 ends in 0x5C, the backslash.
    const std::string path = "C:\\\x95\x5c\\setup\x95\x5c";
    EXPECT_EQ(FindLastAnsiByte(path, '\\', IsCodePage932LeadByte), 5u);
    EXPECT_EQ(FindLastAnsiByte(path, '\\', IsSingleByte), path.size() - 1);
    EXPECT_EQ(FindLastAnsiByte("abc", '\\', IsCodePage932LeadByte), std::string::npos);
    // A lead byte at the very end has no trail byte to skip.
    EXPECT_EQ(FindLastAnsiByte("a\\\x95", '\\', IsCodePage932LeadByte), 1u);
}

}  // namespace
