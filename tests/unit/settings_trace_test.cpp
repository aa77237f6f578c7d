#include <gtest/gtest.h>

#include "code_page_932.h"
#include "shared/package_settings.h"
#include "shared/pc_identity.h"
#include "shared/result_log.h"
#include "shared/trace_log_text.h"
#include "shared/utc_time.h"

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
    ASSERT_TRUE(ParsePackageSettings("suspend-bitlocker=yes\r\n", read, fault));
    EXPECT_TRUE(read.suspendBitLocker);
    EXPECT_EQ(PackageSettingsSummary(read), "suspend-bitlocker=yes");
    EXPECT_FALSE(ParsePackageSettings("suspend-bitlocker=1\r\n", read, fault));
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
                      FaultCase{"client-wait=0", Kind::kBadValue, 1},
                      FaultCase{"client-wait=86401", Kind::kBadValue, 1},
                      FaultCase{"client-wait=99999", Kind::kBadValue, 1},
                      FaultCase{"client-wait=5m", Kind::kBadValue, 1},
                      FaultCase{"client-wait=", Kind::kBadValue, 1},
                      FaultCase{"client-wait=600\nclient-wait=600", Kind::kRepeatedKey, 2},
                      FaultCase{"trace-log=no", Kind::kBadValue, 1},
                      FaultCase{"trace-log=YES", Kind::kBadValue, 1},
                      FaultCase{"\ncolour=red", Kind::kUnknownKey, 2},
                      FaultCase{"Reboot-Exit-Code=3010", Kind::kUnknownKey, 1},
                      FaultCase{"reboot-exit-code = 3010", Kind::kUnknownKey, 1},
                      FaultCase{"trace-log=yes\r\ntrace-log=yes", Kind::kRepeatedKey, 2},
                      FaultCase{"# x\r\nreboot-exit-code 3010", Kind::kNotKeyValue, 2},
                      FaultCase{"models=", Kind::kBadValue, 1},
                      FaultCase{"models=X1;", Kind::kBadValue, 1},
                      FaultCase{"models=X1; Y2", Kind::kBadValue, 1},
                      FaultCase{"models=X1;;Y2", Kind::kBadValue, 1},
                      FaultCase{"models=Caf\xC3\xA9", Kind::kBadValue, 1},
                      FaultCase{"models=A\tB", Kind::kBadValue, 1},
                      FaultCase{"bios-version=", Kind::kBadValue, 1},
                      FaultCase{"bios-version=1.62 ", Kind::kBadValue, 1}));

TEST(PackageSettings, ModelsAndBiosVersionAsTheFirmwareWritesThem) {
    PackageSettings read;
    SettingsFault fault;
    const std::string longest(kLongestModelName, 'M');
    std::string most = "A";
    for (std::size_t i = 1; i < kMostModels; ++i) most += ";A";
    ASSERT_TRUE(ParsePackageSettings(
        "models=20KH;X1 Carbon;" + longest + "\nbios-version=N1ZET99W (1.62 )", read, fault));
    EXPECT_EQ(ModelNames(read.models), (std::vector<std::string>{"20KH", "X1 Carbon", longest}));
    EXPECT_EQ(PackageSettingsSummary(read),
              "models=\"20KH;X1 Carbon;" + longest + "\", bios-version=\"N1ZET99W (1.62 )\"");
    EXPECT_TRUE(ParsePackageSettings("models=" + most, read, fault));
    EXPECT_FALSE(ParsePackageSettings("models=" + most + ";A", read, fault));
    EXPECT_FALSE(ParsePackageSettings("models=" + longest + "M", read, fault));
    EXPECT_FALSE(ParsePackageSettings("bios-version=" + std::string(kLongestBiosVersion + 1, 'V'),
                                      read, fault));
}

struct IdentityCase {
    const char* what;
    FirmwareValue productName, sku, baseBoard;
    bool admitted;
};

TEST(PcIdentity, AnyOfThreeNamesTrimmedWithoutCase) {
    const FirmwareValue none;
    const FirmwareValue empty{"  ", true};
    const IdentityCase cases[] = {
        {"product name", {"X1 Carbon", true}, none, none, true},
        {"blanks and case", {" x1 CARBON\t", true}, none, none, true},
        {"SKU", {"Other", true}, {"20kh", true}, none, true},
        {"board", empty, empty, {"20KH", true}, true},
        {"another model", {"X1 Yoga", true}, {"20KI", true}, {"X1 Carbo", true}, false},
        {"nothing read", none, none, none, false},
        {"only blanks", empty, empty, empty, false},
        {"inner blanks count", {"X1  Carbon", true}, none, none, false},
        {"a value not read keeps its text out", {"X1 Carbon", false}, none, none, false},
        {"not ASCII case", {"\xC3\xA9", true}, none, none, false},
    };
    for (const IdentityCase& c : cases) {
        PcIdentity pc;
        pc.productName = c.productName;
        pc.sku = c.sku;
        pc.baseBoard = c.baseBoard;
        EXPECT_EQ(IsOneOfModels(pc, "20KH;X1 Carbon;\xC3\x89"), c.admitted) << c.what;
    }
    PcIdentity pc;
    pc.biosVersion = {" n1zet99w (1.62 ) ", true};
    EXPECT_TRUE(HasBiosVersion(pc, "N1ZET99W (1.62 )"));
    EXPECT_FALSE(HasBiosVersion(pc, "N1ZET99W (1.62)"));
    pc.biosVersion.read = false;
    EXPECT_FALSE(HasBiosVersion(pc, " n1zet99w (1.62 ) "));
    pc.productName = {"X1", true};
    EXPECT_EQ(PcNamesText(pc),
              "SystemProductName \"X1\", SystemSKU missing, BaseBoardProduct missing");
}

TEST(RebootExitCode, Range) {
    int code = 0;
    EXPECT_TRUE(ParseRebootExitCode("5", code));
    EXPECT_EQ(code, 5);
    EXPECT_TRUE(ParseRebootExitCode("65535", code));
    EXPECT_EQ(code, 65535);
    EXPECT_TRUE(ParseRebootExitCode("03010", code));
    EXPECT_EQ(code, 3010);
    // 1 to 4 are the setup's own failures, 259 reads as "still running", 1618 as "busy".
    for (const char* bad :
         {"0", "65536", "99999", "", "30 10", "+3010", "3010\n", "1", "4", "259", "1618"}) {
        EXPECT_FALSE(ParseRebootExitCode(bad, code)) << bad;
    }
}

TEST(ClientWait, SecondsFromOneToADayAndBack) {
    PackageSettings read;
    SettingsFault fault;
    ASSERT_TRUE(ParsePackageSettings("client-wait=86400\r\n", read, fault));
    EXPECT_EQ(read.clientWaitSeconds, 86400);
    EXPECT_EQ(PackageSettingsText(read), "client-wait=86400\r\n");
    ASSERT_TRUE(ParsePackageSettings("client-wait=1", read, fault));
    EXPECT_EQ(read.clientWaitSeconds, 1);
    EXPECT_EQ(PackageSettingsSummary(read), "client-wait=1");
}

TraceStamp Stamp(long biasMinutes) {
    TraceStamp stamp;
    stamp.year = 2026;
    stamp.month = 3;
    stamp.day = 7;
    stamp.hour = 9;
    stamp.minute = 5;
    stamp.second = 4;
    stamp.milliseconds = 21;
    stamp.biasMinutes = biasMinutes;
    stamp.threadId = 1234;
    return stamp;
}

constexpr platform::Severity kInfo = platform::Severity::kInformation;

TEST(TraceRecord, TheLogViewersFormat) {
    EXPECT_EQ(TraceRecord("task", Stamp(-60), "fn_CheckOS: Operating System supported", kInfo),
              "<![LOG[fn_CheckOS: Operating System supported]LOG]!><time=\"09:05:04.021-060\" "
              "date=\"03-07-2026\" component=\"task\" context=\"\" type=\"1\" thread=\"1234\" "
              "file=\"\">\r\n");
    // Further lines stay inside the brackets; the bias has one sign and three digits.
    EXPECT_EQ(
        TraceRecord("t", Stamp(480), "HWIX QMB already installed.\nHWIX.SYS Version: 0", kInfo)
            .substr(0, 76),
        "<![LOG[HWIX QMB already installed.\r\nHWIX.SYS Version: 0]LOG]!><time=\"09:05:0");
    EXPECT_NE(TraceRecord("t", Stamp(0), "", kInfo).find("04.021+000\""), std::string::npos);
    // A text never ends its record early.
    const std::string record = TraceRecord("t", Stamp(0), "a]LOG]!>b", kInfo);
    EXPECT_EQ(record.find("]LOG]!>"), record.rfind("]LOG]!>"));
    // The viewers colour a record by these numbers: a warning yellow, a failure red.
    EXPECT_NE(TraceRecord("t", Stamp(0), "x", platform::Severity::kWarning).find("type=\"2\""),
              std::string::npos);
    EXPECT_NE(TraceRecord("t", Stamp(0), "x", platform::Severity::kFailure).find("type=\"3\""),
              std::string::npos);
}

TEST(PackageSettings, TraceLogFolderAndResultKey) {
    PackageSettings read;
    SettingsFault fault;
    ASSERT_TRUE(ParsePackageSettings(
        "trace-log-folder=%WINDIR%\\Logs\\BiosTasks\r\nresult-key=A01 flash\r\n", read, fault));
    EXPECT_EQ(read.traceLogFolder, "%WINDIR%\\Logs\\BiosTasks");
    EXPECT_EQ(read.resultKey, "A01 flash");
    EXPECT_TRUE(WritesTraceLog(read));
    EXPECT_EQ(PackageSettingsText(read),
              "trace-log-folder=%WINDIR%\\Logs\\BiosTasks\r\nresult-key=A01 flash\r\n");
    // A listing shows names quoted, so that a blank at their end is seen.
    EXPECT_EQ(PackageSettingsSummary(read),
              "trace-log-folder=\"%WINDIR%\\Logs\\BiosTasks\", result-key=\"A01 flash\"");
    // The builder refuses a value with a blank at either end; the setup reads it as it is.
    for (const char* text :
         {"result-key=A01 flash   \r\n", "result-key= A01\r\n", "trace-log=yes\t\r\n"}) {
        PackageSettings strict;
        EXPECT_FALSE(ParsePackageSettings(text, strict, fault, true)) << text;
        EXPECT_EQ(fault.kind, SettingsFault::Kind::kBlankAroundValue) << text;
    }
    PackageSettings lenient;
    ASSERT_TRUE(ParsePackageSettings("result-key=A01 flash   \r\n", lenient, fault));
    EXPECT_EQ(lenient.resultKey, "A01 flash   ");
    for (const char* folder : {"C:\\Logs", "\\\\srv\\logs\\x", "%ProgramData%\\T"}) {
        EXPECT_TRUE(IsUsableTraceLogFolder(folder)) << folder;
    }
    for (const char* folder : {"", "Logs", "C:Logs", "C:\\a|b", "C:\\a\tb", "C:\\\"x\""}) {
        EXPECT_FALSE(IsUsableTraceLogFolder(folder)) << folder;
    }
    EXPECT_FALSE(IsUsableTraceLogFolder("C:\\" + std::string(198, 'x')));
    // A stage folder is a trace log folder that is never a share: programs are started from it.
    for (const char* folder : {"C:\\Stage", "%ProgramData%\\T", "d:\\"}) {
        EXPECT_TRUE(IsUsableStageFolder(folder)) << folder;
    }
    for (const char* folder : {"\\\\srv\\stage", "Stage", "", "C:\\a*b"}) {
        EXPECT_FALSE(IsUsableStageFolder(folder)) << folder;
    }
    // Only a plain folder path: no stream, no segment of dots, no '%' but whole %NAME% segments.
    for (const char* folder : {"C:\\Stage", "%ProgramData%\\BiosTasks", "d:\\", "C:\\%X%\\y",
                               "C:\\a.b\\c.", "C:\\x\\"}) {
        EXPECT_EQ(FolderNameFault(folder), "") << folder;
    }
    for (const char* folder :
         {"C:\\Stage:ads", "C:\\Stage\\..\\..\\windows", "C:\\.\\x", "C:\\a\\. .", "C:\\a%PATH%b",
          "%ProgramData%x\\y", "C:\\%", "C:\\%A%%B%", "%A%:\\x", "C:\\%%\\x", "%", "C:\\con\\x",
          "C:\\x\\Nul.txt", "\\\\srv\\lpt1"}) {
        EXPECT_NE(FolderNameFault(folder), "") << folder;
    }
    PackageSettings staged;
    ASSERT_TRUE(ParsePackageSettings("stage-folder=%ProgramData%\\BiosTasks\r\n", staged, fault));
    EXPECT_EQ(PackageSettingsSummary(staged), "stage-folder=\"%ProgramData%\\BiosTasks\"");
    EXPECT_FALSE(ParsePackageSettings("stage-folder=\\\\srv\\s\r\n", staged, fault));
    for (const char* key : {"", "a\\b", "..", " ", "a\nb"})
        EXPECT_FALSE(IsPlainKeyName(key)) << key;
    // Characters, not bytes: 201 two-byte characters are a key the registry takes.
    std::string twoByte;
    for (int i = 0; i < 201; ++i) twoByte += "\xC3\xA9";
    EXPECT_TRUE(IsPlainKeyName(twoByte));
    EXPECT_FALSE(IsPlainKeyName(twoByte + "\xC3\xA9"));
    // The whole path, HKEY_LOCAL_MACHINE\SOFTWARE\Corvane\BIOS task package\NAME, within 255.
    EXPECT_TRUE(IsPlainKeyName(std::string(201, 'k')));
    EXPECT_FALSE(IsPlainKeyName(std::string(202, 'k')));
}

// What a trace log folder must be once its %NAME% references are expanded: never a path that
// lands in the working directory.
TEST(TraceLogFolder, ExpandedFolderIsAbsoluteAndWhole) {
    for (const char* folder : {"C:\\Logs", "c:\\", "\\\\srv\\logs", "C:\\100%\\x", "C:\\a%b"}) {
        EXPECT_TRUE(IsAbsoluteFolderPath(folder) && !HoldsVariableReference(folder)) << folder;
    }
    for (const char* folder : {"%NOSUCH%\\Logs", "C:\\%UNSET%\\Logs", "C:\\a\\%X%"}) {
        EXPECT_TRUE(HoldsVariableReference(folder)) << folder;
    }
    for (const char* folder : {"Logs", "\\Logs", "C:Logs", "\\\\", "\\\\\\x", "1:\\x", ""}) {
        EXPECT_FALSE(IsAbsoluteFolderPath(folder)) << folder;
    }
    EXPECT_FALSE(HoldsVariableReference("C:\\%a\\b%"));  // a backslash between: no name
    EXPECT_FALSE(HoldsVariableReference("C:\\%%\\x"));   // nothing between
}

TEST(UtcTimeText, ZeroPadded) {
    EXPECT_EQ(UtcTimeText(2026, 1, 2, 3, 4, 5), "2026-01-02T03:04:05Z");
    EXPECT_EQ(UtcTimeText(2026, 12, 31, 23, 59, 59), "2026-12-31T23:59:59Z");
}

TEST(TraceLogFileName, NamedLikeTheResultLog) {
    EXPECT_EQ(TraceLogFileName("task.exe", IsSingleByte), "task.trace.log");
    EXPECT_EQ(TraceLogFileName("my.task.exe", IsSingleByte), "my.task.trace.log");
    EXPECT_EQ(TraceLogFileName("task", IsSingleByte), "task.trace.log");
    EXPECT_EQ(TraceLogFileName("\x95\x5c.exe", IsCodePage932LeadByte), "\x95\x5c.trace.log");
}

}  // namespace
