// The package's own platform check: the PC models it is for, and the BIOS version that makes its
// task needless.
#pragma once

#include "shared/run_state.h"

// Reads the PC's names and BIOS version from the firmware's key, for a package that has models
// or a BIOS version; a package with neither reads nothing.
void ReadPcIdentity(RunInputs& run);

// 0 when the package has no models or the PC is one of them, else 1 (the platform is not one the
// package supports), each said on the debug output.
int fn_CheckModel(const RunInputs& run);

// True when the PC already has the package's BIOS version: the task is not run.
bool fn_CheckBIOSVersion(const RunInputs& run);
