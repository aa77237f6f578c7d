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
constexpr char kNotCreated[] = "fn_CreateFileFromResource: hFile == 0";
constexpr char kNotWritten[] = "fn_CreateFileFromResource: WriteFile failed";

int Fail(const char* message) {
    platform::DebugText(message, platform::Severity::kFailure);
    return 1;
}
}  // namespace

int fn_CreateFileFromResource(unsigned short id, const char* fileName, FileLedger& files) {
    HMODULE module = GetModuleHandleA(nullptr);
    if (module == nullptr) return Fail(kNoModule);
    HRSRC resource = FindResourceA(module, MAKEINTRESOURCEA(id), platform::kPayloadResourceType);
    if (resource == nullptr) return Fail(kNoResource);
    DWORD size = SizeofResource(module, resource);
    HGLOBAL loaded = LoadResource(module, resource);
    if (loaded == nullptr) return Fail(kNotLoaded);
    const void* bytes = LockResource(loaded);
    if (bytes == nullptr) return Fail(kNotLocked);
    // Created anew, never over an old file or through a link; straight from the resource view:
    // the payload is never copied through the heap. A file cut short is deleted at once.
    switch (platform::WriteNewFile(fileName, bytes, size)) {
        case platform::NewFileResult::kNotCreated:
            return Fail(kNotCreated);
        case platform::NewFileResult::kNotWritten:
            return Fail(kNotWritten);
        case platform::NewFileResult::kWritten:
            break;
    }
    files.recordFile(platform::FromAnsi(fileName));
    TraceText("payload entry " + std::to_string(id) + " written as " + fileName + ", " +
              std::to_string(size) + " bytes");
    return 0;
}

namespace {
struct LanguageSearch {
    WORD wanted;
    bool found;
};

BOOL CALLBACK NoteLanguage(HMODULE, LPCSTR, LPCSTR, WORD language, LONG_PTR context) {
    auto* search = reinterpret_cast<LanguageSearch*>(context);
    search->found |= language == search->wanted;
    return TRUE;
}

// The platform's lookup falls back to other languages; only an entry in exactly this one counts.
bool HasEntryInLanguage(HMODULE module, unsigned short id, WORD language) {
    LanguageSearch search{language, false};
    EnumResourceLanguagesA(module, platform::kPayloadResourceType, MAKEINTRESOURCEA(id),
                           NoteLanguage, reinterpret_cast<LONG_PTR>(&search));
    return search.found;
}
}  // namespace

bool ReadPayloadText(unsigned short id, unsigned short language, std::string& text) {
    HMODULE module = GetModuleHandleA(nullptr);
    if (module == nullptr || !HasEntryInLanguage(module, id, language)) return false;
    HRSRC resource =
        FindResourceExA(module, platform::kPayloadResourceType, MAKEINTRESOURCEA(id), language);
    HGLOBAL loaded = resource == nullptr ? nullptr : LoadResource(module, resource);
    const void* bytes = loaded == nullptr ? nullptr : LockResource(loaded);
    if (bytes == nullptr) return false;
    text.assign(static_cast<const char*>(bytes), SizeofResource(module, resource));
    return true;
}
