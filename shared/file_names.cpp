#include "shared/file_names.h"

namespace {

constexpr char kCurrentFolderPrefix[] = ".\\";
constexpr wchar_t kWideCurrentFolderPrefix[] = L".\\";

template <typename Char>
bool IsDroppedAtEnd(Char c) {
    return c == Char('.') || c == Char(' ');
}

template <typename Char>
Char FoldedCharacter(Char c) {
    return c == Char('/') ? Char('\\') : FoldAsciiLetter(c);
}

template <typename String>
String WithoutPrefixAndEnd(const String& name, const typename String::value_type* prefix) {
    String path = name.compare(0, 2, prefix) == 0 ? name.substr(2) : name;
    while (!path.empty() && IsDroppedAtEnd(path.back())) path.pop_back();
    return path;
}

}  // namespace

std::string ComparableName(const std::string& name, LeadBytePredicate isLeadByte) {
    std::string path = WithoutPrefixAndEnd(name, kCurrentFolderPrefix);
    for (std::size_t i = 0; i < path.size(); ++i) {
        if (isLeadByte != nullptr && IsDoubleByteAt(path, i, isLeadByte)) {
            ++i;
        } else {
            path[i] = FoldedCharacter(path[i]);
        }
    }
    return path;
}

std::wstring ComparableName(const std::wstring& name) {
    std::wstring path = WithoutPrefixAndEnd(name, kWideCurrentFolderPrefix);
    for (wchar_t& c : path) c = FoldedCharacter(c);
    return path;
}

bool IsOrLiesIn(const std::wstring& comparablePath, const std::wstring& comparableName) {
    const std::size_t length = comparableName.size();
    return comparablePath == comparableName ||
           (comparablePath.size() > length &&
            comparablePath.compare(0, length, comparableName) == 0 &&
            comparablePath[length] == L'\\');
}

bool IsOrLiesIn(const std::wstring& comparablePath, const std::string& name) {
    return IsOrLiesIn(comparablePath, ComparableName(std::wstring(name.begin(), name.end())));
}
