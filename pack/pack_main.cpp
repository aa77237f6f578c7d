// setup-pack: builds a task package from the template setup, or lists a package's payload.
#include <cstdio>
#include <new>

#include "pack/pack_options.h"
#include "pack/package.h"

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    PackOptions options;
    std::string error;
    if (!ParsePackOptions(args, options, error)) {
        std::fprintf(stderr, "setup-pack: error: %s\n%s", error.c_str(), kPackUsage);
        return 2;
    }
    try {
        if (options.command == PackOptions::Command::kBuild) return BuildPackage(options);
        return ListPackage(options.listed);
    } catch (const std::bad_alloc&) {
        std::fputs("setup-pack: error: out of memory\n", stderr);
        return 1;
    }
}
