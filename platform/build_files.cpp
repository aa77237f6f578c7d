#include "platform/build_files.h"

#include <algorithm>
#include <cstdio>

#include "platform/handles.h"
#include "platform/own_files.h"
#include "platform/path_limit.h"
#include "platform/system_facts.h"

namespace platform {

namespace {

// FILETIME counts 100-nanosecond steps.
constexpr unsigned long long kFileTimeStepsPerSecond = 10000000ull;
// A claim locks the first byte of its file, for writing and reading alike, and never waits.
constexpr DWORD kClaimLock = LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY;
constexpr DWORD kClaimedBytes = 1;
// Other numbers a new folder tries when its first is taken: far more than builders at once.
constexpr int kNumberedFolderTries = 64;

unsigned long long FileTimeValue(const FILETIME& time) {
    return (static_cast<unsigned long long>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

// A number where other PCs (whose process IDs may be the same) are unlikely to start.
DWORD FirstFolderNumber() {
    FILETIME now{};
    GetSystemTimeAsFileTime(&now);
    return (GetCurrentProcessId() * 2654435761u) ^ now.dwLowDateTime ^ GetTickCount();
}

// A folder of its own, not a link to one elsewhere.
bool IsPlainFolder(DWORD attributes) {
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
           (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0;
}

std::string Hex(DWORD value) {
    char text[9] = {};
    std::snprintf(text, sizeof text, "%08lx", static_cast<unsigned long>(value));
    return text;
}

}  // namespace

std::string FullPathOf(const std::string& path) {
    const DWORD needed = GetFullPathNameA(path.c_str(), 0, nullptr, nullptr);
    if (needed == 0) return path;
    std::string full(needed, '\0');
    const DWORD length = GetFullPathNameA(path.c_str(), needed, &full[0], nullptr);
    if (length == 0 || length >= needed) return path;
    full.resize(length);
    return full;
}

FileHandle ClaimNewFile(const std::string& path) {
    FileHandle file(CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    OVERLAPPED first{};
    if (file.valid() && !LockFileEx(file.get(), kClaimLock, 0, kClaimedBytes, 0, &first)) {
        const DWORD error = GetLastError();
        file.reset();
        DeleteFileA(path.c_str());
        SetLastError(error);
    }
    return file;
}

bool DeleteUnclaimedFile(const std::string& path) {
    {
        FileHandle file(CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
        OVERLAPPED first{};
        if (!file.valid() || !LockFileEx(file.get(), kClaimLock, 0, kClaimedBytes, 0, &first)) {
            return false;
        }
        UnlockFileEx(file.get(), 0, kClaimedBytes, 0, &first);
    }
    // A claim is never made again on a file that was given up: only another remover can come
    // between, and then one of the two deletes it.
    return DeleteFileA(path.c_str()) != 0;
}

std::vector<FoundFolder> FoldersMatching(const std::string& pattern) {
    std::vector<FoundFolder> found;
    FILETIME now{};
    GetSystemTimeAsFileTime(&now);
    WIN32_FIND_DATAA entry{};
    FindHandle search(FindFirstFileA(pattern.c_str(), &entry));
    if (!search.valid()) return found;
    do {
        if (!IsPlainFolder(entry.dwFileAttributes)) continue;
        const unsigned long long changed =
            std::max(FileTimeValue(entry.ftCreationTime), FileTimeValue(entry.ftLastWriteTime));
        const unsigned long long current = FileTimeValue(now);
        found.push_back({entry.cFileName,
                         current > changed ? (current - changed) / kFileTimeStepsPerSecond : 0});
    } while (FindNextFileA(search.get(), &entry));
    return found;
}

bool CreateNewNumberedFolder(const std::string& stem, const std::string& suffix, std::string& made,
                             DWORD& error) {
    DWORD number = FirstFolderNumber();
    for (int attempt = 0; attempt < kNumberedFolderTries; ++attempt, number += 0x9E3779B9u) {
        const std::string path = stem + Hex(number) + suffix;
        if (CreateDirectoryA(path.c_str(), nullptr)) {
            made = path;
            return true;
        }
        error = GetLastError();
        if (error != ERROR_ALREADY_EXISTS) return false;
    }
    return false;
}

bool FreeDiskBytes(const std::string& folder, unsigned long long& bytes) {
    ULARGE_INTEGER available{};
    if (!GetDiskFreeSpaceExA(folder.c_str(), &available, nullptr, nullptr)) return false;
    bytes = available.QuadPart;
    return true;
}

bool IsSameFile(const std::string& a, const std::string& b) {
    FileHandle first(CreateFileA(a.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    FileHandle second(CreateFileA(b.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    BY_HANDLE_FILE_INFORMATION one{};
    BY_HANDLE_FILE_INFORMATION two{};
    return first.valid() && second.valid() && GetFileInformationByHandle(first.get(), &one) &&
           GetFileInformationByHandle(second.get(), &two) &&
           one.dwVolumeSerialNumber == two.dwVolumeSerialNumber &&
           one.nFileIndexHigh == two.nFileIndexHigh && one.nFileIndexLow == two.nFileIndexLow;
}

bool CreateFolder(const std::string& path) {
    return CreateDirectoryA(path.c_str(), nullptr) != FALSE;
}

std::string CreateTemporaryFile(const std::string& folder, const char* prefix) {
    char directory[kPathBufferSize] = {};
    char path[kPathBufferSize] = {};
    if (folder.empty() && GetTempPathA(sizeof directory, directory) == 0) return {};
    const char* where = folder.empty() ? directory : folder.c_str();
    if (GetTempFileNameA(where, prefix, 0, path) == 0) return {};
    return path;
}

void UseTemporaryFolder(const std::string& folder) {
    SetInheritedVariable("TMP", folder);
    SetInheritedVariable("TEMP", folder);
}

bool CopyWholeFile(const std::string& from, const std::string& to) {
    return CopyFileA(from.c_str(), to.c_str(), FALSE) != FALSE;
}

bool ReplaceWithFile(const std::string& from, const std::string& to) {
    return MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING) != FALSE;
}

namespace {

FileHandle OpenToWrite(const std::string& path) {
    return FileHandle(CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
}

bool MoveTo(HANDLE file, unsigned long long offset) {
    LARGE_INTEGER position{};
    position.QuadPart = static_cast<LONGLONG>(offset);
    return SetFilePointerEx(file, position, nullptr, FILE_BEGIN) != FALSE;
}

}  // namespace

bool WriteFileAt(const std::string& path, unsigned long long offset, const void* bytes,
                 DWORD size) {
    FileHandle file = OpenToWrite(path);
    return file.valid() && MoveTo(file.get(), offset) && WriteWhole(file.get(), bytes, size);
}

bool CutFileTo(const std::string& path, unsigned long long size) {
    FileHandle file = OpenToWrite(path);
    return file.valid() && MoveTo(file.get(), size) && SetEndOfFile(file.get());
}

namespace {

void (*faultReport)(unsigned long code) = nullptr;

LONG WINAPI EndAfterReport(EXCEPTION_POINTERS* fault) {
    faultReport(static_cast<unsigned long>(fault->ExceptionRecord->ExceptionCode));
    ExitProcess(1);
}

}  // namespace

void EndOnUnexpectedFault(void (*report)(unsigned long code)) {
    faultReport = report;
    SetUnhandledExceptionFilter(EndAfterReport);
}

}  // namespace platform
