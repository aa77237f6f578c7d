#include <cstdio>

#include "install/cleanup.h"
#include "pack/package.h"
#include "pack/package_checks.h"
#include "payload/payload_store.h"
#include "payload/profile_reader.h"
#include "platform/files_processes.h"
#include "platform/resources.h"
#include "shared/package_settings.h"

namespace {

constexpr char kTemporaryPrefix[] = "spk";
constexpr char kSignatureNotice[] =
    "setup-pack: the template's signature, if it had one, no longer holds: sign the package "
    "again before it is deployed (signtool on Windows, osslsigncode on Linux)";

struct Input {
    unsigned id;
    std::string path;
    std::vector<char> bytes;
};

int Fail(const std::string& message) {
    std::fprintf(stderr, "setup-pack: error: %s\n", message.c_str());
    return 1;
}

void Say(const std::string& message) {
    std::printf("setup-pack: %s\n", message.c_str());
}

std::string DirectoryOf(const std::string& path) {
    std::string::size_type slash = path.find_last_of("\\/");
    return slash == std::string::npos ? "." : path.substr(0, slash + 1);
}

std::vector<Input> ChosenInputs(const PackOptions& options) {
    std::vector<Input> inputs = {{kPayloadProfile, options.profile, {}}};
    if (!options.schema.empty()) inputs.push_back({kPayloadSchema, options.schema, {}});
    if (!options.bootDevices.empty())
        inputs.push_back({kPayloadBootDevices, options.bootDevices, {}});
    if (!options.bios.empty()) inputs.push_back({kPayloadBiosImage, options.bios, {}});
    if (!options.kit.empty()) {
        for (const PayloadEntryInfo& info : kPayloadEntries) {
            if (info.kitFile) inputs.push_back({info.id, options.kit + "\\" + info.writtenAs, {}});
        }
    }
    return inputs;
}

std::string CheckXmlInputs(const PackOptions& options) {
    std::string error = CheckXmlRoot(options.profile, L"root", nullptr);
    if (error.empty() && !options.schema.empty()) {
        error = CheckXmlRoot(options.schema, L"root", L"schemaVersion");
    }
    if (error.empty() && !options.bootDevices.empty()) {
        error = CheckXmlRoot(options.bootDevices, L"bootDevices", nullptr);
    }
    return error;
}

// The setup names the image after the profile's first flash command: it must name a plain
// file, and then the image must come with the package.
std::string CheckBiosImage(const PackOptions& options) {
    FlashCommand flash;
    if (!ReadFlashCommand(options.profile.c_str(), flash))
        return options.profile + " cannot be read";
    std::string image = platform::ToAnsi(flash.image);
    if (!flash.found) {
        if (!options.bios.empty()) {
            Say("the profile has no flash command: the BIOS image will be written as Flash.hdr");
        }
        return {};
    }
    if (image.empty()) return "the profile's first flash command names no image";
    if (!IsPlainFileName(image, platform::IsAnsiLeadByte)) {
        return "the profile's first flash command names the image \"" + image +
               "\", which is not a plain file name";
    }
    // The package's own name is not known here; the setup also refuses that one and its log's.
    if (IsSetupOwnName(image, std::string(), platform::IsAnsiLeadByte)) {
        return "the profile's first flash command names the image \"" + image +
               "\", a name the setup uses for its own files";
    }
    if (options.bios.empty()) {
        return "the profile's first flash command names the image \"" + image +
               "\": give that image with --bios";
    }
    Say("the BIOS image will be written as " + image);
    return {};
}

std::string SettingsFaultText(const std::string& file, const SettingsFault& fault) {
    const std::string where = file + " line " + std::to_string(fault.line) + ": ";
    switch (fault.kind) {
        case SettingsFault::Kind::kNotKeyValue:
            return where + "not key=value";
        case SettingsFault::Kind::kUnknownKey:
            return where + "unknown setting \"" + fault.key + "\"";
        case SettingsFault::Kind::kRepeatedKey:
            return where + "\"" + fault.key + "\" given twice";
        default:
            return where + "\"" + fault.value + "\" is no value for " + fault.key;
    }
}

// The package's settings from --settings, then the options; an entry only when any is given.
std::string ChooseSettings(const PackOptions& options, std::vector<Input>& inputs) {
    PackageSettings settings;
    if (!options.settings.empty()) {
        std::vector<char> bytes;
        if (!ReadWholeFile(options.settings, bytes)) return "cannot read " + options.settings;
        SettingsFault fault;
        if (!ParsePackageSettings(std::string(bytes.begin(), bytes.end()), settings, fault)) {
            return SettingsFaultText(options.settings, fault);
        }
    }
    if (!options.rebootExitCode.empty()) {
        if (settings.rebootExitCode != 0) return "reboot-exit-code given twice";
        if (!ParseRebootExitCode(options.rebootExitCode, settings.rebootExitCode)) {
            return "--reboot-exit-code must be a number from 1 to 65535, not \"" +
                   options.rebootExitCode + "\"";
        }
    }
    if (options.traceLog) settings.traceLog = true;
    if (options.traceArguments) settings.traceArguments = true;
    if (!options.traceLogFolder.empty()) {
        if (!settings.traceLogFolder.empty()) return "trace-log-folder given twice";
        if (!IsUsableTraceLogFolder(options.traceLogFolder)) {
            return "--trace-log-folder must be an absolute folder (a drive, a share or %NAME%) "
                   "of at most 200 characters without control characters or \"<>|?*, not \"" +
                   options.traceLogFolder + "\"";
        }
        settings.traceLogFolder = options.traceLogFolder;
    }
    if (!options.resultKey.empty()) {
        if (!settings.resultKey.empty()) return "result-key given twice";
        if (!IsPlainKeyName(options.resultKey)) {
            return "--result-key must be a plain registry key name (no backslash, no control "
                   "characters, at most 255 characters), not \"" +
                   options.resultKey + "\"";
        }
        settings.resultKey = options.resultKey;
    }
    const std::string text = PackageSettingsText(settings);
    if (options.settings.empty() && text.empty()) return {};
    inputs.push_back({kPayloadSettings, "settings", std::vector<char>(text.begin(), text.end())});
    return {};
}

// Builds the package beside the output and renames it only when it is complete.
std::string WritePackage(const PackOptions& options, const std::vector<Input>& inputs) {
    char temporary[MAX_PATH] = {};
    if (GetTempFileNameA(DirectoryOf(options.out).c_str(), kTemporaryPrefix, 0, temporary) == 0) {
        return "cannot write into the folder of " + options.out;
    }
    platform::TemporaryFile package(temporary);
    if (!CopyFileA(options.templatePath.c_str(), package.path().c_str(), FALSE)) {
        return "cannot write " + package.path();
    }
    {
        platform::ResourceUpdate update(package.path().c_str());
        if (!update.valid()) return "cannot update the resources of " + package.path();
        for (const Input& input : inputs) {
            if (!update.setPayload(input.id, input.bytes)) {
                return "cannot set entry " + std::to_string(input.id);
            }
        }
        if (!update.commit()) return "cannot write the resources of " + package.path();
    }
    if (!MoveFileExA(package.path().c_str(), options.out.c_str(), MOVEFILE_REPLACE_EXISTING)) {
        return "cannot write " + options.out;
    }
    package.keep();
    return {};
}

}  // namespace

int BuildPackage(const PackOptions& options) {
    std::vector<Input> inputs = ChosenInputs(options);
    for (Input& input : inputs) {
        if (!ReadWholeFile(input.path, input.bytes)) return Fail("cannot read " + input.path);
    }
    std::string settingsError = ChooseSettings(options, inputs);
    if (!settingsError.empty()) return Fail(settingsError);
    for (const std::string& error :
         {CheckXmlInputs(options), CheckTemplate(options.templatePath)}) {
        if (!error.empty()) return Fail(error);
    }
    std::string error = CheckBiosImage(options);
    if (!error.empty()) return Fail(error);
    error = WritePackage(options, inputs);
    if (!error.empty()) return Fail(error);
    Say("wrote " + options.out);
    std::puts(kSignatureNotice);
    return 0;
}
