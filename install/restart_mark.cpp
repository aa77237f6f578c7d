#include "install/restart_mark.h"

#include <string_view>

#include "platform/registry.h"
#include "shared/format_text.h"
#include "shared/run_state.h"
#include "shared/trace_log.h"
#include "shared/utc_time.h"

namespace {

// Where the mark's own name begins in its one full name: the part before is its parent.
constexpr std::size_t kMarkNameAt = std::string_view(kRestartMarkKey).rfind('\\');
constexpr char kFolderValue[] = "Folder";
constexpr char kMarkedValue[] = "Marked";
constexpr char kReasonValue[] = "Reason";
constexpr char kRestartAsked[] = "the client module asked for a restart";
constexpr char kTaskNotOverFormat[] =
    "the task was not over when the setup ended: processes still running: %s";

REGSAM View(bool windows64) {
    return windows64 ? KEY_WOW64_64KEY : 0;
}

std::string ReadText(HKEY key, const char* name) {
    std::string text;
    return platform::ReadRegistryText(key, name, text) ? text : std::string();
}

// The mark's key, created volatile below a parent made lasting first: a volatile parent would
// take the result records (which must last) with it at restart and refuse them until then.
LONG CreateMarkKey(platform::RegistryKey& mark, bool windows64) {
    const REGSAM view = View(windows64);
    const std::string parentKey(kRestartMarkKey, kMarkNameAt);
    const char* markName = kRestartMarkKey + kMarkNameAt + 1;
    platform::RegistryKey parent;
    LONG status = platform::CreateMachineKey(parentKey.c_str(), KEY_CREATE_SUB_KEY | view, parent);
    if (status != ERROR_SUCCESS) return status;
    return platform::CreateVolatileKey(parent.get(), markName, KEY_SET_VALUE | view, mark);
}

std::string RestartReason(const RunOutcome& outcome) {
    if (outcome.ProcessesLeft == 0) return kRestartAsked;
    return FormatText(kTaskNotOverFormat, {std::to_string(outcome.ProcessesLeft)});
}

}  // namespace

bool FindRestartMark(bool windows64, RestartMark& mark) {
    platform::RegistryKey key;
    if (platform::OpenMachineKeyToRead(kRestartMarkKey, View(windows64), key) != ERROR_SUCCESS) {
        return false;
    }
    mark.package = ReadText(key.get(), kMarkPackageValue);
    mark.folder = ReadText(key.get(), kFolderValue);
    mark.marked = ReadText(key.get(), kMarkedValue);
    mark.reason = ReadText(key.get(), kReasonValue);
    return true;
}

void WriteRestartMark(const RunInputs& run, const RunOutcome& outcome) {
    const std::string& package = run.ExecutableName;
    platform::RegistryKey mark;
    LONG status = CreateMarkKey(mark, run.Is64BitWindows);
    if (status == ERROR_SUCCESS)
        status = platform::SetRegistryText(mark.get(), kMarkPackageValue, package);
    if (status == ERROR_SUCCESS) {
        status = platform::SetRegistryText(mark.get(), kFolderValue, run.WorkingDirectory);
    }
    if (status == ERROR_SUCCESS)
        status = platform::SetRegistryText(mark.get(), kMarkedValue, UtcNowText());
    if (status == ERROR_SUCCESS) {
        status = platform::SetRegistryText(mark.get(), kReasonValue, RestartReason(outcome));
    }
    const std::string where = std::string("restart mark HKLM\\") + kRestartMarkKey;
    if (status != ERROR_SUCCESS) {
        TraceText(where + " not written, error " + std::to_string(status),
                  platform::Severity::kFailure);
        return;
    }
    TraceText(where + " written: no BIOS task runs on this PC until it restarts");
}
