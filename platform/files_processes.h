// Kernel family: handle owners, processes, debug output, system paths.
#pragma once

#include <windows.h>

#include <string>
#include <utility>
#include <vector>

namespace platform {

// Owns a file handle; its empty value is INVALID_HANDLE_VALUE, as CreateFileA returns it.
class FileHandle {
  public:
    explicit FileHandle(HANDLE handle = INVALID_HANDLE_VALUE) : handle_(handle) {}
    ~FileHandle() { reset(); }
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;
    HANDLE get() const { return handle_; }
    bool valid() const { return handle_ != INVALID_HANDLE_VALUE; }
    void reset(HANDLE handle = INVALID_HANDLE_VALUE) {
        if (valid()) CloseHandle(handle_);
        handle_ = handle;
    }

  private:
    HANDLE handle_;
};

// Owns a kernel handle whose empty value is null (processes, threads).
class KernelHandle {
  public:
    explicit KernelHandle(HANDLE handle = nullptr) : handle_(handle) {}
    ~KernelHandle() { reset(); }
    KernelHandle(const KernelHandle&) = delete;
    KernelHandle& operator=(const KernelHandle&) = delete;
    HANDLE get() const { return handle_; }
    void reset(HANDLE handle = nullptr) {
        if (handle_ != nullptr) CloseHandle(handle_);
        handle_ = handle;
    }

  private:
    HANDLE handle_;
};

// Owns a search of FindFirstFileW; its empty value is INVALID_HANDLE_VALUE.
class FindHandle {
  public:
    explicit FindHandle(HANDLE handle) : handle_(handle) {}
    ~FindHandle() {
        if (valid()) FindClose(handle_);
    }
    FindHandle(const FindHandle&) = delete;
    FindHandle& operator=(const FindHandle&) = delete;
    HANDLE get() const { return handle_; }
    bool valid() const { return handle_ != INVALID_HANDLE_VALUE; }

  private:
    HANDLE handle_;
};

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
        if (mapping_.get() == nullptr) return;
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

// Owns a module loaded with LoadLibraryA.
class ModuleHandle {
  public:
    explicit ModuleHandle(HMODULE module = nullptr) : module_(module) {}
    ~ModuleHandle() { reset(); }
    ModuleHandle(const ModuleHandle&) = delete;
    ModuleHandle& operator=(const ModuleHandle&) = delete;
    HMODULE get() const { return module_; }
    HMODULE release() {
        HMODULE module = module_;
        module_ = nullptr;
        return module;
    }
    void reset(HMODULE module = nullptr) {
        if (module_ != nullptr) FreeLibrary(module_);
        module_ = module;
    }

  private:
    HMODULE module_;
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

// What a debug text reports, as its sender knows it: the debug output shows only the text, the
// trace log the severity too.
enum class Severity { kInformation = 1, kWarning = 2, kFailure = 3 };

// Called with every text after it went to the debug output (the trace log listens here).
using DebugTextObserver = void (*)(const char* text, Severity severity);
inline DebugTextObserver g_DebugTextObserver = nullptr;

inline void DebugText(const char* text, Severity severity = Severity::kInformation) {
    OutputDebugStringA(text);
    if (g_DebugTextObserver != nullptr) g_DebugTextObserver(text, severity);
}
inline void DebugText(const std::string& text, Severity severity = Severity::kInformation) {
    DebugText(text.c_str(), severity);
}

// The ANSI code page's lead-byte test, for multibyte-aware searches in paths.
inline bool IsAnsiLeadByte(unsigned char byte) {
    return IsDBCSLeadByte(byte) != FALSE;
}

// The OEM code page's lead-byte test: the command interpreter reads batch files in it.
inline bool IsOemLeadByte(unsigned char byte) {
    return IsDBCSLeadByteEx(CP_OEMCP, byte) != FALSE;
}

// Looks up an entry point of kernel32 that older Windows versions lack.
FARPROC FindKernelEntryPoint(const char* name);

// The same, as the function type it has; null where the platform lacks it.
template <typename Function>
Function KernelEntryPoint(const char* name) {
    return reinterpret_cast<Function>(reinterpret_cast<void*>(FindKernelEntryPoint(name)));
}

// The system directory, or an empty string when it does not fit a path buffer.
std::string SystemDirectory();

// A file in the system directory by its full path; empty when the path does not fit.
std::string SystemFilePath(const char* fileName);

// Keeps DLLs planted beside the program (a download folder) from being loaded.
void RestrictDllSearchPath();

// Converts wide text to the ANSI code page; a character the code page lacks becomes its default
// character, never a lookalike.
std::string ToAnsi(const std::wstring& text);

// Converts wide text to the ANSI (or OEM) code page only when every character has its own
// encoding there: no lookalike, no default character. False otherwise.
bool ToAnsiExactly(const std::wstring& text, std::string& converted);
bool ToOemExactly(const std::wstring& text, std::string& converted);

// The current directory as the platform holds it, in wide characters; empty on failure.
std::wstring CurrentDirectory();

// The attributes of what lies at an ANSI path, or INVALID_FILE_ATTRIBUTES when nothing does.
DWORD FileAttributes(const std::string& path);

// True when `path` is a link: the platform marks it as a reparse point (a symbolic link or a
// junction), or it leads elsewhere than its name says (a link the platform does not mark, such as
// a Unix link under Wine, found by its final path where the platform can tell it).
bool IsLink(const std::wstring& path);

// Clears the way for a file of the setup's own name to be created anew at `path`: a file, read-only
// or not, is deleted; a link the platform marks is removed itself, never its target; anything
// else (a folder, a link the platform does not mark, whose deletion would reach its target) is
// left alone. True when nothing lies at `path` afterwards.
bool RemoveOwnFile(const std::wstring& path);
bool RemoveOwnFile(const char* path);

// Creates a file that did not exist (never opens one over an old file or through a link).
HANDLE CreateNewFile(const std::wstring& path, DWORD flagsAndAttributes = FILE_ATTRIBUTE_NORMAL,
                     DWORD share = 0);

// Writes all `size` bytes; false on a failed or short write.
bool WriteWhole(HANDLE file, const void* bytes, DWORD size);

enum class NewFileResult { kWritten, kNotCreated, kNotWritten };

// Clears the way (RemoveOwnFile), creates the file anew and writes `size` bytes in one write. A
// file that could not be written whole is deleted at once: it never stays under its name.
NewFileResult WriteNewFile(const char* path, const void* bytes, DWORD size,
                           DWORD flagsAndAttributes = FILE_ATTRIBUTE_NORMAL);

// Creates every folder of the path before its last backslash, in order; one that exists already
// or cannot be made (a drive root, a share) is passed by. With `made`, the folders it made are
// added there.
void CreateFoldersOf(const std::wstring& path, std::vector<std::wstring>* made = nullptr);

// Removes `path` when it is a link the platform marks, itself and never its target. True when
// nothing lies at `path` afterwards.
bool RemoveMarkedLink(const std::wstring& path);

// Removes every link inside the folder tree at `folder`, each itself, without descending into
// one, so that the tree can then be deleted without reaching outside it. False when a link stays
// (one the platform does not mark cannot be removed without reaching its target).
bool RemoveLinksInside(const std::wstring& folder);

// Converts ANSI (or OEM) text to wide characters.
std::wstring FromAnsi(const std::string& text);
std::wstring FromOem(const std::string& text);

}  // namespace platform
