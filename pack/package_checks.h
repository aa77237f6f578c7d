// Checks of the builder's inputs, each giving an error text (empty when the input is good).
#pragma once

#include <string>
#include <vector>

// Reads a whole file; false when it cannot be read.
bool ReadWholeFile(const std::string& path, std::vector<char>& bytes);

// The file is well-formed XML whose document element is `rootName` and, when given, carries
// `requiredAttribute`.
std::string CheckXmlRoot(const std::string& path, const wchar_t* rootName,
                         const wchar_t* requiredAttribute);

// The file is a setup with a payload store: every entry the setup writes is present.
std::string CheckTemplate(const std::string& path);
