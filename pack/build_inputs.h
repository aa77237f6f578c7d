// A build's inputs: chosen from the options, mapped (never copied), and checked before anything
// is written, as the setup will read them; each check gives an error text, empty when it holds.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "pack/pack_options.h"
#include "pack/pe_resources.h"
#include "platform/mapped_files.h"
#include "shared/package_settings.h"

// An input mapped, never copied: the resource update reads it from the view.
struct Input {
    unsigned id;
    std::string path;
    std::string kitName;  // the kit file's name, for kit inputs
    std::shared_ptr<platform::MappedFile> file;
    std::string text;  // the settings entry, made here
    // The bytes and size of the payload entry it becomes.
    const unsigned char* entryBytes() const {
        return file ? file->data() : reinterpret_cast<const unsigned char*>(text.data());
    }
    unsigned long long entrySize() const { return file ? file->size() : text.size(); }
};

// The inputs the options name, in the order they are checked; none mapped yet.
std::vector<Input> ChosenInputs(const PackOptions& options);

// Maps every input; an empty or unreadable one, or one larger than an entry can be, is refused.
std::string MapInputs(std::vector<Input>& inputs);

// True when one of the inputs takes the place of the template's `entry`.
bool IsReplaced(const PeResource& entry, const std::vector<Input>& inputs);

std::string CheckSizes(const std::vector<Input>& inputs,
                       const std::vector<PeResource>& templateEntries, bool template32);
std::string CheckInputBytes(const std::vector<Input>& inputs);
std::string CheckXmlInputs(const PackOptions& options);
std::string CheckBiosImage(const PackOptions& options, std::string& note);
std::string CheckOutputIsNoInput(const PackOptions& options, const std::vector<Input>& inputs);

// The settings entry for the command line's settings.
void AddSettingsInput(const PackageSettings& settings, std::vector<Input>& inputs);

unsigned long long PackageSize(unsigned long long templateSize, const PeSignatureLayout& layout,
                               const std::vector<Input>& inputs,
                               const std::vector<PeResource>& templateEntries);
std::string FreeSpaceFault(const std::string& out, unsigned long long packageSize);
