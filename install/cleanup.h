// The self-removing cleanup batch: written early, started as the setup's very last act.
#pragma once

#include <string>

#include "setup/ansi_text.h"

constexpr char kCleanupBatchName[] = "delzrph.bat";

// The batch text for working directory W and the image name (ANSI). Lines end in CR LF; a `%`
// is doubled; an image name that is not a plain file name gives no line for the image.
std::string CleanupBatchText(const std::string& workingDirectory, const std::string& imageName,
                             LeadBytePredicate isLeadByte);

// Writes delzrph.bat into the working directory, replacing an older one.
void WriteCleanupBatch();

// Starts the batch hidden, at idle priority, and returns without waiting; nothing is started
// while a reboot is pending.
void fn_Cleanup();
