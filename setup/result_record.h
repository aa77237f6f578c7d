// The registry record of the last run, for the detection rules of deployment systems: the BIOS
// reports its new version only after the restart, so a rule reads what the setup wrote instead.
#pragma once

#include <string>

#include "shared/run_state.h"

// Writes ExitCode, RebootPending, Finished and Package (and BitLockerSuspended when the package
// suspends BitLocker) under the package's result key (in the 64-bit view on 64-bit Windows);
// nothing when the package has no key. A failure is a trace record and changes nothing else.
void WriteResultRecord(int exitCode, const RunInputs& run, const RunOutcome& outcome);
