// System family: what the platform says about itself and this process: entry points that older
// versions lack, system folders, the executable, the current directory, the arguments.
#pragma once

#include <windows.h>
// shellapi.h needs windows.h first.
#include <shellapi.h>

#include <string>
#include <vector>

namespace platform {

// A 64-bit build runs only on 64-bit Windows, natively: it has no WOW64 to ask or to undo.
constexpr bool kNative64BitBuild = sizeof(void*) == 8;

// Looks up an entry point of kernel32 that older Windows versions lack.
FARPROC FindKernelEntryPoint(const char* name);

// The same, as the function type it has; null where the platform lacks it.
template <typename Function>
Function KernelEntryPoint(const char* name) {
    return reinterpret_cast<Function>(reinterpret_cast<void*>(FindKernelEntryPoint(name)));
}

// The system directory, or an empty string when it does not fit a path buffer.
std::string SystemDirectory();

// A file in the system directory by its full path; empty when the path does not fit.
std::string SystemFilePath(const char* fileName);

// A file in the system directory of the platform's own bitness by its full path: for this 32-bit
// build on 64-bit Windows the 64-bit one, through the alias that the file-system redirection
// leaves alone; empty when the path does not fit.
std::string NativeSystemFilePath(const char* fileName, bool windows64);

// The drive of the Windows directory ("C:"), the system drive; empty when unknown.
std::string SystemDrive();

// The Windows version as the platform reports it to this program.
struct WindowsVersion {
    bool ntLine = false;  // the NT line (every Windows from 2000 on), not Windows 9x
    unsigned long major = 0;
    unsigned long minor = 0;
};
WindowsVersion ReadWindowsVersion();

// True in Windows PE, which marks itself with the key MiniNT (not redirected under WOW64).
bool IsWindowsPE();

// The system directory of 32-bit programs on 64-bit Windows; empty where the platform has none
// or it does not fit a path buffer.
std::string Wow64SystemDirectory();

// This executable's names, each empty when its path does not fit a path buffer (a cut path's last
// component is not the name): its full path as the ANSI calls give it, and its file name without
// its extension read in wide characters (the ANSI reading gives a look-alike for a character the
// code page lacks).
struct ExecutableNames {
    std::string ansiPath;
    std::wstring wideStem;
};
ExecutableNames ReadExecutableNames();

// Keeps DLLs planted beside the program (a download folder) from being loaded.
void RestrictDllSearchPath();

// The process's whole command line as the platform keeps it.
inline const char* CommandLine() {
    return GetCommandLineA();
}

// Whether this process runs under WOW64, in `wow64` (false where the platform cannot have it);
// false when the platform could not answer.
bool ReadWow64(bool& wow64);

// Sets a variable of this process's environment, which its children inherit; 0 on success, else
// the platform's error.
DWORD SetInheritedVariable(const char* name, const std::string& value);

// `text` with each %NAME% of this process's environment replaced by its value (an unknown one is
// left as it stands); 0 on success, else the platform's error (ERROR_FILENAME_EXCED_RANGE when
// the result does not fit a path buffer).
DWORD ExpandVariables(const std::wstring& text, std::wstring& expanded);

// The time now, in UTC and in local time; the local time's bias: UTC minus local time in
// minutes, daylight saving time included.
SYSTEMTIME UtcTimeNow();
SYSTEMTIME LocalTimeNow();
long LocalBiasMinutes();

// The identifier of the calling thread.
inline unsigned long CurrentThreadId() {
    return GetCurrentThreadId();
}

// The current directory as the platform holds it, in wide characters; empty on failure.
std::wstring CurrentDirectory();

// The process's arguments after the program name, in wide characters as the platform splits
// them: never through a conversion to a code page that could drop or replace a character. Inline,
// so that only the builder, which reads its arguments so, imports the shell's splitter.
inline std::vector<std::wstring> WideArguments() {
    std::vector<std::wstring> arguments;
    int count = 0;
    LPWSTR* split = CommandLineToArgvW(GetCommandLineW(), &count);
    if (split == nullptr) return arguments;
    for (int i = 1; i < count; ++i) arguments.emplace_back(split[i]);
    LocalFree(split);
    return arguments;
}

}  // namespace platform
