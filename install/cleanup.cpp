#include "install/cleanup.h"

#include "platform/files_processes.h"
#include "setup/setup_state.h"

namespace {
constexpr char kCleanupMessage[] = "fn_Cleanup";
constexpr DWORD kBatchFileFlags = FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN;
constexpr DWORD kBatchCreationFlags = CREATE_SUSPENDED | IDLE_PRIORITY_CLASS;
constexpr char kInterpreterFile[] = "cmd.exe";
constexpr char kInterpreterCommand[] = "cmd.exe /c ";
}  // namespace

void WriteCleanupBatch() {
    std::string path = WorkingPath(kCleanupBatchName);
    if (path.empty()) return;
    DeleteFileA(path.c_str());
    platform::FileHandle file(CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                          kBatchFileFlags, nullptr));
    if (!file.valid()) return;
    std::string text =
        CleanupBatchText(g_SetupState.WorkingDirectory,
                         platform::ToAnsi(g_SetupState.BiosImageName), platform::IsAnsiLeadByte);
    platform::DebugText(text);
    DWORD written = 0;
    WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

void fn_Cleanup() {
    platform::DebugText(kCleanupMessage);
    if (g_SetupState.RebootPending) return;
    if (WorkingPath(kCleanupBatchName).empty()) return;
    // The interpreter by its full path, and the batch by its bare name in the working directory:
    // a command line holding the directory would let the interpreter expand a % in it.
    std::string interpreter = platform::SystemFilePath(kInterpreterFile);
    if (interpreter.empty()) return;
    std::string commandLine = std::string(kInterpreterCommand) + kCleanupBatchName;
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
