// The payload entries carried as resources of type "BINARY", by numeric ID.
#pragma once

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
};

// Writes entry `id` byte for byte to `fileName` (relative names resolve against the current
// directory). Returns 0 when the file was written, 1 on failure.
int fn_CreateFileFromResource(unsigned short id, const char* fileName);
