#include "payload/cabinet_text.h"

#include "payload/device_names.h"
#include "shared/format_text.h"

namespace {

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

namespace {

constexpr char32_t kHighestCodePoint = 0x10FFFF;
constexpr char32_t kFirstSurrogate = 0xD800;
constexpr char32_t kLastSurrogate = 0xDFFF;
constexpr char32_t kFirstSupplementary = 0x10000;

// The length of the sequence a lead byte starts; 0 for a byte that cannot start one.
int SequenceLength(unsigned char lead) {
    if (lead >= 0x01 && lead < 0x80) return 1;
    if (lead >= 0xC2 && lead < 0xE0) return 2;
    if (lead >= 0xE0 && lead < 0xF0) return 3;
    if (lead >= 0xF0 && lead < 0xF5) return 4;
    return 0;
}

// The bits of the code point that a lead byte of a sequence of this length carries.
char32_t LeadBits(unsigned char lead, int length) {
    constexpr unsigned char kMasks[] = {0, 0x7F, 0x1F, 0x0F, 0x07};
    return lead & kMasks[length];
}

// The smallest code point that needs a sequence of this length (shorter forms are overlong).
char32_t SmallestOfLength(int length) {
    return length == 2 ? 0x80 : length == 3 ? 0x800 : length == 4 ? 0x10000 : 0;
}

}  // namespace

bool DecodeUtf8Name(const std::string& bytes, std::wstring& name) {
    std::wstring decoded;
    for (std::size_t i = 0; i < bytes.size();) {
        const auto lead = static_cast<unsigned char>(bytes[i]);
        const int length = SequenceLength(lead);
        if (length == 0 || i + static_cast<std::size_t>(length) > bytes.size()) return false;
        char32_t codePoint = LeadBits(lead, length);
        for (int k = 1; k < length; ++k) {
            const auto next = static_cast<unsigned char>(bytes[i + k]);
            if ((next & 0xC0u) != 0x80u) return false;
            codePoint = (codePoint << 6) | (next & 0x3Fu);
        }
        if (codePoint < SmallestOfLength(length) || codePoint > kHighestCodePoint ||
            (codePoint >= kFirstSurrogate && codePoint <= kLastSurrogate)) {
            return false;
        }
        if (codePoint >= kFirstSupplementary) {
            codePoint -= kFirstSupplementary;
            decoded += static_cast<wchar_t>(kFirstSurrogate + (codePoint >> 10));
            decoded += static_cast<wchar_t>(0xDC00 + (codePoint & 0x3FFu));
        } else {
            decoded += static_cast<wchar_t>(codePoint);
        }
        i += static_cast<std::size_t>(length);
    }
    name = decoded;
    return true;
}
