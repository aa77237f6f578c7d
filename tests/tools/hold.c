/* hold.exe PATH SECONDS: keeps PATH open for reading, sharing it for reading only, so that no
 * other process can write, replace or delete it, while it can still be read or started. Prints
 * "held" once the file is open, then sleeps. */
#include <stdio.h>
#include <stdlib.h>
#include <windows.h>

int main(int argc, char** argv) {
    HANDLE file;
    if (argc != 3) {
        fprintf(stderr, "usage: hold PATH SECONDS\n");
        return 2;
    }
    file = CreateFileA(argv[1], GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE) {
        fprintf(stderr, "hold: cannot open %s, error %lu\n", argv[1], GetLastError());
        return 1;
    }
    printf("held\n");
    fflush(stdout);
    Sleep((DWORD)atoi(argv[2]) * 1000);
    CloseHandle(file);
    return 0;
}
