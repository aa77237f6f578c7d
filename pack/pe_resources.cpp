#include "pack/pe_resources.h"

#include <algorithm>

#include "pack/little_endian.h"

namespace {

constexpr std::size_t kNewHeaderOffsetField = 0x3C;
constexpr std::size_t kFileHeaderSize = 20;
constexpr std::size_t kSectionHeaderSize = 40;
constexpr std::uint16_t kPe32Magic = 0x10B;
constexpr std::uint16_t kPe32PlusMagic = 0x20B;
constexpr std::size_t kResourceDirectoryIndex = 2;
constexpr std::size_t kDirectoryHeaderSize = 16;
constexpr std::size_t kDirectoryEntrySize = 8;
constexpr std::size_t kDataEntrySize = 16;
constexpr std::uint32_t kHighBit = 0x80000000u;
constexpr char16_t kPayloadType[] = u"BINARY";

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
            fault = "its resource directory is damaged";
            return false;
        }
        std::sort(resources.begin(), resources.end(), [](const PeResource& a, const PeResource& b) {
            return a.id != b.id ? a.id < b.id : a.language < b.language;
        });
        return true;
    }

  private:
    std::uint32_t u16(std::uint64_t offset) const { return bytes_.read(offset, 2); }
    std::uint32_t u32(std::uint64_t offset) const { return bytes_.read(offset, 4); }

    bool readHeaders(std::string& fault) {
        if (!bytes_.has(0, kNewHeaderOffsetField + 4) || u16(0) != 0x5A4D) {
            fault = "it is not a Windows executable";
            return false;
        }
        const std::uint64_t pe = u32(kNewHeaderOffsetField);
        if (!bytes_.has(pe, 4 + kFileHeaderSize) || u32(pe) != 0x00004550) {
            fault = "it is not a Windows executable";
            return false;
        }
        machine_ = u16(pe + 4);
        const std::uint32_t sectionCount = u16(pe + 6);
        const std::uint32_t optionalSize = u16(pe + 20);
        const std::uint64_t optional = pe + 4 + kFileHeaderSize;
        if (!bytes_.has(optional, optionalSize) || optionalSize < 2) {
            fault = "its headers are cut short";
            return false;
        }
        const std::uint32_t magic = u16(optional);
        if (magic != kPe32Magic && magic != kPe32PlusMagic) {
            fault = "it is not a Windows executable";
            return false;
        }
        const std::uint64_t countField = optional + (magic == kPe32Magic ? 92 : 108);
        const std::uint64_t directories = countField + 4;
        const std::uint64_t resourceEntry = directories + kResourceDirectoryIndex * 8;
        if (resourceEntry + 8 > optional + optionalSize ||
            u32(countField) <= kResourceDirectoryIndex) {
            fault = "its headers are cut short";
            return false;
        }
        resourceRva_ = u32(resourceEntry);
        resourceSize_ = u32(resourceEntry + 4);
        return readSections(optional + optionalSize, sectionCount, fault);
    }

    // Every section's bytes must lie in the file: a cut file is no complete setup.
    bool readSections(std::uint64_t table, std::uint32_t count, std::string& fault) {
        if (!bytes_.has(table, static_cast<std::uint64_t>(count) * kSectionHeaderSize)) {
            fault = "its section table is cut short";
            return false;
        }
        for (std::uint32_t i = 0; i < count; ++i) {
            const std::uint64_t header = table + i * kSectionHeaderSize;
            Section section{u32(header + 12), u32(header + 16), u32(header + 20)};
            if (!bytes_.has(section.rawOffset, section.rawSize)) {
                fault = "it is cut short (a section lies beyond its end)";
                return false;
            }
            sections_.push_back(section);
        }
        return true;
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
                   std::uint64_t& entries) const {
        if (relative > resourceSize_ || resourceSize_ - relative < kDirectoryHeaderSize) {
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

    bool readRoot(std::vector<PeResource>& resources) const {
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

    bool readIds(std::uint32_t relative, std::vector<PeResource>& resources) const {
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

    bool readLanguages(unsigned id, std::uint32_t relative,
                       std::vector<PeResource>& resources) const {
        std::uint32_t named = 0, numbered = 0;
        std::uint64_t entries = 0;
        if (!directory(relative, named, numbered, entries)) return false;
        for (std::uint32_t i = named; i < named + numbered; ++i) {
            const std::uint64_t entry = entries + i * kDirectoryEntrySize;
            const std::uint32_t target = u32(entry + 4);
            if ((target & kHighBit) != 0 || target > resourceSize_ ||
                resourceSize_ - target < kDataEntrySize) {
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
