#include "platform/files_processes.h"

#include "setup/setup_state.h"

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
    auto setDefault = reinterpret_cast<SetDefaultDllDirectoriesFn>(
        reinterpret_cast<void*>(FindKernelEntryPoint("SetDefaultDllDirectories")));
    if (setDefault != nullptr && setDefault(kLoadLibrarySearchSystem32)) return;
    auto setDllDirectory = reinterpret_cast<SetDllDirectoryFn>(
        reinterpret_cast<void*>(FindKernelEntryPoint("SetDllDirectoryA")));
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

void MakeReplaceable(const char* path) {
    DWORD attributes = GetFileAttributesA(path);
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ||
        (attributes & FILE_ATTRIBUTE_READONLY) == 0) {
        return;
    }
    SetFileAttributesA(path, attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
}

bool DeleteReplaceable(const char* path) {
    MakeReplaceable(path);
    return DeleteFileA(path) || GetLastError() == ERROR_FILE_NOT_FOUND;
}

std::wstring FromAnsi(const std::string& text) {
    return ToWide(CP_ACP, text);
}

}  // namespace platform
