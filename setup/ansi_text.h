// Searches in narrow ANSI text that do not mistake the second byte of a double-byte
// character (such as 0x5C in code page 932) for the byte searched for.
#pragma once

#include <string>

using LeadBytePredicate = bool (*)(unsigned char);

// Position of the last `wanted` byte that is not the trail byte of a double-byte character,
// or std::string::npos.
std::size_t FindLastAnsiByte(const std::string& text, char wanted, LeadBytePredicate isLeadByte);
