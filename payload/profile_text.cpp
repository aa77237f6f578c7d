#include <cstring>

#include "payload/profile_reader.h"
#include "shared/ansi_text.h"
#include "shared/device_names.h"

namespace {
constexpr wchar_t kFlashType[] = L"flash";
constexpr char kForbiddenNameBytes[] = "<>:\"/\\|?*";
}  // namespace

bool IsFlashCommandType(const std::wstring& type) {
    constexpr std::size_t kLength = sizeof kFlashType / sizeof kFlashType[0] - 1;
    if (type.size() != kLength) return false;
    for (std::size_t i = 0; i < kLength; ++i) {
        if (FoldAsciiLetter(type[i]) != kFlashType[i]) return false;
    }
    return true;
}

bool IsPlainFileName(const std::string& ansiName, LeadBytePredicate isLeadByte) {
    if (ansiName.empty() || ansiName == "." || ansiName == "..") return false;
    for (std::size_t i = 0; i < ansiName.size(); ++i) {
        if (IsDoubleByteAt(ansiName, i, isLeadByte)) {
            ++i;  // a trail byte (even 0x5C) is part of its character
            continue;
        }
        unsigned char c = static_cast<unsigned char>(ansiName[i]);
        if (c < 32 || std::strchr(kForbiddenNameBytes, c) != nullptr) return false;
    }
    return !IsDeviceName(ansiName);
}
