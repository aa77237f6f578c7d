#include "setup/setup_state.h"

SetupState g_SetupState;

std::string WorkingPath(const std::string& name) {
    std::string path = g_SetupState.WorkingDirectory + '\\' + name;
    return FitsPathBuffer(path) ? path : std::string();
}
