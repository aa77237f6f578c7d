// The setup driver's platform steps.
#pragma once

#include <string>

#include "shared/run_state.h"

// 0 when the platform is supported (NT line, version 5 or later), else 1; then sets the run's
// Windows version and whether it is 64-bit Windows.
int fn_CheckOS(RunInputs& run);

// True when this process runs on 64-bit Windows: the one answer both builds read to pick the
// 64-bit payload variants.
bool Is64BitWindows();
