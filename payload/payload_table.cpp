#include "payload/own_names.h"
#include "payload/payload_store.h"

const PayloadEntryInfo kPayloadEntries[14] = {
    {kPayloadClientModule64Cab, kClientModule64CabName, true, false},
    {kPayloadLayer64Cab, kLayer64CabName, true, false},
    {kPayloadLayer32Cab, kLayer32CabName, true, false},
    {kPayloadClientModule32Cab, kClientModule32CabName, true, false},
    {kPayloadProfile, kProfileName, false, true},
    {kPayloadBiosImage, nullptr, false, true},
    {kPayloadUninstaller, kUninstallerName, true, false},
    {kPayloadServiceStopper, kServiceStopperName, true, false},
    {kPayloadSchema, kSchemaName, false, true},
    {kPayloadBootDevices, kBootDevicesName, false, true},
    {kPayloadSmbiosData, kSmbiosDataName, true, false},
    {kPayloadStandaloneServiceCab, kStandaloneServiceCabName, true, false},
    {kPayloadReadme, kReadmeName, true, false},
    {kPayloadSettings, nullptr, false, false, true},
};

bool IsSettingsEntry(unsigned id, unsigned short language) {
    return id == kPayloadSettings && language == kSettingsLanguage;
}

const PayloadEntryInfo* FindPayloadEntry(unsigned id) {
    for (const PayloadEntryInfo& entry : kPayloadEntries) {
        if (entry.id == id) return &entry;
    }
    return nullptr;
}

const char* PayloadFileName(unsigned id) {
    const PayloadEntryInfo* entry = FindPayloadEntry(id);
    return entry == nullptr ? nullptr : entry->writtenAs;
}
