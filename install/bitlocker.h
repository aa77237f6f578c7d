// BitLocker protection of the system drive around a task that needs a restart: a BIOS update
// changes what the TPM measures, and the restart after it would stop at the recovery screen.
// The status is read before anything is installed; protection is suspended for exactly one
// restart right before the client module starts, and resumed at once when no restart follows.
// Through the platform's manage-bde.exe, whose exit codes say the same in every language; a call
// that does not answer within its wait is ended with all it started.
#pragma once

#include "shared/run_state.h"

// Before the payload is written: whether protection is on and is to be suspended for the task
// (`toSuspend`). True when the task may go on: protection is off or on, or nothing is to be done
// here (Windows before 8 cannot suspend for one restart only; Windows PE runs from a RAM disk),
// which a warning record says. False, after a debug text that says why, when the status cannot
// be read.
bool ReadBitLockerProtection(const RunInputs& run, bool& toSuspend);

// Right before the client module: suspends protection, found on, for one restart. True when it
// is suspended. False, after a debug text, when it could not be; a tool that was ended before it
// answered may have suspended all the same: the status is read again and a suspension found is
// resumed. `suspended` says whether protection is left suspended.
bool SuspendBitLockerForOneRestart(const RunInputs& run, bool& suspended);

// After the client module: protection this run suspended stays suspended for the pending restart
// (or while the task is not over, which may still be flashing); otherwise it is resumed at once.
// True when it stays suspended.
bool KeepOrResumeBitLocker(const RunInputs& run, bool rebootPending, bool taskNotOver);
