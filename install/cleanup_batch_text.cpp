#include <vector>

#include "install/cleanup.h"
#include "install/install_sequence.h"
#include "payload/payload_store.h"
#include "payload/profile_reader.h"
#include "shared/result_log.h"

namespace {

constexpr char kLineEnd[] = "\r\n";
constexpr char kEchoOff[] = "@echo off";
constexpr char kDelete[] = "del /F /Q ";
constexpr char kRemoveTree[] = "rmdir /S /Q ";
constexpr char kLayerFolder[] = "hwixqmb";
constexpr char kInterpreterOptions[] = "cmd.exe /d /v:off /c ";
constexpr char kUncPrefix[] = "\\\\";

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

// The name as Windows compares it: trailing dots and blanks dropped, ASCII letters folded, the
// trail bytes of double-byte characters kept as they are.
std::string ComparableName(const std::string& name, LeadBytePredicate isLeadByte) {
    std::string folded = WithoutTrailingDotsAndBlanks(name);
    for (std::size_t i = 0; i < folded.size(); ++i) {
        if (IsDoubleByteAt(folded, i, isLeadByte)) {
            ++i;
        } else {
            folded[i] = FoldAsciiLetter(folded[i]);
        }
    }
    return folded;
}

}  // namespace

bool IsSetupOwnName(const std::string& name, const std::string& executableName,
                    LeadBytePredicate isLeadByte) {
    std::vector<std::string> own = {kLayerFolder, kRebootMarker};
    for (const char* file : kFilesBeforeImage) own.push_back(file);
    for (const char* file : kFilesAfterImage) own.push_back(file);
    for (const char* file : kFilesAfterLayer) own.push_back(file);
    for (const PayloadEntryInfo& entry : kPayloadEntries) {
        if (entry.writtenAs != nullptr) own.push_back(entry.writtenAs);
    }
    if (!executableName.empty()) {
        own.push_back(executableName);
        own.push_back(ResultLogFileName(executableName, isLeadByte));
        own.push_back(TraceLogFileName(executableName, isLeadByte));
    }
    const std::string wanted = ComparableName(name, isLeadByte);
    for (const std::string& candidate : own) {
        if (ComparableName(candidate, isLeadByte) == wanted) return true;
    }
    return false;
}

std::string CleanupCommandLine(const std::string& workingDirectory) {
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
    batch.command(kRemoveTree, kLayerFolder);
    batch.emptyLine();
    for (const char* name : kFilesAfterLayer) batch.command(kDelete, name);
    return batch.text();
}
