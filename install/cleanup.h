// The self-removing cleanup batch: written early, started as the setup's very last act.
#pragma once

#include <functional>
#include <string>

#include "payload/own_names.h"
#include "shared/ansi_text.h"
#include "shared/run_state.h"

class TraceLog;

using NamePredicate = std::function<bool(const std::string& name)>;

// The batch text for working directory W and the image name, both in the code page the batch is
// written in. Lines end in CR LF; a `%` is doubled; an image name that is not a plain file name
// gives no line for the image, and neither does a name for which `isLeftAlone` holds (a link that
// the interpreter's delete would follow to its target).
std::string CleanupBatchText(const std::string& workingDirectory, const std::string& imageName,
                             LeadBytePredicate isLeadByte, NamePredicate isLeftAlone = nullptr);

// The environment variables that hold the batch's full path and, for a stage folder, the
// folder's, for the interpreter.
constexpr char kCleanupBatchVariable[] = "SETUP_CLEANUP_BATCH";
constexpr char kCleanupFolderVariable[] = "SETUP_CLEANUP_FOLDER";

// The interpreter's command line for the batch in the working directory W. Never with W itself in
// it, where the interpreter would expand a % of W: the bare batch name for a drive path, W being
// the interpreter's current directory; for a UNC path, where the interpreter does not keep W as its
// current directory, the full path taken from kCleanupBatchVariable, which it expands once. For a
// package's own stage folder W, started from the folder above (no process's current directory can
// be removed), the full path too, and once the batch has ended and no longer holds its own file,
// W goes when nothing else is left in it. No AutoRun commands (/d), no delayed expansion of a !
// in a name (/v:off).
std::string CleanupCommandLine(const std::string& workingDirectory, bool removesFolder = false);

// Writes delzrph.bat into the working directory, replacing an older one, read-only or not. A batch
// that cannot be written whole (a full disk) is deleted at once.
void WriteCleanupBatch(const RunInputs& run, RunOutcome& outcome);

// Deletes, from within the setup, every file this run wrote and the layer folder: for a run
// whose cleanup batch could not be written, so that a full disk is not left full.
void RemoveWrittenFiles(FileLedger& files);

// Ends the run's files: for a pending restart they stay and the PC is marked (no other BIOS task
// runs until the restart); while a program of the run still runs, what it may use stays (every
// file, for the client module); otherwise the cleanup batch is started hidden, holding the
// machine lock, and not waited for (`traceLog` is closed before it runs). Nothing is started when
// this run did not write the batch.
void fn_Cleanup(const RunInputs& run, RunOutcome& outcome, TraceLog& traceLog);
