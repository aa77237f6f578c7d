/* manage-bde.exe: stands for the platform's BitLocker tool in a test prefix's system folders. Says
 * on the debug output which build ran from where, with its command line, and answers each verb
 * with the exit code the test chose through the environment the setup hands on:
 *   SETUP_TEST_BDE_STATUS   for -status (default 1: protection off, or the state file's answer)
 *   SETUP_TEST_BDE_DISABLE  for -protectors -disable (default 0)
 *   SETUP_TEST_BDE_ENABLE   for -protectors -enable (default 0)
 * SETUP_TEST_BDE_STATE names a file that holds the volume's protection as -status answers it
 * ("0" on, "1" off): a successful disable writes 1 there, a successful enable 0.
 * SETUP_TEST_BDE_HANG=VERB (status, disable or enable) makes that verb hang for
 * SETUP_TEST_BDE_HANG_MS milliseconds (default 10 minutes) before it acts, or, with
 * SETUP_TEST_BDE_HANG_AFTER=1, after it has acted: a tool the setup must end. A hang is announced
 * on the debug output as "manage-bde hangs: VERB". */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>

#define DEFAULT_HANG_MS 600000

static int Variable(const char* name, char* value, DWORD size) {
    DWORD length = GetEnvironmentVariableA(name, value, size);
    return length > 0 && length < size;
}

static int Answer(const char* variable, int fallback) {
    char value[32];
    return Variable(variable, value, sizeof value) ? atoi(value) : fallback;
}

static int ReadState(int fallback) {
    char path[MAX_PATH];
    char state[8] = "";
    FILE* file;
    if (!Variable("SETUP_TEST_BDE_STATE", path, sizeof path)) return fallback;
    file = fopen(path, "rb");
    if (file == NULL) return fallback;
    if (fgets(state, sizeof state, file) == NULL) state[0] = '\0';
    fclose(file);
    return state[0] != '\0' ? atoi(state) : fallback;
}

static void WriteState(int state) {
    char path[MAX_PATH];
    FILE* file;
    if (!Variable("SETUP_TEST_BDE_STATE", path, sizeof path)) return;
    file = fopen(path, "wb");
    if (file == NULL) return;
    fprintf(file, "%d", state);
    fclose(file);
}

static void HangIf(const char* verb, int after) {
    char hung[16];
    char text[64];
    if (!Variable("SETUP_TEST_BDE_HANG", hung, sizeof hung) || strcmp(hung, verb) != 0) return;
    if (Answer("SETUP_TEST_BDE_HANG_AFTER", 0) != after) return;
    snprintf(text, sizeof text, "manage-bde hangs: %s", verb);
    OutputDebugStringA(text);
    Sleep((DWORD)Answer("SETUP_TEST_BDE_HANG_MS", DEFAULT_HANG_MS));
}

/* Runs one verb: hangs where asked, answers, and changes the state file on success. */
static int Run(const char* verb, const char* variable, int fallback, int newState) {
    int code;
    HangIf(verb, 0);
    code = Answer(variable, fallback);
    if (code == 0 && newState >= 0) WriteState(newState);
    HangIf(verb, 1);
    return code;
}

int main(void) {
    const char* commandLine = GetCommandLineA();
    char self[MAX_PATH] = "";
    char text[4096];
    int code = 0;
    GetModuleFileNameA(NULL, self, sizeof self);
    if (strstr(commandLine, " -status ") != NULL) {
        code = Run("status", "SETUP_TEST_BDE_STATUS", ReadState(1), -1);
    } else if (strstr(commandLine, " -disable ") != NULL) {
        code = Run("disable", "SETUP_TEST_BDE_DISABLE", 0, 1);
    } else if (strstr(commandLine, " -enable ") != NULL) {
        code = Run("enable", "SETUP_TEST_BDE_ENABLE", 0, 0);
    }
    snprintf(text, sizeof text, "manage-bde: %d-bit %s: %s -> %d", (int)(sizeof(void*) * 8), self,
             commandLine, code);
    OutputDebugStringA(text);
    return code;
}
