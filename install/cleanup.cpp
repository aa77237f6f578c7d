#include "install/cleanup.h"

#include "platform/files_processes.h"
#include "setup/setup_state.h"
#include "setup/trace_log.h"

namespace {
constexpr char kCleanupMessage[] = "fn_Cleanup";
constexpr DWORD kBatchFileFlags = FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN;
constexpr DWORD kBatchCreationFlags = CREATE_SUSPENDED | IDLE_PRIORITY_CLASS;
constexpr char kInterpreterFile[] = "cmd.exe";

// The batch text in the OEM code page, the one the interpreter reads batch files in; empty when
// the working directory has no exact OEM name (it is then unresolved and no batch is written).
std::string OemCleanupBatchText() {
    std::string directory;
    std::string image;
    if (!platform::ToOemExactly(platform::FromAnsi(g_SetupState.WorkingDirectory), directory)) {
        return {};
    }
    // An image name without an exact OEM name was refused and never written.
    if (!platform::ToOemExactly(g_SetupState.BiosImageName, image)) image.clear();
    return CleanupBatchText(directory, image, platform::IsOemLeadByte);
}
}  // namespace

void WriteCleanupBatch() {
    std::string path = WorkingPath(kCleanupBatchName);
    if (path.empty()) return;
    std::string text = OemCleanupBatchText();
    if (text.empty()) return;
    platform::DeleteReplaceable(path.c_str());
    platform::FileHandle file(CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                          kBatchFileFlags, nullptr));
    if (!file.valid()) return;
    platform::DebugText(text);
    DWORD written = 0;
    if (WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
        written == text.size()) {
        g_SetupState.CleanupBatchWritten = 1;
    }
}

void fn_Cleanup() {
    platform::DebugText(kCleanupMessage);
    if (g_SetupState.RebootPending) return;
    // Only a batch this run wrote: a leftover or planted one is never started.
    if (!g_SetupState.CleanupBatchWritten) return;
    std::string batchPath = WorkingPath(kCleanupBatchName);
    std::string interpreter = platform::SystemFilePath(kInterpreterFile);
    if (batchPath.empty() || interpreter.empty()) return;
    // The interpreter inherits it; the setup itself is about to end.
    if (!SetEnvironmentVariableA(kCleanupBatchVariable, batchPath.c_str())) return;
    std::string commandLine = CleanupCommandLine(g_SetupState.WorkingDirectory);
    TraceText("cleanup batch started: " + interpreter + " " + commandLine);
    // The trace log is complete before the batch can run.
    CloseTraceLog();
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    platform::ProcessInformation batch;
    if (!CreateProcessA(interpreter.c_str(), &commandLine[0], nullptr, nullptr, FALSE,
                        kBatchCreationFlags, nullptr, g_SetupState.WorkingDirectory.c_str(),
                        &startup, batch.put())) {
        return;
    }
    // The batch may run only once the setup's own last steps are sure to go first.
    SetThreadPriority(batch.thread(), THREAD_PRIORITY_IDLE);
    SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_TIME_CRITICAL);
    SetPriorityClass(GetCurrentProcess(), HIGH_PRIORITY_CLASS);
    batch.closeProcess();
    ResumeThread(batch.thread());
}
