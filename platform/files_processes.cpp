#include "platform/files_processes.h"

#include "platform/path_limit.h"

namespace platform {

namespace {
constexpr char kKernelModule[] = "kernel32";
constexpr DWORD kLoadLibrarySearchSystem32 = 0x00000800;
}  // namespace

FARPROC FindKernelEntryPoint(const char* name) {
    HMODULE kernel = GetModuleHandleA(kKernelModule);
    return kernel == nullptr ? nullptr : GetProcAddress(kernel, name);
}

std::string SystemDirectory() {
    char buffer[kPathBufferSize] = {};
    UINT length = GetSystemDirectoryA(buffer, sizeof buffer);
    if (length == 0 || length >= sizeof buffer) return {};
    return std::string(buffer, length);
}

std::string SystemFilePath(const char* fileName) {
    std::string system = SystemDirectory();
    if (system.empty()) return {};
    std::string path = system + '\\' + fileName;
    return FitsPathBuffer(path) ? path : std::string();
}

void RestrictDllSearchPath() {
    using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
    using SetDllDirectoryFn = BOOL(WINAPI*)(LPCSTR);
    auto setDefault = KernelEntryPoint<SetDefaultDllDirectoriesFn>("SetDefaultDllDirectories");
    if (setDefault != nullptr && setDefault(kLoadLibrarySearchSystem32)) return;
    auto setDllDirectory = KernelEntryPoint<SetDllDirectoryFn>("SetDllDirectoryA");
    if (setDllDirectory != nullptr) setDllDirectory("");
}

namespace {

// UTF-8 (which a system may choose as its ANSI code page) takes neither the no-best-fit flag nor
// a default character; it has every character.
DWORD NoBestFitFlags(UINT codePage) {
    UINT actual = codePage == CP_ACP ? GetACP() : codePage == CP_OEMCP ? GetOEMCP() : codePage;
    return actual == CP_UTF8 ? 0 : WC_NO_BEST_FIT_CHARS;
}

std::string FromWide(UINT codePage, const std::wstring& text, BOOL* usedDefault) {
    if (text.empty()) return {};
    const int length = static_cast<int>(text.size());
    const DWORD flags = NoBestFitFlags(codePage);
    if (flags == 0) usedDefault = nullptr;
    int size =
        WideCharToMultiByte(codePage, flags, text.c_str(), length, nullptr, 0, nullptr, nullptr);
    std::string result(static_cast<std::size_t>(size > 0 ? size : 0), '\0');
    if (size > 0) {
        WideCharToMultiByte(codePage, flags, text.c_str(), length, &result[0], size, nullptr,
                            usedDefault);
    }
    return result;
}

std::wstring ToWide(UINT codePage, const std::string& text) {
    if (text.empty()) return {};
    int size =
        MultiByteToWideChar(codePage, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring result(static_cast<std::size_t>(size > 0 ? size : 0), L'\0');
    if (size > 0) {
        MultiByteToWideChar(codePage, 0, text.c_str(), static_cast<int>(text.size()), &result[0],
                            size);
    }
    return result;
}

// Exact when no default character was used and the bytes read back as the same text.
bool FromWideExactly(UINT codePage, const std::wstring& text, std::string& converted) {
    BOOL usedDefault = FALSE;
    std::string result = FromWide(codePage, text, &usedDefault);
    if (usedDefault || (result.empty() && !text.empty()) || ToWide(codePage, result) != text) {
        return false;
    }
    converted = result;
    return true;
}

}  // namespace

std::string ToAnsi(const std::wstring& text) {
    return FromWide(CP_ACP, text, nullptr);
}

bool ToAnsiExactly(const std::wstring& text, std::string& converted) {
    return FromWideExactly(CP_ACP, text, converted);
}

bool ToOemExactly(const std::wstring& text, std::string& converted) {
    return FromWideExactly(CP_OEMCP, text, converted);
}

std::wstring CurrentDirectory() {
    DWORD size = GetCurrentDirectoryW(0, nullptr);
    if (size == 0) return {};
    std::wstring directory(size, L'\0');
    DWORD length = GetCurrentDirectoryW(size, &directory[0]);
    if (length == 0 || length >= size) return {};
    directory.resize(length);
    return directory;
}

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

DWORD FileAttributes(const std::string& path) {
    return GetFileAttributesW(FromAnsi(path).c_str());
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

void CreateFoldersOf(const std::wstring& path, std::vector<std::wstring>* made) {
    for (std::size_t slash = path.find(L'\\'); slash != std::wstring::npos;
         slash = path.find(L'\\', slash + 1)) {
        const std::wstring folder = path.substr(0, slash + 1);
        if (CreateDirectoryW(folder.c_str(), nullptr) && made != nullptr) made->push_back(folder);
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

std::wstring FromAnsi(const std::string& text) {
    return ToWide(CP_ACP, text);
}

std::wstring FromOem(const std::string& text) {
    return ToWide(CP_OEMCP, text);
}

}  // namespace platform
