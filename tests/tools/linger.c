/* linger.exe: a program that stays, for tests of programs that outlive the setup's waits.
 * Stays for LINGER_SECONDS seconds (from the environment, which the setup hands on to its
 * children; 8 by default), whatever its command line; stored as a layer's setup.exe it is a layer
 * installer that does not end in time.
 * linger.exe --event NAME SECONDS: creates an event of that name first (a name another program
 * may want for its own object), prints "held", then stays. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>

#define DEFAULT_SECONDS 8

int main(int argc, char** argv) {
    char value[32];
    DWORD seconds = DEFAULT_SECONDS;
    HANDLE event = NULL;
    if (argc == 4 && strcmp(argv[1], "--event") == 0) {
        event = CreateEventA(NULL, TRUE, FALSE, argv[2]);
        if (event == NULL) {
            fprintf(stderr, "linger: event %s not created, error %lu\n", argv[2], GetLastError());
            return 1;
        }
        seconds = (DWORD)strtoul(argv[3], NULL, 10);
        printf("held\n");
        fflush(stdout);
    } else if (GetEnvironmentVariableA("LINGER_SECONDS", value, sizeof value) > 0) {
        seconds = (DWORD)strtoul(value, NULL, 10);
    }
    OutputDebugStringA("linger: started");
    Sleep(seconds * 1000);
    OutputDebugStringA("linger: ended");
    if (event != NULL) CloseHandle(event);
    return 0;
}
