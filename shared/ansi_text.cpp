#include "shared/ansi_text.h"

namespace {
constexpr unsigned char kLowestTrailByte = 0x40;
}

std::string LastPathComponent(const std::string& path, LeadBytePredicate isLeadByte) {
    const std::size_t slash = FindLastAnsiByte(path, '\\', isLeadByte);
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool IsDoubleByteAt(const std::string& text, std::size_t i, LeadBytePredicate isLeadByte) {
    return i + 1 < text.size() && isLeadByte(static_cast<unsigned char>(text[i])) &&
           static_cast<unsigned char>(text[i + 1]) >= kLowestTrailByte;
}

std::size_t FindLastAnsiByte(const std::string& text, char wanted, LeadBytePredicate isLeadByte) {
    std::size_t found = std::string::npos;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == wanted) {
            found = i;
        } else if (IsDoubleByteAt(text, i, isLeadByte)) {
            ++i;
        }
    }
    return found;
}

namespace {

constexpr char32_t kHighestCodePoint = 0x10FFFF;
constexpr char32_t kFirstSurrogate = 0xD800;
constexpr char32_t kLastSurrogate = 0xDFFF;
constexpr char32_t kFirstSupplementary = 0x10000;

// The length of the sequence a lead byte starts; 0 for a byte that cannot start one.
int SequenceLength(unsigned char lead) {
    if (lead >= 0x01 && lead < 0x80) return 1;
    if (lead >= 0xC2 && lead < 0xE0) return 2;
    if (lead >= 0xE0 && lead < 0xF0) return 3;
    if (lead >= 0xF0 && lead < 0xF5) return 4;
    return 0;
}

// The bits of the code point that a lead byte of a sequence of this length carries.
char32_t LeadBits(unsigned char lead, int length) {
    constexpr unsigned char kMasks[] = {0, 0x7F, 0x1F, 0x0F, 0x07};
    return lead & kMasks[length];
}

// The smallest code point that needs a sequence of this length (shorter forms are overlong).
char32_t SmallestOfLength(int length) {
    return length == 2 ? 0x80 : length == 3 ? 0x800 : length == 4 ? 0x10000 : 0;
}

}  // namespace

bool DecodeUtf8(const std::string& bytes, std::wstring& text) {
    std::wstring decoded;
    for (std::size_t i = 0; i < bytes.size();) {
        const auto lead = static_cast<unsigned char>(bytes[i]);
        const int length = SequenceLength(lead);
        if (length == 0 || i + static_cast<std::size_t>(length) > bytes.size()) return false;
        char32_t codePoint = LeadBits(lead, length);
        for (int k = 1; k < length; ++k) {
            const auto next = static_cast<unsigned char>(bytes[i + k]);
            if ((next & 0xC0u) != 0x80u) return false;
            codePoint = (codePoint << 6) | (next & 0x3Fu);
        }
        if (codePoint < SmallestOfLength(length) || codePoint > kHighestCodePoint ||
            (codePoint >= kFirstSurrogate && codePoint <= kLastSurrogate)) {
            return false;
        }
        if (codePoint >= kFirstSupplementary) {
            codePoint -= kFirstSupplementary;
            decoded += static_cast<wchar_t>(kFirstSurrogate + (codePoint >> 10));
            decoded += static_cast<wchar_t>(0xDC00 + (codePoint & 0x3FFu));
        } else {
            decoded += static_cast<wchar_t>(codePoint);
        }
        i += static_cast<std::size_t>(length);
    }
    text = decoded;
    return true;
}
