#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <utility>

#include "pack/build_folder.h"
#include "pack/little_endian.h"
#include "pack/pack_text.h"
#include "pack/package.h"
#include "pack/package_checks.h"
#include "pack/pe_resources.h"
#include "payload/own_names.h"
#include "payload/payload_store.h"
#include "payload/profile_reader.h"
#include "platform/build_files.h"
#include "platform/code_pages.h"
#include "platform/handles.h"
#include "platform/mapped_files.h"
#include "platform/own_files.h"
#include "platform/path_limit.h"
#include "platform/resources.h"
#include "shared/ansi_text.h"
#include "shared/package_settings.h"

namespace {

constexpr char kTemporaryPrefix[] = "spk";
constexpr char kNoRebootExitCode[] =
    "note: no --reboot-exit-code: a task that asks for a restart will report 0 and nothing "
    "restarts the PC; use --reboot-exit-code 3010";
constexpr char kStageFolderNotAscii[] =
    "warning: the stage folder has characters outside ASCII: a PC whose code pages cannot name "
    "them fails the task with exit code 3 (its logs go to the folder the package was started "
    "from)";
constexpr char kSignatureNotice[] =
    "setup-pack: the template's signature, if it had one, no longer holds: sign the package "
    "again before it is deployed (signtool on Windows, osslsigncode on Linux)";
// A package that still carried its template's certificate table would look tampered with.
constexpr char kSignatureRemoved[] =
    "setup-pack: the template's signature was removed: sign the package before it is deployed";
// A resource's size field holds 32 bits.
constexpr unsigned long long kLargestEntry = 0xFFFFFFFFull;
// The 32-bit builder maps every input and the package, and the platform's resource update holds
// its own copy of each entry: all of it must fit its 2 GiB address space.
constexpr unsigned long long kLargestInputsOf32BitBuilder = 256ull << 20;
// A 32-bit setup maps its whole file into its 2 GiB address space when it starts.
constexpr unsigned long long kLargestPayloadOf32BitSetup = 1ull << 30;
// The largest payload the platform's resource update was seen to write whole (measured under
// Wine 8: 2 GiB - 16 MiB builds and runs; 2.2 GiB crashes inside the update).
constexpr unsigned long long kLargestPayload = (2ull << 30) - (16ull << 20);
constexpr char kNoSettingsText[] = "# no settings\r\n";
constexpr std::uint32_t kCertificateTableAlignment = 8;
// Sizes below 10 MiB are shown in KiB, so that a small drive's numbers say something.
constexpr unsigned long long kShownInKibibytesBelow = 10ull << 20;

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

bool IsReplaced(const PeResource& entry, const std::vector<Input>& inputs) {
    for (const Input& input : inputs) {
        if (input.id == entry.id && entry.language == platform::kLanguageNeutral) return true;
    }
    return false;
}

// What the builder's and the setup's address spaces and the platform's resource update can hold:
// the final package's payload, the template's kept entries with the new inputs; checked before
// anything is read.
std::string CheckSizes(const std::vector<Input>& inputs,
                       const std::vector<PeResource>& templateEntries, bool template32) {
    unsigned long long added = 0;
    for (const Input& input : inputs) added += input.size();
    unsigned long long total = added;
    for (const PeResource& kept : templateEntries) {
        if (!IsReplaced(kept, inputs)) total += kept.size;
    }
    const std::string mib = std::to_string(total >> 20) + " MiB";
    if (sizeof(void*) == 4 && added > kLargestInputsOf32BitBuilder) {
        return "the inputs add up to " + std::to_string(added >> 20) +
               " MiB; setup-pack.exe takes at most 256 MiB, use setup-pack64.exe";
    }
    if (template32 && total > kLargestPayloadOf32BitSetup) {
        return "the package's payload adds up to " + mib +
               "; a package of the 32-bit setup holds at most 1024 MiB";
    }
    if (total > kLargestPayload) {
        return "the package's payload adds up to " + mib +
               "; a package holds at most 2032 MiB (2 GiB - 16 MiB)";
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
// `note` says under which name the image will be written, for once the build has succeeded.
std::string CheckBiosImage(const PackOptions& options, std::string& note) {
    FlashCommand flash;
    if (!ReadFlashCommand(options.profile.c_str(), flash))
        return options.profile + " cannot be read";
    std::string image = platform::ToAnsi(flash.image);
    if (!flash.found) {
        if (!options.bios.empty()) {
            note = "the profile has no flash command: the BIOS image will be written as Flash.hdr";
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
    note = "the BIOS image will be written as " + image;
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
        case SettingsFault::Kind::kBlankAroundValue:
            return where + "the value of " + fault.key + " begins or ends with a blank: \"" +
                   fault.value + "\"";
        default:
            return where + "\"" + fault.value + "\" is no value for " + fault.key;
    }
}

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

bool HasNonAscii(const std::string& text) {
    for (char c : text) {
        if (static_cast<unsigned char>(c) >= 0x80) return true;
    }
    return false;
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

// The settings the command line asks for; they replace the template's as a whole.
std::string SettingsFromOptions(const PackOptions& options, PackageSettings& settings) {
    if (!options.settings.empty()) {
        platform::MappedFile file(options.settings.c_str());
        if (!file.opened()) return "cannot read " + options.settings;
        const std::string text = file.data() == nullptr
                                     ? std::string()
                                     : std::string(reinterpret_cast<const char*>(file.data()),
                                                   static_cast<std::size_t>(file.size()));
        if (IsUtf16Text(text)) return options.settings + " is UTF-16 text: save it as UTF-8";
        if (!IsUtf8Text(text)) {
            return options.settings + " is not UTF-8 text: save it as UTF-8";
        }
        SettingsFault fault;
        if (!ParsePackageSettings(text, settings, fault, true)) {
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
    if (options.suspendBitLocker) settings.suspendBitLocker = true;
    if (!options.traceLogFolder.empty()) {
        const std::string fault = FolderFromOption(
            "--trace-log-folder", kTraceLogFolderKey, options.traceLogFolder,
            IsUsableTraceLogFolder(options.traceLogFolder),
            "an absolute folder (a drive, a share or %NAME%)", settings.traceLogFolder);
        if (!fault.empty()) return fault;
    }
    if (!options.resultKey.empty()) {
        if (!settings.resultKey.empty()) return "result-key given twice";
        if (HasBlankAround(options.resultKey)) {
            return BlankAroundFault("--result-key", options.resultKey);
        }
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
    if (!options.stageFolder.empty()) {
        const std::string fault = FolderFromOption(
            "--stage-folder", kStageFolderKey, options.stageFolder,
            IsUsableStageFolder(options.stageFolder),
            "a folder on a local drive (\"C:\\...\" or %NAME%)", settings.stageFolder);
        if (!fault.empty()) return fault;
    }
    if (!options.models.empty()) {
        const std::string fault = ModelsFromOptions(options.models, settings);
        if (!fault.empty()) return fault;
    }
    if (!options.biosVersion.empty()) return BiosVersionFromOption(options.biosVersion, settings);
    return {};
}

// The settings entry for the command line's settings. A resource update cannot remove an entry,
// so "no settings" is an entry that sets nothing.
void AddSettingsInput(const PackageSettings& settings, std::vector<Input>& inputs) {
    std::string text = PackageSettingsText(settings);
    inputs.push_back(
        {kPayloadSettings, "settings", {}, nullptr, text.empty() ? kNoSettingsText : text});
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
// byte, and every other entry of the template is unchanged. Gives the checksum the package's
// header must hold, and where.
std::string CheckWrittenPackage(const std::string& path, const unsigned char* templateData,
                                const std::vector<PeResource>& templateEntries,
                                const std::vector<Input>& inputs, std::uint32_t& checksum,
                                std::uint64_t& checksumField) {
    platform::MappedFile package(path.c_str());
    std::vector<PeResource> entries;
    std::string error = CheckSetupBytes(path, package.data(), package.size(), entries);
    if (!error.empty()) return "the package written cannot be read back: " + error;
    PeSignatureLayout layout;
    if (!ReadSignatureLayout(package.data(), static_cast<std::size_t>(package.size()), layout,
                             error)) {
        return "the package written cannot be read back: " + error;
    }
    if (layout.certificateSize != 0) return "the package written still carries a certificate table";
    checksum =
        PeChecksum(package.data(), static_cast<std::size_t>(package.size()), layout.checksumField);
    checksumField = layout.checksumField;
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

// Writes `bytes` at `offset` of the file at `path`; false when they could not be written whole.
bool WriteAt(const std::string& path, std::uint64_t offset, const void* bytes, DWORD size) {
    platform::FileHandle file(CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                          FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER position{};
    position.QuadPart = static_cast<LONGLONG>(offset);
    return file.valid() && SetFilePointerEx(file.get(), position, nullptr, FILE_BEGIN) &&
           platform::WriteWhole(file.get(), bytes, size);
}

// Cuts the template's certificate table (which lies at its end) off the copy and clears its
// directory entry, so that the package carries no signature that no longer holds.
bool RemoveCertificateTable(const std::string& path, const PeSignatureLayout& layout) {
    {
        platform::FileHandle file(CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr,
                                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        LARGE_INTEGER end{};
        end.QuadPart = layout.certificateOffset;
        if (!file.valid() || !SetFilePointerEx(file.get(), end, nullptr, FILE_BEGIN) ||
            !SetEndOfFile(file.get())) {
            return false;
        }
    }
    const unsigned char cleared[8] = {};
    return WriteAt(path, layout.certificateDirectory, cleared, sizeof cleared);
}

// Only a table at the end, after every section, can be cut off without moving or cutting what
// the setup needs; signing tools align it to 8 bytes.
std::string CertificateTableFault(const std::string& path, const PeSignatureLayout& layout,
                                  unsigned long long fileSize) {
    if (layout.certificateSize == 0) return {};
    const std::string table = path + " carries a certificate table that ";
    if (layout.certificateOffset % kCertificateTableAlignment != 0) {
        return table + "does not start on an 8-byte boundary, as signing tools write it";
    }
    if (layout.certificateOffset < layout.sectionsEnd) {
        return table + "starts inside its headers or sections";
    }
    if (static_cast<unsigned long long>(layout.certificateOffset) + layout.certificateSize !=
        fileSize) {
        return table + "is not at its end";
    }
    return {};
}

// The package's size: the template without its certificate table, the new inputs in place of
// the entries they replace.
unsigned long long PackageSize(unsigned long long templateSize, const PeSignatureLayout& layout,
                               const std::vector<Input>& inputs,
                               const std::vector<PeResource>& templateEntries) {
    unsigned long long size = templateSize - layout.certificateSize;
    for (const Input& input : inputs) size += input.size();
    for (const PeResource& kept : templateEntries) {
        if (IsReplaced(kept, inputs) && size >= kept.size) size -= kept.size;
    }
    return size;
}

std::string SizeText(unsigned long long bytes) {
    return bytes >= kShownInKibibytesBelow ? std::to_string(bytes >> 20) + " MiB"
                                           : std::to_string((bytes + 1023) >> 10) + " KiB";
}

// The build holds two copies of the package at once (its own and the platform's): a drive that
// cannot hold them is refused before anything is written, rather than filled.
std::string FreeSpaceFault(const std::string& out, unsigned long long packageSize) {
    const std::string folder = DirectoryOf(out);
    unsigned long long free = 0;
    if (!platform::FreeDiskBytes(folder, free)) return {};
    const unsigned long long needed = 2 * packageSize;
    if (free >= needed) return {};
    return "the folder of " + out + " has " + SizeText(free) + " free; the build needs about " +
           SizeText(needed) + " (twice the package)";
}

// Builds the package in the build's folder, checks it, and renames it to the output only then.
std::string WritePackage(const PackOptions& options, const std::vector<Input>& inputs,
                         const unsigned char* templateData,
                         const std::vector<PeResource>& templateEntries,
                         const PeSignatureLayout& templateLayout, const BuildFolder& folder) {
    char temporary[kPathBufferSize] = {};
    if (GetTempFileNameA(folder.path().c_str(), kTemporaryPrefix, 0, temporary) == 0) {
        return "cannot write into the build folder " + folder.path();
    }
    // The platform's resource update makes its copy where temporary files go.
    SetEnvironmentVariableA("TMP", folder.path().c_str());
    SetEnvironmentVariableA("TEMP", folder.path().c_str());
    platform::TemporaryFile package(temporary);
    if (!CopyFileA(options.templatePath.c_str(), package.path().c_str(), FALSE)) {
        return "cannot write " + package.path();
    }
    if (templateLayout.certificateSize != 0 &&
        !RemoveCertificateTable(package.path(), templateLayout)) {
        return "cannot remove the template's certificate table from " + package.path();
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
    std::uint32_t checksum = 0;
    std::uint64_t checksumField = 0;
    std::string error = CheckWrittenPackage(package.path(), templateData, templateEntries, inputs,
                                            checksum, checksumField);
    if (!error.empty()) return error;
    unsigned char field[4] = {};
    WriteLittleEndian(field, checksum, sizeof field);
    if (!WriteAt(package.path(), checksumField, field, sizeof field)) {
        return "cannot write the checksum of " + package.path();
    }
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
    PeSignatureLayout layout;
    if (!ReadSignatureLayout(templateFile.data(), static_cast<std::size_t>(templateFile.size()),
                             layout, error)) {
        return Fail(options.templatePath + " is not a setup with a payload store: " + error);
    }
    error = CertificateTableFault(options.templatePath, layout, templateFile.size());
    if (!error.empty()) return Fail(error);
    std::vector<Input> inputs = ChosenInputs(options);
    error = MapInputs(inputs);
    if (error.empty()) error = CheckOutputIsNoInput(options, inputs);
    if (!error.empty()) return Fail(error);
    PackageSettings settings;
    ReadSettingsEntry(templateFile.data(), templateEntries, settings);
    if (GivesSettings(options)) {
        settings = PackageSettings();
        error = SettingsFromOptions(options, settings);
        if (error.empty()) error = FolderSettingsFault(settings);
        if (!error.empty()) return Fail(error);
        AddSettingsInput(settings, inputs);
    }
    // In order, up to the first failure: nothing more is read once one input is refused, and
    // nothing on disk is touched before every input and the output are checked.
    std::string imageNote;
    error = CheckSizes(inputs, templateEntries, machine == kMachineI386);
    if (error.empty()) error = CheckInputBytes(inputs);
    if (error.empty()) error = CheckXmlInputs(options);
    if (error.empty()) error = CheckBiosImage(options, imageNote);
    if (error.empty()) error = BuildFolderRoomFault(options.out);
    if (error.empty())
        error = FreeSpaceFault(options.out,
                               PackageSize(templateFile.size(), layout, inputs, templateEntries));
    if (!error.empty()) return Fail(error);
    RemoveAbandonedBuildFolders(options.out);
    BuildFolder folder(options.out);
    if (folder.path().empty()) {
        return Fail("cannot write into the folder of " + options.out + " (error " +
                    std::to_string(folder.error()) + ")");
    }
    for (const Input& input : inputs) {
        if (!error.empty() || input.kitName.empty()) continue;
        error = CheckKitProgram(input.path, input.kitName, folder.path() + '\\',
                                machine == kMachineAmd64);
    }
    if (error.empty()) {
        error = WritePackage(options, inputs, templateFile.data(), templateEntries, layout, folder);
    }
    if (!error.empty()) return Fail(error);
    if (!imageNote.empty()) Say(imageNote);
    Say("settings: " + PackageSettingsSummary(settings));
    if (settings.rebootExitCode == 0) Say(kNoRebootExitCode);
    if (HasNonAscii(settings.stageFolder)) Say(kStageFolderNotAscii);
    Say("wrote " + options.out);
    std::puts(layout.certificateSize != 0 ? kSignatureRemoved : kSignatureNotice);
    return 0;
}
