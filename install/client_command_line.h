// The client module's command line: which module, its arguments, and what the trace log shows
// of the caller's text.
#pragma once

#include <string>

// The client module for 64-bit or 32-bit Windows.
const char* ClientModuleFileName(bool windows64);

// The client module's command line: its quoted path, the profile option and the caller's text.
std::string ClientModuleCommandLine(const std::string& modulePath, const char* text);

// What stands in the trace log for the caller's text when it is withheld (`traced` null):
// " <N characters withheld>", or nothing when there is no text or it is shown.
std::string WithheldArguments(const char* text, const char* traced);
