#include "platform/cabinet_library.h"

#include <fcntl.h>
#include <io.h>

#include <cstdlib>

#include "platform/system_facts.h"

namespace platform {

namespace {

constexpr char kCabinetLibraryFile[] = "cabinet.dll";
constexpr int kProbeOpenFlags = _O_RDONLY | _O_SEQUENTIAL | _O_BINARY;
constexpr INT_PTR kNoFile = -1;

// The listener of the one decompressor that exists, for the library's file callbacks.
CabinetEntryListener* g_EntryListener = nullptr;

FNALLOC(FdiAlloc) {
    return std::malloc(cb);
}
FNFREE(FdiFree) {
    std::free(pv);
}
FNOPEN(FdiOpen) {
    return _open(pszFile, oflag, pmode);
}
FNREAD(FdiRead) {
    return static_cast<UINT>(_read(static_cast<int>(hf), pv, cb));
}
FNWRITE(FdiWrite) {
    const int written = _write(static_cast<int>(hf), pv, cb);
    if (g_EntryListener != nullptr) g_EntryListener->entryWritten(hf, cb, written);
    return written < 0 || static_cast<UINT>(written) != cb ? static_cast<UINT>(-1) : cb;
}
FNCLOSE(FdiClose) {
    if (g_EntryListener != nullptr) g_EntryListener->entryClosed(hf);
    return _close(static_cast<int>(hf));
}
FNSEEK(FdiSeek) {
    return _lseek(static_cast<int>(hf), dist, seektype);
}

template <typename Fn>
Fn EntryPoint(HMODULE module, const char* name) {
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

}  // namespace

CabinetDecompressor::CabinetDecompressor(CabinetEntryListener& listener) {
    g_EntryListener = &listener;
}

CabinetDecompressor::~CabinetDecompressor() {
    destroy();
    g_EntryListener = nullptr;
}

bool CabinetDecompressor::create() {
    const std::string libraryPath = SystemFilePath(kCabinetLibraryFile);
    if (libraryPath.empty()) return false;
    library_.reset(LoadLibraryA(libraryPath.c_str()));
    if (!library_.valid()) return false;
    auto create = EntryPoint<CreateFn>(library_.get(), "FDICreate");
    copy_ = EntryPoint<CopyFn>(library_.get(), "FDICopy");
    isCabinet_ = EntryPoint<IsCabinetFn>(library_.get(), "FDIIsCabinet");
    destroy_ = EntryPoint<DestroyFn>(library_.get(), "FDIDestroy");
    if (create == nullptr || copy_ == nullptr || isCabinet_ == nullptr || destroy_ == nullptr) {
        return false;
    }
    context_ =
        create(FdiAlloc, FdiFree, FdiOpen, FdiRead, FdiWrite, FdiClose, FdiSeek, cpu80386, &error_);
    return context_ != nullptr;
}

CabinetDecompressor::Probe CabinetDecompressor::probe(const std::string& path,
                                                      FDICABINETINFO& info) {
    if (path.size() >= CB_MAX_CAB_PATH) return Probe::kNotOpened;
    const INT_PTR file = _open(path.c_str(), kProbeOpenFlags, 0);
    if (file == kNoFile) return Probe::kNotOpened;
    const bool cabinet = isCabinet_(context_, file, &info) == TRUE;
    _close(static_cast<int>(file));
    return cabinet ? Probe::kCabinet : Probe::kNotCabinet;
}

bool CabinetDecompressor::copy(std::string name, std::string folder, PFNFDINOTIFY notify,
                               void* user) {
    return copy_(context_, &name[0], &folder[0], 0, notify, nullptr, user) == TRUE;
}

bool CabinetDecompressor::destroy() {
    if (context_ == nullptr) return true;
    const bool destroyed = destroy_(context_) == TRUE;
    context_ = nullptr;
    library_.reset();
    return destroyed;
}

}  // namespace platform
