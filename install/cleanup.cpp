#include "install/cleanup.h"

#include "payload/installation_files.h"
#include "platform/files_processes.h"
#include "shared/setup_state.h"
#include "shared/trace_log.h"

namespace {
constexpr char kCleanupMessage[] = "fn_Cleanup";
constexpr DWORD kBatchFileFlags = FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN;
constexpr DWORD kBatchCreationFlags = CREATE_SUSPENDED | IDLE_PRIORITY_CLASS;
constexpr char kInterpreterFile[] = "cmd.exe";
// The batch takes well under a second; a hung one must not hold the machine-wide lock for ever.
constexpr DWORD kBatchWaitMilliseconds = 120000;
constexpr char kLayerFolderPrefix[] = "hwixqmb\\";

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

// How the trace log records the batch's start, once it was tried.
void TraceBatchStart(bool started, const std::string& interpreter, const std::string& commandLine) {
    if (started) {
        TraceText("cleanup batch started: " + interpreter + " " + commandLine);
    } else {
        TraceText("cleanup batch not started, error " + std::to_string(GetLastError()));
    }
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
    bool wroteIntoLayerFolder = false;
    for (const std::string& file : g_SetupState.WrittenFiles) {
        platform::RemoveOwnFile(file.c_str());
        wroteIntoLayerFolder |=
            file.compare(0, sizeof kLayerFolderPrefix - 1, kLayerFolderPrefix) == 0;
    }
    g_SetupState.WrittenFiles.clear();
    if (wroteIntoLayerFolder) DeleteTree(kLayerFolder);
}

void fn_Cleanup() {
    platform::DebugText(kCleanupMessage);
    if (g_SetupState.RebootPending) return;
    // Only a batch this run wrote: a leftover or planted one is never started.
    if (!g_SetupState.CleanupBatchWritten) return;
    std::string batchPath = WorkingPath(kCleanupBatchName);
    std::string interpreter = platform::SystemFilePath(kInterpreterFile);
    if (batchPath.empty() || interpreter.empty()) return;
    // The interpreter inherits it.
    if (!SetEnvironmentVariableA(kCleanupBatchVariable, batchPath.c_str())) return;
    std::string commandLine = CleanupCommandLine(g_SetupState.WorkingDirectory);
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    platform::ProcessInformation batch;
    const bool started =
        CreateProcessA(interpreter.c_str(), &commandLine[0], nullptr, nullptr, FALSE,
                       kBatchCreationFlags, nullptr, g_SetupState.WorkingDirectory.c_str(),
                       &startup, batch.put()) != FALSE;
    TraceBatchStart(started, interpreter, commandLine);
    // The trace log is complete before the batch can run.
    CloseTraceLog();
    if (!started) return;
    // The batch may run only once the setup's own last steps are sure to go first.
    SetThreadPriority(batch.thread(), THREAD_PRIORITY_IDLE);
    SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_TIME_CRITICAL);
    SetPriorityClass(GetCurrentProcess(), HIGH_PRIORITY_CLASS);
    ResumeThread(batch.thread());
    batch.closeThread();
    // The batch never deletes the setup itself, so the setup can hold the lock until it is done.
    WaitForSingleObject(batch.process(), kBatchWaitMilliseconds);
}
