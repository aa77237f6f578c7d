#include "install/cleanup.h"

#include <cstring>
#include <iterator>

#include "install/restart_mark.h"
#include "payload/installation_files.h"
#include "platform/code_pages.h"
#include "platform/debug_output.h"
#include "platform/own_files.h"
#include "platform/process_launcher.h"
#include "platform/system_facts.h"
#include "shared/setup_state.h"
#include "shared/trace_log.h"

namespace {
constexpr char kCleanupMessage[] = "fn_Cleanup";
constexpr DWORD kBatchFileFlags = FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN;
constexpr char kInterpreterFile[] = "cmd.exe";
constexpr char kFilesKept[] =
    "cleanup batch not started: the files of this run stay while its programs run";
constexpr char kRemovedBySetup[] =
    "cleanup batch not started: the setup removed the other files of this run itself";

// A name of the batch (in the OEM code page) that is a link in the working directory: the
// interpreter's delete could reach its target, so the batch leaves it alone.
bool IsLinkInWorkingDirectory(const std::string& oemName) {
    return platform::IsLink(platform::FromAnsi(g_SetupState.WorkingDirectory) + L'\\' +
                            platform::FromOem(oemName));
}

// The batch text in the code page given, from the exact names of W and the image; empty when the
// working directory has no exact name there (it is then unresolved and no batch is written).
std::string CleanupBatchTextIn(bool oem) {
    std::string directory;
    std::string image;
    const std::wstring wideDirectory = platform::FromAnsi(g_SetupState.WorkingDirectory);
    auto convert = oem ? platform::ToOemExactly : platform::ToAnsiExactly;
    if (!convert(wideDirectory, directory)) return {};
    // An image name without an exact name was refused and never written.
    if (!convert(g_SetupState.BiosImageName, image)) image.clear();
    return CleanupBatchText(directory, image,
                            oem ? platform::IsOemLeadByte : platform::IsAnsiLeadByte,
                            oem ? IsLinkInWorkingDirectory : nullptr);
}

// True when the batch has a line for a file of this run (as ComparableRelativePath gives it):
// the layer folder and what lies in it, the batch's own names and the BIOS image.
bool IsNamedByBatch(const std::wstring& file) {
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
            if (file == ComparableRelativePath(std::wstring(name, name + std::strlen(name)))) {
                return true;
            }
        }
    }
    return !g_SetupState.BiosImageName.empty() &&
           file == ComparableRelativePath(g_SetupState.BiosImageName);
}

// Removes the files this run wrote and the folders it made for them, from its own record of
// them (wide names, so also those without a form in the system's code pages); all of them, or
// only those the batch has no line for. What a still running program may use stays.
void RemoveFilesOfThisRun(bool onlyThoseTheBatchMisses) {
    bool wroteIntoLayerFolder = false;
    for (const std::wstring& file : g_SetupState.WrittenPaths) {
        const std::wstring comparable = ComparableRelativePath(file);
        if (IsKeptForRunningProgram(file)) continue;
        wroteIntoLayerFolder |= IsOrLiesIn(comparable, kLayerFolderName);
        if (onlyThoseTheBatchMisses && IsNamedByBatch(comparable)) continue;
        platform::RemoveOwnFile(file);
    }
    // Deepest first; a folder that still holds something (another's file) stays.
    for (auto folder = g_SetupState.MadeFolders.rbegin(); folder != g_SetupState.MadeFolders.rend();
         ++folder) {
        const std::wstring comparable = ComparableRelativePath(*folder);
        if (IsKeptForRunningProgram(*folder) || IsOrLiesIn(comparable, kLayerFolderName)) continue;
        RemoveDirectoryW(folder->c_str());
    }
    if (onlyThoseTheBatchMisses) return;
    g_SetupState.WrittenFiles.clear();
    g_SetupState.WrittenPaths.clear();
    g_SetupState.MadeFolders.clear();
    if (wroteIntoLayerFolder && !IsKeptForRunningProgram(kLayerFolder))
        platform::DeleteTree(kLayerFolder);
}

// Starts the batch hidden, holding the machine lock until it has removed the files and itself;
// the setup does not wait for it. Its start is in the trace log, which is complete before the
// batch runs.
void StartCleanupBatch() {
    std::string batchPath = WorkingPath(kCleanupBatchName);
    std::string interpreter = platform::SystemFilePath(kInterpreterFile);
    if (batchPath.empty() || interpreter.empty()) return;
    // The interpreter inherits it.
    if (!SetEnvironmentVariableA(kCleanupBatchVariable, batchPath.c_str())) return;
    platform::ChildProcess batch;
    const std::string commandLine = CleanupCommandLine(g_SetupState.WorkingDirectory);
    if (!batch.start(interpreter.c_str(), commandLine, g_SetupState.WorkingDirectory.c_str(),
                     g_SetupState.MachineLockHandle, false)) {
        TraceText("cleanup batch not started, error " + std::to_string(batch.error()),
                  TraceRecordType::kError);
        return;
    }
    TraceText("cleanup batch started: " + interpreter + " " + commandLine);
    CloseTraceLog();
    batch.resume();
}
}  // namespace

void WriteCleanupBatch() {
    std::string path = WorkingPath(kCleanupBatchName);
    if (path.empty()) return;
    // The interpreter reads the file in the OEM code page; the debug output and the trace log
    // hold ANSI text, as every other record does.
    std::string text = CleanupBatchTextIn(true);
    if (text.empty()) return;
    platform::DebugText(CleanupBatchTextIn(false));
    if (platform::WriteNewFile(path.c_str(), text.data(), static_cast<DWORD>(text.size()),
                               kBatchFileFlags) == platform::NewFileResult::kWritten) {
        g_SetupState.CleanupBatchWritten = 1;
    }
}

void RemoveWrittenFiles() {
    RemoveFilesOfThisRun(false);
}

void fn_Cleanup() {
    platform::DebugText(kCleanupMessage);
    if (g_SetupState.RebootPending) {
        WriteRestartMark();
        return;
    }
    // Only a batch this run wrote: a leftover or planted one is never started.
    if (!g_SetupState.CleanupBatchWritten) return;
    // Nothing is deleted under a program that still runs; once it has ended and released the
    // lock, a later run in this folder replaces and removes what stayed.
    if (g_SetupState.AllFilesKept) {
        TraceText(kFilesKept, TraceRecordType::kError);
        return;
    }
    if (!g_SetupState.KeptForRunningPrograms.empty()) {
        // The batch names every file; the setup removes all but the kept ones itself.
        RemoveWrittenFiles();
        platform::RemoveOwnFile(WorkingPath(kCleanupBatchName).c_str());
        TraceText(kRemovedBySetup);
        return;
    }
    // What the batch has no line for (extra kit entries, names without a form in its code page)
    // goes now, after the last child has ended.
    RemoveFilesOfThisRun(true);
    StartCleanupBatch();
}
