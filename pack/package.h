// Building a task package from the template setup, and listing a package's payload.
#pragma once

#include "pack/pack_options.h"

// Each returns the process exit code: 0 on success, 1 on a failure already reported on stderr.
int BuildPackage(const PackOptions& options);
int ListPackage(const std::string& path);
// What a deployment system needs for the package: as text, or as one JSON object (`json`).
int PrintDeploymentSheet(const std::string& path, bool json);
