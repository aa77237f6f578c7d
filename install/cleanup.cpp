#include "install/cleanup.h"

#include <cstring>
#include <iterator>

#include "install/restart_mark.h"
#include "payload/stage_folder.h"
#include "platform/code_pages.h"
#include "platform/debug_output.h"
#include "platform/own_files.h"
#include "platform/process_launcher.h"
#include "platform/system_facts.h"
#include "shared/file_names.h"
#include "shared/run_state.h"
#include "shared/trace_log.h"

namespace {
constexpr char kCleanupMessage[] = "fn_Cleanup";
constexpr DWORD kBatchFileFlags = FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN;
constexpr char kInterpreterFile[] = "cmd.exe";
constexpr char kRemovedBySetup[] =
    "cleanup batch not started: the setup removed the other files of this run itself";
constexpr char kBatchPathTooLong[] =
    "cleanup batch not started: its path or the interpreter's is too long";
constexpr char kBatchVariableNotSet[] =
    "cleanup batch not started: its path cannot be handed on, error ";

// A name of the batch (in the OEM code page) that is a link in the working directory: the
// interpreter's delete could reach its target, so the batch leaves it alone.
bool IsLinkInWorkingDirectory(const std::wstring& workingDirectory, const std::string& oemName) {
    return platform::IsLink(workingDirectory + L'\\' + platform::FromOem(oemName));
}

// The batch text in the code page given, from the exact names of W and the image; empty when the
// working directory has no exact name there (it is then unresolved and no batch is written).
std::string CleanupBatchTextIn(bool oem, const RunInputs& run, const std::wstring& imageName) {
    std::string directory;
    std::string image;
    const std::wstring wideDirectory = platform::FromAnsi(run.WorkingDirectory);
    if (!oem) {
        if (!platform::ToAnsiExactly(wideDirectory, directory)) return {};
        // An image name without an exact name was refused and never written.
        if (!platform::ToAnsiExactly(imageName, image)) image.clear();
        return CleanupBatchText(directory, image, platform::IsAnsiLeadByte);
    }
    if (!platform::ToOemExactly(wideDirectory, directory)) return {};
    if (!platform::ToOemExactly(imageName, image)) image.clear();
    return CleanupBatchText(directory, image, platform::IsOemLeadByte,
                            [&wideDirectory](const std::string& name) {
                                return IsLinkInWorkingDirectory(wideDirectory, name);
                            });
}

// True when the batch has a line for a file of this run (as ComparableName gives it): the layer
// folder and what lies in it, the batch's own names and the BIOS image.
bool IsNamedByBatch(const std::wstring& file, const std::wstring& imageName) {
    if (IsOrLiesIn(file, kLayerFolderName)) return true;
    struct NameList {
        const char* const* names;
        std::size_t count;
    };
    for (const NameList& list : {NameList{kFilesBeforeImage, std::size(kFilesBeforeImage)},
                                 NameList{kFilesAfterImage, std::size(kFilesAfterImage)},
                                 NameList{kFilesAfterLayer, std::size(kFilesAfterLayer)}}) {
        for (std::size_t i = 0; i < list.count; ++i) {
            const char* name = list.names[i];
            if (file == ComparableName(std::wstring(name, name + std::strlen(name)))) {
                return true;
            }
        }
    }
    return !imageName.empty() && file == ComparableName(imageName);
}

// Removes the files this run wrote and the folders it made for them, from its own record of
// them (wide names, so also those without a form in the system's code pages); all of them, or
// only those the batch has no line for. What a still running program may use stays.
// With `imageName` null, all of them, and the files are forgotten once removed.
void RemoveFilesOfThisRun(FileLedger& files, const std::wstring* imageName) {
    const bool onlyThoseTheBatchMisses = imageName != nullptr;
    bool wroteIntoLayerFolder = false;
    for (const std::wstring& file : files.files()) {
        const std::wstring comparable = ComparableName(file);
        if (files.isKept(file)) continue;
        wroteIntoLayerFolder |= IsOrLiesIn(comparable, kLayerFolderName);
        if (onlyThoseTheBatchMisses && IsNamedByBatch(comparable, *imageName)) continue;
        platform::RemoveOwnFile(file);
    }
    // Deepest first; a folder that still holds something (another's file) stays.
    for (auto folder = files.folders().rbegin(); folder != files.folders().rend(); ++folder) {
        if (files.isKept(*folder) || IsOrLiesIn(ComparableName(*folder), kLayerFolderName)) {
            continue;
        }
        platform::RemoveEmptyFolder(*folder);
    }
    if (onlyThoseTheBatchMisses) return;
    files.clear();
    if (wroteIntoLayerFolder && !files.isKept(kLayerFolderName)) {
        platform::DeleteTree(kLayerFolderName);
    }
}

// The folder that holds `folder` (a drive path); a drive's root keeps its backslash.
std::string FolderAbove(const std::string& folder) {
    std::string above = folder.substr(0, folder.rfind('\\'));
    if (above.size() == 2) above += '\\';
    return above;
}

// Starts the batch hidden, holding the machine lock until it has removed the files and itself;
// the setup does not wait for it. True when it was started. Its start is in the trace log, which is
// complete before the batch runs.
bool StartCleanupBatch(const RunInputs& run, TraceLog& traceLog) {
    std::string batchPath = WorkingPath(run, kCleanupBatchName);
    std::string interpreter = platform::SystemFilePath(kInterpreterFile);
    if (batchPath.empty() || interpreter.empty()) {
        TraceText(kBatchPathTooLong, platform::Severity::kFailure);
        return false;
    }
    const bool staged = !run.StageDirectory.empty();
    // The interpreter inherits them.
    DWORD error = platform::SetInheritedVariable(kCleanupBatchVariable, batchPath);
    if (error == 0 && staged) {
        error = platform::SetInheritedVariable(kCleanupFolderVariable, run.WorkingDirectory);
    }
    if (error != 0) {
        TraceText(std::string(kBatchVariableNotSet) + std::to_string(error),
                  platform::Severity::kFailure);
        return false;
    }
    platform::ChildProcess batch;
    const std::string commandLine = CleanupCommandLine(run.WorkingDirectory, staged);
    const std::string currentDirectory =
        staged ? FolderAbove(run.WorkingDirectory) : run.WorkingDirectory;
    platform::ChildStart how;
    how.inherited = run.MachineLockHandle;
    how.suspended = true;  // until the trace log is closed and the stage folder left
    if (!batch.start(interpreter.c_str(), commandLine, currentDirectory.c_str(), how)) {
        TraceText("cleanup batch not started, error " + std::to_string(batch.error()),
                  platform::Severity::kFailure);
        return false;
    }
    TraceText("cleanup batch started: " + interpreter + " " + commandLine);
    traceLog.close();
    // The batch removes the stage folder last, which the setup's current directory would hold.
    if (staged) StepOutOfStageFolder();
    batch.resume();
    return true;
}
}  // namespace

void WriteCleanupBatch(const RunInputs& run, RunOutcome& outcome) {
    std::string path = WorkingPath(run, kCleanupBatchName);
    if (path.empty()) return;
    // The interpreter reads the file in the OEM code page; the debug output and the trace log
    // hold ANSI text, as every other record does.
    std::string text = CleanupBatchTextIn(true, run, outcome.BiosImageName);
    if (text.empty()) return;
    platform::DebugText(CleanupBatchTextIn(false, run, outcome.BiosImageName));
    if (platform::WriteNewFile(path.c_str(), text.data(), static_cast<DWORD>(text.size()),
                               kBatchFileFlags) == platform::NewFileResult::kWritten) {
        outcome.CleanupBatchWritten = true;
    }
}

void RemoveWrittenFiles(FileLedger& files) {
    RemoveFilesOfThisRun(files, nullptr);
}

void fn_Cleanup(const RunInputs& run, RunOutcome& outcome, TraceLog& traceLog) {
    platform::DebugText(kCleanupMessage);
    // The files stay for the task to go on after the restart, or under a task that is not over.
    if (outcome.RebootPending || outcome.ProcessesLeft != 0) {
        WriteRestartMark(run, outcome);
        return;
    }
    // Only a batch this run wrote: a leftover or planted one is never started.
    if (!outcome.CleanupBatchWritten) return;
    FileLedger& files = outcome.Files;
    // Nothing is deleted under a program that still runs; once it has ended and released the
    // lock, a later run in this folder replaces and removes what stayed.
    if (files.anyKept()) {
        // The batch names every file; the setup removes all but the kept ones itself.
        RemoveWrittenFiles(files);
        platform::RemoveOwnFile(WorkingPath(run, kCleanupBatchName).c_str());
        TraceText(kRemovedBySetup);
        return;
    }
    // What the batch has no line for (extra kit entries, names without a form in its code page)
    // goes now, after the last child has ended.
    RemoveFilesOfThisRun(files, &outcome.BiosImageName);
    outcome.CleanupBatchStarted = StartCleanupBatch(run, traceLog);
}
