// Resource family: the executable's own resources, and resources of other files for the
// package builder.
#pragma once

#include <windows.h>

namespace platform {

// Resource type of every payload entry.
constexpr char kPayloadResourceType[] = "BINARY";
constexpr WORD kLanguageNeutral = MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL);
constexpr WORD kLanguageEnglishUs = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);

// How far the lookup of one of this executable's payload entries came.
enum class PayloadLookup { kFound, kNoModule, kNoResource, kNotLoaded, kNotLocked };

// The bytes of a payload entry as the loader maps them: never copied.
struct PayloadView {
    const void* bytes = nullptr;
    DWORD size = 0;
};

namespace resource_detail {
// The found entry's bytes as the loader maps them.
inline PayloadLookup ViewOf(HMODULE module, HRSRC resource, PayloadView& view) {
    if (resource == nullptr) return PayloadLookup::kNoResource;
    view.size = SizeofResource(module, resource);
    HGLOBAL loaded = LoadResource(module, resource);
    if (loaded == nullptr) return PayloadLookup::kNotLoaded;
    view.bytes = LockResource(loaded);
    return view.bytes == nullptr ? PayloadLookup::kNotLocked : PayloadLookup::kFound;
}

struct LanguageSearch {
    WORD wanted;
    bool found;
};

inline BOOL CALLBACK NoteLanguage(HMODULE, LPCSTR, LPCSTR, WORD language, LONG_PTR context) {
    auto* search = reinterpret_cast<LanguageSearch*>(context);
    search->found |= language == search->wanted;
    return TRUE;
}
}  // namespace resource_detail

// Finds payload entry `id` of this executable in any language.
inline PayloadLookup FindOwnPayload(unsigned id, PayloadView& view) {
    HMODULE module = GetModuleHandleA(nullptr);
    if (module == nullptr) return PayloadLookup::kNoModule;
    return resource_detail::ViewOf(
        module, FindResourceA(module, MAKEINTRESOURCEA(id), kPayloadResourceType), view);
}

// Finds payload entry `id` of this executable in exactly `language`: the platform's own lookup
// falls back to other languages. False when there is none.
inline bool FindOwnPayloadInLanguage(unsigned id, WORD language, PayloadView& view) {
    HMODULE module = GetModuleHandleA(nullptr);
    if (module == nullptr) return false;
    resource_detail::LanguageSearch search{language, false};
    EnumResourceLanguagesA(module, kPayloadResourceType, MAKEINTRESOURCEA(id),
                           resource_detail::NoteLanguage, reinterpret_cast<LONG_PTR>(&search));
    if (!search.found) return false;
    HRSRC resource = FindResourceExA(module, kPayloadResourceType, MAKEINTRESOURCEA(id), language);
    return resource_detail::ViewOf(module, resource, view) == PayloadLookup::kFound;
}

// Owns a pending update of a file's resources; discarded unless committed.
class ResourceUpdate {
  public:
    explicit ResourceUpdate(const char* path) : handle_(BeginUpdateResourceA(path, FALSE)) {}
    ~ResourceUpdate() {
        if (handle_ != nullptr) EndUpdateResourceA(handle_, TRUE);
    }
    ResourceUpdate(const ResourceUpdate&) = delete;
    ResourceUpdate& operator=(const ResourceUpdate&) = delete;
    bool valid() const { return handle_ != nullptr; }
    bool setPayload(unsigned id, const void* bytes, DWORD size) {
        return UpdateResourceA(handle_, kPayloadResourceType, MAKEINTRESOURCEA(id),
                               kLanguageNeutral, const_cast<void*>(bytes), size) != FALSE;
    }
    bool commit() {
        HANDLE handle = handle_;
        handle_ = nullptr;
        return EndUpdateResourceA(handle, FALSE) != FALSE;
    }

  private:
    HANDLE handle_;
};

}  // namespace platform
