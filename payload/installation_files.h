// Lays the whole payload out in the current directory.
#pragma once

#include "shared/run_state.h"

// Returns 0 when every payload file is in place (and notes in `outcome` that the payload is
// complete), 2 otherwise. What was written is in `outcome.Files`; the BIOS image's name, unless it
// was refused, in `outcome.BiosImageName`.
int fn_CreateInstallationFiles(const RunInputs& run, RunOutcome& outcome);

// True when every path the setup builds under the working directory fits a path buffer.
bool PayloadPathsFit(const RunInputs& run);
