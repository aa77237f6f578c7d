// The package's own settings, chosen by its maker when the package is built and carried as a
// payload entry of plain text, one "key=value" a line.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

constexpr char kRebootExitCodeKey[] = "reboot-exit-code";
constexpr char kTraceLogKey[] = "trace-log";
constexpr char kTraceArgumentsKey[] = "trace-arguments";
constexpr char kTraceLogFolderKey[] = "trace-log-folder";
constexpr char kResultKeyKey[] = "result-key";
constexpr char kClientWaitKey[] = "client-wait";
constexpr char kStageFolderKey[] = "stage-folder";
constexpr char kSuspendBitLockerKey[] = "suspend-bitlocker";
constexpr char kModelsKey[] = "models";
constexpr char kBiosVersionKey[] = "bios-version";
constexpr char kModelSeparator = ';';
constexpr std::size_t kLongestModelName = 64;
constexpr std::size_t kMostModels = 32;
constexpr std::size_t kLongestBiosVersion = 64;
// The longest wait a package may choose for its client module, in seconds (a day): flash tools
// take minutes, deployment systems end installs long before a day.
constexpr int kLongestClientWaitSeconds = 86400;
constexpr char kSettingOn[] = "yes";

struct PackageSettings {
    int rebootExitCode = 0;  // 0: a pending reboot keeps exit code 0
    bool traceLog = false;
    bool traceArguments = false;  // the trace log shows the caller's arguments (maybe passwords)
    std::string
        traceLogFolder;     // where the trace log goes (implies it); %NAME% expanded at run time
    std::string resultKey;  // the registry key of the record of the last run
    int clientWaitSeconds = 0;  // 0: the setup's own wait for the client module
    // Where the payload is laid out instead of the current directory (in a folder named after the
    // package); %NAME% expanded at run time.
    std::string stageFolder;
    // BitLocker protection of the system drive is suspended for the restart the task needs.
    bool suspendBitLocker = false;
    // The PC models the package is for (any of the firmware's product name, SKU or board name),
    // as the entry writes them: "NAME;NAME…". Empty: every model.
    std::string models;
    // The BIOS version the task brings: a PC that has it already is left alone. Empty: none.
    std::string biosVersion;
};

// A model name or BIOS version as the firmware writes them: printable ASCII (inner blanks kept),
// no blank at either end, 1 to `longest` characters; a model name has no ';' either.
bool IsFirmwareText(const std::string& text, std::size_t longest);
bool IsModelName(const std::string& name);

// "NAME;NAME…": 1 to kMostModels model names.
bool IsModelList(const std::string& value);

// The model names of such a list, in order.
std::vector<std::string> ModelNames(const std::string& models);

// A client module's wait: decimal digits only, from 1 to kLongestClientWaitSeconds.
bool ParseClientWait(const std::string& value, int& seconds);

// True when the setup writes a trace log.
inline bool WritesTraceLog(const PackageSettings& settings) {
    return settings.traceLog || !settings.traceLogFolder.empty();
}

// A folder the trace log can go to: an absolute path (a drive, a UNC share, or a %NAME% the setup
// expands) of at most 200 characters, without control characters or "<>|?*.
bool IsUsableTraceLogFolder(const std::string& folder);

// A stage folder: a drive path ("C:\\...") or one that begins with a %NAME% the setup expands,
// never a share (the setup starts programs from it), with the trace log folder's other limits.
bool IsUsableStageFolder(const std::string& folder);

// Why a stage or trace log folder's name is not a plain folder path, or empty when it is: a ':'
// other than the drive's, a segment of dots (and blanks) such as "." or "..", a '%' outside a
// %NAME% reference that is a whole segment, or a segment that names a device ("con", "nul.txt").
// The builder refuses such a setting; the setup refuses such a stage folder, and its expansion,
// too (a package built before the rule, a variable's value).
std::string FolderNameFault(const std::string& folder);

// True for a drive path ("C:\\...") or a share ("\\\\server\\..."): a folder that does not
// depend on the current directory or drive.
bool IsAbsoluteFolderPath(const std::string& folder);

// True when `text` still holds a %NAME% reference (two percent signs with a name between them, no
// backslash in it): what the platform leaves of a variable that is not defined.
bool HoldsVariableReference(const std::string& text);

// Where the result records live under HKEY_LOCAL_MACHINE; the package's key name goes below.
constexpr char kResultRecordParentKey[] = "SOFTWARE\\Corvane\\BIOS task package";
// The longest result key name: the registry takes key names of at most 255 characters, counted
// with the whole path from the base key ("HKEY_LOCAL_MACHINE\\SOFTWARE\\...\\NAME").
constexpr std::size_t kLongestRegistryKeyPath = 255;
constexpr std::size_t kLongestResultKeyName = kLongestRegistryKeyPath -
                                              (sizeof "HKEY_LOCAL_MACHINE\\" - 1) -
                                              (sizeof kResultRecordParentKey - 1) - 1;

// Settings text is UTF-8 (as the builder writes it); an older package's entry that is not valid
// UTF-8 was written in the ANSI code page. The length of a value in UTF-16 units (the platform's
// characters), or in bytes for such an older value.
std::size_t SettingTextLength(const std::string& value);

// A result key name: 1 to kLongestResultKeyName characters, no backslash, no control character,
// not only dots and blanks.
bool IsPlainKeyName(const std::string& name);

// Why a settings text was refused, and on which line (counted from 1).
struct SettingsFault {
    enum class Kind {
        kNone,
        kNotKeyValue,
        kUnknownKey,
        kRepeatedKey,
        kBadValue,
        kBlankAroundValue
    } kind = Kind::kNone;
    int line = 0;
    std::string key;
    std::string value;
};

// Reads a settings text: lines end in LF or CR LF; empty lines and lines starting with '#' are
// skipped. False, with `fault` set, for a line without '=', an unknown or repeated key, or a
// value out of range; `settings` is then left as it was. The builder also refuses a value that
// begins or ends with a blank (`refuseBlanksAround`): it would look like another one. The setup
// reads what a package holds as it is.
bool ParsePackageSettings(const std::string& text, PackageSettings& settings, SettingsFault& fault,
                          bool refuseBlanksAround = false);

// True when the value begins or ends with a blank or a tab.
bool HasBlankAround(const std::string& value);

// True for an exit code a caller would misread: 1 to 4 (the setup's own failure codes), 259
// (STILL_ACTIVE) and 1618 (another installation in progress).
bool IsMisreadRebootExitCode(int code);

// A reboot exit code: decimal digits only, from 1 to 65535, not one a caller would misread.
bool ParseRebootExitCode(const std::string& value, int& code);

// The entry's text: a line for each setting that differs from the default, in CR LF.
std::string PackageSettingsText(const PackageSettings& settings);

// The entry's lines on one line, joined with ", ", text values in double quotes (so that a blank
// in them is seen); "none" when every setting is the default.
std::string PackageSettingsSummary(const PackageSettings& settings);
