#include "setup/command_line_options.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::vector<std::string> Names(const char* commandLine) {
    CommandLineOptions options(commandLine);
    std::vector<std::string> names;
    for (int i = 0; i < options.GetCount(); ++i) names.push_back(options.GetName(i));
    return names;
}

struct SplitCase {
    const char* commandLine;
    std::vector<std::string> names;
};

class SplitTest : public ::testing::TestWithParam<SplitCase> {};

TEST_P(SplitTest, NamesInCommandLineOrder) {
    EXPECT_EQ(Names(GetParam().commandLine), GetParam().names) << GetParam().commandLine;
}

INSTANTIATE_TEST_SUITE_P(
    WorkedExamplesAndEdges, SplitTest,
    ::testing::Values(SplitCase{"pkg.exe -l", {"l"}}, SplitCase{"pkg.exe -l -x", {"l", "x"}},
                      SplitCase{"pkg.exe -l-x", {"l", "x"}}, SplitCase{"pkg.exe -  x", {"x"}},
                      SplitCase{"pkg.exe -l:yes", {"l"}}, SplitCase{"pkg.exe -L", {"L"}},
                      SplitCase{"pkg.exe foo bar", {}}, SplitCase{"pkg.exe \"-l\"", {}},
                      SplitCase{"pkg.exe --l", {"", "l"}},
                      SplitCase{"\"C:\\Program Files\\My-Tools\\pkg.exe\" -x", {"x"}},
                      SplitCase{"C:\\My-Tools\\pkg.exe -x", {"Tools\\pkg.exe", "x"}},
                      SplitCase{"pkg.exe -file:\"C:\\a b\\c-d.xml\" -l", {"file", "l"}},
                      SplitCase{"pkg.exe -file:C:\\a-b.xml -l", {"file", "b.xml", "l"}},
                      SplitCase{"pkg.exe -file:\"a b\" \"c-d\" -l", {"file", "l"}},
                      SplitCase{"pkg.exe -l \"abc-def\"", {"l", "def\""}},
                      SplitCase{"pkg.exe -dir:\"C:\\temp\\\" -l", {"dir"}},
                      SplitCase{"pkg.exe -l\t-x", {"l\t", "x"}},
                      SplitCase{"pkg.exe -log -lx /l", {"log", "lx"}},
                      SplitCase{"\"pkg.exe -l", {}},  // a quote left open hides every later hyphen
                      SplitCase{"pkg.exe -a:\"x\"-y -b", {"a", "y", "b"}},
                      SplitCase{"pkg.exe -l -", {"l", ""}}, SplitCase{"", {}}));

TEST(CommandLineOptions, OutOfRangeIndexGivesEmptyName) {
    CommandLineOptions none("pkg.exe foo");
    EXPECT_EQ(none.GetCount(), 0);
    EXPECT_EQ(none.GetName(0), "");
    CommandLineOptions two("pkg.exe -l -x");
    EXPECT_EQ(two.GetName(-1), "");
    EXPECT_EQ(two.GetName(two.GetCount()), "");
    EXPECT_EQ(two.GetName(1), "x");
    EXPECT_EQ(two.GetName(1), "x");  // second answer from the cache
}

TEST(CommandLineOptions, NullCommandLineHoldsNoOption) {
    CommandLineOptions options(nullptr);
    EXPECT_EQ(options.GetCount(), 0);
}

// A quote after a hyphen never opens a quoted part, so no later hyphen is hidden, over the
// whole length of a command line: each "-a\"-" gives the option a" and an empty one.
TEST(CommandLineOptions, LongLineOfHyphensAndQuotes) {
    constexpr int kChunks = 32 * 1024 / 4;
    std::string line = "pkg.exe ";
    for (int i = 0; i < kChunks; ++i) line += "-a\"-";
    CommandLineOptions options(line.c_str());
    ASSERT_EQ(options.GetCount(), 2 * kChunks);
    for (int i = 0; i < options.GetCount(); ++i) {
        ASSERT_EQ(options.GetName(i), i % 2 == 0 ? "a\"" : "") << i;
    }
}

struct TailCase {
    const char* commandLine;
    const char* tail;
};

class CommandTailTest : public ::testing::TestWithParam<TailCase> {};

TEST_P(CommandTailTest, CutsProgramNameAndBlanks) {
    EXPECT_STREQ(CommandTail(GetParam().commandLine), GetParam().tail);
}

INSTANTIATE_TEST_SUITE_P(Cases, CommandTailTest,
                         ::testing::Values(TailCase{"setup.exe", ""},
                                           TailCase{"setup.exe   -l  x ", "-l  x "},
                                           TailCase{"\"C:\\a b\\setup.exe\" -x", "-x"},
                                           TailCase{"\"C:\\a b\\setup.exe\"-x", ""},
                                           TailCase{"setup.exe\t\x01-l", "-l"}, TailCase{"", ""},
                                           TailCase{"\"unclosed -l", ""}));

}  // namespace
