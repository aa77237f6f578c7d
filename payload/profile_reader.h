// Reads the BIOS image name from the task profile.
#pragma once

#include <string>

#include "shared/ansi_text.h"

// The name the BIOS image is written under when the profile has no flash command.
constexpr wchar_t kDefaultImageName[] = L"Flash.hdr";

// The first command of type "flash" under root, if any, and its `image` text (empty when absent).
struct FlashCommand {
    bool found = false;
    std::wstring image;
};

// Reads the first flash command of a profile; false when it cannot be loaded or queried.
bool ReadFlashCommand(const char* profilePath, FlashCommand& flash);

// Sets `name` to "Flash.hdr", then to the `image` text of the first command of type "flash"
// under root (empty when it has none). False when the profile cannot be loaded or queried.
bool GetBiosImageName(const char* profilePath, std::wstring& name);

// The command kind that names the image, compared with ASCII letters folded only.
bool IsFlashCommandType(const std::wstring& type);
