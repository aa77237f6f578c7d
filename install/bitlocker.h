// BitLocker protection of the system drive around a task that needs a restart: a BIOS update
// changes what the TPM measures, and the restart after it would stop at the recovery screen.
// Protection is suspended for exactly one restart right before the client module starts, and
// resumed at once when no restart follows. Through the platform's manage-bde.exe, whose exit
// codes say the same in every language.
#pragma once

#include "shared/run_state.h"

// Suspends protection of the system drive for one restart when it is on. True when the client
// module may start: protection is off, was suspended (`suspended` set), or this Windows cannot
// suspend for one restart only (a warning record; nothing is changed). False, after a debug text
// that says why, when the status cannot be read or protection cannot be suspended.
bool SuspendBitLockerForOneRestart(const RunInputs& run, bool& suspended);

// After the client module: protection this run suspended stays suspended for the pending restart
// (or while the client module still runs, which may still be flashing); otherwise it is resumed
// at once. True when it stays suspended.
bool KeepOrResumeBitLocker(const RunInputs& run, bool rebootPending, bool clientStillRuns);
