// Code page family: text between wide characters and the system's ANSI, OEM and UTF-8 forms.
#pragma once

#include <windows.h>

#include <string>

namespace platform {

// The ANSI code page's lead-byte test, for multibyte-aware searches in paths.
inline bool IsAnsiLeadByte(unsigned char byte) {
    return IsDBCSLeadByte(byte) != FALSE;
}

// The OEM code page's lead-byte test: the command interpreter reads batch files in it.
inline bool IsOemLeadByte(unsigned char byte) {
    return IsDBCSLeadByteEx(CP_OEMCP, byte) != FALSE;
}

// Converts wide text to the ANSI code page; a character the code page lacks becomes its default
// character, never a lookalike.
std::string ToAnsi(const std::wstring& text);

// Converts wide text to the ANSI (or OEM) code page only when every character has its own
// encoding there: no lookalike, no default character. False otherwise.
bool ToAnsiExactly(const std::wstring& text, std::string& converted);
bool ToOemExactly(const std::wstring& text, std::string& converted);

// Converts ANSI (or OEM) text to wide characters.
std::wstring FromAnsi(const std::string& text);
std::wstring FromOem(const std::string& text);

// Wide text as UTF-8.
std::string ToUtf8(const std::wstring& text);

}  // namespace platform
