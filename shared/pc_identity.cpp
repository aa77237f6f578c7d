#include "shared/pc_identity.h"

#include "shared/ansi_text.h"
#include "shared/package_settings.h"

namespace {

constexpr char kBlanks[] = " \t";
constexpr char kMissing[] = "missing";

std::string Trimmed(const std::string& text) {
    const std::size_t first = text.find_first_not_of(kBlanks);
    if (first == std::string::npos) return {};
    return text.substr(first, text.find_last_not_of(kBlanks) - first + 1);
}

std::string NameText(const char* label, const FirmwareValue& value) {
    return std::string(label) + ' ' + (value.read ? '"' + value.text + '"' : kMissing);
}

}  // namespace

bool IsKnownFirmwareValue(const FirmwareValue& value) {
    return value.read && !Trimmed(value.text).empty();
}

bool SameFirmwareName(const std::string& pc, const std::string& package) {
    const std::string a = Trimmed(pc);
    const std::string b = Trimmed(package);
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (FoldAsciiLetter(a[i]) != FoldAsciiLetter(b[i])) return false;
    }
    return !a.empty();
}

bool IsOneOfModels(const PcIdentity& pc, const std::string& models) {
    for (const FirmwareValue* name : {&pc.productName, &pc.sku, &pc.baseBoard}) {
        if (!IsKnownFirmwareValue(*name)) continue;
        for (std::size_t start = 0; start <= models.size();) {
            std::size_t end = models.find(kModelSeparator, start);
            if (end == std::string::npos) end = models.size();
            if (SameFirmwareName(name->text, models.substr(start, end - start))) return true;
            start = end + 1;
        }
    }
    return false;
}

bool HasBiosVersion(const PcIdentity& pc, const std::string& version) {
    return pc.biosVersion.read && SameFirmwareName(pc.biosVersion.text, version);
}

std::string PcNamesText(const PcIdentity& pc) {
    return NameText("SystemProductName", pc.productName) + ", " + NameText("SystemSKU", pc.sku) +
           ", " + NameText("BaseBoardProduct", pc.baseBoard);
}
