#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "pack/pack_options.h"
#include "pack/sha256.h"

namespace {

TEST(Sha256, KnownVectorsAcrossBlockBoundaries) {
    EXPECT_EQ(Sha256Hex("", 0), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(Sha256Hex("abc", 3),
              "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    const std::string two = "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq";  // 56 bytes
    EXPECT_EQ(Sha256Hex(two.data(), two.size()),
              "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
    const std::string million(1000000, 'a');
    EXPECT_EQ(Sha256Hex(million.data(), million.size()),
              "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
    // The longest message whose length still fits its last block, and one whole block.
    const std::string block(64, 'x');
    EXPECT_EQ(Sha256Hex(block.data(), 55),
              "d5e285683cd4efc02d021a5c62014694958901005d6f71e89e0989fac77e4072");
    EXPECT_EQ(Sha256Hex(block.data(), 64),
              "7ce100971f64e7001e8fe5a51973ecdfe1ced42befe7ee8d5fd6219506b5393c");
}

PackOptions Parse(std::vector<std::string> args, bool& ok, std::string& error) {
    PackOptions options;
    ok = ParsePackOptions(args, options, error);
    return options;
}

TEST(PackOptions, BuildAndList) {
    bool ok = false;
    std::string error;
    PackOptions build = Parse({"build", "--template", "t.exe", "--profile", "p.xml", "--bios",
                               "b.hdr", "--kit", "k", "--out", "o.exe"},
                              ok, error);
    ASSERT_TRUE(ok) << error;
    EXPECT_EQ(build.command, PackOptions::Command::kBuild);
    EXPECT_EQ(build.templatePath, "t.exe");
    EXPECT_EQ(build.bios, "b.hdr");
    EXPECT_EQ(build.kit, "k");
    EXPECT_TRUE(build.schema.empty());
    PackOptions list = Parse({"list", "task.exe"}, ok, error);
    ASSERT_TRUE(ok);
    EXPECT_EQ(list.listed, "task.exe");
}

TEST(PackOptions, SettingsOptionsOneWithoutAValue) {
    bool ok = false;
    std::string error;
    PackOptions build = Parse({"build", "--template", "t.exe", "--trace-log", "--profile", "p.xml",
                               "--reboot-exit-code", "3010", "--out", "o.exe"},
                              ok, error);
    ASSERT_TRUE(ok) << error;
    EXPECT_TRUE(build.traceLog);
    EXPECT_EQ(build.rebootExitCode, "3010");  // its range is checked when building
    EXPECT_EQ(build.profile, "p.xml");
    PackOptions last = Parse({"build", "--template", "t", "--profile", "p", "--out", "o",
                              "--settings", "s.txt", "--trace-log"},
                             ok, error);
    ASSERT_TRUE(ok) << error;
    EXPECT_TRUE(last.traceLog);
    EXPECT_EQ(last.settings, "s.txt");
    EXPECT_FALSE(Parse({"build", "--template", "t", "--profile", "p", "--out", "o", "--trace-log",
                        "--trace-log"},
                       ok, error)
                     .command == PackOptions::Command::kBuild);
    EXPECT_EQ(error, "--trace-log given twice");
    PackOptions both = Parse({"build", "--trace-arguments", "--template", "t", "--profile", "p",
                              "--trace-log", "--out", "o"},
                             ok, error);
    ASSERT_TRUE(ok) << error;
    EXPECT_TRUE(both.traceLog && both.traceArguments);
}

TEST(PackOptions, Refused) {
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{}, "no command given"},
        {{"list"}, "unknown command or arguments"},
        {{"build", "--template", "t", "--profile", "p"}, "--out is required"},
        {{"build", "--template", "t", "--out", "o", "--profile"}, "--profile needs a value"},
        {{"build", "--template", "t", "--template", "u"}, "--template given twice"},
        {{"build", "--colour", "red"}, "unknown option --colour"},
        {{"build", "--template", "", "--profile", "p", "--out", "o"}, "--template needs a value"},
    };
    for (const auto& [args, expected] : cases) {
        bool ok = true;
        std::string error;
        Parse(args, ok, error);
        EXPECT_FALSE(ok);
        EXPECT_EQ(error, expected);
    }
}

}  // namespace
