#include "shared/package_settings.h"

#include <vector>

#include "shared/ansi_text.h"
#include "shared/device_names.h"

namespace {

constexpr int kHighestExitCode = 65535;
constexpr std::size_t kLongestExitCode = 5;
constexpr std::size_t kLongestClientWaitDigits = 5;
constexpr char kLineEnd[] = "\r\n";
constexpr char kByteOrderMark[] = "\xEF\xBB\xBF";
// Codes a caller would misread as something else than "success, restart": the setup's own failure
// codes, STILL_ACTIVE (a caller polling the process thinks it still runs) and "another
// installation is in progress".
constexpr int kMisreadExitCodes[] = {1, 2, 3, 4, 259, 1618};
constexpr std::size_t kLongestTraceLogFolder = 200;
constexpr char kFolderForbidden[] = "\"<>|?*";

bool HasControlCharacter(const std::string& text) {
    for (char c : text) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return true;
    }
    return false;
}

bool IsAsciiLetter(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

// An absolute folder, or one whose first %NAME% the setup expands at run time.
bool IsAbsoluteFolder(const std::string& folder) {
    return IsAbsoluteFolderPath(folder) || folder[0] == '%';
}

using Kind = SettingsFault::Kind;

Kind SetSetting(const std::string& key, const std::string& value, PackageSettings& settings) {
    if (key == kRebootExitCodeKey) {
        return ParseRebootExitCode(value, settings.rebootExitCode) ? Kind::kNone : Kind::kBadValue;
    }
    if (key == kTraceLogKey) {
        settings.traceLog = value == kSettingOn;
        return settings.traceLog ? Kind::kNone : Kind::kBadValue;
    }
    if (key == kTraceArgumentsKey) {
        settings.traceArguments = value == kSettingOn;
        return settings.traceArguments ? Kind::kNone : Kind::kBadValue;
    }
    if (key == kSuspendBitLockerKey) {
        settings.suspendBitLocker = value == kSettingOn;
        return settings.suspendBitLocker ? Kind::kNone : Kind::kBadValue;
    }
    if (key == kTraceLogFolderKey) {
        settings.traceLogFolder = value;
        return IsUsableTraceLogFolder(value) ? Kind::kNone : Kind::kBadValue;
    }
    if (key == kStageFolderKey) {
        settings.stageFolder = value;
        return IsUsableStageFolder(value) ? Kind::kNone : Kind::kBadValue;
    }
    if (key == kClientWaitKey) {
        return ParseClientWait(value, settings.clientWaitSeconds) ? Kind::kNone : Kind::kBadValue;
    }
    if (key == kResultKeyKey) {
        settings.resultKey = value;
        return IsPlainKeyName(value) ? Kind::kNone : Kind::kBadValue;
    }
    if (key == kModelsKey) {
        settings.models = value;
        return IsModelList(value) ? Kind::kNone : Kind::kBadValue;
    }
    if (key == kBiosVersionKey) {
        settings.biosVersion = value;
        return IsFirmwareText(value, kLongestBiosVersion) ? Kind::kNone : Kind::kBadValue;
    }
    return Kind::kUnknownKey;
}

}  // namespace

bool IsAbsoluteFolderPath(const std::string& folder) {
    const bool drive =
        folder.size() >= 3 && IsAsciiLetter(folder[0]) && folder[1] == ':' && folder[2] == '\\';
    const bool share = folder.size() > 2 && folder.compare(0, 2, "\\\\") == 0 && folder[2] != '\\';
    return drive || share;
}

bool HoldsVariableReference(const std::string& text) {
    for (std::size_t open = text.find('%'); open != std::string::npos;
         open = text.find('%', open + 1)) {
        const std::size_t close = text.find('%', open + 1);
        if (close == std::string::npos) return false;
        if (close > open + 1 && text.find('\\', open) > close) return true;
    }
    return false;
}

std::size_t SettingTextLength(const std::string& value) {
    std::wstring decoded;
    return DecodeUtf8(value, decoded) ? decoded.size() : value.size();
}

bool IsUsableTraceLogFolder(const std::string& folder) {
    return !folder.empty() && SettingTextLength(folder) <= kLongestTraceLogFolder &&
           IsAbsoluteFolder(folder) && !HasControlCharacter(folder) &&
           folder.find_first_of(kFolderForbidden) == std::string::npos;
}

bool IsUsableStageFolder(const std::string& folder) {
    return IsUsableTraceLogFolder(folder) && folder.compare(0, 2, "\\\\") != 0;
}

namespace {

constexpr char kSegmentSeparator = '\\';
constexpr char kReferenceMark = '%';

bool IsDotsAndBlanks(const std::string& segment) {
    return !segment.empty() && segment.find_first_not_of(". ") == std::string::npos;
}

// A segment that holds a '%' must be one whole %NAME% reference.
bool HasLoosePercent(const std::string& segment) {
    if (segment.find(kReferenceMark) == std::string::npos) return false;
    return segment.size() < 3 || segment.front() != kReferenceMark ||
           segment.back() != kReferenceMark ||
           segment.find(kReferenceMark, 1) != segment.size() - 1;
}

}  // namespace

std::string FolderNameFault(const std::string& folder) {
    const std::size_t colon = folder.find(':');
    const bool driveColon = colon == 1 && IsAsciiLetter(folder[0]);
    if (colon != std::string::npos &&
        (!driveColon || folder.find(':', colon + 1) != std::string::npos)) {
        return "has a ':' other than the drive's (a stream, or no folder at all)";
    }
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = folder.find(kSegmentSeparator, start);
        const std::string segment = folder.substr(start, end - start);
        if (IsDotsAndBlanks(segment)) return "has a segment of dots (\".\" or \"..\")";
        if (HasLoosePercent(segment)) {
            return "has a '%' that is not a whole %NAME% segment";
        }
        if (IsDeviceName(segment)) return "has a segment that names a device (\"" + segment + "\")";
        if (end == std::string::npos) return {};
        start = end + 1;
    }
}

bool IsFirmwareText(const std::string& text, std::size_t longest) {
    if (text.empty() || text.size() > longest || HasBlankAround(text)) return false;
    for (char c : text) {
        if (c < 0x20 || c > 0x7E) return false;
    }
    return true;
}

bool IsModelName(const std::string& name) {
    return IsFirmwareText(name, kLongestModelName) &&
           name.find(kModelSeparator) == std::string::npos;
}

std::vector<std::string> ModelNames(const std::string& models) {
    std::vector<std::string> names;
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = models.find(kModelSeparator, start);
        names.push_back(models.substr(start, end - start));
        if (end == std::string::npos) return names;
        start = end + 1;
    }
}

bool IsModelList(const std::string& value) {
    const std::vector<std::string> names = ModelNames(value);
    if (names.size() > kMostModels) return false;
    for (const std::string& name : names) {
        if (!IsModelName(name)) return false;
    }
    return true;
}

bool IsPlainKeyName(const std::string& name) {
    return !name.empty() && SettingTextLength(name) <= kLongestResultKeyName &&
           name.find('\\') == std::string::npos && !HasControlCharacter(name) &&
           name.find_first_not_of(". ") != std::string::npos;
}

bool IsMisreadRebootExitCode(int code) {
    for (int misread : kMisreadExitCodes) {
        if (code == misread) return true;
    }
    return false;
}

namespace {

// A decimal number of at most `longest` digits only; false otherwise.
bool ParseDigits(const std::string& value, std::size_t longest, int& number) {
    if (value.empty() || value.size() > longest) return false;
    number = 0;
    for (char c : value) {
        if (c < '0' || c > '9') return false;
        number = number * 10 + (c - '0');
    }
    return true;
}

}  // namespace

bool ParseRebootExitCode(const std::string& value, int& code) {
    int number = 0;
    if (!ParseDigits(value, kLongestExitCode, number)) return false;
    if (number < 1 || number > kHighestExitCode || IsMisreadRebootExitCode(number)) return false;
    code = number;
    return true;
}

bool ParseClientWait(const std::string& value, int& seconds) {
    int number = 0;
    if (!ParseDigits(value, kLongestClientWaitDigits, number)) return false;
    if (number < 1 || number > kLongestClientWaitSeconds) return false;
    seconds = number;
    return true;
}

bool HasBlankAround(const std::string& value) {
    auto blank = [](char c) { return c == ' ' || c == '\t'; };
    return !value.empty() && (blank(value.front()) || blank(value.back()));
}

bool ParsePackageSettings(const std::string& text, PackageSettings& settings, SettingsFault& fault,
                          bool refuseBlanksAround) {
    PackageSettings parsed;
    std::string seen = "\n";
    // A byte-order mark, as editors on Windows save UTF-8 text.
    std::size_t start = text.compare(0, sizeof kByteOrderMark - 1, kByteOrderMark) == 0
                            ? sizeof kByteOrderMark - 1
                            : 0;
    for (int number = 1; start < text.size(); ++number) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        start = end + 1;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty() || line[0] == '#') continue;
        fault.line = number;
        std::size_t equals = line.find('=');
        if (equals == std::string::npos) {
            fault.kind = Kind::kNotKeyValue;
            return false;
        }
        fault.key = line.substr(0, equals);
        fault.value = line.substr(equals + 1);
        const bool repeated = seen.find('\n' + fault.key + '\n') != std::string::npos;
        seen += fault.key + '\n';
        fault.kind = repeated ? Kind::kRepeatedKey
                     : refuseBlanksAround && HasBlankAround(fault.value)
                         ? Kind::kBlankAroundValue
                         : SetSetting(fault.key, fault.value, parsed);
        if (fault.kind != Kind::kNone) return false;
    }
    fault = SettingsFault();
    settings = parsed;
    return true;
}

namespace {

// A setting that differs from its default, as the entry writes it.
struct ChangedSetting {
    const char* key;
    std::string value;
    bool text;  // a name, not a number or a yes
};

std::vector<ChangedSetting> ChangedSettings(const PackageSettings& settings) {
    std::vector<ChangedSetting> changed;
    if (settings.rebootExitCode != 0) {
        changed.push_back({kRebootExitCodeKey, std::to_string(settings.rebootExitCode), false});
    }
    if (settings.traceLog) changed.push_back({kTraceLogKey, kSettingOn, false});
    if (settings.traceArguments) changed.push_back({kTraceArgumentsKey, kSettingOn, false});
    if (!settings.traceLogFolder.empty()) {
        changed.push_back({kTraceLogFolderKey, settings.traceLogFolder, true});
    }
    if (!settings.resultKey.empty()) changed.push_back({kResultKeyKey, settings.resultKey, true});
    if (settings.clientWaitSeconds != 0) {
        changed.push_back({kClientWaitKey, std::to_string(settings.clientWaitSeconds), false});
    }
    if (!settings.stageFolder.empty()) {
        changed.push_back({kStageFolderKey, settings.stageFolder, true});
    }
    if (settings.suspendBitLocker) changed.push_back({kSuspendBitLockerKey, kSettingOn, false});
    if (!settings.models.empty()) changed.push_back({kModelsKey, settings.models, true});
    if (!settings.biosVersion.empty()) {
        changed.push_back({kBiosVersionKey, settings.biosVersion, true});
    }
    return changed;
}

}  // namespace

std::string PackageSettingsText(const PackageSettings& settings) {
    std::string text;
    for (const ChangedSetting& setting : ChangedSettings(settings)) {
        text += std::string(setting.key) + "=" + setting.value + kLineEnd;
    }
    return text;
}

std::string PackageSettingsSummary(const PackageSettings& settings) {
    std::string shown;
    for (const ChangedSetting& setting : ChangedSettings(settings)) {
        const std::string value = setting.text ? '"' + setting.value + '"' : setting.value;
        shown += (shown.empty() ? "" : ", ") + std::string(setting.key) + "=" + value;
    }
    return shown.empty() ? "none" : shown;
}
