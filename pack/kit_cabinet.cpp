#include "pack/kit_cabinet.h"

#include <cstdint>

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
