// Checks of the builder's inputs and outputs, each giving an error text (empty when it is good).
#pragma once

#include <string>
#include <vector>

#include "pack/pe_resources.h"
#include "shared/package_settings.h"

// The file is well-formed XML whose document element is `rootName` and, when given, carries
// `requiredAttribute`.
std::string CheckXmlRoot(const std::string& path, const wchar_t* rootName,
                         const wchar_t* requiredAttribute);

// The bytes are a complete setup with a payload store (every entry the setup needs is present);
// `entries` gets its payload entries and `machine`, when given, its machine type.
std::string CheckSetupBytes(const std::string& path, const unsigned char* data,
                            unsigned long long size, std::vector<PeResource>& entries,
                            std::uint16_t* machine = nullptr);

// A setup's own settings as the setup reads them, from its settings entry (`settings` keeps the
// defaults when there is none or it cannot be read).
enum class SettingsEntry { kNone, kRead, kUnreadable };
SettingsEntry ReadSettingsEntry(const unsigned char* data, const std::vector<PeResource>& entries,
                                PackageSettings& settings);

// A kit cabinet passes the setup's extraction rules and, for the client-module and layer
// cabinets, holds the program the setup starts.
std::string CheckKitCabinetFile(const std::string& path, const std::string& kitName,
                                const unsigned char* data, unsigned long long size);

// Unpacks a kit cabinet into `folder` (which ends in a backslash) as the setup will, and checks
// that the program the setup starts from it is one Windows starts: a whole executable (headers
// and every section inside the file), not a DLL, for the Windows GUI or console subsystem, and
// for the machine where that variant is used: x86 in the 32-bit variants; x86-64 in the 64-bit
// variants of the 64-bit setup (its PCs may have no WOW64); either in the 64-bit variants of the
// 32-bit setup. What it unpacked is removed again.
std::string CheckKitProgram(const std::string& path, const std::string& kitName,
                            const std::string& folder, bool template64);

// True when both paths name one file, as Windows compares names (or, when both exist, when they
// are the same file under two names).
bool SameFile(const std::string& a, const std::string& b);
