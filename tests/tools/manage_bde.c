/* manage-bde.exe: stands for the platform's BitLocker tool in a test prefix's system folders. Says
 * on the debug output which build ran from where, with its command line, and answers each verb
 * with the exit code the test chose through the environment the setup hands on:
 *   SETUP_TEST_BDE_STATUS   for -status (default 1: protection off)
 *   SETUP_TEST_BDE_DISABLE  for -protectors -disable (default 0)
 *   SETUP_TEST_BDE_ENABLE   for -protectors -enable (default 0) */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>

static int Answer(const char* variable, int fallback) {
    char value[32];
    DWORD length = GetEnvironmentVariableA(variable, value, sizeof value);
    return length > 0 && length < sizeof value ? atoi(value) : fallback;
}

int main(void) {
    const char* commandLine = GetCommandLineA();
    char self[MAX_PATH] = "";
    char text[4096];
    int code = 0;
    GetModuleFileNameA(NULL, self, sizeof self);
    if (strstr(commandLine, " -status ") != NULL) {
        code = Answer("SETUP_TEST_BDE_STATUS", 1);
    } else if (strstr(commandLine, " -disable ") != NULL) {
        code = Answer("SETUP_TEST_BDE_DISABLE", 0);
    } else if (strstr(commandLine, " -enable ") != NULL) {
        code = Answer("SETUP_TEST_BDE_ENABLE", 0);
    }
    snprintf(text, sizeof text, "manage-bde: %d-bit %s: %s -> %d", (int)(sizeof(void*) * 8), self,
             commandLine, code);
    OutputDebugStringA(text);
    return code;
}
