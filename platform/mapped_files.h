// File mapping family: whole files read in place and temporary files (the package builder's).
#pragma once

#include <windows.h>

#include <string>
#include <utility>

#include "platform/handles.h"

namespace platform {

// A whole file mapped for reading, without copying it into memory; empty (data() null) when the
// file cannot be opened or mapped, or is empty.
class MappedFile {
  public:
    explicit MappedFile(const char* path)
        : file_(CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr)) {
        LARGE_INTEGER size{};
        if (!file_.valid() || !GetFileSizeEx(file_.get(), &size) || size.QuadPart == 0) return;
        size_ = static_cast<unsigned long long>(size.QuadPart);
        if (size_ > static_cast<SIZE_T>(-1)) return;  // beyond this process's address space
        mapping_.reset(CreateFileMappingA(file_.get(), nullptr, PAGE_READONLY, 0, 0, nullptr));
        if (!mapping_.valid()) return;
        view_ = static_cast<const unsigned char*>(
            MapViewOfFile(mapping_.get(), FILE_MAP_READ, 0, 0, 0));
    }
    ~MappedFile() {
        if (view_ != nullptr) UnmapViewOfFile(view_);
    }
    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;
    bool opened() const { return file_.valid(); }
    unsigned long long size() const { return size_; }  // also when it could not be mapped
    const unsigned char* data() const { return view_; }

  private:
    FileHandle file_;
    KernelHandle mapping_;
    const unsigned char* view_ = nullptr;
    unsigned long long size_ = 0;
};

// A file that is deleted when it goes out of scope unless it was kept.
class TemporaryFile {
  public:
    explicit TemporaryFile(std::string path = {}) : path_(std::move(path)) {}
    ~TemporaryFile() {
        if (!path_.empty()) DeleteFileA(path_.c_str());
    }
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;
    const std::string& path() const { return path_; }
    void keep() { path_.clear(); }

  private:
    std::string path_;
};

}  // namespace platform
