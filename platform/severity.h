// What a message reports, as its sender knows it: the debug output shows only the text, the trace
// log the severity too (its viewers' type: 3 for a failure or a refusal, 2 for a warning, something
// ignored, 1 otherwise; never guessed from the text). No Windows header: the trace log's text
// functions, and their host tests, use it too.
#pragma once

namespace platform {

enum class Severity { kInformation = 1, kWarning = 2, kFailure = 3 };

}  // namespace platform
