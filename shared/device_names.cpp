#include "shared/device_names.h"

#include "shared/ansi_text.h"

namespace {

constexpr const char* kDevices[] = {"con", "conin$", "conout$", "nul", "aux", "prn"};
constexpr const char* kNumberedDevices[] = {"com", "lpt"};

// The part Windows compares: up to the first dot, without trailing blanks, letters folded.
std::string DeviceStem(const std::string& component) {
    std::string stem = component.substr(0, component.find('.'));
    while (!stem.empty() && stem.back() == ' ') stem.pop_back();
    for (char& c : stem) c = FoldAsciiLetter(c);
    return stem;
}

}  // namespace

bool IsDeviceName(const std::string& component) {
    const std::string stem = DeviceStem(component);
    for (const char* device : kDevices) {
        if (stem == device) return true;
    }
    for (const char* prefix : kNumberedDevices) {
        if (stem.size() == 4 && stem.compare(0, 3, prefix) == 0 && stem[3] >= '1' &&
            stem[3] <= '9') {
            return true;
        }
    }
    return false;
}
