#include "shared/run_state.h"

#include "platform/path_limit.h"
#include "shared/file_names.h"

namespace {
std::wstring Widened(const std::string& asciiName) {
    return std::wstring(asciiName.begin(), asciiName.end());
}
}  // namespace

std::string WorkingPath(const RunInputs& run, const std::string& name) {
    // An unresolved directory must never turn a name into one at the root of the drive.
    if (run.WorkingDirectory.empty()) return {};
    std::string path = run.WorkingDirectory + '\\' + name;
    return FitsPathBuffer(path) ? path : std::string();
}

void FileLedger::clear() {
    files_.clear();
    folders_.clear();
}

bool FileLedger::wasWritten(const std::string& relativePath) const {
    const std::wstring wanted = ComparableName(Widened(relativePath));
    for (const std::wstring& written : files_) {
        if (ComparableName(written) == wanted) return true;
    }
    return false;
}

void FileLedger::keepForRunningProgram(const std::string& relativePath) {
    kept_.push_back(ComparableName(Widened(relativePath)));
}

bool FileLedger::isKept(const std::wstring& relativePath) const {
    if (allKept_) return true;
    const std::wstring path = ComparableName(relativePath);
    for (const std::wstring& kept : kept_) {
        if (IsOrLiesIn(path, kept)) return true;
    }
    return false;
}

bool FileLedger::isKept(const std::string& relativePath) const {
    return isKept(Widened(relativePath));
}
