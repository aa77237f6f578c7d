// Unpacks one cabinet archive on disk into a destination folder through the platform's
// File Decompression Interface.
#pragma once

#include "shared/run_state.h"

// Returns 1 when every file was extracted, 0 on any failure. The prefix is put in front of each
// entry name unchanged, so it ends in a backslash. Every entry written whole, and every folder
// made for one, is recorded in `files`.
int ExtractCabinet(const char* cabinetPath, const char* destinationPrefix, FileLedger& files);
