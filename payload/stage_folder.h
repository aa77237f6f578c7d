// The package's stage folder: where the payload is laid out, instead of the current directory,
// when the package names one (a deployment system's cache may be emptied before a task that goes
// on after a restart has ended).
#pragma once

#include "shared/run_state.h"

// Makes <stage folder>\<package name without extension> the current directory, so that every rule
// of the working directory holds there. Each of the two is made with an access list of its own
// when missing (so are missing folders above the stage folder), and used only when it is a
// folder, not a link, and safe (UnsafeFolderReason). False, with a debug text that says why, when
// it cannot be; nothing of the package has been written then.
bool EnterStageFolder(RunInputs& run);

// Makes the drive's root the current directory: no process's current directory can be removed.
void StepOutOfStageFolder();

// Steps out of the package's folder and removes it when the run left nothing in it: for a run
// whose cleanup batch was not started (which otherwise removes it), never while one runs.
void RemoveEmptyStageFolder(const RunInputs& run);
