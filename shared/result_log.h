// The optional result log: the run's exit code beside the legend of all codes.
#pragma once

#include <string>

#include "shared/ansi_text.h"
#include "shared/run_state.h"

// The whole text of the log, lines ending in "\n" (CR LF in the file).
std::string ResultLogText(int result);

// The executable's file name with everything from its last dot on replaced by ".log".
std::string ResultLogFileName(const std::string& executableName, LeadBytePredicate isLeadByte);

// The executable's file name with everything from its last dot on replaced by ".trace.log".
std::string TraceLogFileName(const std::string& executableName, LeadBytePredicate isLeadByte);

// The name an earlier run's trace log is kept under: ".trace.lo_", as log viewers keep one.
std::string KeptTraceLogFileName(const std::string& executableName, LeadBytePredicate isLeadByte);

// The executable's file name up to its last dot.
std::string ExecutableStem(const std::string& executableName, LeadBytePredicate isLeadByte);

// Writes the log into the working directory, whole or not at all; silent on every failure.
void WriteResultLog(int result, const RunInputs& run);
