// The registry record of the last run, for the detection rules of deployment systems: the BIOS
// reports its new version only after the restart, so a rule reads what the setup wrote instead.
// It is opened when the client module starts and finished when the run ends, so that a run that
// was killed on the way leaves a record without `Finished`.
#pragma once

#include "shared/run_state.h"

// The run's exit code, which detection rules read.
constexpr char kRecordExitCodeValue[] = "ExitCode";

// Right before the client module starts: replaces the last run's values by Started, Package and
// (when the package suspends BitLocker) BitLockerSuspended. Sets `outcome.RecordOpened`.
void OpenResultRecord(const RunInputs& run, RunOutcome& outcome);

// At the end of the run: ExitCode, RebootPending, ProcessesLeft, Package, BitLockerSuspended (when
// the package suspends BitLocker), TraceLogCut (when the trace log ended early), Model (the PC's
// product name, for a package with models), AlreadyCurrent (for a package with a BIOS version),
// BIOSVersionBefore (for either) and, last, Finished; the last run's values go first when the
// record was not opened. In the 64-bit view on 64-bit Windows; nothing when the package has no
// key. A failure is a trace record and changes nothing else.
void WriteResultRecord(int exitCode, const RunInputs& run, const RunOutcome& outcome);
