#include "platform/system_facts.h"

#include "platform/path_limit.h"
#include "platform/registry.h"

// The path limit that code without Windows headers uses is the platform's own.
static_assert(kPathBufferSize == MAX_PATH, "the platform's path limit");

namespace platform {

namespace {
constexpr char kKernelModule[] = "kernel32";
constexpr DWORD kLoadLibrarySearchSystem32 = 0x00000800;
constexpr char kWindowsPEKey[] = "SYSTEM\\CurrentControlSet\\Control\\MiniNT";
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

namespace {

// How a 32-bit program names the 64-bit system directory, below the Windows directory.
constexpr char kNativeSystemAlias[] = "\\Sysnative\\";
// "C:" of "C:\\Windows".
constexpr std::size_t kDriveLength = 2;

std::string WindowsDirectory() {
    char buffer[kPathBufferSize] = {};
    UINT length = GetSystemWindowsDirectoryA(buffer, sizeof buffer);
    if (length == 0 || length >= sizeof buffer) return {};
    return std::string(buffer, length);
}

}  // namespace

std::string NativeSystemFilePath(const char* fileName, bool windows64) {
    if (kNative64BitBuild || !windows64) return SystemFilePath(fileName);
    const std::string windows = WindowsDirectory();
    if (windows.empty()) return {};
    std::string path = windows + kNativeSystemAlias + fileName;
    return FitsPathBuffer(path) ? path : std::string();
}

std::string SystemDrive() {
    const std::string windows = WindowsDirectory();
    if (windows.size() < kDriveLength || windows[1] != ':') return {};
    return windows.substr(0, kDriveLength);
}

WindowsVersion ReadWindowsVersion() {
    OSVERSIONINFOA version{};
    version.dwOSVersionInfoSize = sizeof version;
    if (!GetVersionExA(&version)) return {};
    return {version.dwPlatformId == VER_PLATFORM_WIN32_NT, version.dwMajorVersion,
            version.dwMinorVersion};
}

bool IsWindowsPE() {
    RegistryKey key;
    return RegOpenKeyExA(HKEY_LOCAL_MACHINE, kWindowsPEKey, 0, KEY_QUERY_VALUE, key.put()) ==
           ERROR_SUCCESS;
}

void RestrictDllSearchPath() {
    using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
    using SetDllDirectoryFn = BOOL(WINAPI*)(LPCSTR);
    auto setDefault = KernelEntryPoint<SetDefaultDllDirectoriesFn>("SetDefaultDllDirectories");
    if (setDefault != nullptr && setDefault(kLoadLibrarySearchSystem32)) return;
    auto setDllDirectory = KernelEntryPoint<SetDllDirectoryFn>("SetDllDirectoryA");
    if (setDllDirectory != nullptr) setDllDirectory("");
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

std::string Wow64SystemDirectory() {
    using GetSystemWow64DirectoryFn = UINT(WINAPI*)(LPSTR, UINT);
    auto getWow64Directory =
        KernelEntryPoint<GetSystemWow64DirectoryFn>("GetSystemWow64DirectoryA");
    if (getWow64Directory == nullptr) return {};
    char buffer[kPathBufferSize] = {};
    UINT length = getWow64Directory(buffer, sizeof buffer);
    if (length == 0 || length >= sizeof buffer) return {};
    return std::string(buffer, length);
}

bool ReadWow64(bool& wow64) {
    wow64 = false;
    using IsWow64ProcessFn = BOOL(WINAPI*)(HANDLE, PBOOL);
    auto isWow64Process = KernelEntryPoint<IsWow64ProcessFn>("IsWow64Process");
    if (isWow64Process == nullptr) return true;
    BOOL answer = FALSE;
    if (!isWow64Process(GetCurrentProcess(), &answer)) return false;
    wow64 = answer != FALSE;
    return true;
}

DWORD SetInheritedVariable(const char* name, const std::string& value) {
    return SetEnvironmentVariableA(name, value.c_str()) ? 0 : GetLastError();
}

DWORD ExpandVariables(const std::wstring& text, std::wstring& expanded) {
    wchar_t buffer[kPathBufferSize] = {};
    const DWORD length = ExpandEnvironmentStringsW(text.c_str(), buffer, kPathBufferSize);
    if (length == 0) return GetLastError();
    if (length > kPathBufferSize) return ERROR_FILENAME_EXCED_RANGE;
    expanded = buffer;
    return 0;
}

SYSTEMTIME UtcTimeNow() {
    SYSTEMTIME now{};
    GetSystemTime(&now);
    return now;
}

SYSTEMTIME LocalTimeNow() {
    SYSTEMTIME now{};
    GetLocalTime(&now);
    return now;
}

long LocalBiasMinutes() {
    TIME_ZONE_INFORMATION zone{};
    switch (GetTimeZoneInformation(&zone)) {
        case TIME_ZONE_ID_DAYLIGHT:
            return zone.Bias + zone.DaylightBias;
        case TIME_ZONE_ID_STANDARD:
            return zone.Bias + zone.StandardBias;
        default:
            return zone.Bias;
    }
}

namespace {

std::string AnsiExecutablePath() {
    char buffer[kPathBufferSize] = {};
    DWORD length = GetModuleFileNameA(nullptr, buffer, sizeof buffer);
    if (length == 0 || length >= sizeof buffer) return {};
    return std::string(buffer, length);
}

std::wstring WideExecutableStem() {
    wchar_t buffer[kPathBufferSize] = {};
    const DWORD length = GetModuleFileNameW(nullptr, buffer, kPathBufferSize);
    if (length == 0 || length >= kPathBufferSize) return {};
    std::wstring name(buffer, length);
    name.erase(0, name.find_last_of(L"\\/") + 1);
    const std::size_t dot = name.rfind(L'.');
    return dot == std::wstring::npos ? name : name.substr(0, dot);
}

}  // namespace

ExecutableNames ReadExecutableNames() {
    return {AnsiExecutablePath(), WideExecutableStem()};
}

}  // namespace platform
