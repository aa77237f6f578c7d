// Any working directory and image name: the batch only ever names files inside the directory,
// never the directory itself, every line ends in CR LF, and no % can be expanded.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "install/cleanup.h"
#include "payload/own_names.h"

namespace {

bool IsCodePage932LeadByte(unsigned char c) {
    return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
}

std::string Doubled(const std::string& text) {
    std::string out;
    for (char c : text) out += c == '%' ? std::string("%%") : std::string(1, c);
    return out;
}

// A Windows folder name holds no control character and no double quote.
bool IsPossibleDirectory(const std::string& w) {
    for (unsigned char c : w) {
        if (c < 32 || c == '"') return false;
    }
    return !w.empty();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    const std::size_t split = input.find('\n');
    const std::string w = input.substr(0, split);
    const std::string image = split == std::string::npos ? "" : input.substr(split + 1);
    if (!IsPossibleDirectory(w)) return 0;
    const std::string text = CleanupBatchText(w, image, IsCodePage932LeadByte);
    const bool imageLine = IsPlainFileName(image, IsCodePage932LeadByte);
    const std::string prefix = "\"" + Doubled(w) + "\\";
    std::size_t start = 0, lines = 0, commands = 0;
    while (start < text.size()) {
        const std::size_t end = text.find("\r\n", start);
        if (end == std::string::npos) std::abort();  // a line without CR LF
        const std::string line = text.substr(start, end - start);
        if (line.find('\n') != std::string::npos) std::abort();
        ++lines;
        if (line.rfind("del /F /Q ", 0) == 0 || line.rfind("rmdir /S /Q ", 0) == 0) {
            ++commands;
            const std::string path = line.substr(line.find('"'));
            if (path.rfind(prefix, 0) != 0 || path.back() != '"') std::abort();
            if (path.size() == prefix.size() + 1) std::abort();  // the directory itself
        }
        std::size_t percents = 0;
        for (char c : line) percents += c == '%';
        if (percents % 2 != 0) std::abort();
        start = end + 2;
    }
    if (commands != (imageLine ? 13u : 12u) || lines != commands + 3) std::abort();
    if (w.find('%') == std::string::npos && image.find('%') == std::string::npos) {
        const std::size_t expected =
            imageLine ? 379 + 13 * w.size() + image.size() : 364 + 12 * w.size();
        if (text.size() != expected) std::abort();
    }
    return 0;
}
