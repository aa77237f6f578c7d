// Process-wide state of one setup run and its exit codes.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "platform/path_limit.h"
#include "shared/package_settings.h"

enum ExitCode : int {
    kExitSuccess = 0,
    kExitUnsupportedOs = 1,
    kExitFilesNotCreated = 2,
    kExitClientModuleFailed = 3,
    kExitUninstallFailed = 4,  // named in the result log's legend only
    // Another run holds the machine-wide lock: the code deployment systems read as "another
    // installation is in progress, retry later".
    kExitAnotherRunInProgress = 1618,
};

struct SetupState {
    std::string WorkingDirectory;  // no trailing backslash once resolved
    // Set when the directory has no exact name in the ANSI and OEM code pages (it then stays
    // unresolved, as one too long for a path buffer does).
    int WorkingDirectoryUnnamed = 0;
    int WriteLog = 0;
    int ExtractOnly = 0;
    int Is64BitWindows = 0;  // set by fn_CheckOS from Is64BitWindows()
    int RebootPending = 0;
    std::wstring BiosImageName;   // empty until the profile has been read, or when refused
    int PayloadComplete = 0;      // every payload file was written completely by this run
    int CleanupBatchWritten = 0;  // this run wrote delzrph.bat completely
    PackageSettings Settings;     // the package's own, or the defaults
    std::vector<std::string> WrittenFiles;  // relative names this run wrote completely, folded
    // Every file this run wrote completely, and the folders it made for them, relative to the
    // working directory as they were created: wide, since a cabinet's UTF-8 names may have no
    // form in the system's code pages. What the cleanup removes.
    std::vector<std::wstring> WrittenPaths;
    std::vector<std::wstring> MadeFolders;
    // The machine lock, handed on to every program the run starts so that it outlives the setup.
    void* MachineLockHandle = nullptr;
    // A program of this run still runs after its wait: what it may use is not removed. Relative
    // names (folded, as WrittenFiles) of what stays; or every file of the run.
    std::vector<std::string> KeptForRunningPrograms;
    bool AllFilesKept = false;
};

extern SetupState g_SetupState;

// WorkingDirectory, a backslash and a name; empty when the directory is unresolved or the result
// would not fit a path buffer.
std::string WorkingPath(const std::string& name);

// Notes that this run wrote the file at `relativePath` (".\" prefix optional) completely.
void RecordWrittenFile(const std::string& relativePath);

// True when this run wrote the file at `relativePath` completely: only such a file is started.
bool WasWrittenByThisRun(const std::string& relativePath);

// The form Windows opens, for comparing names: no ".\" in front, '/' read as '\', trailing dots
// and blanks dropped, ASCII letters folded (the setup's own names are ASCII).
std::wstring ComparableRelativePath(const std::wstring& relativePath);

// Keeps the file or folder at `relativePath` (and what lies inside) for a program that still runs.
void KeepForRunningProgram(const std::string& relativePath);

// True when the file or folder at `relativePath` (".\" prefix optional) is kept for a program
// that still runs.
bool IsKeptForRunningProgram(const std::string& relativePath);
bool IsKeptForRunningProgram(const std::wstring& relativePath);

// True when `comparablePath` (as ComparableRelativePath gives it) is `name` (ASCII, a file or
// folder of the working directory) or lies inside it.
bool IsOrLiesIn(const std::wstring& comparablePath, const std::string& name);
