// Unpacks one cabinet archive on disk into a destination folder through the platform's
// File Decompression Interface.
#pragma once

// Returns 1 when every file was extracted, 0 on any failure. The prefix is put in front of each
// entry name unchanged, so it ends in a backslash.
int ExtractCabinet(const char* cabinetPath, const char* destinationPrefix);
