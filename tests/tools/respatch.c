/* respatch.exe EXE ID FILE [LANGUAGE]: sets the "BINARY" entry ID of EXE (language-neutral unless
 * a language ID is given) to the bytes of FILE, so that tests make packages with other payloads
 * from the one built setup. */
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>

static void* ReadAll(const char* path, DWORD* size) {
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    void* bytes;
    DWORD read = 0;
    if (file == INVALID_HANDLE_VALUE) return NULL;
    *size = GetFileSize(file, NULL);
    bytes = malloc(*size ? *size : 1);
    if (bytes != NULL && !ReadFile(file, bytes, *size, &read, NULL)) read = (DWORD)-1;
    CloseHandle(file);
    if (bytes != NULL && read != *size) {
        free(bytes);
        return NULL;
    }
    return bytes;
}

int main(int argc, char** argv) {
    DWORD size = 0;
    void* bytes;
    HANDLE update;
    BOOL ok;
    WORD language = MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL);
    if (argc != 4 && argc != 5) {
        fprintf(stderr, "usage: respatch EXE ID FILE [LANGUAGE]\n");
        return 2;
    }
    if (argc == 5) language = (WORD)atoi(argv[4]);
    bytes = ReadAll(argv[3], &size);
    if (bytes == NULL) {
        fprintf(stderr, "respatch: cannot read %s\n", argv[3]);
        return 1;
    }
    update = BeginUpdateResourceA(argv[1], FALSE);
    ok = update != NULL &&
         UpdateResourceA(update, "BINARY", MAKEINTRESOURCEA(atoi(argv[2])),
                         language, bytes, size) &&
         EndUpdateResourceA(update, FALSE);
    free(bytes);
    if (!ok) fprintf(stderr, "respatch: update failed, error %lu\n", GetLastError());
    return ok ? 0 : 1;
}
