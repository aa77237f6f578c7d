// Kernel family: owners of handles. One move-only owner; each kind of handle is one alias whose
// traits say which value is empty and how it is closed, so that the two empty values of Win32
// handles (null and INVALID_HANDLE_VALUE) are kept apart by type.
#pragma once

#include <windows.h>

namespace platform {

// Why the platform call just made on this thread failed (its error code).
inline DWORD LastError() {
    return GetLastError();
}

template <typename Traits>
class UniqueHandle {
  public:
    using Handle = typename Traits::Handle;

    UniqueHandle() = default;
    explicit UniqueHandle(Handle handle) : handle_(handle) {}
    ~UniqueHandle() { reset(); }
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    UniqueHandle(UniqueHandle&& other) noexcept : handle_(other.release()) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }

    Handle get() const { return handle_; }
    bool valid() const { return handle_ != Traits::Empty(); }
    void reset(Handle handle = Traits::Empty()) {
        if (valid()) Traits::Close(handle_);
        handle_ = handle;
    }
    Handle release() {
        Handle handle = handle_;
        handle_ = Traits::Empty();
        return handle;
    }
    // The out-parameter of the call that opens it.
    Handle* put() {
        reset();
        return &handle_;
    }

  private:
    Handle handle_ = Traits::Empty();
};

// Files, as CreateFileW returns them.
struct FileHandleTraits {
    using Handle = HANDLE;
    static Handle Empty() { return INVALID_HANDLE_VALUE; }
    static void Close(Handle handle) { CloseHandle(handle); }
};
// Kernel objects whose empty value is null (processes, threads, mappings, jobs, mutexes).
struct KernelHandleTraits {
    using Handle = HANDLE;
    static Handle Empty() { return nullptr; }
    static void Close(Handle handle) { CloseHandle(handle); }
};
// Searches of FindFirstFileW.
struct FindHandleTraits {
    using Handle = HANDLE;
    static Handle Empty() { return INVALID_HANDLE_VALUE; }
    static void Close(Handle handle) { FindClose(handle); }
};
// Modules loaded with LoadLibraryA.
struct ModuleHandleTraits {
    using Handle = HMODULE;
    static Handle Empty() { return nullptr; }
    static void Close(Handle handle) { FreeLibrary(handle); }
};

// Memory the platform hands out to be freed with LocalFree (security descriptors, SID texts).
struct LocalMemoryTraits {
    using Handle = void*;
    static Handle Empty() { return nullptr; }
    static void Close(Handle memory) { LocalFree(memory); }
};

using FileHandle = UniqueHandle<FileHandleTraits>;
using KernelHandle = UniqueHandle<KernelHandleTraits>;
using FindHandle = UniqueHandle<FindHandleTraits>;
using ModuleHandle = UniqueHandle<ModuleHandleTraits>;
using LocalMemory = UniqueHandle<LocalMemoryTraits>;

// Owns both handles of a created process; put() is the out-parameter for CreateProcessA.
class ProcessInformation {
  public:
    ProcessInformation() = default;
    ~ProcessInformation() {
        closeProcess();
        closeThread();
    }
    ProcessInformation(const ProcessInformation&) = delete;
    ProcessInformation& operator=(const ProcessInformation&) = delete;
    PROCESS_INFORMATION* put() { return &info_; }
    HANDLE process() const { return info_.hProcess; }
    HANDLE thread() const { return info_.hThread; }
    void closeProcess() { CloseAndClear(info_.hProcess); }
    void closeThread() { CloseAndClear(info_.hThread); }

  private:
    static void CloseAndClear(HANDLE& handle) {
        if (handle != nullptr) CloseHandle(handle);
        handle = nullptr;
    }
    PROCESS_INFORMATION info_{};
};

}  // namespace platform
