// probe.exe times PATH      creation, last-access and last-write time (100 ns units) and
//                           attributes of a file
// probe.exe profile PATH    the profile reader's result and image name (UTF-8) for a file
// probe.exe load NAME       loads a library by the name given, as a bare-name load would
// probe.exe write ID NAME   writes the probe's own payload entry ID with the resource writer
// probe.exe version PATH    the version resource's strings of a file, one "name=value" a line
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "payload/payload_store.h"
#include "payload/profile_reader.h"

namespace {

unsigned long long Ticks(const FILETIME& time) {
    return (static_cast<unsigned long long>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

int PrintTimes(const char* path) {
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 1;
    FILETIME created{}, accessed{}, written{};
    GetFileTime(file, &created, &accessed, &written);
    CloseHandle(file);
    std::printf("creation=%llu access=%llu write=%llu attributes=0x%lx\n", Ticks(created),
                Ticks(accessed), Ticks(written), GetFileAttributesA(path));
    return 0;
}

int PrintProfile(const char* path) {
    std::wstring name = L"(unset)";
    bool result = GetBiosImageName(path, name);
    std::string utf8(name.size() * 4 + 1, '\0');
    int length = WideCharToMultiByte(CP_UTF8, 0, name.c_str(), static_cast<int>(name.size()),
                                     &utf8[0], static_cast<int>(utf8.size()), nullptr, nullptr);
    utf8.resize(length > 0 ? length : 0);
    std::printf("result=%s name=[%s]\n", result ? "true" : "false", utf8.c_str());
    return 0;
}

int PrintVersion(const char* path) {
    DWORD ignored = 0;
    DWORD size = GetFileVersionInfoSizeA(path, &ignored);
    if (size == 0) return 1;
    std::string block(size, '\0');
    if (!GetFileVersionInfoA(path, 0, size, &block[0])) return 1;
    for (const char* name :
         {"FileVersion", "ProductVersion", "ProductName", "FileDescription", "OriginalFilename"}) {
        char* value = nullptr;
        UINT length = 0;
        std::string query = std::string("\\StringFileInfo\\040904B0\\") + name;
        if (VerQueryValueA(&block[0], query.c_str(), reinterpret_cast<void**>(&value), &length)) {
            std::printf("%s=%s\n", name, value);
        }
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "times") == 0) return PrintTimes(argv[2]);
    if (argc == 3 && std::strcmp(argv[1], "profile") == 0) return PrintProfile(argv[2]);
    if (argc == 3 && std::strcmp(argv[1], "load") == 0) return LoadLibraryA(argv[2]) ? 0 : 1;
    if (argc == 3 && std::strcmp(argv[1], "version") == 0) return PrintVersion(argv[2]);
    if (argc == 4 && std::strcmp(argv[1], "write") == 0) {
        FileLedger files;
        int result = fn_CreateFileFromResource(static_cast<unsigned short>(std::atoi(argv[2])),
                                               argv[3], files);
        std::printf("result=%d\n", result);
        return 0;
    }
    std::fprintf(stderr, "usage: probe times|profile|load PATH, or probe write ID NAME\n");
    return 2;
}
