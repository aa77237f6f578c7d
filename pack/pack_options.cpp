#include "pack/pack_options.h"

const char kPackUsage[] =
    "usage: setup-pack build --template SETUP.exe --profile P.xml [--schema S.xml]\n"
    "                        [--bootdevices B.xml] [--bios IMAGE] [--kit DIR]\n"
    "                        [--settings FILE] [--reboot-exit-code N] [--trace-log]\n"
    "                        [--trace-arguments] [--trace-log-folder DIR] [--result-key NAME]\n"
    "                        [--client-wait SECONDS] --out TASK.exe\n"
    "       setup-pack list TASK.exe\n";

namespace {

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
};

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
    if (!args.empty() && args[0] == "build") return ParseBuild(args, options, error);
    if (args.size() == 2 && args[0] == "list") {
        options.command = PackOptions::Command::kList;
        options.listed = args[1];
        return true;
    }
    error = args.empty() ? "no command given" : "unknown command or arguments";
    return false;
}
