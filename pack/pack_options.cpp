#include "pack/pack_options.h"

#include <utility>

#include "shared/device_names.h"

namespace {

constexpr char kRefusedInNames[] = "*?\"<>|";
constexpr char kSeparators[] = "\\/";
constexpr char kDriveColon = ':';

bool IsControlCharacter(char c) {
    return static_cast<unsigned char>(c) < 0x20 || c == 0x7F;
}

// Why one name of a path would not be opened as written; empty when it would.
std::string NameFault(const std::string& name) {
    if (name.empty() || name == "." || name == "..") return {};
    for (char c : name) {
        if (IsControlCharacter(c)) return "has a control character in a name";
        if (std::string(kRefusedInNames).find(c) != std::string::npos) {
            return std::string("has a '") + c + "', which Windows refuses in a file name";
        }
        if (c == kDriveColon) return "has a ':' other than a drive's (a stream)";
    }
    if (name.back() == ' ' || name.back() == '.') {
        return "has a name ending in a blank or a dot, which Windows drops (\"" + name + "\")";
    }
    if (IsDeviceName(name)) return "names a device (\"" + name + "\")";
    return {};
}

std::string PathFault(const std::string& path) {
    if (path.compare(0, 4, "\\\\?\\") == 0 || path.compare(0, 4, "\\\\.\\") == 0 ||
        path.compare(0, 4, "//?/") == 0 || path.compare(0, 4, "//./") == 0) {
        return "starts with \\\\?\\ or \\\\.\\, which pass Windows' checks of names by";
    }
    const bool drive = path.size() >= 2 && path[1] == kDriveColon &&
                       std::string(kSeparators).find(path[0]) == std::string::npos;
    std::size_t start = drive ? 2 : 0;
    for (;;) {
        const std::size_t end = path.find_first_of(kSeparators, start);
        const std::string fault = NameFault(path.substr(start, end - start));
        if (!fault.empty() || end == std::string::npos) return fault;
        start = end + 1;
    }
}

}  // namespace

const char kPackUsage[] =
    "usage: setup-pack build --template SETUP.exe --profile P.xml [--schema S.xml]\n"
    "                        [--bootdevices B.xml] [--bios IMAGE] [--kit DIR]\n"
    "                        [--settings FILE] [--reboot-exit-code N] [--trace-log]\n"
    "                        [--trace-arguments] [--trace-log-folder DIR] [--result-key NAME]\n"
    "                        [--client-wait SECONDS] [--stage-folder DIR]\n"
    "                        [--suspend-bitlocker] [--model NAME]... [--bios-version TEXT]\n"
    "                        --out TASK.exe\n"
    "       setup-pack list TASK.exe\n"
    "       setup-pack sheet TASK.exe [--json]\n"
    "       setup-pack --help\n";

const char kPackHelp[] =
    "setup-pack builds a BIOS task package from a template setup, or lists a package.\n"
    "\n"
    "setup-pack build: every option of the package, then --out\n"
    "  --template SETUP.exe     the template: setup.exe (32-bit) or setup64.exe (64-bit)\n"
    "  --profile P.xml          the task profile (document element <root>); its first\n"
    "                           <command type=\"flash\" image=\"NAME\"/> names the BIOS image\n"
    "  --schema S.xml           the settings schema (<root schemaVersion=\"...\">)\n"
    "  --bootdevices B.xml      the boot-device map (<bootDevices>)\n"
    "  --bios IMAGE             the BIOS image, written under the name the profile gives\n"
    "  --kit DIR                the payload programs and files of the same names in DIR\n"
    "  --settings FILE          package settings, key=value a line, UTF-8\n"
    "  --reboot-exit-code N     exit code of a task that asks for a restart (3010 or 1641;\n"
    "                           without it such a task reports 0 and nothing restarts the PC)\n"
    "  --trace-log              write <package>.trace.log in the log viewers' format\n"
    "  --trace-arguments        show the caller's arguments (maybe passwords) in that log\n"
    "  --trace-log-folder DIR   absolute folder of the trace log (a drive, a share or %NAME%,\n"
    "                           at most 200 characters)\n"
    "  --result-key NAME        registry record under HKLM\\SOFTWARE\\Corvane\\BIOS task\n"
    "                           package\\NAME, for detection rules (at most 201 characters)\n"
    "  --client-wait SECONDS    how long the client module may run (1 to 86400)\n"
    "  --stage-folder DIR       lay the payload out in DIR\\<package name> instead of the\n"
    "                           current directory: a local drive's folder or %NAME%, at most\n"
    "                           200 characters; only administrators may write it\n"
    "  --suspend-bitlocker      suspend BitLocker protection of the system drive for the one\n"
    "                           restart the task needs, right before the client module runs\n"
    "                           (Windows 8 and later; resumed at once when no restart follows)\n"
    "  --model NAME             a PC model the package is for, once a model (at most 32): the\n"
    "                           firmware's SystemProductName, SystemSKU or BaseBoardProduct;\n"
    "                           any other PC ends with exit code 1, nothing written\n"
    "  --bios-version TEXT      the firmware's BIOSVersion after the task (as the PC shows it,\n"
    "                           inner blanks kept): a PC that has it ends with 0, nothing run\n"
    "  --out TASK.exe           the package; replaced only by a complete, checked one\n"
    "\n"
    "setup-pack list TASK.exe   every entry with its size and SHA-256, the signature, the\n"
    "                           settings and the BIOS image name the setup will use\n"
    "setup-pack sheet TASK.exe  what Intune and Configuration Manager need: the commands, the\n"
    "                           return codes, the maximum run time, the requirement and\n"
    "                           detection rules, the logs; --json: one JSON object for scripts\n"
    "setup-pack --help          this text (also -h and /?)\n"
    "\n"
    "Limits: a package holds at most 2032 MiB of payload (1024 MiB with the 32-bit template);\n"
    "setup-pack.exe takes at most 256 MiB of inputs, setup-pack64.exe the rest. A build needs\n"
    "about twice the package's size free in the output's folder. Exit codes: 0 built or\n"
    "listed, 1 refused (one line on stderr), 2 wrong command line.\n";

namespace {

// The answers to a request for help.
constexpr const char* kHelpRequests[] = {"--help", "-h", "/?"};

struct BuildOption {
    const char* name;
    std::string PackOptions::*field;
};

constexpr BuildOption kBuildOptions[] = {
    {"--template", &PackOptions::templatePath},
    {"--profile", &PackOptions::profile},
    {"--schema", &PackOptions::schema},
    {"--bootdevices", &PackOptions::bootDevices},
    {"--bios", &PackOptions::bios},
    {"--kit", &PackOptions::kit},
    {"--settings", &PackOptions::settings},
    {"--reboot-exit-code", &PackOptions::rebootExitCode},
    {"--trace-log-folder", &PackOptions::traceLogFolder},
    {"--result-key", &PackOptions::resultKey},
    {"--client-wait", &PackOptions::clientWait},
    {"--stage-folder", &PackOptions::stageFolder},
    {"--bios-version", &PackOptions::biosVersion},
    {"--out", &PackOptions::out},
};
struct FlagOption {
    const char* name;
    bool PackOptions::*field;
};

// The options without a value.
constexpr FlagOption kFlagOptions[] = {
    {"--trace-log", &PackOptions::traceLog},
    {"--trace-arguments", &PackOptions::traceArguments},
    {"--suspend-bitlocker", &PackOptions::suspendBitLocker},
};

constexpr char kJsonOption[] = "--json";

// The one option given once a value.
constexpr char kModelOption[] = "--model";

const FlagOption* FindFlag(const std::string& name) {
    for (const FlagOption& flag : kFlagOptions) {
        if (name == flag.name) return &flag;
    }
    return nullptr;
}

bool ParseBuild(const std::vector<std::string>& args, PackOptions& options, std::string& error) {
    std::size_t i = 1;
    while (i < args.size()) {
        if (const FlagOption* flag = FindFlag(args[i])) {
            if (options.*flag->field) {
                error = args[i] + " given twice";
                return false;
            }
            options.*flag->field = true;
            ++i;
            continue;
        }
        if (args[i] == kModelOption) {
            if (i + 1 >= args.size() || args[i + 1].empty()) {
                error = args[i] + " needs a value";
                return false;
            }
            options.models.push_back(args[i + 1]);
            i += 2;
            continue;
        }
        const BuildOption* known = nullptr;
        for (const BuildOption& option : kBuildOptions) {
            if (args[i] == option.name) known = &option;
        }
        if (known == nullptr) {
            error = "unknown option " + args[i];
            return false;
        }
        if (i + 1 >= args.size() || args[i + 1].empty()) {
            error = args[i] + " needs a value";
            return false;
        }
        if (!(options.*known->field).empty()) {
            error = args[i] + " given twice";
            return false;
        }
        options.*known->field = args[i + 1];
        i += 2;
    }
    for (const char* required : {"--template", "--profile", "--out"}) {
        for (const BuildOption& option : kBuildOptions) {
            if (option.name == std::string(required) && (options.*option.field).empty()) {
                error = std::string(required) + " is required";
                return false;
            }
        }
    }
    options.command = PackOptions::Command::kBuild;
    return true;
}

}  // namespace

bool ParsePackOptions(const std::vector<std::string>& args, PackOptions& options,
                      std::string& error) {
    for (const char* request : kHelpRequests) {
        if (args.size() == 1 && args[0] == request) {
            options.command = PackOptions::Command::kHelp;
            return true;
        }
    }
    if (!args.empty() && args[0] == "build") return ParseBuild(args, options, error);
    if (args.size() == 2 && args[0] == "list") {
        options.command = PackOptions::Command::kList;
        options.listed = args[1];
        return true;
    }
    const bool json = args.size() == 3 && args[2] == kJsonOption;
    if ((args.size() == 2 || json) && args[0] == "sheet") {
        options.command = PackOptions::Command::kSheet;
        options.listed = args[1];
        options.json = json;
        return true;
    }
    error = args.empty() ? "no command given" : "unknown command or arguments";
    return false;
}

std::string PathOptionFault(const PackOptions& options) {
    const std::pair<const char*, const std::string*> paths[] = {
        {"--template", &options.templatePath},
        {"--profile", &options.profile},
        {"--schema", &options.schema},
        {"--bootdevices", &options.bootDevices},
        {"--bios", &options.bios},
        {"--kit", &options.kit},
        {"--settings", &options.settings},
        {"--out", &options.out},
        {"the package", &options.listed}};
    for (const auto& [option, path] : paths) {
        if (path->empty()) continue;
        const std::string fault = PathFault(*path);
        if (!fault.empty()) return std::string(option) + " \"" + *path + "\" " + fault;
    }
    return {};
}
