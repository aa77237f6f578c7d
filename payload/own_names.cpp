#include "payload/own_names.h"

#include <cstring>
#include <vector>

#include "payload/payload_store.h"
#include "shared/device_names.h"
#include "shared/file_names.h"
#include "shared/result_log.h"

namespace {
constexpr char kWorkingFolderPrefix[] = ".\\";
constexpr char kForbiddenNameBytes[] = "<>:\"/\\|?*";
}  // namespace

std::string InWorkingFolder(const char* name) {
    return std::string(kWorkingFolderPrefix) + name;
}

bool IsSetupOwnName(const std::string& name, const std::string& executableName,
                    LeadBytePredicate isLeadByte) {
    std::vector<std::string> own = {kLayerFolderName, kRebootMarker};
    for (const char* file : kFilesBeforeImage) own.push_back(file);
    for (const char* file : kFilesAfterImage) own.push_back(file);
    for (const char* file : kFilesAfterLayer) own.push_back(file);
    for (const PayloadEntryInfo& entry : kPayloadEntries) {
        if (entry.writtenAs != nullptr) own.push_back(entry.writtenAs);
    }
    if (!executableName.empty()) {
        own.push_back(executableName);
        own.push_back(ResultLogFileName(executableName, isLeadByte));
        own.push_back(TraceLogFileName(executableName, isLeadByte));
    }
    const std::string wanted = ComparableName(name, isLeadByte);
    for (const std::string& candidate : own) {
        if (ComparableName(candidate, isLeadByte) == wanted) return true;
    }
    return false;
}

bool IsPlainFileName(const std::string& ansiName, LeadBytePredicate isLeadByte) {
    if (ansiName.empty() || ansiName == "." || ansiName == "..") return false;
    for (std::size_t i = 0; i < ansiName.size(); ++i) {
        if (IsDoubleByteAt(ansiName, i, isLeadByte)) {
            ++i;  // a trail byte (even 0x5C) is part of its character
            continue;
        }
        unsigned char c = static_cast<unsigned char>(ansiName[i]);
        if (c < 32 || std::strchr(kForbiddenNameBytes, c) != nullptr) return false;
    }
    return !IsDeviceName(ansiName);
}
