// printf-style message texts without the runtime's formatter, whose code would be a tenth of the
// setup's: each %s or %d of the format takes the next argument, already in text form.
#pragma once

#include <initializer_list>
#include <string>

std::string FormatText(const char* format, std::initializer_list<std::string> arguments);
