// Names that Windows takes for a device rather than a file, in any folder.
#pragma once

#include <string>

// True when one path component names a device: CON, CONIN$, CONOUT$, NUL, AUX, PRN, COM1-COM9 or
// LPT1-LPT9, in any case, with any extension, and with blanks before the extension or trailing
// dots (Windows ignores both).
bool IsDeviceName(const std::string& component);
