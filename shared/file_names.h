// The one rule by which the setup and its builder compare file names and relative paths: as
// Windows opens them.
#pragma once

#include <string>

#include "shared/ansi_text.h"

// The form Windows opens: no ".\" in front, '/' read as '\', trailing dots and blanks dropped,
// ASCII letters without case (every name compared against is ASCII). In narrow text the trail
// bytes of double-byte characters stay as they are (`isLeadByte` null: no double-byte characters).
std::string ComparableName(const std::string& name, LeadBytePredicate isLeadByte = nullptr);
std::wstring ComparableName(const std::wstring& name);

// True when `comparablePath` is `comparableName` or lies inside it (both as ComparableName gives
// them); or `name`, ASCII, a file or folder of the working directory.
bool IsOrLiesIn(const std::wstring& comparablePath, const std::wstring& comparableName);
bool IsOrLiesIn(const std::wstring& comparablePath, const std::string& name);
