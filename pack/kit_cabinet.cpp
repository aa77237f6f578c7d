#include "pack/kit_cabinet.h"

#include <cstdint>

#include "pack/little_endian.h"
#include "payload/cabinet_text.h"
#include "shared/ansi_text.h"

namespace {

constexpr std::size_t kHeaderSize = 36;
constexpr std::size_t kFileHeaderSize = 16;
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

// As Windows compares file names: trailing dots and blanks dropped, ASCII letters folded.
std::string FoldedName(const std::string& name) {
    std::string folded = WithoutTrailingDotsAndBlanks(name);
    for (char& c : folded) c = FoldAsciiLetter(c);
    return folded;
}

}  // namespace

std::string CheckKitCabinet(const unsigned char* data, std::size_t size,
                            std::vector<std::string>& names) {
    names.clear();
    if (size < kHeaderSize || Read(data, 0, 4) != 0x4643534D) return "it is not a cabinet";
    if (Read(data, 8, 4) != size) return "its length is not the one its header states";
    const std::uint32_t flags = Read(data, 30, 2);
    if ((flags & (kPreviousFlag | kNextFlag)) != 0) {
        return "it is part of a cabinet set (continued in or from another cabinet)";
    }
    std::size_t at = Read(data, 16, 4);
    const std::uint32_t count = Read(data, 28, 2);
    if ((flags & kReserveFlag) != 0 && size < kHeaderSize + 4) return "its header is cut short";
    for (std::uint32_t i = 0; i < count; ++i) {
        if (at > size || size - at < kFileHeaderSize) return "its entry list is cut short";
        const std::uint32_t folder = Read(data, at + 8, 2);
        const std::uint32_t attributes = Read(data, at + 14, 2);
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
        if (FoldedName(name) == FoldedName(wanted)) return true;
    }
    return false;
}
