#include "pack/build_inputs.h"

#include "pack/pack_text.h"
#include "pack/package_checks.h"
#include "payload/own_names.h"
#include "payload/payload_store.h"
#include "payload/profile_reader.h"
#include "platform/build_files.h"
#include "platform/code_pages.h"
#include "platform/resources.h"
#include "shared/ansi_text.h"

namespace {

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
// Sizes below 10 MiB are shown in KiB, so that a small drive's numbers say something.
constexpr unsigned long long kShownInKibibytesBelow = 10ull << 20;

std::string SizeText(unsigned long long bytes) {
    return bytes >= kShownInKibibytesBelow ? std::to_string(bytes >> 20) + " MiB"
                                           : std::to_string((bytes + 1023) >> 10) + " KiB";
}

}  // namespace

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
    for (const Input& input : inputs) added += input.entrySize();
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

// The settings entry for the command line's settings. A resource update cannot remove an entry,
// so "no settings" is an entry that sets nothing.
void AddSettingsInput(const PackageSettings& settings, std::vector<Input>& inputs) {
    std::string text = PackageSettingsText(settings);
    inputs.push_back(
        {kPayloadSettings, "settings", {}, nullptr, text.empty() ? kNoSettingsText : text});
}

// The package's size: the template without its certificate table, the new inputs in place of
// the entries they replace.
unsigned long long PackageSize(unsigned long long templateSize, const PeSignatureLayout& layout,
                               const std::vector<Input>& inputs,
                               const std::vector<PeResource>& templateEntries) {
    unsigned long long size = templateSize - layout.certificateSize;
    for (const Input& input : inputs) size += input.entrySize();
    for (const PeResource& kept : templateEntries) {
        if (IsReplaced(kept, inputs) && size >= kept.size) size -= kept.size;
    }
    return size;
}

// The build holds two copies of the package at once (its own and the platform's): a drive that
// cannot hold them is refused before anything is written, rather than filled.
std::string FreeSpaceFault(const std::string& out, unsigned long long packageSize) {
    const std::string folder = FolderOf(out);
    unsigned long long free = 0;
    if (!platform::FreeDiskBytes(folder.empty() ? "." : folder, free)) return {};
    const unsigned long long needed = 2 * packageSize;
    if (free >= needed) return {};
    return "the folder of " + out + " has " + SizeText(free) + " free; the build needs about " +
           SizeText(needed) + " (twice the package)";
}
