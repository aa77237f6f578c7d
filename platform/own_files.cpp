#include "platform/own_files.h"

// shellapi.h needs windows.h first.
#include <shellapi.h>

#include <cstring>

#include "platform/code_pages.h"
#include "platform/handles.h"
#include "platform/path_limit.h"
#include "platform/system_facts.h"

namespace platform {

namespace {

constexpr DWORD kAnyShare = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
constexpr wchar_t kAllEntries[] = L"\\*";

bool Exists(DWORD attributes) {
    return attributes != INVALID_FILE_ATTRIBUTES;
}

bool IsFolder(DWORD attributes) {
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool IsMarkedLink(DWORD attributes) {
    return Exists(attributes) && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

// The path the platform reaches when it opens `path`, links followed; empty when it cannot tell
// (the call is newer than Windows 2000, whose only links are marked junctions).
std::wstring FinalPath(const std::wstring& path) {
    using GetFinalPathFn = DWORD(WINAPI*)(HANDLE, LPWSTR, DWORD, DWORD);
    auto getFinalPath = KernelEntryPoint<GetFinalPathFn>("GetFinalPathNameByHandleW");
    if (getFinalPath == nullptr) return {};
    FileHandle item(CreateFileW(path.c_str(), 0, kAnyShare, nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!item.valid()) return {};
    DWORD size = getFinalPath(item.get(), nullptr, 0, 0);
    if (size == 0) return {};
    std::wstring finalPath(size, L'\0');
    DWORD length = getFinalPath(item.get(), &finalPath[0], size, 0);
    if (length == 0 || length >= size) return {};
    finalPath.resize(length);
    return finalPath;
}

std::wstring FullPath(const std::wstring& path) {
    DWORD size = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (size == 0) return {};
    std::wstring full(size, L'\0');
    DWORD length = GetFullPathNameW(path.c_str(), size, &full[0], nullptr);
    if (length == 0 || length >= size) return {};
    full.resize(length);
    return full;
}

bool SameNameIgnoringCase(const std::wstring& a, const std::wstring& b) {
    return CompareStringW(LOCALE_INVARIANT, NORM_IGNORECASE, a.c_str(), static_cast<int>(a.size()),
                          b.c_str(), static_cast<int>(b.size())) == CSTR_EQUAL;
}

// An unmarked link: the final path of the item is not its folder's final path and its name.
bool LeadsElsewhere(const std::wstring& path) {
    std::wstring full = FullPath(path);
    std::size_t slash = full.find_last_of(L'\\');
    if (slash == std::wstring::npos || slash + 1 == full.size()) return false;
    std::wstring itemFinal = FinalPath(full);
    std::wstring folderFinal = FinalPath(full.substr(0, slash + 1));
    if (itemFinal.empty() || folderFinal.empty()) return false;
    if (folderFinal.back() != L'\\') folderFinal += L'\\';
    return !SameNameIgnoringCase(itemFinal, folderFinal + full.substr(slash + 1));
}

bool IsLinkWithAttributes(const std::wstring& path, DWORD attributes) {
    return IsMarkedLink(attributes) || (Exists(attributes) && LeadsElsewhere(path));
}

}  // namespace

DWORD FileAttributes(const std::wstring& path) {
    return GetFileAttributesW(path.c_str());
}

DWORD FileAttributes(const std::string& path) {
    return FileAttributes(FromAnsi(path));
}

DWORD SetFileAttributesOf(const std::wstring& path, DWORD attributes) {
    return SetFileAttributesW(path.c_str(), attributes) ? 0 : GetLastError();
}

DWORD SetDosFileTimes(const std::wstring& path, unsigned short date, unsigned short time) {
    FileHandle file(CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    FILETIME local{};
    FILETIME utc{};
    const bool set = file.valid() && DosDateTimeToFileTime(date, time, &local) &&
                     LocalFileTimeToFileTime(&local, &utc) &&
                     SetFileTime(file.get(), &utc, nullptr, &utc);
    return set ? 0 : GetLastError();
}

bool OpensToRead(const char* path) {
    FileHandle file(CreateFileW(FromAnsi(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    return file.valid();
}

DWORD RenameOwnFile(const std::wstring& from, const std::wstring& to) {
    return MoveFileW(from.c_str(), to.c_str()) ? 0 : GetLastError();
}

void RemoveEmptyFolder(const std::wstring& path) {
    RemoveDirectoryW(path.c_str());
}

DWORD EnterFolder(const std::wstring& folder) {
    return SetCurrentDirectoryW(folder.c_str()) ? 0 : GetLastError();
}

bool IsLink(const std::wstring& path) {
    return IsLinkWithAttributes(path, GetFileAttributesW(path.c_str()));
}

bool RemoveMarkedLink(const std::wstring& path) {
    DWORD attributes = GetFileAttributesW(path.c_str());
    if (!IsMarkedLink(attributes)) return !Exists(attributes);
    // On a link, both act on the link itself: a folder link is removed as a folder.
    if (IsFolder(attributes)) {
        RemoveDirectoryW(path.c_str());
    } else {
        DeleteFileW(path.c_str());
    }
    return !Exists(GetFileAttributesW(path.c_str()));
}

bool RemoveOwnFile(const std::wstring& path) {
    DWORD attributes = GetFileAttributesW(path.c_str());
    if (!Exists(attributes)) return true;
    if (IsMarkedLink(attributes)) return RemoveMarkedLink(path);
    // Deleting an unmarked link would delete its target (as Wine does); a folder is not a file.
    if (IsFolder(attributes) || LeadsElsewhere(path)) return false;
    if ((attributes & FILE_ATTRIBUTE_READONLY) != 0) {
        SetFileAttributesW(path.c_str(), attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
    }
    DeleteFileW(path.c_str());
    return !Exists(GetFileAttributesW(path.c_str()));
}

bool RemoveOwnFile(const char* path) {
    return RemoveOwnFile(FromAnsi(path));
}

HANDLE CreateNewFile(const std::wstring& path, DWORD flagsAndAttributes, DWORD share) {
    return CreateFileW(path.c_str(), GENERIC_WRITE, share, nullptr, CREATE_NEW, flagsAndAttributes,
                       nullptr);
}

bool WriteWhole(HANDLE file, const void* bytes, DWORD size) {
    DWORD written = 0;
    return WriteFile(file, bytes, size, &written, nullptr) && written == size;
}

DWORD WriteWholeError() {
    const DWORD error = GetLastError();
    return error != 0 ? error : ERROR_WRITE_FAULT;
}

void CutFileAt(HANDLE file, LONG size) {
    SetFilePointer(file, size, nullptr, FILE_BEGIN);
    SetEndOfFile(file);
}

NewFileResult WriteNewFile(const char* path, const void* bytes, DWORD size,
                           DWORD flagsAndAttributes) {
    const std::wstring widePath = FromAnsi(path);
    if (!RemoveOwnFile(widePath)) return NewFileResult::kNotCreated;
    bool complete = false;
    {
        FileHandle file(CreateNewFile(widePath, flagsAndAttributes));
        if (!file.valid()) return NewFileResult::kNotCreated;
        complete = WriteWhole(file.get(), bytes, size);
    }
    if (complete) return NewFileResult::kWritten;
    DeleteFileW(widePath.c_str());
    return NewFileResult::kNotWritten;
}

void CreateFoldersOf(const std::wstring& path, std::vector<std::wstring>* made,
                     SECURITY_ATTRIBUTES* security) {
    for (std::size_t slash = path.find(L'\\'); slash != std::wstring::npos;
         slash = path.find(L'\\', slash + 1)) {
        const std::wstring folder = path.substr(0, slash + 1);
        if (CreateDirectoryW(folder.c_str(), security) && made != nullptr) made->push_back(folder);
    }
}

bool RemoveLinksInside(const std::wstring& folder) {
    WIN32_FIND_DATAW entry{};
    FindHandle search(FindFirstFileW((folder + kAllEntries).c_str(), &entry));
    if (!search.valid()) return true;
    bool noLinkLeft = true;
    do {
        const std::wstring name = entry.cFileName;
        if (name == L"." || name == L"..") continue;
        const std::wstring path = folder + L'\\' + name;
        if (IsLinkWithAttributes(path, entry.dwFileAttributes)) {
            noLinkLeft = RemoveMarkedLink(path) && noLinkLeft;
        } else if (IsFolder(entry.dwFileAttributes)) {
            noLinkLeft = RemoveLinksInside(path) && noLinkLeft;
        }
    } while (FindNextFileW(search.get(), &entry));
    return noLinkLeft;
}

namespace {
// The shell's source list ends in two terminators.
constexpr std::size_t kShellSourceListSize = kPathBufferSize + 1;
}  // namespace

int DeleteTree(const char* path) {
    char source[kShellSourceListSize] = {};
    if (std::strlen(path) >= kPathBufferSize) return 0;
    // Never through a link: the shell would delete what the link leads to.
    const std::wstring widePath = FromAnsi(path);
    const DWORD attributes = FileAttributes(path);
    if (attributes == INVALID_FILE_ATTRIBUTES) return 0;
    if (IsLink(widePath)) return RemoveMarkedLink(widePath) ? 1 : 0;
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 && !RemoveLinksInside(widePath)) {
        return 0;
    }
    std::strcpy(source, path);
    SHFILEOPSTRUCTA operation{};
    operation.wFunc = FO_DELETE;
    operation.pFrom = source;
    operation.fFlags = FOF_SILENT | FOF_NOCONFIRMATION | FOF_NOERRORUI;
    return SHFileOperationA(&operation) == 0 ? 1 : 0;
}

}  // namespace platform
