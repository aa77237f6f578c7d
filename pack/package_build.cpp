#include <cstdio>

#include "pack/build_folder.h"
#include "pack/build_inputs.h"
#include "pack/build_settings.h"
#include "pack/pack_text.h"
#include "pack/package.h"
#include "pack/package_checks.h"
#include "pack/package_write.h"
#include "pack/pe_resources.h"
#include "platform/mapped_files.h"
#include "shared/package_settings.h"

namespace {

constexpr char kNoRebootExitCode[] =
    "note: no --reboot-exit-code: a task that asks for a restart will report 0 and nothing "
    "restarts the PC; use --reboot-exit-code 3010";
constexpr char kStageFolderNotAscii[] =
    "warning: the stage folder has characters outside ASCII: a PC whose code pages cannot name "
    "them fails the task with exit code 3 (its logs go to the folder the package was started "
    "from)";
constexpr char kSignatureNotice[] =
    "setup-pack: the template's signature, if it had one, no longer holds: sign the package "
    "again before it is deployed (signtool on Windows, osslsigncode on Linux)";
// A package that still carried its template's certificate table would look tampered with.
constexpr char kSignatureRemoved[] =
    "setup-pack: the template's signature was removed: sign the package before it is deployed";

int Fail(const std::string& message) {
    std::fprintf(stderr, "setup-pack: error: %s\n", Escaped(message).c_str());
    return 1;
}

void Say(const std::string& message) {
    std::printf("setup-pack: %s\n", message.c_str());
}

bool HasNonAscii(const std::string& text) {
    for (char c : text) {
        if (static_cast<unsigned char>(c) >= 0x80) return true;
    }
    return false;
}

}  // namespace

int BuildPackage(const PackOptions& options) {
    platform::MappedFile templateFile(options.templatePath.c_str());
    std::vector<PeResource> templateEntries;
    std::uint16_t machine = 0;
    if (!templateFile.opened()) return Fail("cannot read " + options.templatePath);
    std::string error = CheckSetupBytes(options.templatePath, templateFile.data(),
                                        templateFile.size(), templateEntries, &machine);
    if (!error.empty()) return Fail(error);
    PeSignatureLayout layout;
    if (!ReadSignatureLayout(templateFile.data(), static_cast<std::size_t>(templateFile.size()),
                             layout, error)) {
        return Fail(options.templatePath + " is not a setup with a payload store: " + error);
    }
    error = CertificateTableFault(options.templatePath, layout, templateFile.size());
    if (!error.empty()) return Fail(error);
    std::vector<Input> inputs = ChosenInputs(options);
    error = MapInputs(inputs);
    if (error.empty()) error = CheckOutputIsNoInput(options, inputs);
    if (!error.empty()) return Fail(error);
    PackageSettings settings;
    ReadSettingsEntry(templateFile.data(), templateEntries, settings);
    if (GivesSettings(options)) {
        settings = PackageSettings();
        error = SettingsFromOptions(options, settings);
        if (error.empty()) error = FolderSettingsFault(settings);
        if (!error.empty()) return Fail(error);
        AddSettingsInput(settings, inputs);
    }
    // In order, up to the first failure: nothing more is read once one input is refused, and
    // nothing on disk is touched before every input and the output are checked.
    std::string imageNote;
    error = CheckSizes(inputs, templateEntries, machine == kMachineI386);
    if (error.empty()) error = CheckInputBytes(inputs);
    if (error.empty()) error = CheckXmlInputs(options);
    if (error.empty()) error = CheckBiosImage(options, imageNote);
    if (error.empty()) error = BuildFolderRoomFault(options.out);
    if (error.empty())
        error = FreeSpaceFault(options.out,
                               PackageSize(templateFile.size(), layout, inputs, templateEntries));
    if (!error.empty()) return Fail(error);
    RemoveAbandonedBuildFolders(options.out);
    BuildFolder folder(options.out);
    if (folder.path().empty()) {
        return Fail("cannot write into the folder of " + options.out + " (error " +
                    std::to_string(folder.error()) + ")");
    }
    for (const Input& input : inputs) {
        if (!error.empty() || input.kitName.empty()) continue;
        error = CheckKitProgram(input.path, input.kitName, folder.path() + '\\',
                                machine == kMachineAmd64);
    }
    if (error.empty()) {
        error = WritePackage(options, inputs, templateFile.data(), templateEntries, layout, folder);
    }
    if (!error.empty()) return Fail(error);
    if (!imageNote.empty()) Say(imageNote);
    Say("settings: " + PackageSettingsSummary(settings));
    if (settings.rebootExitCode == 0) Say(kNoRebootExitCode);
    if (HasNonAscii(settings.stageFolder)) Say(kStageFolderNotAscii);
    Say("wrote " + options.out);
    std::puts(layout.certificateSize != 0 ? kSignatureRemoved : kSignatureNotice);
    return 0;
}
