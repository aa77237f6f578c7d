// Lays the whole payload out in the current directory.
#pragma once

// The folder the instrumentation layer is unpacked into, relative to the working directory.
constexpr char kLayerFolder[] = ".\\hwixqmb";

// Returns 0 when every payload file is in place (and notes that the payload is complete), 2
// otherwise.
int fn_CreateInstallationFiles();

// True when every path the setup builds under the working directory fits a path buffer.
bool PayloadPathsFit();
