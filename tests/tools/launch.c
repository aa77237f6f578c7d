/* launch.exe COMMAND-LINE: runs COMMAND-LINE unchanged through CreateProcessA (the program is
 * taken from its start), waits for it and exits with its exit code. Wine's own start-up would
 * requote the arguments; this keeps the exact bytes a test wants the setup to see. */
#include <windows.h>

#include <stdio.h>

static const char* Tail(const char* line) {
    int quoted = 0;
    for (; *line != '\0'; ++line) {
        if (*line == '"') quoted = !quoted;
        if (!quoted && (unsigned char)*line <= ' ') break;
    }
    while (*line != '\0' && (unsigned char)*line <= ' ') ++line;
    return line;
}

int main(void) {
    char commandLine[40000];
    STARTUPINFOA startup;
    PROCESS_INFORMATION process;
    DWORD exitCode = 255;
    ZeroMemory(&startup, sizeof startup);
    startup.cb = sizeof startup;
    if (snprintf(commandLine, sizeof commandLine, "%s", Tail(GetCommandLineA())) >=
        (int)sizeof commandLine) {
        return 254;
    }
    if (!CreateProcessA(NULL, commandLine, NULL, NULL, FALSE, 0, NULL, NULL, &startup, &process)) {
        fprintf(stderr, "launch: CreateProcessA failed, error %lu\n", GetLastError());
        return 253;
    }
    WaitForSingleObject(process.hProcess, INFINITE);
    GetExitCodeProcess(process.hProcess, &exitCode);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return (int)exitCode;
}
