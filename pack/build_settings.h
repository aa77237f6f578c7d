// The package settings a build asks for, from its settings file and its options, checked by the
// rules the setup reads them with; each refusal is one line that names its cause.
#pragma once

#include <string>

#include "pack/pack_options.h"
#include "shared/package_settings.h"

// True when the command line gives any setting: the package's settings are then the command
// line's, as a whole.
bool GivesSettings(const PackOptions& options);

// The settings the command line asks for (its settings file, then its options); empty when they
// were taken into `settings`, else why not.
std::string SettingsFromOptions(const PackOptions& options, PackageSettings& settings);

// Why the stage or trace log folder is not a plain folder path, whatever gave it; empty when both
// are.
std::string FolderSettingsFault(const PackageSettings& settings);
