#include <cstdio>
#include <cstring>
#include <memory>

#include "pack/pack_text.h"
#include "pack/package.h"
#include "pack/package_checks.h"
#include "payload/own_names.h"
#include "payload/payload_store.h"
#include "payload/profile_reader.h"
#include "platform/code_pages.h"
#include "platform/mapped_files.h"
#include "platform/path_limit.h"
#include "platform/resources.h"
#include "shared/ansi_text.h"
#include "shared/package_settings.h"

namespace {

constexpr char kTemporaryPrefix[] = "spk";
constexpr char kSignatureNotice[] =
    "setup-pack: the template's signature, if it had one, no longer holds: sign the package "
    "again before it is deployed (signtool on Windows, osslsigncode on Linux)";
// A resource's size field holds 32 bits.
constexpr unsigned long long kLargestEntry = 0xFFFFFFFFull;
// The 32-bit builder maps every input and the package, and the platform's resource update holds
// its own copy of each entry: all of it must fit its 2 GiB address space.
constexpr unsigned long long kLargestInputsOf32BitBuilder = 256ull << 20;
// A 32-bit setup maps its whole file into its 2 GiB address space when it starts.
constexpr unsigned long long kLargestPayloadOf32BitSetup = 1ull << 30;
constexpr char kNoSettingsText[] = "# no settings\r\n";

// An input mapped, never copied: the resource update reads it from the view.
struct Input {
    unsigned id;
    std::string path;
    std::string kitName;  // the kit file's name, for kit inputs
    std::shared_ptr<platform::MappedFile> file;
    std::string text;  // the settings entry, made here
    const unsigned char* bytes() const {
        return file ? file->data() : reinterpret_cast<const unsigned char*>(text.data());
    }
    unsigned long long size() const { return file ? file->size() : text.size(); }
};

int Fail(const std::string& message) {
    std::fprintf(stderr, "setup-pack: error: %s\n", Escaped(message).c_str());
    return 1;
}

void Say(const std::string& message) {
    std::printf("setup-pack: %s\n", message.c_str());
}

std::string DirectoryOf(const std::string& path) {
    std::string::size_type slash = path.find_last_of("\\/");
    return slash == std::string::npos ? "." : path.substr(0, slash + 1);
}

std::string FileNameOf(const std::string& path) {
    std::string::size_type slash = path.find_last_of("\\/:");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::vector<Input> ChosenInputs(const PackOptions& options) {
    std::vector<Input> inputs = {{kPayloadProfile, options.profile, {}, nullptr, {}}};
    if (!options.schema.empty())
        inputs.push_back({kPayloadSchema, options.schema, {}, nullptr, {}});
    if (!options.bootDevices.empty()) {
        inputs.push_back({kPayloadBootDevices, options.bootDevices, {}, nullptr, {}});
    }
    if (!options.bios.empty()) inputs.push_back({kPayloadBiosImage, options.bios, {}, nullptr, {}});
    if (!options.kit.empty()) {
        for (const PayloadEntryInfo& info : kPayloadEntries) {
            if (info.kitFile) {
                inputs.push_back(
                    {info.id, options.kit + "\\" + info.writtenAs, info.writtenAs, nullptr, {}});
            }
        }
    }
    return inputs;
}

// Maps every input; an empty or unreadable one, or one larger than an entry can be, is refused.
std::string MapInputs(std::vector<Input>& inputs) {
    for (Input& input : inputs) {
        input.file = std::make_shared<platform::MappedFile>(input.path.c_str());
        if (!input.file->opened()) return "cannot read " + input.path;
        if (input.file->size() == 0) return input.path + " is empty";
        if (input.file->size() > kLargestEntry) {
            return input.path + " is larger than a payload entry can be (4 GiB - 1 byte)";
        }
    }
    return {};
}

// What the builder's and the setup's address spaces can hold; checked before anything is read.
std::string CheckSizes(const std::vector<Input>& inputs, bool template32) {
    unsigned long long total = 0;
    for (const Input& input : inputs) total += input.size();
    if (sizeof(void*) == 4 && total > kLargestInputsOf32BitBuilder) {
        return "the inputs add up to " + std::to_string(total >> 20) +
               " MiB; setup-pack.exe takes at most 256 MiB, use setup-pack64.exe";
    }
    if (template32 && total > kLargestPayloadOf32BitSetup) {
        return "the inputs add up to " + std::to_string(total >> 20) +
               " MiB; a package of the 32-bit setup holds at most 1024 MiB";
    }
    return {};
}

std::string CheckInputBytes(const std::vector<Input>& inputs) {
    for (const Input& input : inputs) {
        if (!input.file) continue;
        if (input.file->data() == nullptr) return "cannot read " + input.path;
        if (input.kitName.size() > 4 &&
            input.kitName.compare(input.kitName.size() - 4, 4, ".cab") == 0) {
            std::string error = CheckKitCabinetFile(input.path, input.kitName, input.file->data(),
                                                    input.file->size());
            if (!error.empty()) return error;
        }
    }
    return {};
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
// file that is none of the setup's own, the package's among them, and then come with the package.
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
    if (IsSetupOwnName(image, FileNameOf(options.out), platform::IsAnsiLeadByte)) {
        return "the profile's first flash command names the image \"" + image +
               "\", a name the setup uses for its own files or the package's";
    }
    if (options.bios.empty()) {
        return "the profile's first flash command names the image \"" + image +
               "\": give that image with --bios";
    }
    Say("the BIOS image will be written as " + image);
    return {};
}

std::string CheckOutputIsNoInput(const PackOptions& options, const std::vector<Input>& inputs) {
    std::vector<std::string> paths = {options.templatePath};
    if (!options.settings.empty()) paths.push_back(options.settings);
    for (const Input& input : inputs) {
        if (input.file) paths.push_back(input.path);
    }
    for (const std::string& path : paths) {
        if (SameFile(options.out, path)) return "--out " + options.out + " is the input " + path;
    }
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

bool GivesSettings(const PackOptions& options) {
    return !options.settings.empty() || !options.rebootExitCode.empty() || options.traceLog ||
           options.traceArguments || !options.traceLogFolder.empty() ||
           !options.resultKey.empty() || !options.clientWait.empty();
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

// The settings the command line asks for; they replace the template's as a whole.
std::string SettingsFromOptions(const PackOptions& options, PackageSettings& settings) {
    if (!options.settings.empty()) {
        platform::MappedFile file(options.settings.c_str());
        if (!file.opened()) return "cannot read " + options.settings;
        const std::string text = file.data() == nullptr
                                     ? std::string()
                                     : std::string(reinterpret_cast<const char*>(file.data()),
                                                   static_cast<std::size_t>(file.size()));
        if (!IsUtf8Text(text)) {
            return options.settings + " is not UTF-8 text: save it as UTF-8";
        }
        SettingsFault fault;
        if (!ParsePackageSettings(text, settings, fault)) {
            return SettingsFaultText(options.settings, fault);
        }
    }
    if (!options.rebootExitCode.empty()) {
        if (settings.rebootExitCode != 0) return "reboot-exit-code given twice";
        if (!ParseRebootExitCode(options.rebootExitCode, settings.rebootExitCode)) {
            return RebootExitCodeFault(options.rebootExitCode);
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
                   "characters, at most " +
                   std::to_string(kLongestResultKeyName) +
                   " characters, the registry's limit for the whole path), not \"" +
                   options.resultKey + "\"";
        }
        settings.resultKey = options.resultKey;
    }
    if (!options.clientWait.empty()) {
        if (settings.clientWaitSeconds != 0) return "client-wait given twice";
        if (!ParseClientWait(options.clientWait, settings.clientWaitSeconds)) {
            return "--client-wait must be a number of seconds from 1 to " +
                   std::to_string(kLongestClientWaitSeconds) + ", not \"" + options.clientWait +
                   "\"";
        }
    }
    return {};
}

// The settings entry for the command line's settings. A resource update cannot remove an entry,
// so "no settings" is an entry that sets nothing.
void AddSettingsInput(const PackageSettings& settings, std::vector<Input>& inputs) {
    std::string text = PackageSettingsText(settings);
    inputs.push_back(
        {kPayloadSettings, "settings", {}, nullptr, text.empty() ? kNoSettingsText : text});
}

bool IsReplaced(const PeResource& entry, const std::vector<Input>& inputs) {
    for (const Input& input : inputs) {
        if (input.id == entry.id && entry.language == platform::kLanguageNeutral) return true;
    }
    return false;
}

const PeResource* Find(const std::vector<PeResource>& entries, unsigned id,
                       unsigned short language) {
    for (const PeResource& entry : entries) {
        if (entry.id == id && entry.language == language) return &entry;
    }
    return nullptr;
}

bool SameBytes(const unsigned char* a, const unsigned char* b, unsigned long long size) {
    return size == 0 || std::memcmp(a, b, static_cast<std::size_t>(size)) == 0;
}

// Reads the package back with the reader `list` uses: every input is there, neutral, byte for
// byte, and every other entry of the template is unchanged.
std::string CheckWrittenPackage(const std::string& path, const unsigned char* templateData,
                                const std::vector<PeResource>& templateEntries,
                                const std::vector<Input>& inputs) {
    platform::MappedFile package(path.c_str());
    std::vector<PeResource> entries;
    std::string error = CheckSetupBytes(path, package.data(), package.size(), entries);
    if (!error.empty()) return "the package written cannot be read back: " + error;
    for (const Input& input : inputs) {
        const PeResource* written = Find(entries, input.id, platform::kLanguageNeutral);
        if (written == nullptr || written->size != input.size() ||
            !SameBytes(package.data() + written->offset, input.bytes(), input.size())) {
            return "the package written does not hold " + input.path + " as entry " +
                   std::to_string(input.id);
        }
    }
    for (const PeResource& kept : templateEntries) {
        if (IsReplaced(kept, inputs)) continue;
        const PeResource* written = Find(entries, kept.id, kept.language);
        if (written == nullptr || written->size != kept.size ||
            !SameBytes(package.data() + written->offset, templateData + kept.offset, kept.size)) {
            return "the package written changed the template's entry " + std::to_string(kept.id);
        }
    }
    return {};
}

// Builds the package beside the output, checks it, and renames it only then.
std::string WritePackage(const PackOptions& options, const std::vector<Input>& inputs,
                         const unsigned char* templateData,
                         const std::vector<PeResource>& templateEntries) {
    char temporary[kPathBufferSize] = {};
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
            if (!update.setPayload(input.id, input.bytes(), static_cast<DWORD>(input.size()))) {
                return "cannot set entry " + std::to_string(input.id);
            }
        }
        if (!update.commit()) return "cannot write the resources of " + package.path();
    }
    std::string error = CheckWrittenPackage(package.path(), templateData, templateEntries, inputs);
    if (!error.empty()) return error;
    if (!MoveFileExA(package.path().c_str(), options.out.c_str(), MOVEFILE_REPLACE_EXISTING)) {
        return "cannot write " + options.out;
    }
    package.keep();
    return {};
}

}  // namespace

int BuildPackage(const PackOptions& options) {
    platform::MappedFile templateFile(options.templatePath.c_str());
    std::vector<PeResource> templateEntries;
    std::uint16_t machine = 0;
    if (!templateFile.opened()) return Fail("cannot read " + options.templatePath);
    std::string error = CheckSetupBytes(options.templatePath, templateFile.data(),
                                        templateFile.size(), templateEntries, &machine);
    if (!error.empty()) return Fail(error);
    std::vector<Input> inputs = ChosenInputs(options);
    for (const std::string& check : {MapInputs(inputs), CheckOutputIsNoInput(options, inputs)}) {
        if (!check.empty()) return Fail(check);
    }
    PackageSettings settings;
    ReadSettingsEntry(templateFile.data(), templateEntries, settings);
    if (GivesSettings(options)) {
        settings = PackageSettings();
        error = SettingsFromOptions(options, settings);
        if (!error.empty()) return Fail(error);
        AddSettingsInput(settings, inputs);
    }
    for (const std::string& check :
         {CheckSizes(inputs, machine == kMachineI386), CheckInputBytes(inputs),
          CheckXmlInputs(options), CheckBiosImage(options)}) {
        if (!check.empty()) return Fail(check);
    }
    error = WritePackage(options, inputs, templateFile.data(), templateEntries);
    if (!error.empty()) return Fail(error);
    Say("settings: " + PackageSettingsSummary(settings));
    Say("wrote " + options.out);
    std::puts(kSignatureNotice);
    return 0;
}
