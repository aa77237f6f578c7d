#include "install/cleanup.h"
#include "payload/own_names.h"

namespace {

constexpr char kLineEnd[] = "\r\n";
constexpr char kEchoOff[] = "@echo off";
constexpr char kDelete[] = "del /F /Q ";
constexpr char kRemoveTree[] = "rmdir /S /Q ";
constexpr char kInterpreterOptions[] = "cmd.exe /d /v:off /c ";
constexpr char kUncPrefix[] = "\\\\";

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
    void line(const std::string& text) { text_ += text + kLineEnd; }
    void emptyLine() { text_ += kLineEnd; }
    explicit BatchText(const std::string& workingDirectory, NamePredicate isLeftAlone)
        : directory_(EscapePercent(workingDirectory)), isLeftAlone_(isLeftAlone) {}
    void command(const char* verb, const std::string& name) {
        if (isLeftAlone_ != nullptr && isLeftAlone_(name)) return;
        line(verb + std::string("\"") + directory_ + '\\' + EscapePercent(name) + '"');
    }
    const std::string& text() const { return text_; }

  private:
    std::string directory_;
    NamePredicate isLeftAlone_;
    std::string text_;
};

}  // namespace

std::string CleanupCommandLine(const std::string& workingDirectory, bool removesFolder) {
    if (removesFolder) {
        // Without /S, the folder goes only when empty: another's file keeps it.
        return kInterpreterOptions + std::string("\"\"%") + kCleanupBatchVariable +
               "%\" & rmdir \"%" + kCleanupFolderVariable + "%\"\"";
    }
    if (workingDirectory.compare(0, 2, kUncPrefix) != 0) {
        return kInterpreterOptions + std::string(kCleanupBatchName);
    }
    // /c strips the outer quotes and keeps the inner ones around the expanded path.
    return kInterpreterOptions + std::string("\"\"%") + kCleanupBatchVariable + "%\"\"";
}

std::string CleanupBatchText(const std::string& workingDirectory, const std::string& imageName,
                             LeadBytePredicate isLeadByte, NamePredicate isLeftAlone) {
    BatchText batch(workingDirectory, isLeftAlone);
    batch.line(kEchoOff);
    batch.emptyLine();
    for (const char* name : kFilesBeforeImage) batch.command(kDelete, name);
    // Never a line that names the working directory itself or a file outside it.
    if (IsPlainFileName(imageName, isLeadByte)) batch.command(kDelete, imageName);
    for (const char* name : kFilesAfterImage) batch.command(kDelete, name);
    batch.command(kRemoveTree, kLayerFolderName);
    batch.emptyLine();
    for (const char* name : kFilesAfterLayer) batch.command(kDelete, name);
    return batch.text();
}
