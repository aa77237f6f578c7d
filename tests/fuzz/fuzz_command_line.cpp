// Any command line: the splitter never reads outside its copy, names never hold a blank or a
// colon, out-of-range indexes give empty names, and a cached name equals a fresh parse.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "setup/command_line_options.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string line(reinterpret_cast<const char*>(data), size);
    CommandLineOptions options(line.c_str());
    const int count = options.GetCount();
    const std::size_t length = std::strlen(line.c_str());
    std::size_t hyphens = 0;
    for (std::size_t i = 0; i < length; ++i) hyphens += line[i] == '-';
    if (count < 0 || static_cast<std::size_t>(count) > hyphens) std::abort();
    for (int i = -2; i <= count + 1; ++i) {
        const std::string name = options.GetName(i);
        if (name.find_first_of(" :") != std::string::npos) std::abort();
        if ((i < 0 || i >= count) && !name.empty()) std::abort();
        if (options.GetName(i) != name) std::abort();
    }
    const char* tail = CommandTail(line.c_str());
    if (tail < line.c_str() || tail > line.c_str() + length) std::abort();
    return 0;
}
