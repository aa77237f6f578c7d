// The command line of setup-pack.
#pragma once

#include <string>
#include <vector>

struct PackOptions {
    enum class Command { kNone, kBuild, kList, kSheet, kHelp } command = Command::kNone;
    std::string templatePath;
    std::string profile;
    std::string schema;
    std::string bootDevices;
    std::string bios;
    std::string kit;
    std::string out;
    std::string settings;        // a file of package settings, "key=value" a line
    std::string rebootExitCode;  // checked when the package is built
    std::string traceLogFolder;  // checked when the package is built
    std::string resultKey;       // checked when the package is built
    std::string clientWait;      // seconds; checked when the package is built
    std::string stageFolder;     // checked when the package is built
    bool traceLog = false;
    bool traceArguments = false;  // the trace log shows the caller's arguments in full
    bool suspendBitLocker = false;
    std::vector<std::string> models;  // --model, once a model; checked when the package is built
    std::string biosVersion;          // checked when the package is built
    std::string listed;               // the package of "list" or "sheet"
    bool json = false;                // "sheet --json"
};

// Parses the arguments after the program name; false with `error` set when they are wrong.
bool ParsePackOptions(const std::vector<std::string>& args, PackOptions& options,
                      std::string& error);

// Why a path of the command line is not one Windows opens as written: a character it refuses in
// a name ('*', '?', '"', '<', '>', '|', control characters), a ':' other than a drive's, a name
// ending in a blank or a dot (which it drops), a device name, a "\\\\?\\" or "\\\\.\\" prefix. The
// first such path, with its option, or empty.
std::string PathOptionFault(const PackOptions& options);

extern const char kPackUsage[];

// The usage with what each option does and its limits: the answer to --help.
extern const char kPackHelp[];
