#include <gtest/gtest.h>

#include "code_page_932.h"
#include "install/cleanup.h"
#include "install/client_command_line.h"
#include "shared/run_state.h"

namespace {

std::string Del(const std::string& path) {
    return "del /F /Q \"" + path + "\"\r\n";
}

// The whole batch, written out once: @W@ stands for the working directory, @IMAGE@ for the
// image's line.
constexpr char kBatchTemplate[] =
    "@echo off\r\n\r\n"
    "del /F /Q \"@W@\\profile.xml\"\r\n"
    "del /F /Q \"@W@\\schema.xml\"\r\n"
    "del /F /Q \"@W@\\bootdevices.xml\"\r\n"
    "@IMAGE@"
    "del /F /Q \"@W@\\StopHWIX.exe\"\r\n"
    "del /F /Q \"@W@\\ZunaClientModule32.exe\"\r\n"
    "del /F /Q \"@W@\\ZunaClientModule64.exe\"\r\n"
    "del /F /Q \"@W@\\uninst.exe\"\r\n"
    "rmdir /S /Q \"@W@\\hwixqmb\"\r\n\r\n"
    "del /F /Q \"@W@\\ksmbios_data.htm\"\r\n"
    "del /F /Q \"@W@\\!Readme.txt\"\r\n"
    "del /F /Q \"@W@\\QTMStandaloneSvc.exe\"\r\n"
    "del /F /Q \"@W@\\delzrph.bat\"\r\n";

std::string Replaced(std::string text, const std::string& marker, const std::string& by) {
    for (std::size_t at = text.find(marker); at != std::string::npos;
         at = text.find(marker, at + by.size())) {
        text.replace(at, marker.size(), by);
    }
    return text;
}

std::string ExpectedBatch(const std::string& w, const std::string& image) {
    const std::string imageLine = image.empty() ? std::string() : Del("@W@\\" + image);
    return Replaced(Replaced(kBatchTemplate, "@IMAGE@", imageLine), "@W@", w);
}

TEST(CleanupBatchText, KnownDirectoryAndImage) {
    std::string text = CleanupBatchText("C:\\Pkg", "Flash.hdr", IsSingleByte);
    EXPECT_EQ(text, ExpectedBatch("C:\\Pkg", "Flash.hdr"));
}

// Names the interpreter's delete would follow to another place get no line; the rest stay whole.
TEST(CleanupBatchText, NoLineForANameLeftAlone) {
    auto linked = [](const std::string& name) {
        return name == "profile.xml" || name == "hwixqmb" || name == "Flash.hdr";
    };
    std::string text = CleanupBatchText("C:\\Pkg", "Flash.hdr", IsSingleByte, linked);
    std::string expected = ExpectedBatch("C:\\Pkg", "");
    for (const std::string& line :
         {Del("C:\\Pkg\\profile.xml"), std::string("rmdir /S /Q \"C:\\Pkg\\hwixqmb\"\r\n")}) {
        expected.erase(expected.find(line), line.size());
    }
    EXPECT_EQ(text, expected);
}

TEST(WithheldArguments, CountsWhatTheTraceLogDoesNotShow) {
    EXPECT_EQ(WithheldArguments("-l -biospwd:S3cr3t", nullptr), " <18 characters withheld>");
    EXPECT_EQ(WithheldArguments("-l", "-l"), "");
    EXPECT_EQ(WithheldArguments("", nullptr), "");
    EXPECT_EQ(WithheldArguments(nullptr, nullptr), "");
    EXPECT_EQ(
        ClientModuleCommandLine("C:\\P\\m.exe", nullptr) + WithheldArguments("-pw:x", nullptr),
        "\"C:\\P\\m.exe\" -file:profile.xml <5 characters withheld>");
}

TEST(CleanupBatchText, DriveRoot) {
    EXPECT_EQ(CleanupBatchText("C:", "Flash.hdr", IsSingleByte), ExpectedBatch("C:", "Flash.hdr"));
}

TEST(CleanupBatchText, PercentIsDoubled) {
    EXPECT_EQ(CleanupBatchText("C:\\a %PATH% b-c", "x%1.hdr", IsSingleByte),
              ExpectedBatch("C:\\a %%PATH%% b-c", "x%%1.hdr"));
}

TEST(CleanupBatchText, NoLineForAnEmptyOrRefusedImageName) {
    for (const char* image : {"", ".", "..", "..\\Windows", "a\" & del C:\\x & \"", "C:x",
                              "nul.hdr", "COM1", "lpt9 .bin", "CONIN$"}) {
        std::string text = CleanupBatchText("C:\\Pkg", image, IsSingleByte);
        EXPECT_EQ(text, ExpectedBatch("C:\\Pkg", "")) << image;
        EXPECT_EQ(text.find("\"C:\\Pkg\\\""), std::string::npos);
    }
}

TEST(CleanupBatchText, NoLineCanBeInjectedBehindALeadByte) {
    std::string text = CleanupBatchText("C:\\Pkg", "x\x8f\nshutdown -r", IsCodePage932LeadByte);
    EXPECT_EQ(text, ExpectedBatch("C:\\Pkg", ""));
}

TEST(CleanupBatchText, DoubleByteImageNameKept) {
    const std::string image = "\x95\x5c.hdr";
    EXPECT_EQ(CleanupBatchText("C:\\\x95\x5c", image, IsCodePage932LeadByte),
              ExpectedBatch("C:\\\x95\x5c", image));
}

struct OwnNameCase {
    const char* name;
    bool own;
};

class SetupOwnNameTest : public ::testing::TestWithParam<OwnNameCase> {};

// An image of such a name would replace a payload file, remove the batch while it runs, be taken
// for the reboot marker, or delete the setup or its log.
TEST_P(SetupOwnNameTest, AsWindowsComparesNames) {
    EXPECT_EQ(IsSetupOwnName(GetParam().name, "task 1.exe", IsSingleByte), GetParam().own)
        << GetParam().name;
}

INSTANTIATE_TEST_SUITE_P(
    Names, SetupOwnNameTest,
    ::testing::Values(OwnNameCase{"delzrph.bat", true}, OwnNameCase{"DELZRPH.BAT", true},
                      OwnNameCase{"reboot.txt", true}, OwnNameCase{"profile.xml.", true},
                      OwnNameCase{"Schema.xml ", true}, OwnNameCase{"bootdevices.xml", true},
                      OwnNameCase{"StopHWIX.exe", true},
                      OwnNameCase{"zunaclientmodule64.exe", true},
                      OwnNameCase{"ZunaClientModule32.exe", true}, OwnNameCase{"uninst.exe", true},
                      OwnNameCase{"hwixqmb", true}, OwnNameCase{"ksmbios_data.htm", true},
                      OwnNameCase{"!readme.txt", true}, OwnNameCase{"QTMStandaloneSvc.exe", true},
                      OwnNameCase{"qmb.cab", true}, OwnNameCase{"RUNVEX64.CAB", true},
                      OwnNameCase{"task 1.exe", true}, OwnNameCase{"Task 1.LOG", true},
                      OwnNameCase{"Flash.hdr", false}, OwnNameCase{"profile.xml.bak", false},
                      OwnNameCase{"task 1.log.hdr", false}, OwnNameCase{"reboot", false},
                      OwnNameCase{"setup.exe", false}));

TEST(SetupOwnName, WithoutTheExecutableNameOnlyTheFixedNames) {
    EXPECT_TRUE(IsSetupOwnName("delzrph.bat", "", IsSingleByte));
    EXPECT_FALSE(IsSetupOwnName(".log", "", IsSingleByte));
    EXPECT_FALSE(IsSetupOwnName("", "", IsSingleByte));
}

TEST(SetupOwnName, TrailBytesAreNotFolded) {
    // 0x95 0x41 and 0x95 0x61 are two different characters of code page 932.
    EXPECT_TRUE(IsSetupOwnName("\x95\x41.exe", "\x95\x41.exe", IsCodePage932LeadByte));
    EXPECT_FALSE(IsSetupOwnName("\x95\x61.exe", "\x95\x41.exe", IsCodePage932LeadByte));
}

TEST(CleanupCommandLine, NeverHoldsTheWorkingDirectory) {
    for (const char* w : {"C:\\Pkg", "C:", "C:\\a %PATH% b", "D:\\x!y"}) {
        EXPECT_EQ(CleanupCommandLine(w), "cmd.exe /d /v:off /c delzrph.bat") << w;
    }
    for (const char* w : {"\\\\server\\share\\task", "\\\\srv\\a %PATH%"}) {
        EXPECT_EQ(CleanupCommandLine(w), "cmd.exe /d /v:off /c \"\"%SETUP_CLEANUP_BATCH%\"\"") << w;
    }
    // A stage folder goes after the batch, from the command line: the batch holds its own file
    // while it runs.
    EXPECT_EQ(
        CleanupCommandLine("C:\\Stage\\a %PATH% b", true),
        "cmd.exe /d /v:off /c \"\"%SETUP_CLEANUP_BATCH%\" & rmdir \"%SETUP_CLEANUP_FOLDER%\"\"");
}

TEST(ClientModuleCommandLine, PathQuotedTailAppended) {
    EXPECT_EQ(ClientModuleCommandLine("C:\\Pkg\\ZunaClientModule32.exe", "-l"),
              "\"C:\\Pkg\\ZunaClientModule32.exe\" -file:profile.xml -l");
    EXPECT_EQ(ClientModuleCommandLine("C:\\Program Files\\P\\ZunaClientModule64.exe", "a \"b c\""),
              "\"C:\\Program Files\\P\\ZunaClientModule64.exe\" -file:profile.xml a \"b c\"");
    for (const char* none : {"", static_cast<const char*>(nullptr)}) {
        EXPECT_EQ(ClientModuleCommandLine("C:\\ZunaClientModule32.exe", none),
                  "\"C:\\ZunaClientModule32.exe\" -file:profile.xml");
    }
    EXPECT_STREQ(ClientModuleFileName(true), "ZunaClientModule64.exe");
    EXPECT_STREQ(ClientModuleFileName(false), "ZunaClientModule32.exe");
}

// What a still running program keeps: the name itself and what lies inside a kept folder, as
// Windows compares names; never a sibling that only begins like it.
TEST(KeptForRunningProgram, FolderAndFileAsWindowsComparesThem) {
    FileLedger files;
    files.keepForRunningProgram(".\\hwixqmb");
    files.keepForRunningProgram("StopHWIX.exe");
    for (const char* kept : {"hwixqmb", "HWIXQMB\\Setup.exe", ".\\hwixqmb\\a\\b.dll",
                             "stophwix.EXE", "StopHWIX.exe.", "hwixqmb/Setup.exe"}) {
        EXPECT_TRUE(files.isKept(kept)) << kept;
    }
    for (const char* removed : {"hwixqmb2", "hwixqmb.cab", "StopHWIX.exe2", "profile.xml"}) {
        EXPECT_FALSE(files.isKept(removed)) << removed;
    }
    EXPECT_TRUE(files.isKept(std::wstring(L".\\HWIXQMB\\x\u00e9.dll")));
    EXPECT_FALSE(files.isKept(std::wstring(L"hwixqmb\u00e9")));
    EXPECT_FALSE(files.allKept());
    files.keepAll();
    EXPECT_TRUE(files.isKept("profile.xml"));
}

// Only a file the run wrote whole is started: found by the name the setup starts it by, in any
// spelling Windows opens as the same file, never by a name that only begins like it.
TEST(FileLedger, WrittenFilesAsWindowsOpensThem) {
    FileLedger files;
    files.recordFile(L".\\hwixqmb\\setup.exe");
    files.recordFile(L"StopHWIX.exe");
    files.recordFile(L"\u8868.exe");
    for (const char* written : {"hwixqmb\\Setup.exe", ".\\STOPHWIX.EXE", "StopHWIX.exe. "}) {
        EXPECT_TRUE(files.wasWritten(written)) << written;
    }
    for (const char* other : {"hwixqmb", "StopHWIX.ex", "ZunaClientModule32.exe"}) {
        EXPECT_FALSE(files.wasWritten(other)) << other;
    }
    files.clear();
    EXPECT_FALSE(files.wasWritten("StopHWIX.exe"));
}

}  // namespace
