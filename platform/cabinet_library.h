// Cabinet library family: the File Decompression Interface of the system's cabinet library,
// loaded at run time, reading and writing through the C runtime's files.
#pragma once

#include <windows.h>
// fdi.h needs windows.h first.
#include <fdi.h>

#include <string>

#include "platform/handles.h"

namespace platform {

// Hears what the library does with the files that the copy's notifications opened (the entries):
// its file callbacks carry no context of their own.
class CabinetEntryListener {
  public:
    // `written` of `requested` bytes went to `file`; a negative count is a failed write.
    virtual void entryWritten(INT_PTR file, UINT requested, int written) = 0;
    // The library closed `file` itself.
    virtual void entryClosed(INT_PTR file) = 0;

  protected:
    ~CabinetEntryListener() = default;
};

// One decompression context of the system's cabinet library, loaded by its full path (a
// cabinet.dll planted beside an elevated setup is never loaded). The context is destroyed and
// the library freed when it goes out of scope, on every path. One at a time: the library's file
// callbacks reach the listener of the one that exists.
class CabinetDecompressor {
  public:
    explicit CabinetDecompressor(CabinetEntryListener& listener);
    ~CabinetDecompressor();
    CabinetDecompressor(const CabinetDecompressor&) = delete;
    CabinetDecompressor& operator=(const CabinetDecompressor&) = delete;

    // False when the library, one of its entry points or the context cannot be had.
    bool create();
    // The library's error code of the last call that failed.
    int error() const { return error_.erfOper; }

    enum class Probe { kNotOpened, kNotCabinet, kCabinet };
    // Opens the file at `path` and asks whether it is a cabinet; `info` then describes it.
    Probe probe(const std::string& path, FDICABINETINFO& info);

    // Unpacks the cabinet `name` in `folder` (which ends in a backslash), asking `notify` what to
    // do with each entry; `user` reaches `notify` as the notification's `pv`.
    bool copy(std::string name, std::string folder, PFNFDINOTIFY notify, void* user);

    // Destroys the context; false when the library refused (the library is freed all the same).
    bool destroy();

  private:
    using CreateFn = HFDI(DIAMONDAPI*)(PFNALLOC, PFNFREE, PFNOPEN, PFNREAD, PFNWRITE, PFNCLOSE,
                                       PFNSEEK, int, PERF);
    using CopyFn = BOOL(DIAMONDAPI*)(HFDI, char*, char*, int, PFNFDINOTIFY, PFNFDIDECRYPT, void*);
    using IsCabinetFn = BOOL(DIAMONDAPI*)(HFDI, INT_PTR, PFDICABINETINFO);
    using DestroyFn = BOOL(DIAMONDAPI*)(HFDI);

    ModuleHandle library_;
    CopyFn copy_ = nullptr;
    IsCabinetFn isCabinet_ = nullptr;
    DestroyFn destroy_ = nullptr;
    HFDI context_ = nullptr;
    ERF error_{};
};

}  // namespace platform
