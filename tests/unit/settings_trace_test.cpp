#include <gtest/gtest.h>

#include "code_page_932.h"
#include "payload/package_settings.h"
#include "setup/result_log.h"
#include "setup/trace_log.h"

namespace {

using Kind = SettingsFault::Kind;

TEST(PackageSettings, ReadsWhatTheBuilderWritesAndWhatAMakerTypes) {
    PackageSettings settings;
    settings.rebootExitCode = 3010;
    settings.traceLog = true;
    const std::string text = PackageSettingsText(settings);
    EXPECT_EQ(text, "reboot-exit-code=3010\r\ntrace-log=yes\r\n");
    PackageSettings read;
    SettingsFault fault;
    ASSERT_TRUE(ParsePackageSettings(text, read, fault));
    EXPECT_EQ(read.rebootExitCode, 3010);
    EXPECT_TRUE(read.traceLog);
    ASSERT_TRUE(
        ParsePackageSettings("# restart through the deployment system\n\n"
                             "reboot-exit-code=1641",
                             read, fault));
    EXPECT_EQ(read.rebootExitCode, 1641);
    EXPECT_FALSE(read.traceLog);
    EXPECT_EQ(PackageSettingsText(PackageSettings()), "");
    ASSERT_TRUE(ParsePackageSettings("trace-arguments=yes\r\n", read, fault));
    EXPECT_TRUE(read.traceArguments);
    EXPECT_EQ(PackageSettingsText(read), "trace-arguments=yes\r\n");
    EXPECT_FALSE(ParsePackageSettings("trace-arguments=no\r\n", read, fault));
    ASSERT_TRUE(ParsePackageSettings("", read, fault));
    EXPECT_EQ(read.rebootExitCode, 0);
}

struct FaultCase {
    const char* text;
    Kind kind;
    int line;
};

class SettingsFaultTest : public ::testing::TestWithParam<FaultCase> {};

TEST_P(SettingsFaultTest, RefusedWholeAndNamed) {
    PackageSettings settings;
    settings.rebootExitCode = 7;
    SettingsFault fault;
    EXPECT_FALSE(ParsePackageSettings(GetParam().text, settings, fault)) << GetParam().text;
    EXPECT_EQ(fault.kind, GetParam().kind) << GetParam().text;
    EXPECT_EQ(fault.line, GetParam().line) << GetParam().text;
    EXPECT_EQ(settings.rebootExitCode, 7);  // nothing of a refused text is taken
}

INSTANTIATE_TEST_SUITE_P(
    Texts, SettingsFaultTest,
    ::testing::Values(FaultCase{"reboot-exit-code=0", Kind::kBadValue, 1},
                      FaultCase{"reboot-exit-code=70000", Kind::kBadValue, 1},
                      FaultCase{"reboot-exit-code=65536", Kind::kBadValue, 1},
                      FaultCase{"reboot-exit-code=3010x", Kind::kBadValue, 1},
                      FaultCase{"reboot-exit-code=-1", Kind::kBadValue, 1},
                      FaultCase{"reboot-exit-code= 3010", Kind::kBadValue, 1},
                      FaultCase{"reboot-exit-code=", Kind::kBadValue, 1},
                      FaultCase{"reboot-exit-code=000003010", Kind::kBadValue, 1},
                      FaultCase{"trace-log=no", Kind::kBadValue, 1},
                      FaultCase{"trace-log=YES", Kind::kBadValue, 1},
                      FaultCase{"\ncolour=red", Kind::kUnknownKey, 2},
                      FaultCase{"Reboot-Exit-Code=3010", Kind::kUnknownKey, 1},
                      FaultCase{"reboot-exit-code = 3010", Kind::kUnknownKey, 1},
                      FaultCase{"trace-log=yes\r\ntrace-log=yes", Kind::kRepeatedKey, 2},
                      FaultCase{"# x\r\nreboot-exit-code 3010", Kind::kNotKeyValue, 2}));

TEST(RebootExitCode, Range) {
    int code = 0;
    EXPECT_TRUE(ParseRebootExitCode("1", code));
    EXPECT_EQ(code, 1);
    EXPECT_TRUE(ParseRebootExitCode("65535", code));
    EXPECT_EQ(code, 65535);
    EXPECT_TRUE(ParseRebootExitCode("03010", code));
    EXPECT_EQ(code, 3010);
    for (const char* bad : {"0", "65536", "99999", "", "30 10", "+3010", "3010\n"}) {
        EXPECT_FALSE(ParseRebootExitCode(bad, code)) << bad;
    }
}

TEST(TraceRecord, OneRecordATextItsLinesIndented) {
    EXPECT_EQ(TraceRecord(0, "fn_CheckOS: Operating System supported"),
              "[       0 ms] fn_CheckOS: Operating System supported\r\n");
    EXPECT_EQ(TraceRecord(123456789, ""), "[123456789 ms]\r\n");
    EXPECT_EQ(TraceRecord(42, "@echo off\r\n\r\ndel /F /Q \"C:\\P\\a\"\r\n"),
              "[      42 ms] @echo off\r\n"
              "\r\n"
              "             del /F /Q \"C:\\P\\a\"\r\n"
              "\r\n");
    EXPECT_EQ(TraceRecord(7, "HWIX QMB already installed.\nHWIX.SYS Version: 0"),
              "[       7 ms] HWIX QMB already installed.\r\n"
              "             HWIX.SYS Version: 0\r\n");
}

TEST(TraceLogFileName, NamedLikeTheResultLog) {
    EXPECT_EQ(TraceLogFileName("task.exe", IsSingleByte), "task.trace.log");
    EXPECT_EQ(TraceLogFileName("my.task.exe", IsSingleByte), "my.task.trace.log");
    EXPECT_EQ(TraceLogFileName("task", IsSingleByte), "task.trace.log");
    EXPECT_EQ(TraceLogFileName("\x95\x5c.exe", IsCodePage932LeadByte), "\x95\x5c.trace.log");
}

}  // namespace
