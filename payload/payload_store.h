// The payload entries carried as resources of type "BINARY", by numeric ID.
#pragma once

#include <string>

#include "shared/run_state.h"

enum PayloadId : unsigned short {
    kPayloadClientModule64Cab = 103,
    kPayloadLayer64Cab = 104,
    kPayloadLayer32Cab = 105,
    kPayloadClientModule32Cab = 106,
    kPayloadProfile = 107,
    kPayloadBiosImage = 110,
    kPayloadUninstaller = 112,
    kPayloadServiceStopper = 113,
    kPayloadSchema = 114,
    kPayloadBootDevices = 115,
    kPayloadSmbiosData = 116,
    kPayloadStandaloneServiceCab = 117,
    kPayloadReadme = 118,
    kPayloadSettings = 119,  // the package's settings, never written as a file
};

// What an entry holds, for tools that read or build a package.
struct PayloadEntryInfo {
    PayloadId id;
    const char* writtenAs;     // the name the setup writes it as; null when it has none of its own
    bool kitFile;              // a payload program or file of the package's maker
    bool templatePlaceholder;  // the template carries an English-US placeholder for it
    bool optional = false;     // a package may lack it
};

// Every entry of the store, by ascending ID.
extern const PayloadEntryInfo kPayloadEntries[14];

// The entry with this ID, or null.
const PayloadEntryInfo* FindPayloadEntry(unsigned id);

// The name the setup writes entry `id` as; null when it has none of its own.
const char* PayloadFileName(unsigned id);

// Writes entry `id` byte for byte to `fileName` (relative names resolve against the current
// directory), created anew: an old file of that name, read-only or not, is deleted first, a link
// is removed itself or, where it cannot be, left and the write fails. Returns 0 when the file was
// written completely (and records it in `files`), 1 on failure; a file cut short is deleted.
int fn_CreateFileFromResource(unsigned short id, const char* fileName, FileLedger& files);

// The language of the settings entry: the setup honours and the builder lists exactly the
// language-neutral entry 119; one in another language is ignored by both.
constexpr unsigned short kSettingsLanguage = 0;

// True for the entry that holds the package's settings.
bool IsSettingsEntry(unsigned id, unsigned short language);

// The bytes of entry `id` in `language` as text; false when the package has no such entry.
bool ReadPayloadText(unsigned short id, unsigned short language, std::string& text);
