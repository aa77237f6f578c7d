// setup-pack sheet: what a deployment system needs to deploy a package, worked out from the
// package's own settings and template, as text for administrators and as JSON for scripts.
#include <cstdio>
#include <string>
#include <vector>

#include "install/child_waits.h"
#include "install/restart_mark.h"
#include "install/result_record.h"
#include "pack/pack_text.h"
#include "pack/package.h"
#include "pack/package_checks.h"
#include "pack/pe_resources.h"
#include "platform/mapped_files.h"
#include "shared/package_settings.h"
#include "shared/pc_identity.h"
#include "shared/run_state.h"

namespace {

constexpr char kInstallOption[] = "-l";
constexpr char kUninstallCommand[] = "cmd.exe /c exit 0";
constexpr int kRegistryView = 64;
// The stopper's stop, the layer's installer and the stopper's start each wait for their program.
constexpr int kInstallStepWaits = 3;
// The BitLocker tool is asked for the status, to suspend, and to resume.
constexpr int kBitLockerToolCalls = 3;
// The layout of the payload: a fixed part, and the payload written at a slow disk's pace.
constexpr unsigned long long kLayoutSeconds = 60;
constexpr unsigned long long kLayoutBytesPerSecond = 10ull * 1024 * 1024;
constexpr int kIntuneDefaultMinutes = 60;
constexpr int kConfigMgrMostMinutes = 720;
constexpr int kHardRebootCode = 1641;
constexpr int kFailureCodes[] = {1, 2, 3};

enum class Operator { kKeyExists, kKeyNotExists, kValueExists, kEquals, kOneOf };

const char* OperatorName(Operator op) {
    switch (op) {
        case Operator::kKeyExists:
            return "keyExists";
        case Operator::kKeyNotExists:
            return "keyNotExists";
        case Operator::kValueExists:
            return "valueExists";
        case Operator::kEquals:
            return "equals";
        default:
            return "oneOf";
    }
}

struct Rule {
    std::string key;  // under HKLM
    Operator op;
    std::string value;  // empty for the key's own operators
    bool integer = false;
    std::vector<std::string> expected;  // one for equals, the list for oneOf
};
using RuleGroup = std::vector<Rule>;        // every rule holds
using RuleGroups = std::vector<RuleGroup>;  // any group holds

struct ReturnCode {
    int code;
    const char* meaning;  // Intune's Graph API return-code type
};

struct Sheet {
    std::string package;  // the file name
    bool template64 = false;
    PackageSettings settings;
    unsigned long long payloadBytes = 0;
    int clientWaitSeconds = 0;  // the package's, else the setup's own
    int waitSeconds = 0;
    int maxRunMinutes = 0;
    std::vector<ReturnCode> returnCodes;
    RuleGroups requirements;
    RuleGroups detection;
    bool detectionUsable = true;
};

Rule NoRestartPending() {
    return {kRestartMarkKey, Operator::kKeyNotExists, "", false, {}};
}

Rule RestartPendingFor(const std::string& package) {
    return {kRestartMarkKey, Operator::kEquals, kMarkPackageValue, false, {package}};
}

RuleGroups Requirements(const PackageSettings& settings) {
    if (settings.models.empty()) return {{NoRestartPending()}};
    RuleGroups groups;
    for (const char* name : {kProductNameValue, kSkuValue, kBaseBoardValue}) {
        groups.push_back(
            {{kFirmwareKey, Operator::kOneOf, name, false, ModelNames(settings.models)},
             NoRestartPending()});
    }
    return groups;
}

RuleGroups Detection(const Sheet& sheet) {
    const PackageSettings& settings = sheet.settings;
    const RuleGroup waiting = {RestartPendingFor(sheet.package)};
    if (!settings.biosVersion.empty()) {
        return {
            {{kFirmwareKey, Operator::kEquals, kBiosVersionValue, false, {settings.biosVersion}}},
            waiting};
    }
    if (settings.resultKey.empty()) return {waiting};
    std::vector<std::string> done = {"0"};
    if (settings.rebootExitCode != 0) done.push_back(std::to_string(settings.rebootExitCode));
    const std::string record = std::string(kResultRecordParentKey) + '\\' + settings.resultKey;
    return {{{record, Operator::kOneOf, kRecordExitCodeValue, true, done}}, waiting};
}

constexpr int kChildWaitSeconds = static_cast<int>(kChildWaitMilliseconds / 1000);

int WaitSeconds(const PackageSettings& settings, int clientWaitSeconds) {
    int seconds = kInstallStepWaits * kChildWaitSeconds + clientWaitSeconds;
    if (settings.suspendBitLocker) {
        seconds += kBitLockerToolCalls * static_cast<int>(kToolWaitMilliseconds / 1000);
    }
    return seconds;
}

Sheet MakeSheet(const std::string& package, bool template64, const PackageSettings& settings,
                unsigned long long payloadBytes) {
    Sheet sheet;
    sheet.package = package;
    sheet.template64 = template64;
    sheet.settings = settings;
    sheet.payloadBytes = payloadBytes;
    sheet.clientWaitSeconds =
        settings.clientWaitSeconds != 0 ? settings.clientWaitSeconds : kChildWaitSeconds;
    sheet.waitSeconds = WaitSeconds(settings, sheet.clientWaitSeconds);
    const unsigned long long layout =
        kLayoutSeconds + (payloadBytes + kLayoutBytesPerSecond - 1) / kLayoutBytesPerSecond;
    sheet.maxRunMinutes = static_cast<int>((sheet.waitSeconds + layout + 59) / 60);
    sheet.returnCodes.push_back({0, "success"});
    if (settings.rebootExitCode != 0) {
        sheet.returnCodes.push_back(
            {settings.rebootExitCode,
             settings.rebootExitCode == kHardRebootCode ? "hardReboot" : "softReboot"});
    }
    sheet.returnCodes.push_back({kExitAnotherRunInProgress, "retry"});
    for (int code : kFailureCodes) sheet.returnCodes.push_back({code, "failed"});
    sheet.requirements = Requirements(settings);
    sheet.detection = Detection(sheet);
    sheet.detectionUsable = !settings.biosVersion.empty() || !settings.resultKey.empty();
    return sheet;
}

// --- JSON -----------------------------------------------------------------------------------

std::string JsonString(const std::string& text) {
    std::string quoted = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\') {
            quoted += '\\';
            quoted += c;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
            quoted += escaped;
        } else {
            quoted += c;
        }
    }
    return quoted + '"';
}

std::string JsonExpected(const Rule& rule, const std::string& text) {
    return rule.integer ? text : JsonString(text);
}

std::string JsonRule(const Rule& rule) {
    std::string json = "{\"hive\": \"HKLM\", \"key\": " + JsonString(rule.key) +
                       ", \"view\": " + std::to_string(kRegistryView) + ", \"operator\": \"" +
                       OperatorName(rule.op) + "\"";
    if (!rule.value.empty()) {
        json += ", \"value\": " + JsonString(rule.value) + ", \"type\": \"" +
                (rule.integer ? "integer" : "string") + "\"";
    }
    if (rule.op == Operator::kEquals) {
        json += ", \"expected\": " + JsonExpected(rule, rule.expected[0]);
    } else if (rule.op == Operator::kOneOf) {
        json += ", \"expected\": [";
        for (std::size_t i = 0; i < rule.expected.size(); ++i) {
            json += (i == 0 ? "" : ", ") + JsonExpected(rule, rule.expected[i]);
        }
        json += "]";
    }
    return json + "}";
}

std::string JsonGroups(const RuleGroups& groups) {
    std::string json = "{\"anyOf\": [";
    for (std::size_t g = 0; g < groups.size(); ++g) {
        json += std::string(g == 0 ? "" : ", ") + "{\"allOf\": [";
        for (std::size_t r = 0; r < groups[g].size(); ++r) {
            json += (r == 0 ? "" : ", ") + JsonRule(groups[g][r]);
        }
        json += "]}";
    }
    return json + "]}";
}

std::string InstallCommand(const Sheet& sheet) {
    return sheet.package + ' ' + kInstallOption;
}

void PrintJson(const Sheet& sheet) {
    std::string json = "{\n  \"package\": " + JsonString(sheet.package) + ",\n";
    json += "  \"install\": {\"command\": " + JsonString(InstallCommand(sheet)) +
            ", \"runAs\": \"system\", \"maxRunMinutes\": " + std::to_string(sheet.maxRunMinutes) +
            "},\n";
    json += "  \"uninstall\": {\"command\": " + JsonString(kUninstallCommand) + "},\n";
    json += "  \"returnCodes\": [";
    for (std::size_t i = 0; i < sheet.returnCodes.size(); ++i) {
        json += std::string(i == 0 ? "" : ", ") +
                "{\"code\": " + std::to_string(sheet.returnCodes[i].code) + ", \"meaning\": \"" +
                sheet.returnCodes[i].meaning + "\"}";
    }
    json += "],\n  \"requirements\": " + JsonGroups(sheet.requirements) + ",\n";
    json += "  \"detection\": " + JsonGroups(sheet.detection) + "\n}\n";
    std::fputs(json.c_str(), stdout);
}

// --- Text -----------------------------------------------------------------------------------

std::string PowerShellString(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) {
        quoted += c;
        if (c == '\'') quoted += '\'';
    }
    return quoted + "'";
}

std::string RuleText(const Rule& rule) {
    const std::string where = "HKLM\\" + rule.key;
    switch (rule.op) {
        case Operator::kKeyExists:
            return where + " exists";
        case Operator::kKeyNotExists:
            return where + " does not exist";
        case Operator::kValueExists:
            return where + " has the value " + rule.value;
        default:
            break;
    }
    std::string expected;
    for (const std::string& one : rule.expected) {
        expected += (expected.empty() ? "" : ", ") + (rule.integer ? one : '"' + one + '"');
    }
    return where + " value " + rule.value + (rule.integer ? " (integer)" : " (string)") +
           (rule.op == Operator::kEquals ? " equals " : " is one of ") + expected;
}

// One PowerShell condition a rule; string values compare trimmed and without case, as the
// setup compares firmware names.
std::string ScriptCondition(const Rule& rule) {
    const std::string key = PowerShellString(rule.key);
    if (rule.op == Operator::kKeyExists) return "(Test-Key " + key + ")";
    if (rule.op == Operator::kKeyNotExists) return "-not (Test-Key " + key + ")";
    const std::string read = "(Read-Value " + key + " " + PowerShellString(rule.value) + ")";
    if (rule.op == Operator::kValueExists) return "($null -ne " + read + ")";
    std::string list;
    for (const std::string& one : rule.expected) {
        list += (list.empty() ? "" : ", ") + (rule.integer ? one : PowerShellString(one));
    }
    const std::string subject = rule.integer ? read : "\"$" + read + "\".Trim()";
    return "(@(" + list + ") -contains " + subject + ")";
}

std::string Script(const RuleGroups& groups, const char* answer) {
    std::string script =
        "    $hklm = [Microsoft.Win32.RegistryKey]::OpenBaseKey('LocalMachine', 'Registry64')\n"
        "    function Test-Key($k) { $null -ne $hklm.OpenSubKey($k) }\n"
        "    function Read-Value($k, $v) { $key = $hklm.OpenSubKey($k); if ($key) { "
        "$key.GetValue($v) } }\n"
        "    if (";
    for (std::size_t g = 0; g < groups.size(); ++g) {
        script += g == 0 ? "(" : " -or\n        (";
        for (std::size_t r = 0; r < groups[g].size(); ++r) {
            script += (r == 0 ? "" : " -and ") + ScriptCondition(groups[g][r]);
        }
        script += ")";
    }
    return script + ") { Write-Output '" + answer + "' }\n";
}

void PrintGroups(const RuleGroups& groups) {
    for (std::size_t g = 0; g < groups.size(); ++g) {
        std::printf("  %s all of:\n", g == 0 ? "Either" : "or");
        for (const Rule& rule : groups[g]) std::printf("    %s\n", RuleText(rule).c_str());
    }
}

std::string CodesOf(const Sheet& sheet, const char* meaning) {
    std::string codes;
    for (const ReturnCode& code : sheet.returnCodes) {
        if (std::string(code.meaning) == meaning) {
            codes += (codes.empty() ? "" : ", ") + std::to_string(code.code);
        }
    }
    return codes;
}

void PrintReturnCodes(const Sheet& sheet) {
    std::printf("Return codes               Intune          Configuration Manager\n");
    struct Row {
        const char* meaning;
        const char* intune;
        const char* configMgr;
    };
    const Row rows[] = {{"success", "Success", "Success"},
                        {"softReboot", "Soft reboot", "Soft Reboot"},
                        {"hardReboot", "Hard reboot", "Hard Reboot"},
                        {"retry", "Retry", "Fast Retry"},
                        {"failed", "Failed", "Failure"}};
    for (const Row& row : rows) {
        const std::string codes = CodesOf(sheet, row.meaning);
        if (!codes.empty()) {
            std::printf("  %-24s %-15s %s\n", codes.c_str(), row.intune, row.configMgr);
        }
    }
}

void PrintTimes(const Sheet& sheet) {
    const PackageSettings& settings = sheet.settings;
    std::printf(
        "Maximum run time           %d minutes: the setup's waits (%d s: 3 x %lu s for the "
        "stopper and the layer, %d s for the client module%s) and the layout of %llu bytes\n",
        sheet.maxRunMinutes, sheet.waitSeconds, static_cast<unsigned long>(kChildWaitSeconds),
        sheet.clientWaitSeconds,
        settings.suspendBitLocker ? ", 3 x 60 s for the BitLocker tool" : "", sheet.payloadBytes);
    std::printf("  Intune                   installation time required: %d minutes%s\n",
                sheet.maxRunMinutes,
                sheet.maxRunMinutes > kIntuneDefaultMinutes
                    ? " (more than its default of 60: set it)"
                    : "");
    std::printf("  Configuration Manager    maximum allowed run time: %d minutes%s\n",
                sheet.maxRunMinutes,
                sheet.maxRunMinutes > kConfigMgrMostMinutes
                    ? " -- more than its limit of 720: build with a shorter --client-wait"
                    : " (at most 720)");
}

void PrintText(const Sheet& sheet) {
    std::printf("Deployment sheet for %s (%s template)\n", sheet.package.c_str(),
                sheet.template64 ? "64-bit" : "32-bit");
    std::printf("Settings: %s\n\n", PackageSettingsSummary(sheet.settings).c_str());
    std::printf("Install command            %s <the client module's arguments>\n",
                InstallCommand(sheet).c_str());
    std::printf(
        "Uninstall command          %s (a firmware update cannot be undone and the package "
        "removes its own files; Intune requires a command)\n",
        kUninstallCommand);
    std::printf(
        "Install behaviour          System, whether or not a user is logged on; not as a "
        "32-bit process on 64-bit clients\n");
    PrintTimes(sheet);
    PrintReturnCodes(sheet);
    std::printf("\nRequirements (64-bit registry view; names compare trimmed, without case):\n");
    PrintGroups(sheet.requirements);
    std::printf(
        "  Configuration Manager: one global condition (setting type Registry, operator One of or\n"
        "  Not exists) a rule, the rules of a group joined with And, the groups with Or.\n");
    if (sheet.requirements.size() > 1 ||
        sheet.settings.models.find(kModelSeparator) != std::string::npos) {
        std::printf(
            "  Intune: a registry requirement compares one value and joins rules with And, so\n"
            "  use this requirement script (output String equals Yes, run as 64-bit):\n");
        std::fputs(Script(sheet.requirements, "Yes").c_str(), stdout);
    } else {
        std::printf("  Intune: registry requirements as above (64-bit view).\n");
    }
    std::printf("\nDetection (64-bit registry view):\n");
    if (!sheet.detectionUsable) {
        std::printf(
            "  This package has no detection rule a deployment system can use: build it "
            "with --bios-version or --result-key.\n");
    }
    PrintGroups(sheet.detection);
    std::printf(
        "  Configuration Manager: registry clauses as above, the groups joined with Or (no "
        "script).\n"
        "  Intune: its detection rules are joined with And, so use this detection script "
        "(run as 64-bit):\n");
    std::fputs(Script(sheet.detection, "Detected").c_str(), stdout);
    std::printf("\nLogs and record\n");
    const PackageSettings& settings = sheet.settings;
    if (!settings.traceLogFolder.empty()) {
        std::printf("  trace log   %s\\<package name>.trace.log\n",
                    settings.traceLogFolder.c_str());
    } else if (settings.traceLog) {
        std::printf("  trace log   <package name>.trace.log in the working directory\n");
    }
    std::printf("  result log  <package name>.log in the working directory (%s)\n", kInstallOption);
    if (!settings.resultKey.empty()) {
        std::printf("  record      HKLM\\%s\\%s (64-bit view)\n", kResultRecordParentKey,
                    settings.resultKey.c_str());
    }
    std::printf("  restart     HKLM\\%s while the PC waits for a task's restart\n",
                kRestartMarkKey);
}

unsigned long long PayloadBytes(const std::vector<PeResource>& entries) {
    unsigned long long bytes = 0;
    for (const PeResource& entry : entries) bytes += entry.size;
    return bytes;
}

}  // namespace

int PrintDeploymentSheet(const std::string& path, bool json) {
    platform::MappedFile file(path.c_str());
    std::vector<PeResource> entries;
    std::uint16_t machine = 0;
    std::string error = file.opened()
                            ? CheckSetupBytes(path, file.data(), file.size(), entries, &machine)
                            : "cannot read " + path;
    PackageSettings settings;
    if (error.empty() &&
        ReadSettingsEntry(file.data(), entries, settings) == SettingsEntry::kUnreadable) {
        error = path + " has settings the setup cannot read";
    }
    if (!error.empty()) {
        std::fprintf(stderr, "setup-pack: error: %s\n", Escaped(error).c_str());
        return 1;
    }
    const Sheet sheet =
        MakeSheet(FileNameOf(path), machine == kMachineAmd64, settings, PayloadBytes(entries));
    if (json) {
        if (!sheet.detectionUsable) {
            std::fputs(
                "setup-pack: this package has no detection rule a deployment system can "
                "use: build it with --bios-version or --result-key\n",
                stderr);
        }
        PrintJson(sheet);
    } else {
        PrintText(sheet);
    }
    return 0;
}
