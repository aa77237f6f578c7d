// setup-pack: builds a task package from the template setup, or lists a package's payload.
#include <cstdio>
#include <new>

#include "pack/pack_options.h"
#include "pack/pack_text.h"
#include "pack/package.h"
#include "platform/build_files.h"
#include "platform/code_pages.h"
#include "platform/system_facts.h"
#include "shared/ansi_text.h"

namespace {

// The arguments in UTF-8: names that go into the package (a result key, a log folder) are kept
// exactly as given, whatever the console's code page.
std::vector<std::string> Utf8Arguments() {
    std::vector<std::string> arguments;
    for (const std::wstring& argument : platform::WideArguments()) {
        arguments.push_back(platform::ToUtf8(argument));
    }
    return arguments;
}

// The files named on the command line are opened by their ANSI names: a name without an exact
// form in the ANSI code page would open another file (a best-fit lookalike), so it is refused.
std::string ToAnsiPaths(PackOptions& options) {
    std::string* paths[] = {&options.templatePath, &options.profile,  &options.schema,
                            &options.bootDevices,  &options.bios,     &options.kit,
                            &options.out,          &options.settings, &options.listed};
    for (std::string* path : paths) {
        std::wstring wide;
        std::string ansi;
        if (path->empty()) continue;
        if (!DecodeUtf8(*path, wide) || !platform::ToAnsiExactly(wide, ansi)) {
            return *path + " has no exact name in the system code page: rename it";
        }
        *path = ansi;
    }
    return {};
}

// A fault inside a platform call (its resource update on a file it cannot handle) ends the
// builder with one line, as every other failure does, instead of a crash dump; what the build
// left in its folder beside the output goes with the next build.
void ReportUnexpectedFault(unsigned long code) {
    std::fprintf(stderr,
                 "setup-pack: error: the build failed inside the platform (exception 0x%08lx)\n",
                 code);
    std::fflush(stderr);
}

}  // namespace

int main() {
    platform::EndOnUnexpectedFault(ReportUnexpectedFault);
    PackOptions options;
    std::string error;
    if (!ParsePackOptions(Utf8Arguments(), options, error)) {
        std::fprintf(stderr, "setup-pack: error: %s\n%s", error.c_str(), kPackUsage);
        return 2;
    }
    if (options.command == PackOptions::Command::kHelp) {
        std::fputs(kPackHelp, stdout);
        return 0;
    }
    // Nothing is read or written before every path is one Windows opens as written.
    error = PathOptionFault(options);
    if (error.empty()) error = ToAnsiPaths(options);
    if (!error.empty()) {
        std::fprintf(stderr, "setup-pack: error: %s\n", Escaped(error).c_str());
        return 1;
    }
    try {
        if (options.command == PackOptions::Command::kBuild) return BuildPackage(options);
        if (options.command == PackOptions::Command::kSheet) {
            return PrintDeploymentSheet(options.listed, options.json);
        }
        return ListPackage(options.listed);
    } catch (const std::bad_alloc&) {
        std::fputs("setup-pack: error: out of memory\n", stderr);
        return 1;
    }
}
