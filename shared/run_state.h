// One setup run: what it is given, what its steps produce, and its exit codes.
#pragma once

#include <string>
#include <vector>

#include "shared/package_settings.h"
#include "shared/pc_identity.h"

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

// What a run is given, settled before its first step that writes anything; no step changes it.
struct RunInputs {
    // The running executable's file name (the package's name); empty when the platform gives no
    // complete path, and then no file is named after it.
    std::string ExecutableName;
    // Its name without extension read in wide characters, for the stage folder's name; empty when
    // unknown.
    std::wstring WideExecutableStem;
    std::string WorkingDirectory;  // no trailing backslash once resolved; empty when unresolved
    // The directory has no exact name in the ANSI and OEM code pages (it then stays unresolved,
    // as one too long for a path buffer does).
    bool WorkingDirectoryUnnamed = false;
    bool WriteLog = false;
    bool ExtractOnly = false;
    bool Is64BitWindows = false;
    // The Windows version: the NT line's major and minor version, 0 on Windows 9x or when unknown.
    unsigned long WindowsMajor = 0;
    unsigned long WindowsMinor = 0;
    // The package's own folder in its stage folder, made or checked by this run, when it is the
    // working directory: the cleanup removes it too. Empty otherwise.
    std::wstring StageDirectory;
    PackageSettings Settings;  // the package's own, or the defaults
    PcIdentity Pc;             // read only for a package with models or a BIOS version
    // The machine lock, handed on to every program the run starts so that it outlives the setup.
    void* MachineLockHandle = nullptr;
};

// WorkingDirectory, a backslash and a name; empty when the directory is unresolved or the result
// would not fit a path buffer.
std::string WorkingPath(const RunInputs& run, const std::string& name);

// Every file this run wrote completely and every folder it made for them, relative to the working
// directory as they were created (wide: a cabinet's UTF-8 names may have no form in the system's
// code pages): what the cleanup removes. And what stays because a program of the run still runs.
class FileLedger {
  public:
    void recordFile(const std::wstring& relativePath) { files_.push_back(relativePath); }
    void recordFolder(const std::wstring& relativePath) { folders_.push_back(relativePath); }
    const std::vector<std::wstring>& files() const { return files_; }
    const std::vector<std::wstring>& folders() const { return folders_; }
    // Forgets the files and folders once they are removed.
    void clear();

    // True when this run wrote the file at `relativePath` (ASCII, ".\" optional) completely: only
    // such a file is started.
    bool wasWritten(const std::string& relativePath) const;

    // Keeps the file or folder at `relativePath` (ASCII; and what lies inside) for a program
    // that still runs; or every file of the run.
    void keepForRunningProgram(const std::string& relativePath);
    void keepAll() { allKept_ = true; }
    bool allKept() const { return allKept_; }
    bool anyKept() const { return allKept_ || !kept_.empty(); }
    bool isKept(const std::wstring& relativePath) const;
    bool isKept(const std::string& relativePath) const;

  private:
    std::vector<std::wstring> files_;
    std::vector<std::wstring> folders_;
    std::vector<std::wstring> kept_;  // comparable names
    bool allKept_ = false;
};

// What the steps produce for the ones after them.
struct RunOutcome {
    FileLedger Files;
    bool PayloadComplete = false;      // every payload file was written completely by this run
    std::wstring BiosImageName;        // as accepted for writing; empty when none was
    bool CleanupBatchWritten = false;  // this run wrote delzrph.bat completely
    bool CleanupBatchStarted = false;  // and started it: it removes the files from now on
    bool RebootPending = false;        // the client module asked for a restart
    // Processes of the task (the client module, or what it started) still running when the setup
    // gave up on them: the task is not over, and the PC waits for a restart.
    unsigned long ProcessesLeft = 0;
    bool BitLockerToSuspend = false;  // protection was found on before the payload was written
    bool BitLockerSuspended = false;  // this run left protection suspended for a restart
    bool RecordOpened = false;        // the result record was opened when the client module started
    bool TraceLogCut = false;         // the trace log ended early (a full drive)
    bool AlreadyCurrent = false;      // the PC has the package's BIOS version: nothing was run
};
