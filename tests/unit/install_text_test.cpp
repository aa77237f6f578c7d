#include <gtest/gtest.h>

#include "code_page_932.h"
#include "install/cleanup.h"
#include "install/install_sequence.h"
#include "shared/setup_state.h"

namespace {

std::string Del(const std::string& path) {
    return "del /F /Q \"" + path + "\"\r\n";
}

std::string ExpectedBatch(const std::string& w, const std::string& image) {
    std::string text = "@echo off\r\n\r\n";
    for (const char* name : {"profile.xml", "schema.xml", "bootdevices.xml"})
        text += Del(w + "\\" + name);
    if (!image.empty()) text += Del(w + "\\" + image);
    for (const char* name :
         {"StopHWIX.exe", "ZunaClientModule32.exe", "ZunaClientModule64.exe", "uninst.exe"}) {
        text += Del(w + "\\" + name);
    }
    text += "rmdir /S /Q \"" + w + "\\hwixqmb\"\r\n\r\n";
    for (const char* name :
         {"ksmbios_data.htm", "!Readme.txt", "QTMStandaloneSvc.exe", "delzrph.bat"}) {
        text += Del(w + "\\" + name);
    }
    return text;
}

TEST(CleanupBatchText, KnownDirectoryAndImage) {
    std::string text = CleanupBatchText("C:\\Pkg", "Flash.hdr", IsSingleByte);
    EXPECT_EQ(text, ExpectedBatch("C:\\Pkg", "Flash.hdr"));
    EXPECT_EQ(text.size(), 379u + 13 * 6 + 9);
    EXPECT_EQ(text.substr(11, 2 + 30 + 2), "\r\ndel /F /Q \"C:\\Pkg\\profile.xml\"\r\n");
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
    g_SetupState = SetupState();
    KeepForRunningProgram(".\\hwixqmb");
    KeepForRunningProgram("StopHWIX.exe");
    for (const char* kept : {"hwixqmb", "HWIXQMB\\Setup.exe", ".\\hwixqmb\\a\\b.dll",
                             "stophwix.EXE", "StopHWIX.exe."}) {
        EXPECT_TRUE(IsKeptForRunningProgram(kept)) << kept;
    }
    for (const char* removed : {"hwixqmb2", "hwixqmb.cab", "StopHWIX.exe2", "profile.xml"}) {
        EXPECT_FALSE(IsKeptForRunningProgram(removed)) << removed;
    }
    EXPECT_TRUE(IsKeptForRunningProgram(std::wstring(L".\\HWIXQMB\\x\u00e9.dll")));
    EXPECT_FALSE(IsKeptForRunningProgram(std::wstring(L"hwixqmb\u00e9")));
    g_SetupState.AllFilesKept = true;
    EXPECT_TRUE(IsKeptForRunningProgram("profile.xml"));
    g_SetupState = SetupState();
}

}  // namespace
