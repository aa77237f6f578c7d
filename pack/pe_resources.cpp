#include "pack/pe_resources.h"

#include <algorithm>
#include <set>

#include "pack/little_endian.h"

namespace {

constexpr std::size_t kNewHeaderOffsetField = 0x3C;
constexpr std::size_t kFileHeaderSize = 20;
constexpr std::size_t kSectionHeaderSize = 40;
constexpr std::uint16_t kPe32Magic = 0x10B;
constexpr std::uint16_t kPe32PlusMagic = 0x20B;
constexpr std::size_t kResourceDirectoryIndex = 2;
constexpr std::size_t kCertificateDirectoryIndex = 4;
constexpr std::size_t kDataDirectorySize = 8;
constexpr std::size_t kChecksumFieldAt = 64;   // in the optional header, for both formats
constexpr std::size_t kSubsystemFieldAt = 68;  // the same
constexpr std::size_t kDirectoryHeaderSize = 16;
constexpr std::size_t kDirectoryEntrySize = 8;
constexpr std::size_t kDataEntrySize = 16;
constexpr std::uint32_t kHighBit = 0x80000000u;
constexpr char16_t kPayloadType[] = u"BINARY";
// Far beyond any package (its store has fourteen entries), and small enough that listing or
// checking every entry of any file ends at once.
constexpr std::size_t kMostPayloadEntries = 1024;

struct Section {
    std::uint32_t virtualAddress;
    std::uint32_t rawSize;
    std::uint32_t rawOffset;
};

// Reads little-endian values only after checking they lie inside the bytes.
class Bytes {
  public:
    Bytes(const unsigned char* data, std::size_t size) : data_(data), size_(size) {}
    bool has(std::uint64_t offset, std::uint64_t length) const {
        return offset <= size_ && length <= size_ - offset;
    }
    std::uint32_t read(std::uint64_t offset, int width) const {
        return ReadLittleEndian(data_ + offset, width);
    }
    std::size_t size() const { return size_; }

  private:
    const unsigned char* data_;
    std::size_t size_;
};

// The file and optional headers, checked to lie inside the file.
struct PeHeaders {
    std::uint32_t machine = 0;
    std::uint32_t characteristics = 0;
    std::uint32_t subsystem = 0;
    std::uint32_t sectionCount = 0;
    std::uint64_t optional = 0;  // the optional header
    std::uint32_t optionalSize = 0;
    std::uint64_t directories = 0;  // the first data directory entry
    std::uint32_t directoryCount = 0;
};

bool ReadPeHeaders(const Bytes& bytes, PeHeaders& headers, std::string& fault) {
    fault = "it is not a Windows executable";
    if (!bytes.has(0, kNewHeaderOffsetField + 4) || bytes.read(0, 2) != 0x5A4D) return false;
    const std::uint64_t pe = bytes.read(kNewHeaderOffsetField, 4);
    if (!bytes.has(pe, 4 + kFileHeaderSize) || bytes.read(pe, 4) != 0x00004550) return false;
    headers.machine = bytes.read(pe + 4, 2);
    headers.sectionCount = bytes.read(pe + 6, 2);
    headers.characteristics = bytes.read(pe + 22, 2);
    headers.optionalSize = bytes.read(pe + 20, 2);
    headers.optional = pe + 4 + kFileHeaderSize;
    if (!bytes.has(headers.optional, headers.optionalSize) || headers.optionalSize < 2) {
        fault = "its headers are cut short";
        return false;
    }
    const std::uint32_t magic = bytes.read(headers.optional, 2);
    if (magic != kPe32Magic && magic != kPe32PlusMagic) return false;
    const std::uint64_t countField = headers.optional + (magic == kPe32Magic ? 92 : 108);
    if (countField + 4 > headers.optional + headers.optionalSize) {
        fault = "its headers are cut short";
        return false;
    }
    headers.subsystem = bytes.read(headers.optional + kSubsystemFieldAt, 2);
    headers.directoryCount = bytes.read(countField, 4);
    headers.directories = countField + 4;
    fault.clear();
    return true;
}

// The data directory entry `index`, when the headers hold it.
bool DirectoryEntry(const PeHeaders& headers, std::size_t index, std::uint64_t& entry) {
    entry = headers.directories + index * kDataDirectorySize;
    return headers.directoryCount > index &&
           entry + kDataDirectorySize <= headers.optional + headers.optionalSize;
}

// Every section's bytes must lie in the file: a cut file is no complete program.
bool ReadSections(const Bytes& bytes, const PeHeaders& headers, std::vector<Section>& sections,
                  std::string& fault) {
    const std::uint64_t table = headers.optional + headers.optionalSize;
    if (!bytes.has(table, static_cast<std::uint64_t>(headers.sectionCount) * kSectionHeaderSize)) {
        fault = "its section table is cut short";
        return false;
    }
    for (std::uint32_t i = 0; i < headers.sectionCount; ++i) {
        const std::uint64_t header = table + i * kSectionHeaderSize;
        Section section{bytes.read(header + 12, 4), bytes.read(header + 16, 4),
                        bytes.read(header + 20, 4)};
        if (!bytes.has(section.rawOffset, section.rawSize)) {
            fault = "it is cut short (a section lies beyond its end)";
            return false;
        }
        sections.push_back(section);
    }
    return true;
}

// Where the sections' bytes end in the file (past the headers when it has none).
std::uint64_t SectionsEnd(const PeHeaders& headers, const std::vector<Section>& sections) {
    std::uint64_t end = headers.optional + headers.optionalSize +
                        static_cast<std::uint64_t>(headers.sectionCount) * kSectionHeaderSize;
    for (const Section& section : sections) {
        if (section.rawSize != 0) {
            end = std::max<std::uint64_t>(end, std::uint64_t{section.rawOffset} + section.rawSize);
        }
    }
    return end;
}

class Reader {
  public:
    explicit Reader(const Bytes& bytes) : bytes_(bytes) {}

    bool read(std::vector<PeResource>& resources, std::uint16_t& machine, std::string& fault) {
        if (!readHeaders(fault)) return false;
        machine = static_cast<std::uint16_t>(machine_);
        if (resourceSize_ == 0) {
            fault = "it has no resources";
            return false;
        }
        if (!toFileOffset(resourceRva_, resourceSize_, resourceStart_)) {
            fault = "its resource directory lies outside its sections";
            return false;
        }
        if (!readRoot(resources)) {
            fault = repeated_  ? "its resource directory shares or repeats entries"
                    : tooMany_ ? "it holds more than " + std::to_string(kMostPayloadEntries) +
                                     " payload entries"
                               : "its resource directory is damaged";
            return false;
        }
        if (Overlapping(resources)) {
            fault = "its payload entries overlap";
            return false;
        }
        std::sort(resources.begin(), resources.end(), [](const PeResource& a, const PeResource& b) {
            return a.id != b.id ? a.id < b.id : a.language < b.language;
        });
        return true;
    }

  private:
    // True when two entries' bytes overlap: a resource compiler never writes such entries, and a
    // crafted file would make every entry's bytes be read again for each one.
    static bool Overlapping(std::vector<PeResource> resources) {
        std::sort(resources.begin(), resources.end(),
                  [](const PeResource& a, const PeResource& b) { return a.offset < b.offset; });
        for (std::size_t i = 1; i < resources.size(); ++i) {
            const PeResource& before = resources[i - 1];
            if (before.size != 0 && before.offset + before.size > resources[i].offset) return true;
        }
        return false;
    }

    // Each directory and each data entry is visited once: one shared or reached twice (a cycle,
    // or many IDs pointing at one list) is refused.
    bool firstVisit(std::set<std::uint32_t>& visited, std::uint32_t relative) {
        if (visited.insert(relative).second) return true;
        repeated_ = true;
        return false;
    }

    std::uint32_t u16(std::uint64_t offset) const { return bytes_.read(offset, 2); }
    std::uint32_t u32(std::uint64_t offset) const { return bytes_.read(offset, 4); }

    bool readHeaders(std::string& fault) {
        PeHeaders headers;
        if (!ReadPeHeaders(bytes_, headers, fault)) return false;
        machine_ = headers.machine;
        std::uint64_t resourceEntry = 0;
        if (!DirectoryEntry(headers, kResourceDirectoryIndex, resourceEntry)) {
            fault = "its headers are cut short";
            return false;
        }
        resourceRva_ = u32(resourceEntry);
        resourceSize_ = u32(resourceEntry + 4);
        return ReadSections(bytes_, headers, sections_, fault);
    }

    bool toFileOffset(std::uint64_t rva, std::uint64_t length, std::uint64_t& offset) const {
        for (const Section& section : sections_) {
            if (rva < section.virtualAddress) continue;
            const std::uint64_t inside = rva - section.virtualAddress;
            if (inside <= section.rawSize && length <= section.rawSize - inside) {
                offset = section.rawOffset + inside;
                return true;
            }
        }
        return false;
    }

    // A directory inside the resource directory: its entries' count and first entry.
    bool directory(std::uint32_t relative, std::uint32_t& named, std::uint32_t& numbered,
                   std::uint64_t& entries) {
        if (relative > resourceSize_ || resourceSize_ - relative < kDirectoryHeaderSize ||
            !firstVisit(visitedDirectories_, relative)) {
            return false;
        }
        const std::uint64_t at = resourceStart_ + relative;
        named = u16(at + 12);
        numbered = u16(at + 14);
        entries = at + kDirectoryHeaderSize;
        const std::uint64_t length =
            static_cast<std::uint64_t>(named + numbered) * kDirectoryEntrySize;
        return relative + kDirectoryHeaderSize + length <= resourceSize_;
    }

    bool isPayloadTypeName(std::uint32_t relative) const {
        constexpr std::uint32_t kLength = sizeof kPayloadType / sizeof kPayloadType[0] - 1;
        if (relative > resourceSize_ || resourceSize_ - relative < 2 + 2 * kLength) return false;
        const std::uint64_t at = resourceStart_ + relative;
        if (u16(at) != kLength) return false;
        for (std::uint32_t i = 0; i < kLength; ++i) {
            if (u16(at + 2 + 2 * i) != static_cast<std::uint32_t>(kPayloadType[i])) return false;
        }
        return true;
    }

    bool readRoot(std::vector<PeResource>& resources) {
        std::uint32_t named = 0, numbered = 0;
        std::uint64_t entries = 0;
        if (!directory(0, named, numbered, entries)) return false;
        for (std::uint32_t i = 0; i < named; ++i) {
            const std::uint64_t entry = entries + i * kDirectoryEntrySize;
            const std::uint32_t name = u32(entry);
            const std::uint32_t target = u32(entry + 4);
            if ((name & kHighBit) == 0 || !isPayloadTypeName(name & ~kHighBit)) continue;
            if ((target & kHighBit) == 0) return false;
            return readIds(target & ~kHighBit, resources);
        }
        return true;  // no payload entries
    }

    bool readIds(std::uint32_t relative, std::vector<PeResource>& resources) {
        std::uint32_t named = 0, numbered = 0;
        std::uint64_t entries = 0;
        if (!directory(relative, named, numbered, entries)) return false;
        for (std::uint32_t i = named; i < named + numbered; ++i) {
            const std::uint64_t entry = entries + i * kDirectoryEntrySize;
            const std::uint32_t target = u32(entry + 4);
            if ((target & kHighBit) == 0) return false;
            if (!readLanguages(u32(entry) & 0xFFFF, target & ~kHighBit, resources)) return false;
        }
        return true;
    }

    bool readLanguages(unsigned id, std::uint32_t relative, std::vector<PeResource>& resources) {
        std::uint32_t named = 0, numbered = 0;
        std::uint64_t entries = 0;
        if (!directory(relative, named, numbered, entries)) return false;
        for (std::uint32_t i = named; i < named + numbered; ++i) {
            const std::uint64_t entry = entries + i * kDirectoryEntrySize;
            const std::uint32_t target = u32(entry + 4);
            if ((target & kHighBit) != 0 || target > resourceSize_ ||
                resourceSize_ - target < kDataEntrySize ||
                !firstVisit(visitedDataEntries_, target)) {
                return false;
            }
            if (resources.size() == kMostPayloadEntries) {
                tooMany_ = true;
                return false;
            }
            const std::uint64_t data = resourceStart_ + target;
            PeResource resource;
            resource.id = id;
            resource.language = static_cast<unsigned short>(u32(entry) & 0xFFFF);
            resource.size = u32(data + 4);
            if (!toFileOffset(u32(data), resource.size, resource.offset)) return false;
            resources.push_back(resource);
        }
        return true;
    }

    const Bytes& bytes_;
    std::vector<Section> sections_;
    std::uint32_t machine_ = 0;
    std::uint32_t resourceRva_ = 0;
    std::uint32_t resourceSize_ = 0;
    std::uint64_t resourceStart_ = 0;
    std::set<std::uint32_t> visitedDirectories_;
    std::set<std::uint32_t> visitedDataEntries_;
    bool repeated_ = false;
    bool tooMany_ = false;
};

}  // namespace

bool ReadPayloadResources(const unsigned char* data, std::size_t size,
                          std::vector<PeResource>& resources, std::string& fault,
                          std::uint16_t* machine) {
    const Bytes bytes(data, size);
    std::vector<PeResource> found;
    std::uint16_t readMachine = 0;
    if (!Reader(bytes).read(found, readMachine, fault)) return false;
    resources = found;
    if (machine != nullptr) *machine = readMachine;
    return true;
}

bool ReadSignatureLayout(const unsigned char* data, std::size_t size, PeSignatureLayout& layout,
                         std::string& fault) {
    const Bytes bytes(data, size);
    PeHeaders headers;
    if (!ReadPeHeaders(bytes, headers, fault)) return false;
    layout.machine = static_cast<std::uint16_t>(headers.machine);
    std::uint64_t entry = 0;
    if (!DirectoryEntry(headers, kCertificateDirectoryIndex, entry)) {
        fault = "its headers are cut short";
        return false;
    }
    layout.checksumField = headers.optional + kChecksumFieldAt;
    layout.certificateDirectory = entry;
    layout.certificateOffset = bytes.read(entry, 4);
    layout.certificateSize = bytes.read(entry + 4, 4);
    std::vector<Section> sections;
    if (!ReadSections(bytes, headers, sections, fault)) return false;
    layout.sectionsEnd = SectionsEnd(headers, sections);
    if (layout.certificateSize != 0 &&
        !bytes.has(layout.certificateOffset, layout.certificateSize)) {
        fault = "its certificate table lies beyond its end";
        return false;
    }
    fault.clear();
    return true;
}

bool ReadProgramHeaders(const unsigned char* data, std::size_t size, PeProgram& program,
                        std::string& fault) {
    const Bytes bytes(data, size);
    PeHeaders headers;
    std::vector<Section> sections;
    if (!ReadPeHeaders(bytes, headers, fault) || !ReadSections(bytes, headers, sections, fault)) {
        return false;
    }
    program.machine = static_cast<std::uint16_t>(headers.machine);
    program.characteristics = static_cast<std::uint16_t>(headers.characteristics);
    program.subsystem = static_cast<std::uint16_t>(headers.subsystem);
    return true;
}

std::uint32_t PeChecksum(const unsigned char* data, std::size_t size, std::uint64_t checksumField) {
    std::uint64_t sum = 0;
    for (std::size_t at = 0; at < size; at += 2) {
        if (at >= checksumField && at < checksumField + 4) continue;
        std::uint32_t word = data[at];
        if (at + 1 < size) word |= static_cast<std::uint32_t>(data[at + 1]) << 8;
        sum += word;
        sum = (sum & 0xFFFF) + (sum >> 16);
    }
    sum = (sum & 0xFFFF) + (sum >> 16);
    return static_cast<std::uint32_t>(sum + size);
}
