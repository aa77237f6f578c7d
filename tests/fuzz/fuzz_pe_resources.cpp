// Any bytes given to setup-pack as a template, a package or a kit cabinet are read without a read
// outside them, and every entry found lies inside them.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "pack/kit_cabinet.h"
#include "pack/pe_resources.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<PeResource> found;
    std::string fault;
    if (ReadPayloadResources(data, size, found, fault)) {
        for (const PeResource& entry : found) {
            if (entry.offset > size || entry.size > size - entry.offset) std::abort();
        }
    } else if (fault.empty()) {
        std::abort();
    }
    // A kit program and a template's signature are read by the same bounds-checked headers.
    PeProgram program;
    if (!ReadProgramHeaders(data, size, program, fault) && fault.empty()) std::abort();
    PeSignatureLayout layout;
    if (ReadSignatureLayout(data, size, layout, fault) &&
        (layout.sectionsEnd > size || (layout.certificateSize != 0 &&
                                       layout.certificateOffset > size - layout.certificateSize))) {
        std::abort();
    }
    std::vector<std::string> names;
    const std::string reason = CheckKitCabinet(data, size, names);
    // A cabinet that passes is whole: its signature and its stated length are there.
    if (reason.empty() &&
        (size < 36 || data[0] != 'M' || data[1] != 'S' || data[2] != 'C' || data[3] != 'F')) {
        std::abort();
    }
    return 0;
}
