// The optional trace log: every debug text of a run, in order, with the milliseconds since the
// start, and what the debug output never says (children's command lines and exit codes, payload
// entries written, the exit code). Written only when the package's settings ask for it.
#pragma once

#include <string>

// A record: "[<ms> ms] " and the text, its further lines indented; CR LF line ends.
std::string TraceRecord(unsigned long elapsedMilliseconds, const std::string& text);

// Starts collecting: from here every debug text is also a record.
void StartTraceLog();

// Adds a record of what the debug output does not show; marked with "* ".
void TraceText(const std::string& text);

// Opens <executable name>.trace.log in the working directory and writes what was collected;
// nothing when the log is off or the working directory is unresolved.
void OpenTraceLog();

// Closes the log for good (before the cleanup batch is started, so that it is complete then).
void CloseTraceLog();
