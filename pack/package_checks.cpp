#include "pack/package_checks.h"

#include <utility>

#include "pack/kit_cabinet.h"
#include "pack/pack_text.h"
#include "pack/pe_resources.h"
#include "payload/cabinet_extractor.h"
#include "payload/own_names.h"
#include "payload/payload_store.h"
#include "platform/build_files.h"
#include "platform/code_pages.h"
#include "platform/mapped_files.h"
#include "platform/own_files.h"
#include "platform/xml_document.h"
#include "shared/ansi_text.h"
#include "shared/file_names.h"

namespace {

// The program each client-module and layer cabinet must hold: the one the setup starts.
struct RequiredProgram {
    const char* cabinet;
    const char* program;
    bool variant64;  // started on 64-bit Windows
};
// The layer's installer as its cabinets store it.
constexpr char kLayerInstallerStored[] = "setup.exe";
constexpr RequiredProgram kRequiredPrograms[] = {
    {kClientModule64CabName, kClientModule64Name, true},
    {kClientModule32CabName, kClientModule32Name, false},
    {kLayer64CabName, kLayerInstallerStored, true},
    {kLayer32CabName, kLayerInstallerStored, false},
};

std::string FullPathFolded(const std::string& path) {
    return ComparableName(platform::FullPathOf(path));
}

}  // namespace

std::string CheckXmlRoot(const std::string& path, const wchar_t* rootName,
                         const wchar_t* requiredAttribute) {
    platform::ComApartment apartment;
    platform::ComRef<IXMLDOMDocument> document;
    if (FAILED(platform::CreateXmlDocument(document)) || !document) return "no XML document object";
    if (!platform::LoadXmlFile(document.get(), path.c_str()))
        return path + " is not well-formed XML";
    platform::ComRef<IXMLDOMElement> root;
    platform::Bstr name;
    if (FAILED(document->get_documentElement(root.put())) || !root ||
        FAILED(root->get_nodeName(name.put())) || std::wstring(name.get()) != rootName) {
        return path + ": the document element must be <" + platform::ToAnsi(rootName) + ">";
    }
    if (requiredAttribute != nullptr) {
        platform::Variant value;
        platform::Bstr attribute(requiredAttribute);
        if (root->getAttribute(attribute.get(), &value.get()) != S_OK) {
            return path + ": <" + platform::ToAnsi(rootName) + "> needs the attribute " +
                   platform::ToAnsi(requiredAttribute);
        }
    }
    return {};
}

std::string CheckSetupBytes(const std::string& path, const unsigned char* data,
                            unsigned long long size, std::vector<PeResource>& entries,
                            std::uint16_t* machine) {
    std::string fault;
    if (data == nullptr ||
        !ReadPayloadResources(data, static_cast<std::size_t>(size), entries, fault, machine)) {
        return path + " is not a setup with a payload store: " +
               (data == nullptr ? "it cannot be read" : fault);
    }
    for (const PayloadEntryInfo& info : kPayloadEntries) {
        if (info.optional) continue;
        bool present = false;
        for (const PeResource& entry : entries) present |= entry.id == info.id;
        if (!present) {
            return path + " is not a setup with a payload store (entry " + std::to_string(info.id) +
                   " is missing)";
        }
    }
    return {};
}

SettingsEntry ReadSettingsEntry(const unsigned char* data, const std::vector<PeResource>& entries,
                                PackageSettings& settings) {
    for (const PeResource& entry : entries) {
        if (!IsSettingsEntry(entry.id, entry.language)) continue;
        const std::string text(reinterpret_cast<const char*>(data + entry.offset), entry.size);
        SettingsFault fault;
        PackageSettings read;
        if (!ParsePackageSettings(text, read, fault)) return SettingsEntry::kUnreadable;
        settings = read;
        return SettingsEntry::kRead;
    }
    return SettingsEntry::kNone;
}

std::string CheckKitCabinetFile(const std::string& path, const std::string& kitName,
                                const unsigned char* data, unsigned long long size) {
    std::vector<std::string> names;
    std::string fault = CheckKitCabinet(data, static_cast<std::size_t>(size), names);
    if (!fault.empty()) return path + " cannot be a kit cabinet: " + Escaped(fault);
    for (const RequiredProgram& required : kRequiredPrograms) {
        if (HoldsEntry({kitName}, required.cabinet) && !HoldsEntry(names, required.program)) {
            return path + " holds no " + required.program + ", which the setup starts";
        }
    }
    return {};
}

namespace {

// The program's kind, as a refusal names it.
const char* MachineText(std::uint16_t machine) {
    return machine == kMachineAmd64  ? "an x86-64 program"
           : machine == kMachineI386 ? "an x86 program"
                                     : "neither an x86 nor an x86-64 program";
}

// Removes a folder tree when it goes out of scope.
class RemovedOnExit {
  public:
    explicit RemovedOnExit(std::string path) : path_(std::move(path)) {}
    ~RemovedOnExit() { platform::DeleteTree(path_.c_str()); }
    RemovedOnExit(const RemovedOnExit&) = delete;
    RemovedOnExit& operator=(const RemovedOnExit&) = delete;

  private:
    std::string path_;
};

// What keeps the platform from starting a whole executable as a program of its own.
std::string StartableProgramFault(const PeProgram& program) {
    if ((program.characteristics & kImageDll) != 0) return " is a DLL, not a program";
    if ((program.characteristics & kImageExecutable) == 0) {
        return " is not marked as an executable image (its linker failed)";
    }
    if (program.subsystem != kSubsystemWindowsGui &&
        program.subsystem != kSubsystemWindowsConsole) {
        return " is built for subsystem " + std::to_string(program.subsystem) +
               ", not for Windows (a GUI or console program)";
    }
    return {};
}

}  // namespace

std::string CheckKitProgram(const std::string& path, const std::string& kitName,
                            const std::string& folder, bool template64) {
    for (const RequiredProgram& required : kRequiredPrograms) {
        if (!HoldsEntry({kitName}, required.cabinet)) continue;
        const std::string destination = folder + kitName + '\\';
        FileLedger unpacked;
        if (!platform::CreateFolder(destination) ||
            ExtractCabinet(path.c_str(), destination.c_str(), unpacked) != 1) {
            return path +
                   " cannot be unpacked as the setup unpacks it (damaged, or the output's "
                   "folder path is too long)";
        }
        // What was unpacked goes once it is checked: the build needs the room for the package.
        const RemovedOnExit unpackedTree(folder + kitName);
        platform::MappedFile file((destination + required.program).c_str());
        PeProgram program;
        std::string fault;
        const std::string named = path + ": its " + required.program;
        if (file.data() == nullptr ||
            !ReadProgramHeaders(file.data(), static_cast<std::size_t>(file.size()), program,
                                fault)) {
            return named + " is not a Windows program" + (fault.empty() ? "" : " (" + fault + ")");
        }
        fault = StartableProgramFault(program);
        if (!fault.empty()) return named + fault;
        const bool fits = !required.variant64 ? program.machine == kMachineI386
                          : template64
                              ? program.machine == kMachineAmd64
                              : program.machine == kMachineAmd64 || program.machine == kMachineI386;
        if (!fits) {
            return named + " is " + MachineText(program.machine) + ", which cannot run where the " +
                   (template64 ? "64-bit " : "") + "setup starts it";
        }
    }
    return {};
}

bool SameFile(const std::string& a, const std::string& b) {
    return FullPathFolded(a) == FullPathFolded(b) || platform::IsSameFile(a, b);
}
