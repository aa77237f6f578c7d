/* Stand-in client module. Reads the profile named by -file: and reports its command line.
 * Test switches, passed on through the setup's command tail:
 *   --exit=N    exit with code N (default 0)
 *   --reboot    leave reboot.txt in the current directory, as a task that needs a reboot
 *   --stay=MS   keep running for MS milliseconds before exiting
 *   --helper=MS start a copy of itself that stays MS milliseconds (a helper that does the flash),
 *               handing on no handle, and exit at once */
#include <stdlib.h>

#include "kit_common.h"

#ifdef _WIN64
#define WHO "ZunaClientModule64"
#else
#define WHO "ZunaClientModule32"
#endif

#define EXIT_PROFILE_UNREADABLE 4

static int ReadProfile(const char* path) {
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, NULL);
    char bytes[4096];
    DWORD read = 0;
    char text[128];
    if (file == INVALID_HANDLE_VALUE) return 0;
    ReadFile(file, bytes, sizeof bytes, &read, NULL);
    CloseHandle(file);
    snprintf(text, sizeof text, "profile %s read, %lu bytes", path, (unsigned long)read);
    KitReport(WHO, text);
    return read > 0;
}

static void LeaveRebootMarker(void) {
    HANDLE file = CreateFileA("reboot.txt", GENERIC_WRITE, 0, NULL, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, NULL);
    char text[64];
    if (file != INVALID_HANDLE_VALUE) {
        CloseHandle(file);
        return;
    }
    snprintf(text, sizeof text, "reboot.txt not written, error %lu", GetLastError());
    KitReport(WHO, text);
}

static void StartHelper(const char* stay) {
    char self[MAX_PATH];
    char commandLine[MAX_PATH + 64];
    STARTUPINFOA startup;
    PROCESS_INFORMATION process;
    DWORD length = GetModuleFileNameA(NULL, self, sizeof self);
    if (length == 0 || length >= sizeof self) return;
    snprintf(commandLine, sizeof commandLine, "\"%s\" -file:profile.xml --stay=%s", self, stay);
    ZeroMemory(&startup, sizeof startup);
    startup.cb = sizeof startup;
    if (!CreateProcessA(NULL, commandLine, NULL, NULL, FALSE, 0, NULL, NULL, &startup, &process)) {
        KitReport(WHO, "helper not started");
        return;
    }
    KitReport(WHO, "helper started");
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR tail, int show) {
    const char* commandLine = GetCommandLineA();
    char value[MAX_PATH];
    int exitCode = 0;
    (void)instance, (void)previous, (void)tail, (void)show;
    KitReport(WHO, commandLine);
    if (KitSwitchValue(commandLine, "-file:", value, sizeof value) == NULL || !ReadProfile(value)) {
        KitReport(WHO, "profile not readable");
        return EXIT_PROFILE_UNREADABLE;
    }
    if (KitSwitchValue(commandLine, "--helper=", value, sizeof value) != NULL) {
        StartHelper(value);
        return 0;
    }
    if (KitSwitchValue(commandLine, "--stay=", value, sizeof value) != NULL) {
        Sleep((DWORD)strtoul(value, NULL, 10));
    }
    if (strstr(commandLine, "--reboot") != NULL) LeaveRebootMarker();
    if (KitSwitchValue(commandLine, "--exit=", value, sizeof value) != NULL) {
        exitCode = atoi(value);
    }
    return exitCode;
}
