// Lays the whole payload out in the current directory.
#pragma once

// The folder the instrumentation layer is unpacked into, relative to the working directory.
constexpr char kLayerFolder[] = ".\\hwixqmb";

// Returns 0 when every payload file is in place (and notes that the payload is complete), 2
// otherwise.
int fn_CreateInstallationFiles();

// True when every path the setup builds under the working directory fits a path buffer.
bool PayloadPathsFit();

// Silent, unconfirmed, permanent delete of a file or folder tree. Never reaches through a link:
// a link is removed itself where the platform allows it, else left, and so is a tree with such a
// link inside. Returns 1 on success.
int DeleteTree(const char* path);
