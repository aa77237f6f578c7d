#include <cstdio>
#include <fstream>

#include "pack/pack_text.h"
#include "pack/package.h"
#include "pack/package_checks.h"
#include "pack/pe_resources.h"
#include "pack/sha256.h"
#include "payload/own_names.h"
#include "payload/payload_store.h"
#include "payload/profile_reader.h"
#include "platform/build_files.h"
#include "platform/code_pages.h"
#include "platform/mapped_files.h"
#include "platform/resources.h"
#include "shared/package_settings.h"

namespace {

constexpr char kBiosImageLabel[] = "(BIOS image name)";
constexpr char kSettingsLabel[] = "(package settings)";
constexpr char kTemporaryPrefix[] = "spl";

std::string LanguageText(WORD language) {
    if (language == platform::kLanguageNeutral) return "neutral";
    if (language == platform::kLanguageEnglishUs) return "en-US";
    return std::to_string(language);
}

bool HasNeutral(const std::vector<PeResource>& entries, unsigned id) {
    for (const PeResource& entry : entries) {
        if (entry.id == id && entry.language == platform::kLanguageNeutral) return true;
    }
    return false;
}

std::string Note(const std::vector<PeResource>& entries, const PeResource& entry) {
    const PayloadEntryInfo* info = FindPayloadEntry(entry.id);
    if (info == nullptr) return "not used by the setup";
    if (entry.id == kPayloadSettings && !IsSettingsEntry(entry.id, entry.language)) {
        return "ignored: only the neutral settings entry counts";
    }
    if (entry.language == platform::kLanguageNeutral) return "";
    std::string note = info->templatePlaceholder && entry.language == platform::kLanguageEnglishUs
                           ? "placeholder"
                           : "";
    if (HasNeutral(entries, entry.id)) note += note.empty() ? "unused" : ", unused";
    return note;
}

// The profile the setup would write: the neutral entry, else the first other one.
const PeResource* EffectiveProfile(const std::vector<PeResource>& entries) {
    const PeResource* found = nullptr;
    for (const PeResource& entry : entries) {
        if (entry.id != kPayloadProfile) continue;
        if (entry.language == platform::kLanguageNeutral) return &entry;
        if (found == nullptr) found = &entry;
    }
    return found;
}

std::string ImageNameText(const unsigned char* data, const PeResource& profile) {
    const std::string path = platform::CreateTemporaryFile({}, kTemporaryPrefix);
    if (path.empty()) return "unknown (no temporary file)";
    platform::TemporaryFile file(path);
    {
        std::ofstream out(file.path(), std::ios::binary);
        out.write(reinterpret_cast<const char*>(data + profile.offset), profile.size);
    }
    FlashCommand flash;
    if (!ReadFlashCommand(file.path().c_str(), flash)) {
        return "none: the profile cannot be read, the setup ends with 2";
    }
    if (!flash.found) return platform::ToAnsi(kDefaultImageName);
    std::string image = platform::ToAnsi(flash.image);
    if (!IsPlainFileName(image, platform::IsAnsiLeadByte) ||
        IsSetupOwnName(image, std::string(), platform::IsAnsiLeadByte)) {
        return "none: \"" + image + "\" is refused, the setup ends with 2";
    }
    return image;
}

// What the setup makes of the package's settings entry, on one line.
std::string SettingsText(const unsigned char* data, const std::vector<PeResource>& entries) {
    PackageSettings settings;
    if (ReadSettingsEntry(data, entries, settings) == SettingsEntry::kUnreadable) {
        return "unreadable, the setup ignores them";
    }
    return PackageSettingsSummary(settings);
}

// Whether the file carries a certificate table (a signature, valid or not).
std::string SignatureText(const unsigned char* data, unsigned long long size) {
    PeSignatureLayout layout;
    std::string fault;
    if (!ReadSignatureLayout(data, static_cast<std::size_t>(size), layout, fault)) {
        return "unknown: " + fault;
    }
    return layout.certificateSize == 0
               ? "none"
               : "a certificate table of " + std::to_string(layout.certificateSize) + " bytes";
}

}  // namespace

int ListPackage(const std::string& path) {
    // Mapped and read with every structure checked: any file gives a list or one line.
    platform::MappedFile file(path.c_str());
    std::vector<PeResource> entries;
    std::string error = file.opened() ? CheckSetupBytes(path, file.data(), file.size(), entries)
                                      : "cannot read " + path;
    if (!error.empty()) {
        std::fprintf(stderr, "setup-pack: error: %s\n", Escaped(error).c_str());
        return 1;
    }
    std::printf("%-4s %-8s %10s  %-64s  %-20s %s\n", "ID", "LANGUAGE", "SIZE", "SHA-256",
                "WRITTEN AS", "NOTE");
    for (const PeResource& entry : entries) {
        const PayloadEntryInfo* info = FindPayloadEntry(entry.id);
        const char* writtenAs = info == nullptr                ? "-"
                                : info->writtenAs != nullptr   ? info->writtenAs
                                : entry.id == kPayloadSettings ? kSettingsLabel
                                                               : kBiosImageLabel;
        std::printf("%-4u %-8s %10lu  %-64s  %-20s %s\n", entry.id,
                    LanguageText(entry.language).c_str(), static_cast<unsigned long>(entry.size),
                    Sha256Hex(file.data() + entry.offset, entry.size).c_str(), writtenAs,
                    Note(entries, entry).c_str());
    }
    std::printf("Signature: %s\n", SignatureText(file.data(), file.size()).c_str());
    std::printf("Settings: %s\n", SettingsText(file.data(), entries).c_str());
    std::printf("BIOS image name: %s\n",
                ImageNameText(file.data(), *EffectiveProfile(entries)).c_str());
    return 0;
}
