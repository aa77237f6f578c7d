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

std::string ToAnsi(const std::wstring& text) {
    if (text.empty()) return {};
    int size = WideCharToMultiByte(CP_ACP, 0, text.c_str(), static_cast<int>(text.size()), nullptr,
                                   0, nullptr, nullptr);
    std::string result(static_cast<std::size_t>(size > 0 ? size : 0), '\0');
    if (size > 0) {
        WideCharToMultiByte(CP_ACP, 0, text.c_str(), static_cast<int>(text.size()), &result[0],
                            size, nullptr, nullptr);
    }
    return result;
}

std::wstring FromAnsi(const std::string& text) {
    if (text.empty()) return {};
    int size =
        MultiByteToWideChar(CP_ACP, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring result(static_cast<std::size_t>(size > 0 ? size : 0), L'\0');
    if (size > 0) {
        MultiByteToWideChar(CP_ACP, 0, text.c_str(), static_cast<int>(text.size()), &result[0],
                            size);
    }
    return result;
}

}  // namespace platform
