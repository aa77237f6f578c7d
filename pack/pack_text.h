// Texts the builder shows.
#pragma once

#include <string>

// Control characters of a text shown as escapes (\x00, \r), so that a message stays one readable
// line.
std::string Escaped(const std::string& text);
