// Searches in narrow ANSI text that do not mistake the second byte of a double-byte
// character (such as 0x5C in code page 932) for the byte searched for.
#pragma once

#include <string>

using LeadBytePredicate = bool (*)(unsigned char);

// True when the byte at `i` starts a double-byte character: a lead byte followed by a byte that
// can be a trail byte (0x40 and above). A lead byte before a control byte, a blank or a
// punctuation byte below 0x40 stands alone, so that byte is never hidden from a check.
bool IsDoubleByteAt(const std::string& text, std::size_t i, LeadBytePredicate isLeadByte);

// An ASCII capital as its small letter; every other character, narrow or wide, as it is: the one
// case fold of names that Windows and the firmware compare without regard to ASCII case.
template <typename Char>
Char FoldAsciiLetter(Char c) {
    return c >= Char('A') && c <= Char('Z') ? static_cast<Char>(c - Char('A') + Char('a')) : c;
}

// The last component of an ANSI path (after its last '\\' that is no trail byte).
std::string LastPathComponent(const std::string& path, LeadBytePredicate isLeadByte);

// Position of the last `wanted` byte that is not the trail byte of a double-byte character,
// or std::string::npos.
std::size_t FindLastAnsiByte(const std::string& text, char wanted, LeadBytePredicate isLeadByte);

// The UTF-16 form of UTF-8 text (one wide character a UTF-16 unit); false when the bytes are not
// valid UTF-8 (overlong forms, surrogates, code points beyond U+10FFFF, cut sequences, NUL).
bool DecodeUtf8(const std::string& bytes, std::wstring& text);
