#include "payload/payload_store.h"

const PayloadEntryInfo kPayloadEntries[14] = {
    {kPayloadClientModule64Cab, "runvex64.cab", true, false},
    {kPayloadLayer64Cab, "QMB64.cab", true, false},
    {kPayloadLayer32Cab, "QMB.cab", true, false},
    {kPayloadClientModule32Cab, "Runvex.cab", true, false},
    {kPayloadProfile, "profile.xml", false, true},
    {kPayloadBiosImage, nullptr, false, true},
    {kPayloadUninstaller, "uninst.exe", true, false},
    {kPayloadServiceStopper, "StopHWIX.exe", true, false},
    {kPayloadSchema, "schema.xml", false, true},
    {kPayloadBootDevices, "bootdevices.xml", false, true},
    {kPayloadSmbiosData, "ksmbios_data.htm", true, false},
    {kPayloadStandaloneServiceCab, "QTMStandaloneSvc.cab", true, false},
    {kPayloadReadme, "!Readme.txt", true, false},
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
