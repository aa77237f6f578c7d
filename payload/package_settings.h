// The package's own settings, chosen by its maker when the package is built and carried as a
// payload entry of plain text, one "key=value" a line.
#pragma once

#include <string>

constexpr char kRebootExitCodeKey[] = "reboot-exit-code";
constexpr char kTraceLogKey[] = "trace-log";
constexpr char kTraceArgumentsKey[] = "trace-arguments";
constexpr char kSettingOn[] = "yes";

struct PackageSettings {
    int rebootExitCode = 0;  // 0: a pending reboot keeps exit code 0
    bool traceLog = false;
    bool traceArguments = false;  // the trace log shows the caller's arguments (maybe passwords)
};

// Why a settings text was refused, and on which line (counted from 1).
struct SettingsFault {
    enum class Kind {
        kNone,
        kNotKeyValue,
        kUnknownKey,
        kRepeatedKey,
        kBadValue
    } kind = Kind::kNone;
    int line = 0;
    std::string key;
    std::string value;
};

// Reads a settings text: lines end in LF or CR LF; empty lines and lines starting with '#' are
// skipped. False, with `fault` set, for a line without '=', an unknown or repeated key, or a
// value out of range; `settings` is then left as it was.
bool ParsePackageSettings(const std::string& text, PackageSettings& settings, SettingsFault& fault);

// A reboot exit code: decimal digits only, from 1 to 65535.
bool ParseRebootExitCode(const std::string& value, int& code);

// The entry's text: a line for each setting that differs from the default, in CR LF.
std::string PackageSettingsText(const PackageSettings& settings);
