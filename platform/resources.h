// Resource family: the executable's own resources, and resources of other files for the
// package builder.
#pragma once

#include <windows.h>

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

}  // namespace platform
