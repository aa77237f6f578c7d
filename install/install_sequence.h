// Installs the instrumentation layer around a stop and restart of its service, then runs the
// client module on the task profile.
#pragma once

#include <string>

#include "shared/run_state.h"

// Returns 0 when the client module succeeded and its task is over, 3 otherwise; nothing is
// started (and 3 returned) when the payload is incomplete or the cleanup batch could not be
// written, and no client module when an earlier task's reboot.txt stays or BitLocker protection
// cannot be suspended.
int fn_Install(const char* text, const RunInputs& run, RunOutcome& outcome);
