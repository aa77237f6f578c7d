/* launch.exe: runs the command line held by the environment variable LAUNCH_COMMAND_LINE
 * unchanged through CreateProcessA (the program is taken from its start), waits for it and exits
 * with its exit code. Wine's own start-up would requote arguments; this keeps the exact bytes a
 * test wants the setup to see. The whole exit code is also printed ("exit code N"): a Unix
 * parent sees only its low byte.
 * A setup's run goes on after it has exited, in its cleanup batch or a late child, for as long as
 * its machine lock lives: unless the program was turned away (1618) or LAUNCH_NO_LOCK_WAIT is
 * set, the launcher returns only once the lock is gone (at most LAUNCH_LOCK_WAIT_MS, 60 s by
 * default), so that a test sees the run's whole effect and the next run finds the PC free. */
#include <stdio.h>
#include <stdlib.h>
#include <windows.h>

#define LOCK_NAME "Global\\Corvane BIOS task package"
#define LOCK_POLL_MS 10
#define LOCK_WAIT_DEFAULT_MS 60000
#define EXIT_TURNED_AWAY 1618

static void WaitForLockToEnd(void) {
    char value[32];
    DWORD limit = LOCK_WAIT_DEFAULT_MS;
    DWORD started = GetTickCount();
    if (GetEnvironmentVariableA("LAUNCH_LOCK_WAIT_MS", value, sizeof value) > 0) {
        limit = (DWORD)strtoul(value, NULL, 10);
    }
    for (;;) {
        HANDLE lock = OpenMutexA(SYNCHRONIZE, FALSE, LOCK_NAME);
        if (lock == NULL) return;
        CloseHandle(lock);
        if (GetTickCount() - started >= limit) {
            fprintf(stderr, "launch: the machine lock still exists after %lu ms\n", limit);
            return;
        }
        Sleep(LOCK_POLL_MS);
    }
}

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
    if (exitCode != EXIT_TURNED_AWAY && GetEnvironmentVariableA("LAUNCH_NO_LOCK_WAIT", NULL, 0) == 0) {
        WaitForLockToEnd();
    }
    printf("exit code %lu\n", exitCode);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return (int)exitCode;
}
