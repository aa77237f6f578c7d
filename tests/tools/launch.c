/* launch.exe: runs the command line held by the environment variable LAUNCH_COMMAND_LINE
 * unchanged through CreateProcessA (the program is taken from its start), waits for it and exits
 * with its exit code. Wine's own start-up would requote arguments; this keeps the exact bytes a
 * test wants the setup to see. LAUNCH_DIRECTORY, when set, is the program's current directory
 * (a UNC path, say, which a Unix current directory cannot express). */
#include <stdio.h>
#include <windows.h>

int main(void) {
    char commandLine[40000];
    char directory[MAX_PATH];
    const char* currentDirectory = NULL;
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
    length = GetEnvironmentVariableA("LAUNCH_DIRECTORY", directory, sizeof directory);
    if (length > 0 && length < sizeof directory) currentDirectory = directory;
    if (!CreateProcessA(NULL, commandLine, NULL, NULL, FALSE, 0, NULL, currentDirectory, &startup,
                        &process)) {
        fprintf(stderr, "launch: CreateProcessA failed, error %lu\n", GetLastError());
        return 253;
    }
    WaitForSingleObject(process.hProcess, INFINITE);
    GetExitCodeProcess(process.hProcess, &exitCode);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return (int)exitCode;
}
