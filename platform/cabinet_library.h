// Cabinet library family: the File Decompression Interface, loaded at run time.
#pragma once

#include <windows.h>
// fdi.h needs windows.h first.
#include <fdi.h>

namespace platform {

using FdiCreateFn = HFDI(DIAMONDAPI*)(PFNALLOC, PFNFREE, PFNOPEN, PFNREAD, PFNWRITE, PFNCLOSE,
                                      PFNSEEK, int, PERF);
using FdiCopyFn = BOOL(DIAMONDAPI*)(HFDI, char*, char*, int, PFNFDINOTIFY, PFNFDIDECRYPT, void*);
using FdiIsCabinetFn = BOOL(DIAMONDAPI*)(HFDI, INT_PTR, PFDICABINETINFO);
using FdiDestroyFn = BOOL(DIAMONDAPI*)(HFDI);

// The loaded cabinet library and its four entry points.
struct CabinetLibraryEntryPoints {
    HMODULE module = nullptr;
    FdiCreateFn FDICreate = nullptr;
    FdiCopyFn FDICopy = nullptr;
    FdiIsCabinetFn FDIIsCabinet = nullptr;
    FdiDestroyFn FDIDestroy = nullptr;
};

}  // namespace platform
