// Checks of a kit cabinet before it goes into a package, by the rules the setup applies when it
// extracts it, read from the cabinet's own headers with every structure checked to lie inside it.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

// Empty when the bytes are one whole cabinet (not continued in or from another one) whose entries
// are plain names that stay inside their destination and name no device (a name marked UTF-8 must
// be valid UTF-8); else the reason. `names` gets the entries' names as stored.
std::string CheckKitCabinet(const unsigned char* data, std::size_t size,
                            std::vector<std::string>& names);

// True when `names` holds `wanted`, compared as Windows compares file names.
bool HoldsEntry(const std::vector<std::string>& names, const std::string& wanted);
