#include "install/cleanup.h"
#include "payload/profile_reader.h"

namespace {

constexpr char kLineEnd[] = "\r\n";
constexpr char kEchoOff[] = "@echo off";
constexpr char kDelete[] = "del /Q ";
constexpr char kRemoveTree[] = "rmdir /S /Q ";
constexpr char kLayerFolder[] = "hwixqmb";

constexpr const char* kFilesBeforeImage[] = {"profile.xml", "schema.xml", "bootdevices.xml"};
constexpr const char* kFilesAfterImage[] = {"StopHWIX.exe", "ZunaClientModule32.exe",
                                            "ZunaClientModule64.exe", "uninst.exe"};
constexpr const char* kFilesAfterLayer[] = {"ksmbios_data.htm", "!Readme.txt",
                                            "QTMStandaloneSvc.exe", kCleanupBatchName};

// The command interpreter expands %...% even inside quotes; %% stands for one literal %.
std::string EscapePercent(const std::string& text) {
    std::string escaped;
    for (char c : text) {
        escaped += c;
        if (c == '%') escaped += '%';
    }
    return escaped;
}

class BatchText {
  public:
    explicit BatchText(const std::string& workingDirectory)
        : directory_(EscapePercent(workingDirectory)) {}
    void line(const std::string& text) { text_ += text + kLineEnd; }
    void emptyLine() { text_ += kLineEnd; }
    void command(const char* verb, const std::string& name) {
        line(verb + std::string("\"") + directory_ + '\\' + EscapePercent(name) + '"');
    }
    const std::string& text() const { return text_; }

  private:
    std::string directory_;
    std::string text_;
};

}  // namespace

std::string CleanupBatchText(const std::string& workingDirectory, const std::string& imageName,
                             LeadBytePredicate isLeadByte) {
    BatchText batch(workingDirectory);
    batch.line(kEchoOff);
    batch.emptyLine();
    for (const char* name : kFilesBeforeImage) batch.command(kDelete, name);
    // Never a line that names the working directory itself or a file outside it.
    if (IsPlainFileName(imageName, isLeadByte)) batch.command(kDelete, imageName);
    for (const char* name : kFilesAfterImage) batch.command(kDelete, name);
    batch.command(kRemoveTree, kLayerFolder);
    batch.emptyLine();
    for (const char* name : kFilesAfterLayer) batch.command(kDelete, name);
    return batch.text();
}
