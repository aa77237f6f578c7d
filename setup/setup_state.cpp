#include "setup/setup_state.h"

SetupState g_SetupState;

std::string WorkingPath(const std::string& name) {
    // An unresolved directory must never turn a name into one at the root of the drive.
    if (g_SetupState.WorkingDirectory.empty()) return {};
    std::string path = g_SetupState.WorkingDirectory + '\\' + name;
    return FitsPathBuffer(path) ? path : std::string();
}
