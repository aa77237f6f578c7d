// Installs the instrumentation layer around a stop and restart of its service, then runs the
// client module on the task profile.
#pragma once

#include <string>

#include "payload/own_names.h"
#include "shared/run_state.h"

// Returns 0 when the client module succeeded and its task is over, 3 otherwise; nothing is
// started (and 3 returned) when the payload is incomplete or the cleanup batch could not be
// written, and no client module when an earlier task's reboot.txt stays or BitLocker protection
// cannot be suspended.
int fn_Install(const char* text, const RunInputs& run, RunOutcome& outcome);

// Non-zero when the service "hwix" exists and is in any state but stopped.
int IsInstrumentationServiceRunning();

// 0 when StopHWIX.exe (as this run wrote it) was started with the verb and ended within the
// wait, else 5.
int RunServiceStopper(const char* verb, const RunInputs& run, FileLedger& files);

// 0 when the layer's Setup.exe (as this run wrote it) was started and ended within the wait,
// else 1.
int InstallInstrumentationLayer(const RunInputs& run, FileLedger& files);

// The client module's exit code once its task has ended, or 1 when this run did not write it, it
// could not be started, or its task is not over after its wait (it, or a process it started,
// still runs: every file is kept and `outcome.ProcessesLeft` counts them).
int RunClientModule(const char* text, const RunInputs& run, RunOutcome& outcome);

// 1 when the reboot marker was present (it is deleted), else 0.
int CheckRebootMarker();

// The client module for 64-bit or 32-bit Windows.
const char* ClientModuleFileName(bool windows64);

// The client module's command line: its quoted path, the profile option and the caller's text.
std::string ClientModuleCommandLine(const std::string& modulePath, const char* text);

// What stands in the trace log for the caller's text when it is withheld (`traced` null):
// " <N characters withheld>", or nothing when there is no text or it is shown.
std::string WithheldArguments(const char* text, const char* traced);
