// Resource family: the executable's own resources, and resources of other files for the
// package builder.
#pragma once

#include <windows.h>

#include <vector>

namespace platform {

// Resource type of every payload entry.
constexpr char kPayloadResourceType[] = "BINARY";
constexpr WORD kLanguageNeutral = MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL);
constexpr WORD kLanguageEnglishUs = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);

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

// A payload entry of a file loaded as data.
struct PayloadResource {
    unsigned id = 0;
    WORD language = 0;
    const void* bytes = nullptr;
    DWORD size = 0;
};

// Every "BINARY" entry with a numeric ID, by ID and language.
std::vector<PayloadResource> ListPayloadResources(HMODULE module);

// Loads a file's resources without running any of its code; null when it has none.
inline HMODULE LoadAsDataFile(const char* path) {
    return LoadLibraryExA(path, nullptr, LOAD_LIBRARY_AS_DATAFILE);
}

}  // namespace platform
