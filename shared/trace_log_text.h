// The trace log's records, in the format administrators' log viewers read: text only, no platform.
#pragma once

#include <string>

#include "platform/severity.h"

// When and by which thread a record was made, as the platform reports it.
struct TraceStamp {
    unsigned year = 0, month = 0, day = 0;
    unsigned hour = 0, minute = 0, second = 0, milliseconds = 0;
    long biasMinutes = 0;  // UTC minus local time, in minutes
    unsigned long threadId = 0;
};

// A record: <![LOG[text]LOG]!><time="HH:mm:ss.fff+BBB" date="MM-dd-yyyy" component="NAME"
// context="" type="T" thread="TID" file=""> and CR LF; the text's further lines stay inside the
// brackets, with CR LF line ends.
std::string TraceRecord(const std::string& component, const TraceStamp& stamp,
                        const std::string& text, platform::Severity type);
