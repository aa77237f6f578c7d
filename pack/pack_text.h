// Texts the builder shows.
#pragma once

#include <string>

// Control characters of a text shown as escapes (\x00, \r), so that a message stays one readable
// line.
std::string Escaped(const std::string& text);

// The last component of a path (after its last '\\', '/' or drive ':').
std::string FileNameOf(const std::string& path);

// What comes before that component, as given: empty for a bare name.
std::string FolderOf(const std::string& path);
