#include "payload/cabinet_text.h"

#include "shared/device_names.h"
#include "shared/format_text.h"

namespace {

// The longest message the extractor writes, as its buffer held it.
constexpr std::size_t kLongestExtractorMessage = 4999;

constexpr const char* kFdiErrorTexts[] = {
    "No error",
    "Cabinet not found",
    "Not a cabinet",
    "Unknown cabinet version",
    "Corrupt cabinet",
    "Memory allocation failed",
    "Unknown compression type",
    "Failure decompressing data",
    "Failure writing to target file",
    "Cabinets in set have different RESERVE sizes",
    "Cabinet returned on fdintNEXT_CABINET is incorrect",
    "User aborted",
};
constexpr char kUnknownError[] = "Unknown error";
constexpr char kFailureFormat[] = "%s() failed: code %d [%s]\n";

constexpr char kInformationFormat[] =
    "Information on cabinet file '%s'\n"
    "   Total length of cabinet file : %d\n"
    "   Number of folders in cabinet : %d\n"
    "   Number of files in cabinet   : %d\n"
    "   Cabinet set ID               : %d\n"
    "   Cabinet number in set        : %d\n"
    "   RESERVE area in cabinet?     : %s\n"
    "   Chained to prev cabinet?     : %s\n"
    "   Chained to next cabinet?     : %s\n"
    "\n";

const char* YesNo(int value) {
    return value == 1 ? "yes" : "no";
}

bool IsSeparator(char c) {
    return c == '\\' || c == '/';
}

bool IsDotsAndBlanksOnly(const std::string& component) {
    return component.find_first_not_of(". ") == std::string::npos;
}

}  // namespace

const char* FdiErrorText(int code) {
    constexpr int kCount = static_cast<int>(sizeof kFdiErrorTexts / sizeof kFdiErrorTexts[0]);
    return code >= 0 && code < kCount ? kFdiErrorTexts[code] : kUnknownError;
}

std::string FdiFailureText(const char* operation, int code) {
    return FormatText(kFailureFormat, {operation, std::to_string(code), FdiErrorText(code)});
}

std::string ExtractorMessage(const std::string& text) {
    return text.substr(0, kLongestExtractorMessage);
}

std::string CabinetInformationText(const std::string& cabinetPath, const CabinetInformation& info) {
    return FormatText(
        kInformationFormat,
        {cabinetPath, std::to_string(info.cbCabinet), std::to_string(info.cFolders),
         std::to_string(info.cFiles), std::to_string(info.setID), std::to_string(info.iCabinet),
         YesNo(info.fReserve), YesNo(info.hasprev), YesNo(info.hasnext)});
}

void SplitCabinetPath(const std::string& path, LeadBytePredicate isLeadByte, std::string& folder,
                      std::string& name) {
    std::size_t slash = FindLastAnsiByte(path, '\\', isLeadByte);
    std::size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    folder = path.substr(0, nameStart);
    name = path.substr(nameStart);
}

bool IsContainedEntryName(const std::string& name) {
    if (name.empty() || IsSeparator(name[0]) || name.find(':') != std::string::npos) return false;
    std::size_t start = 0;
    while (start <= name.size()) {
        std::size_t end = start;
        while (end < name.size() && !IsSeparator(name[end])) ++end;
        std::string component = name.substr(start, end - start);
        if (component != "." && IsDotsAndBlanksOnly(component)) return false;
        if (IsDeviceName(component)) return false;
        start = end + 1;
    }
    return true;
}
