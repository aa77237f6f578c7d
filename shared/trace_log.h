// The optional trace log: every debug text of a run, in order, and what the debug output never
// says (children's command lines and exit codes, payload entries written, the exit code), in the
// record format that administrators' log viewers read. Written only when the package's settings
// ask for it.
#pragma once

#include <string>

#include "shared/run_state.h"

// When and by which thread a record was made, as the platform reports it.
struct TraceStamp {
    unsigned year = 0, month = 0, day = 0;
    unsigned hour = 0, minute = 0, second = 0, milliseconds = 0;
    long biasMinutes = 0;  // UTC minus local time, in minutes
    unsigned long threadId = 0;
};

// The viewers' severity of a record, as the code that made it knows it: 3 for a failure or a
// refusal, 2 for a warning (something ignored), 1 otherwise. Never guessed from the text.
enum class TraceRecordType { kInformation = 1, kWarning = 2, kError = 3 };

// A record: <![LOG[text]LOG]!><time="HH:mm:ss.fff+BBB" date="MM-dd-yyyy" component="NAME"
// context="" type="T" thread="TID" file=""> and CR LF; the text's further lines stay inside the
// brackets, with CR LF line ends.
std::string TraceRecord(const std::string& component, const TraceStamp& stamp,
                        const std::string& text, TraceRecordType type);

// Starts collecting: from here every debug text is also a record.
void StartTraceLog();

// Adds a record of what the debug output does not show; marked with "* ".
void TraceText(const std::string& text, TraceRecordType type = TraceRecordType::kInformation);

// Opens <executable name>.trace.log in the package's trace log folder or, where that cannot be
// used, in the working directory, and writes what was collected; nothing when the log is off or
// the working directory is unresolved.
void OpenTraceLog(const RunInputs& run);

// Closes the log for good (before the cleanup batch is started, so that it is complete then).
void CloseTraceLog();
