#include "pack/build_settings.h"

#include <utility>

#include "platform/mapped_files.h"
#include "shared/ansi_text.h"

namespace {

std::string SettingsFaultText(const std::string& file, const SettingsFault& fault) {
    const std::string where = file + " line " + std::to_string(fault.line) + ": ";
    switch (fault.kind) {
        case SettingsFault::Kind::kNotKeyValue:
            return where + "not key=value";
        case SettingsFault::Kind::kUnknownKey:
            return where + "unknown setting \"" + fault.key + "\"";
        case SettingsFault::Kind::kRepeatedKey:
            return where + "\"" + fault.key + "\" given twice";
        case SettingsFault::Kind::kBlankAroundValue:
            return where + "the value of " + fault.key + " begins or ends with a blank: \"" +
                   fault.value + "\"";
        default:
            return where + "\"" + fault.value + "\" is no value for " + fault.key;
    }
}

// Settings text is UTF-8, so that its names mean the same on every PC (a NUL is left to the
// settings checks, which name it).
bool IsUtf8Text(std::string text) {
    for (char& c : text) {
        if (c == '\0') c = ' ';
    }
    std::wstring decoded;
    return DecodeUtf8(text, decoded);
}

// UTF-16 text, as Notepad's "Unicode" saves it (with a byte-order mark) or as other tools write
// it (without one): its first character, a key's ASCII letter, has a zero byte beside it.
bool IsUtf16Text(const std::string& text) {
    if (text.size() < 2) return false;
    const bool mark =
        (text[0] == '\xFF' && text[1] == '\xFE') || (text[0] == '\xFE' && text[1] == '\xFF');
    const bool asciiFirst = (text[0] == '\0') != (text[1] == '\0');
    return mark || asciiFirst;
}

// A value with a blank at either end would look like another one in every listing.
std::string BlankAroundFault(const char* option, const std::string& value) {
    return std::string(option) + " begins or ends with a blank: \"" + value + "\"";
}

std::string RebootExitCodeFault(const std::string& value) {
    int code = 0;
    bool number = !value.empty() && value.size() <= 5 &&
                  value.find_first_not_of("0123456789") == std::string::npos;
    if (number) code = std::stoi(value);
    if (number && code >= 1 && code <= 65535 && IsMisreadRebootExitCode(code)) {
        return "--reboot-exit-code " + value +
               " would be misread by a caller (1 to 4 are the setup's own failures, 259 reads "
               "as still running, 1618 as another installation in progress): use 3010 or 1641";
    }
    return "--reboot-exit-code must be a number from 1 to 65535, not \"" + value + "\"";
}

// A folder option's value, once given, with no blank at either end and usable by the setup;
// empty when it was taken into `setting`, else why not.
std::string FolderFromOption(const char* option, const char* key, const std::string& value,
                             bool usable, const char* rule, std::string& setting) {
    if (!setting.empty()) return std::string(key) + " given twice";
    if (HasBlankAround(value)) return BlankAroundFault(option, value);
    if (!usable) {
        return std::string(option) + " must be " + rule +
               " of at most 200 characters without control characters or \"<>|?*, not \"" + value +
               "\"";
    }
    setting = value;
    return {};
}

// The models the command line names, each a firmware name.
std::string ModelsFromOptions(const std::vector<std::string>& given, PackageSettings& settings) {
    if (!settings.models.empty()) return std::string(kModelsKey) + " given twice";
    if (given.size() > kMostModels) {
        return "--model given " + std::to_string(given.size()) + " times: at most " +
               std::to_string(kMostModels) + " models";
    }
    for (const std::string& model : given) {
        if (HasBlankAround(model)) return BlankAroundFault("--model", model);
        if (!IsModelName(model)) {
            return "--model must be a name of 1 to " + std::to_string(kLongestModelName) +
                   " printable ASCII characters without ';', not \"" + model + "\"";
        }
    }
    for (const std::string& model : given) {
        settings.models += (settings.models.empty() ? "" : std::string(1, kModelSeparator)) + model;
    }
    return {};
}

std::string BiosVersionFromOption(const std::string& given, PackageSettings& settings) {
    if (!settings.biosVersion.empty()) return std::string(kBiosVersionKey) + " given twice";
    if (HasBlankAround(given)) return BlankAroundFault("--bios-version", given);
    if (!IsFirmwareText(given, kLongestBiosVersion)) {
        return "--bios-version must be 1 to " + std::to_string(kLongestBiosVersion) +
               " printable ASCII characters, not \"" + given + "\"";
    }
    settings.biosVersion = given;
    return {};
}

// A settings file: UTF-8 text, "key=value" a line, by the rules the setup reads its entry with.
std::string SettingsFromFile(const std::string& path, PackageSettings& settings) {
    platform::MappedFile file(path.c_str());
    if (!file.opened()) return "cannot read " + path;
    const std::string text = file.data() == nullptr
                                 ? std::string()
                                 : std::string(reinterpret_cast<const char*>(file.data()),
                                               static_cast<std::size_t>(file.size()));
    if (IsUtf16Text(text)) return path + " is UTF-16 text: save it as UTF-8";
    if (!IsUtf8Text(text)) return path + " is not UTF-8 text: save it as UTF-8";
    SettingsFault fault;
    if (!ParsePackageSettings(text, settings, fault, true)) return SettingsFaultText(path, fault);
    return {};
}

std::string RebootExitCodeFromOption(const std::string& given, PackageSettings& settings) {
    if (given.empty()) return {};
    if (settings.rebootExitCode != 0) return "reboot-exit-code given twice";
    if (!ParseRebootExitCode(given, settings.rebootExitCode)) return RebootExitCodeFault(given);
    return {};
}

std::string ResultKeyFromOption(const std::string& given, PackageSettings& settings) {
    if (given.empty()) return {};
    if (!settings.resultKey.empty()) return "result-key given twice";
    if (HasBlankAround(given)) return BlankAroundFault("--result-key", given);
    if (!IsPlainKeyName(given)) {
        return "--result-key must be a plain registry key name (no backslash, no control "
               "characters, at most " +
               std::to_string(kLongestResultKeyName) +
               " characters, the registry's limit for the whole path), not \"" + given + "\"";
    }
    settings.resultKey = given;
    return {};
}

std::string ClientWaitFromOption(const std::string& given, PackageSettings& settings) {
    if (given.empty()) return {};
    if (settings.clientWaitSeconds != 0) return "client-wait given twice";
    if (!ParseClientWait(given, settings.clientWaitSeconds)) {
        return "--client-wait must be a number of seconds from 1 to " +
               std::to_string(kLongestClientWaitSeconds) + ", not \"" + given + "\"";
    }
    return {};
}

// The trace log and stage folders the options give, each by its own rule.
std::string FoldersFromOptions(const PackOptions& options, PackageSettings& settings) {
    struct FolderOption {
        const char* option;
        const char* key;
        const std::string& value;
        bool usable;
        const char* rule;
        std::string& setting;
    };
    const FolderOption folders[] = {
        {"--trace-log-folder", kTraceLogFolderKey, options.traceLogFolder,
         IsUsableTraceLogFolder(options.traceLogFolder),
         "an absolute folder (a drive, a share or %NAME%)", settings.traceLogFolder},
        {"--stage-folder", kStageFolderKey, options.stageFolder,
         IsUsableStageFolder(options.stageFolder),
         "a folder on a local drive (\"C:\\...\" or %NAME%)", settings.stageFolder},
    };
    for (const FolderOption& folder : folders) {
        if (folder.value.empty()) continue;
        const std::string fault = FolderFromOption(folder.option, folder.key, folder.value,
                                                   folder.usable, folder.rule, folder.setting);
        if (!fault.empty()) return fault;
    }
    return {};
}

}  // namespace

bool GivesSettings(const PackOptions& options) {
    return !options.settings.empty() || !options.rebootExitCode.empty() || options.traceLog ||
           options.traceArguments || options.suspendBitLocker || !options.traceLogFolder.empty() ||
           !options.resultKey.empty() || !options.clientWait.empty() ||
           !options.stageFolder.empty() || !options.models.empty() || !options.biosVersion.empty();
}

// Whatever gave them (an option or a settings file), the stage and trace log folders name plain
// folder paths, by the rule the setup applies to the stage folder.
std::string FolderSettingsFault(const PackageSettings& settings) {
    const std::pair<const char*, const std::string*> folders[] = {
        {kStageFolderKey, &settings.stageFolder}, {kTraceLogFolderKey, &settings.traceLogFolder}};
    for (const auto& [key, folder] : folders) {
        const std::string fault = folder->empty() ? std::string() : FolderNameFault(*folder);
        if (!fault.empty()) return std::string(key) + " \"" + *folder + "\" " + fault;
    }
    return {};
}

// The settings the command line asks for; they replace the template's as a whole.
std::string SettingsFromOptions(const PackOptions& options, PackageSettings& settings) {
    std::string fault =
        options.settings.empty() ? std::string() : SettingsFromFile(options.settings, settings);
    if (fault.empty()) fault = RebootExitCodeFromOption(options.rebootExitCode, settings);
    if (options.traceLog) settings.traceLog = true;
    if (options.traceArguments) settings.traceArguments = true;
    if (options.suspendBitLocker) settings.suspendBitLocker = true;
    if (fault.empty()) fault = ResultKeyFromOption(options.resultKey, settings);
    if (fault.empty()) fault = ClientWaitFromOption(options.clientWait, settings);
    if (fault.empty()) fault = FoldersFromOptions(options, settings);
    if (fault.empty() && !options.models.empty())
        fault = ModelsFromOptions(options.models, settings);
    if (fault.empty() && !options.biosVersion.empty()) {
        fault = BiosVersionFromOption(options.biosVersion, settings);
    }
    return fault;
}
