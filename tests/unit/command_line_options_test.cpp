#include "setup/command_line_options.h"

#include <gtest/gtest.h>

#include <random>
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

TEST(CommandLineOptions, LongLineOfHyphensAndQuotes) {
    std::string line = "pkg.exe ";
    for (int i = 0; i < 32 * 1024 / 4; ++i) line += "-a\"-";
    CommandLineOptions options(line.c_str());
    for (int i = 0; i < options.GetCount(); ++i) options.GetName(i);
    EXPECT_GT(options.GetCount(), 0);
}

// Any bytes are accepted: the sanitizers catch a read outside the copy.
TEST(CommandLineOptions, RandomBytesNeverFault) {
    std::mt19937 random(1234);
    const char alphabet[] = "-\":\\ \tlx\x81\x5c";
    for (int round = 0; round < 2000; ++round) {
        std::string line(random() % 64, ' ');
        for (char& c : line) c = alphabet[random() % (sizeof alphabet - 1)];
        CommandLineOptions options(line.c_str());
        for (int i = -1; i <= options.GetCount(); ++i) {
            std::string name = options.GetName(i);
            EXPECT_EQ(name.find_first_of(" :"), std::string::npos);
        }
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
