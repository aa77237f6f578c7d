/* launch.exe: runs the command line held by the environment variable LAUNCH_COMMAND_LINE
 * unchanged through CreateProcessA (the program is taken from its start), waits for it and exits
 * with its exit code. Wine's own start-up would requote arguments; this keeps the exact bytes a
 * test wants the setup to see. The whole exit code is also printed ("exit code N"): a Unix
 * parent sees only its low byte. */
#include <stdio.h>
#include <windows.h>

int main(void) {
    char commandLine[40000];
    const int kAttempts = 5;
    const DWORD kRetryMilliseconds = 200;
    int attempt;
    STARTUPINFOA startup;
    PROCESS_INFORMATION process;
    DWORD exitCode = 255;
    DWORD length;
    ZeroMemory(&startup, sizeof startup);
    startup.cb = sizeof startup;
    length = GetEnvironmentVariableA("LAUNCH_COMMAND_LINE", commandLine, sizeof commandLine);
    if (length == 0 || length >= sizeof commandLine) {
        fprintf(stderr, "launch: LAUNCH_COMMAND_LINE missing or too long\n");
        return 254;
    }
    /* Wine now and then fails a process creation with an internal error that a second try does
     * not meet; that is the test bed's fault, not the program's. */
    for (attempt = 1;; ++attempt) {
        if (CreateProcessA(NULL, commandLine, NULL, NULL, FALSE, 0, NULL, NULL, &startup,
                           &process)) {
            break;
        }
        if (GetLastError() != ERROR_INTERNAL_ERROR || attempt == kAttempts) {
            fprintf(stderr, "launch: CreateProcessA failed, error %lu\n", GetLastError());
            return 253;
        }
        fprintf(stderr, "launch: CreateProcessA failed with an internal error, trying again\n");
        Sleep(kRetryMilliseconds);
    }
    WaitForSingleObject(process.hProcess, INFINITE);
    GetExitCodeProcess(process.hProcess, &exitCode);
    printf("exit code %lu\n", exitCode);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return (int)exitCode;
}
