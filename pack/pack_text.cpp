#include "pack/pack_text.h"

namespace {
constexpr char kHexDigits[] = "0123456789abcdef";
}  // namespace

std::string Escaped(const std::string& text) {
    std::string escaped;
    for (char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '\r') {
            escaped += "\\r";
        } else if (c == '\n') {
            escaped += "\\n";
        } else if (c == '\t') {
            escaped += "\\t";
        } else if (byte < 0x20 || byte == 0x7F) {
            escaped += std::string("\\x") + kHexDigits[byte >> 4] + kHexDigits[byte & 15];
        } else {
            escaped += c;
        }
    }
    return escaped;
}

std::string FolderOf(const std::string& path) {
    return path.substr(0, path.size() - FileNameOf(path).size());
}

std::string FileNameOf(const std::string& path) {
    const std::string::size_type slash = path.find_last_of("\\/:");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}
