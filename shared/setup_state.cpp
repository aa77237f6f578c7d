#include "shared/setup_state.h"

#include "shared/ansi_text.h"

SetupState g_SetupState;

std::string WorkingPath(const std::string& name) {
    // An unresolved directory must never turn a name into one at the root of the drive.
    if (g_SetupState.WorkingDirectory.empty()) return {};
    std::string path = g_SetupState.WorkingDirectory + '\\' + name;
    return FitsPathBuffer(path) ? path : std::string();
}

namespace {

constexpr char kCurrentFolderPrefix[] = ".\\";

// The form Windows opens: no ".\" in front, '/' read as '\', trailing dots and blanks dropped,
// letters compared without case (the names looked up are ASCII, so folding ASCII suffices).
std::string FoldedRelativePath(const std::string& relativePath) {
    std::string path = relativePath.compare(0, 2, kCurrentFolderPrefix) == 0
                           ? relativePath.substr(2)
                           : relativePath;
    path = WithoutTrailingDotsAndBlanks(path);
    for (char& c : path) c = c == '/' ? '\\' : FoldAsciiLetter(c);
    return path;
}

}  // namespace

void RecordWrittenFile(const std::string& relativePath) {
    g_SetupState.WrittenFiles.push_back(FoldedRelativePath(relativePath));
}

bool WasWrittenByThisRun(const std::string& relativePath) {
    const std::string folded = FoldedRelativePath(relativePath);
    for (const std::string& written : g_SetupState.WrittenFiles) {
        if (written == folded) return true;
    }
    return false;
}

void KeepForRunningProgram(const std::string& relativePath) {
    g_SetupState.KeptForRunningPrograms.push_back(FoldedRelativePath(relativePath));
}

std::wstring ComparableRelativePath(const std::wstring& relativePath) {
    std::wstring path =
        relativePath.compare(0, 2, L".\\") == 0 ? relativePath.substr(2) : relativePath;
    while (!path.empty() && (path.back() == L'.' || path.back() == L' ')) path.pop_back();
    for (wchar_t& c : path) {
        if (c == L'/') c = L'\\';
        if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
    }
    return path;
}

bool IsOrLiesIn(const std::wstring& comparablePath, const std::string& name) {
    const std::wstring wanted = ComparableRelativePath(std::wstring(name.begin(), name.end()));
    return comparablePath == wanted || (comparablePath.size() > wanted.size() &&
                                        comparablePath.compare(0, wanted.size(), wanted) == 0 &&
                                        comparablePath[wanted.size()] == L'\\');
}

bool IsKeptForRunningProgram(const std::wstring& relativePath) {
    if (g_SetupState.AllFilesKept) return true;
    const std::wstring path = ComparableRelativePath(relativePath);
    for (const std::string& kept : g_SetupState.KeptForRunningPrograms) {
        if (IsOrLiesIn(path, kept)) return true;
    }
    return false;
}

bool IsKeptForRunningProgram(const std::string& relativePath) {
    return IsKeptForRunningProgram(std::wstring(relativePath.begin(), relativePath.end()));
}
