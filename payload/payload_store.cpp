#include "payload/payload_store.h"

#include "platform/code_pages.h"
#include "platform/debug_output.h"
#include "platform/own_files.h"
#include "platform/resources.h"
#include "shared/run_state.h"
#include "shared/trace_log.h"

namespace {
constexpr char kNoModule[] = "fn_CreateFileFromResource: hModule == 0";
constexpr char kNoResource[] = "fn_CreateFileFromResource: hResource == 0";
constexpr char kNotLoaded[] = "fn_CreateFileFromResource: hResData == 0";
constexpr char kNotLocked[] = "fn_CreateFileFromResource: hDLLData == 0";
// What each way a lookup can fail is called, in the order of PayloadLookup.
constexpr const char* kLookupFailures[] = {nullptr, kNoModule, kNoResource, kNotLoaded, kNotLocked};
constexpr char kNotCreated[] = "fn_CreateFileFromResource: hFile == 0";
constexpr char kNotWritten[] = "fn_CreateFileFromResource: WriteFile failed";

int Fail(const char* message) {
    platform::DebugText(message, platform::Severity::kFailure);
    return 1;
}
}  // namespace

int fn_CreateFileFromResource(unsigned short id, const char* fileName, FileLedger& files) {
    platform::PayloadView view;
    const platform::PayloadLookup lookup = platform::FindOwnPayload(id, view);
    if (lookup != platform::PayloadLookup::kFound) {
        return Fail(kLookupFailures[static_cast<int>(lookup)]);
    }
    // Created anew, never over an old file or through a link; straight from the resource view:
    // the payload is never copied through the heap. A file cut short is deleted at once.
    switch (platform::WriteNewFile(fileName, view.bytes, view.size)) {
        case platform::NewFileResult::kNotCreated:
            return Fail(kNotCreated);
        case platform::NewFileResult::kNotWritten:
            return Fail(kNotWritten);
        case platform::NewFileResult::kWritten:
            break;
    }
    files.recordFile(platform::FromAnsi(fileName));
    TraceText("payload entry " + std::to_string(id) + " written as " + fileName + ", " +
              std::to_string(view.size) + " bytes");
    return 0;
}

bool ReadPayloadText(unsigned short id, unsigned short language, std::string& text) {
    platform::PayloadView view;
    if (!platform::FindOwnPayloadInLanguage(id, language, view)) return false;
    text.assign(static_cast<const char*>(view.bytes), view.size);
    return true;
}
