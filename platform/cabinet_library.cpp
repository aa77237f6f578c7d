#include "platform/cabinet_library.h"

#include "platform/files_processes.h"
#include "setup/setup_state.h"

namespace platform {

namespace {
constexpr char kCabinetLibraryFile[] = "\\cabinet.dll";
}

std::string CabinetLibraryPath() {
    std::string system = SystemDirectory();
    if (system.empty()) return {};
    std::string path = system + kCabinetLibraryFile;
    return FitsPathBuffer(path) ? path : std::string();
}

}  // namespace platform
