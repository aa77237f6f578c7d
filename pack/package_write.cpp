#include "pack/package_write.h"

#include <cstring>

#include "pack/little_endian.h"
#include "pack/package_checks.h"
#include "platform/build_files.h"
#include "platform/mapped_files.h"
#include "platform/resources.h"

namespace {

constexpr char kTemporaryPrefix[] = "spk";
constexpr std::uint32_t kCertificateTableAlignment = 8;

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
        if (written == nullptr || written->size != input.entrySize() ||
            !SameBytes(package.data() + written->offset, input.entryBytes(), input.entrySize())) {
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

// Cuts the template's certificate table (which lies at its end) off the copy and clears its
// directory entry, so that the package carries no signature that no longer holds.
bool RemoveCertificateTable(const std::string& path, const PeSignatureLayout& layout) {
    const unsigned char cleared[8] = {};
    return platform::CutFileTo(path, layout.certificateOffset) &&
           platform::WriteFileAt(path, layout.certificateDirectory, cleared, sizeof cleared);
}

}  // namespace

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

std::string WritePackage(const PackOptions& options, const std::vector<Input>& inputs,
                         const unsigned char* templateData,
                         const std::vector<PeResource>& templateEntries,
                         const PeSignatureLayout& templateLayout, const BuildFolder& folder) {
    const std::string temporary = platform::CreateTemporaryFile(folder.path(), kTemporaryPrefix);
    if (temporary.empty()) return "cannot write into the build folder " + folder.path();
    // The platform's resource update makes its copy where temporary files go.
    platform::UseTemporaryFolder(folder.path());
    platform::TemporaryFile package(temporary);
    if (!platform::CopyWholeFile(options.templatePath, package.path())) {
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
            if (!update.setPayload(input.id, input.entryBytes(),
                                   static_cast<DWORD>(input.entrySize()))) {
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
    if (!platform::WriteFileAt(package.path(), checksumField, field, sizeof field)) {
        return "cannot write the checksum of " + package.path();
    }
    if (!platform::ReplaceWithFile(package.path(), options.out)) {
        return "cannot write " + options.out;
    }
    package.keep();
    return {};
}
