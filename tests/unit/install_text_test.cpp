#include <gtest/gtest.h>

#include "code_page_932.h"
#include "install/cleanup.h"
#include "install/install_sequence.h"

namespace {

std::string Del(const std::string& path) {
    return "del /Q \"" + path + "\"\r\n";
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
    EXPECT_EQ(text.size(), 343u + 13 * 6 + 9);
    EXPECT_EQ(text.substr(11, 2 + 27 + 2), "\r\ndel /Q \"C:\\Pkg\\profile.xml\"\r\n");
}

TEST(CleanupBatchText, DriveRoot) {
    EXPECT_EQ(CleanupBatchText("C:", "Flash.hdr", IsSingleByte), ExpectedBatch("C:", "Flash.hdr"));
}

TEST(CleanupBatchText, PercentIsDoubled) {
    EXPECT_EQ(CleanupBatchText("C:\\a %PATH% b-c", "x%1.hdr", IsSingleByte),
              ExpectedBatch("C:\\a %%PATH%% b-c", "x%%1.hdr"));
}

TEST(CleanupBatchText, NoLineForAnEmptyOrRefusedImageName) {
    for (const char* image : {"", ".", "..", "..\\Windows", "a\" & del C:\\x & \"", "C:x"}) {
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

}  // namespace
