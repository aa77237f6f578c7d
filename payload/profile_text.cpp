#include "payload/profile_reader.h"
#include "shared/ansi_text.h"

namespace {
constexpr wchar_t kFlashType[] = L"flash";
}  // namespace

bool IsFlashCommandType(const std::wstring& type) {
    constexpr std::size_t kLength = sizeof kFlashType / sizeof kFlashType[0] - 1;
    if (type.size() != kLength) return false;
    for (std::size_t i = 0; i < kLength; ++i) {
        if (FoldAsciiLetter(type[i]) != kFlashType[i]) return false;
    }
    return true;
}
