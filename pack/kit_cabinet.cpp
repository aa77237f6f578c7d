#include "pack/kit_cabinet.h"

#include <cstdint>
#include <string>

#include "pack/little_endian.h"
#include "payload/cabinet_text.h"
#include "shared/ansi_text.h"
#include "shared/file_names.h"

namespace {

// The cabinet header (CFHEADER): its fields' offsets and widths.
constexpr std::size_t kHeaderSize = 36;
constexpr std::uint32_t kSignature = 0x4643534D;  // "MSCF"
constexpr std::size_t kSignatureAt = 0;
constexpr std::size_t kCabinetSizeAt = 8;
constexpr std::size_t kFirstEntryAt = 16;
constexpr std::size_t kEntryCountAt = 28;
constexpr std::size_t kFlagsAt = 30;
constexpr std::size_t kReserveSizesLength = 4;  // present when kReserveFlag is set
constexpr std::size_t kFolderCountAt = 26;
// A folder's header (CFFOLDER): where its data blocks begin and how many there are.
constexpr std::size_t kFolderHeaderSize = 8;
constexpr std::size_t kFolderDataCountAt = 4;
// A data block's header (CFDATA): its checksum, then the two sizes the checksum also covers.
constexpr std::size_t kDataHeaderSize = 8;
constexpr std::size_t kDataSizesAt = 4;
constexpr std::size_t kDataSizeAt = 4;
// An entry's header (CFFILE), followed by its NUL-terminated name.
constexpr std::size_t kFileHeaderSize = 16;
constexpr std::size_t kEntryFolderAt = 8;
constexpr std::size_t kEntryAttributesAt = 14;
constexpr int kWord = 2;
constexpr int kDoubleWord = 4;
constexpr std::uint32_t kPreviousFlag = 0x0001;
constexpr std::uint32_t kNextFlag = 0x0002;
constexpr std::uint32_t kReserveFlag = 0x0004;
constexpr std::uint32_t kFirstContinuedFolder = 0xFFFD;  // continued from or into another cabinet
constexpr std::uint32_t kNameIsUtf8 = 0x80;
constexpr std::size_t kLongestName = 255;

std::uint32_t Read(const unsigned char* data, std::size_t at, int width) {
    return ReadLittleEndian(data + at, width);
}

// The NUL-terminated name at `at`, of at most kLongestName bytes; false when it runs out.
bool ReadName(const unsigned char* data, std::size_t size, std::size_t at, std::string& name) {
    name.clear();
    for (std::size_t i = at; i < size && i - at <= kLongestName; ++i) {
        if (data[i] == 0) return true;
        name += static_cast<char>(data[i]);
    }
    return false;
}

// The cabinet checksum: the little-endian 32-bit words XORed, a short tail taken with its first
// byte highest.
std::uint32_t CabinetChecksum(const unsigned char* data, std::size_t size, std::uint32_t seed) {
    std::uint32_t sum = seed;
    std::size_t at = 0;
    for (; at + 4 <= size; at += 4) sum ^= Read(data, at, kDoubleWord);
    std::uint32_t tail = 0;
    for (; at < size; ++at) tail = (tail << 8) | data[at];
    return sum ^ tail;
}

// Every data block of every folder lies inside the cabinet and matches its checksum (0: none was
// stored): the platform's extractor unpacks damaged blocks without a word.
std::string CheckDataBlocks(const unsigned char* data, std::size_t size, std::uint32_t flags) {
    std::size_t folderReserve = 0;
    std::size_t dataReserve = 0;
    std::size_t folders = kHeaderSize;
    if ((flags & kReserveFlag) != 0) {
        folderReserve = data[kHeaderSize + 2];
        dataReserve = data[kHeaderSize + 3];
        folders += kReserveSizesLength + Read(data, kHeaderSize, kWord);
    }
    const std::uint32_t folderCount = Read(data, kFolderCountAt, kWord);
    for (std::uint32_t f = 0; f < folderCount; ++f) {
        const std::size_t folder = folders + f * (kFolderHeaderSize + folderReserve);
        if (folder > size || size - folder < kFolderHeaderSize)
            return "its folder list is cut short";
        std::size_t block = Read(data, folder, kDoubleWord);
        const std::uint32_t blocks = Read(data, folder + kFolderDataCountAt, kWord);
        for (std::uint32_t b = 0; b < blocks; ++b) {
            if (block > size || size - block < kDataHeaderSize + dataReserve) {
                return "its data is cut short";
            }
            const std::size_t length = Read(data, block + kDataSizeAt, kWord);
            const std::size_t bytes = block + kDataHeaderSize + dataReserve;
            if (size - bytes < length) return "its data is cut short";
            const std::uint32_t stored = Read(data, block, kDoubleWord);
            const std::uint32_t computed = CabinetChecksum(
                data + block + kDataSizesAt, 4, CabinetChecksum(data + bytes, length, 0));
            if (stored != 0 && stored != computed) {
                return "its data block " + std::to_string(b + 1) + " of folder " +
                       std::to_string(f + 1) + " is damaged (its checksum does not match)";
            }
            block = bytes + length;
        }
    }
    return {};
}

}  // namespace

std::string CheckKitCabinet(const unsigned char* data, std::size_t size,
                            std::vector<std::string>& names) {
    names.clear();
    if (size < kHeaderSize || Read(data, kSignatureAt, kDoubleWord) != kSignature) {
        return "it is not a cabinet";
    }
    if (Read(data, kCabinetSizeAt, kDoubleWord) != size) {
        return "its length is not the one its header states";
    }
    const std::uint32_t flags = Read(data, kFlagsAt, kWord);
    if ((flags & (kPreviousFlag | kNextFlag)) != 0) {
        return "it is part of a cabinet set (continued in or from another cabinet)";
    }
    std::size_t at = Read(data, kFirstEntryAt, kDoubleWord);
    const std::uint32_t count = Read(data, kEntryCountAt, kWord);
    if ((flags & kReserveFlag) != 0 && size < kHeaderSize + kReserveSizesLength) {
        return "its header is cut short";
    }
    const std::string damage = CheckDataBlocks(data, size, flags);
    if (!damage.empty()) return damage;
    for (std::uint32_t i = 0; i < count; ++i) {
        if (at > size || size - at < kFileHeaderSize) return "its entry list is cut short";
        const std::uint32_t folder = Read(data, at + kEntryFolderAt, kWord);
        const std::uint32_t attributes = Read(data, at + kEntryAttributesAt, kWord);
        std::string name;
        if (!ReadName(data, size, at + kFileHeaderSize, name)) return "an entry name is cut short";
        std::wstring wide;
        if (!IsContainedEntryName(name) ||
            ((attributes & kNameIsUtf8) != 0 && !DecodeUtf8(name, wide))) {
            return "its entry \"" + name + "\" is not a plain name inside its destination";
        }
        if (folder >= kFirstContinuedFolder) {
            return "its entry \"" + name + "\" is continued in or from another cabinet";
        }
        names.push_back(name);
        at += kFileHeaderSize + name.size() + 1;
    }
    return {};
}

bool HoldsEntry(const std::vector<std::string>& names, const std::string& wanted) {
    for (const std::string& name : names) {
        if (ComparableName(name) == ComparableName(wanted)) return true;
    }
    return false;
}
