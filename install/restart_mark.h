// The mark of a PC that waits for the restart a BIOS task asked for: until the restart, no BIOS
// task may run there. A volatile registry key, which the platform drops at restart.
#pragma once

#include <string>

#include "shared/run_state.h"

// Where the mark lives under HKEY_LOCAL_MACHINE: beside the result records, not among them.
constexpr char kRestartMarkKey[] = "SOFTWARE\\Corvane\\BIOS task restart pending";
// The mark's value that names the package (its file name) whose task waits for the restart.
constexpr char kMarkPackageValue[] = "Package";

// Which run asked for the restart, and why.
struct RestartMark {
    std::string package;  // the package's file name
    std::string folder;   // its working directory, where its files wait
    std::string marked;   // when, UTC, "YYYY-MM-DDTHH:MM:SSZ"
    std::string reason;   // its client module asked for it, or its task was not over
};

// True, with `mark` filled, when the PC waits for a restart. `windows64` reads the 64-bit view,
// the one every flavour of the setup writes on 64-bit Windows.
bool FindRestartMark(bool windows64, RestartMark& mark);

// Marks the PC for this run, whose client module asked for a restart or whose task is not over;
// a mark that cannot be written is a trace record and changes nothing else.
void WriteRestartMark(const RunInputs& run, const RunOutcome& outcome);
