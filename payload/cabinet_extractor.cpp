#include "payload/cabinet_extractor.h"

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "payload/cabinet_text.h"
#include "platform/cabinet_library.h"
#include "platform/files_processes.h"
#include "setup/ansi_text.h"
#include "setup/format_text.h"
#include "setup/setup_state.h"

namespace {

// The destination text of the extraction in progress; the caller owns it.
const char* DestinationPrefix = "";
platform::CabinetLibraryEntryPoints CabinetLibrary;

constexpr char kCabinetLibraryFile[] = "cabinet.dll";
constexpr std::size_t kMessageBufferSize = 5000;
constexpr std::size_t kCabinetTextLimit =
    256;  // cabinet and destination paths, terminator included
// Keeps the last formatted message until the next one, as the final report repeats it.
char MessageBuffer[kMessageBufferSize];

constexpr int kProbeOpenFlags = _O_RDONLY | _O_SEQUENTIAL | _O_BINARY;
// Truncating keeps a stale tail of an older, longer file from surviving.
constexpr int kDestinationOpenFlags = _O_WRONLY | _O_CREAT | _O_TRUNC | _O_SEQUENTIAL | _O_BINARY;
constexpr int kDestinationPermission = _S_IREAD | _S_IWRITE;
constexpr unsigned short kKeptAttributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |
                                           FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE;
constexpr INT_PTR kStop = -1;

constexpr char kRefusedEntryFormat[] = "FdiNotify: entry '%s' leaves the destination, refused\n";
constexpr char kLongPathFormat[] = "FdiNotify: destination of entry '%s' is too long, refused\n";
constexpr char kOpenFailedFormat[] = "Unable to open '%s' for input\n";
constexpr char kNotCabinetFormat[] = "FDIIsCabinet() failed: '%s' is not a cabinet\n";

void WriteMessage(const std::string& text) {
    std::size_t length = text.size() < kMessageBufferSize ? text.size() : kMessageBufferSize - 1;
    std::memcpy(MessageBuffer, text.data(), length);
    MessageBuffer[length] = '\0';
    platform::DebugText(MessageBuffer);
}

std::string WithPath(const char* format, const char* path) {
    return FormatText(format, {path});
}

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
    return static_cast<UINT>(_write(static_cast<int>(hf), pv, cb));
}
FNCLOSE(FdiClose) {
    return _close(static_cast<int>(hf));
}
FNSEEK(FdiSeek) {
    return _lseek(static_cast<int>(hf), dist, seektype);
}

template <typename Fn>
Fn EntryPoint(HMODULE module, const char* name) {
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

HFDI CreateFdiContext(PFNALLOC alloc, PFNFREE free, PFNOPEN open, PFNREAD read, PFNWRITE write,
                      PFNCLOSE close, PFNSEEK seek, int cpuType, PERF error) {
    // By full path: a cabinet.dll planted beside an elevated setup must never be loaded.
    std::string libraryPath = platform::SystemFilePath(kCabinetLibraryFile);
    if (libraryPath.empty()) return nullptr;
    platform::ModuleHandle module(LoadLibraryA(libraryPath.c_str()));
    if (module.get() == nullptr) return nullptr;
    CabinetLibrary.FDICreate = EntryPoint<platform::FdiCreateFn>(module.get(), "FDICreate");
    CabinetLibrary.FDICopy = EntryPoint<platform::FdiCopyFn>(module.get(), "FDICopy");
    CabinetLibrary.FDIIsCabinet =
        EntryPoint<platform::FdiIsCabinetFn>(module.get(), "FDIIsCabinet");
    CabinetLibrary.FDIDestroy = EntryPoint<platform::FdiDestroyFn>(module.get(), "FDIDestroy");
    if (CabinetLibrary.FDICreate == nullptr || CabinetLibrary.FDICopy == nullptr ||
        CabinetLibrary.FDIIsCabinet == nullptr || CabinetLibrary.FDIDestroy == nullptr) {
        return nullptr;
    }
    HFDI context =
        CabinetLibrary.FDICreate(alloc, free, open, read, write, close, seek, cpuType, error);
    if (context == nullptr) return nullptr;
    // From here the module is released by DestroyFdiContext.
    CabinetLibrary.module = module.release();
    return context;
}

BOOL IsCabinetFile(HFDI context, INT_PTR descriptor, PFDICABINETINFO info) {
    if (CabinetLibrary.FDIIsCabinet == nullptr) return FALSE;
    return CabinetLibrary.FDIIsCabinet(context, descriptor, info);
}

BOOL CopyCabinetFiles(HFDI context, char* name, char* folder, int flags, PFNFDINOTIFY notify,
                      PFNFDIDECRYPT decrypt, void* user) {
    if (CabinetLibrary.FDICopy == nullptr) return FALSE;
    return CabinetLibrary.FDICopy(context, name, folder, flags, notify, decrypt, user);
}

BOOL DestroyFdiContext(HFDI context) {
    if (CabinetLibrary.FDIDestroy == nullptr) return FALSE;
    BOOL destroyed = CabinetLibrary.FDIDestroy(context);
    if (destroyed == TRUE && CabinetLibrary.module != nullptr) {
        FreeLibrary(CabinetLibrary.module);
        CabinetLibrary = platform::CabinetLibraryEntryPoints();
    }
    return destroyed;
}

// Creates every folder on the path, in order, so that a reopen can succeed.
void CreateFoldersOf(const std::string& path) {
    for (std::size_t i = 0; i < path.size(); ++i) {
        if (IsDoubleByteAt(path, i, platform::IsAnsiLeadByte)) {
            ++i;
            continue;
        }
        if (path[i] != '\\') continue;
        std::string folder = path.substr(0, i + 1);
        if (!CreateDirectoryA(folder.c_str(), nullptr)) {
            DWORD error = GetLastError();
            if (error != ERROR_ACCESS_DENIED && error != ERROR_ALREADY_EXISTS) return;
        }
    }
}

INT_PTR OpenDestination(const char* entryName) {
    if (!IsContainedEntryName(entryName)) {
        WriteMessage(WithPath(kRefusedEntryFormat, entryName));
        return kStop;
    }
    std::string path = std::string(DestinationPrefix) + entryName;
    if (path.size() >= kCabinetTextLimit) {
        WriteMessage(WithPath(kLongPathFormat, entryName));
        return kStop;
    }
    // A leftover or planted read-only file of this name is replaced, never kept.
    platform::MakeReplaceable(path.c_str());
    INT_PTR descriptor = FdiOpen(&path[0], kDestinationOpenFlags, kDestinationPermission);
    if (descriptor != kStop || GetLastError() != ERROR_PATH_NOT_FOUND) return descriptor;
    CreateFoldersOf(path);
    return FdiOpen(&path[0], kDestinationOpenFlags, kDestinationPermission);
}

void FinishDestination(const FDINOTIFICATION& notification) {
    std::string path = std::string(DestinationPrefix) + notification.psz1;
    FdiClose(notification.hf);
    {
        platform::FileHandle file(CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                                              FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                              FILE_ATTRIBUTE_NORMAL, nullptr));
        FILETIME local{};
        FILETIME utc{};
        // The stored date and time are local time.
        if (file.valid() &&
            DosDateTimeToFileTime(notification.date, notification.time, &local) == TRUE &&
            LocalFileTimeToFileTime(&local, &utc) == TRUE) {
            SetFileTime(file.get(), &utc, nullptr, &utc);
        }
    }
    // After the times, so that a read-only entry still receives them.
    SetFileAttributesA(path.c_str(), notification.attribs & kKeptAttributes);
    // Only now is every byte of the entry written.
    RecordWrittenFile(path);
}

FNFDINOTIFY(FdiNotify) {
    switch (fdint) {
        case fdintCOPY_FILE:
            return OpenDestination(pfdin->psz1);
        case fdintCLOSE_FILE_INFO:
            FinishDestination(*pfdin);
            return TRUE;
        default:
            return 0;
    }
}

int Fail(const std::string& message) {
    WriteMessage(message);
    return 0;
}

}  // namespace

int ExtractCabinet(const char* cabinetPath, const char* destinationPrefix) {
    DestinationPrefix = destinationPrefix;
    std::memset(MessageBuffer, 0, sizeof MessageBuffer);
    platform::DebugText(MessageBuffer);

    ERF error{};
    HFDI context = CreateFdiContext(FdiAlloc, FdiFree, FdiOpen, FdiRead, FdiWrite, FdiClose,
                                    FdiSeek, cpu80386, &error);
    if (context == nullptr) return Fail(FdiFailureText("FDICreate", error.erfOper));

    std::string path = cabinetPath;
    INT_PTR probe = path.size() < kCabinetTextLimit ? FdiOpen(&path[0], kProbeOpenFlags, 0) : kStop;
    if (probe == kStop) {
        DestroyFdiContext(context);
        return Fail(WithPath(kOpenFailedFormat, cabinetPath));
    }
    FDICABINETINFO fdiInfo{};
    if (!IsCabinetFile(context, probe, &fdiInfo)) {
        FdiClose(probe);
        WriteMessage(WithPath(kNotCabinetFormat, cabinetPath));
        DestroyFdiContext(context);
        return 0;
    }
    FdiClose(probe);
    CabinetInformation info;
    info.cbCabinet = fdiInfo.cbCabinet;
    info.cFolders = fdiInfo.cFolders;
    info.cFiles = fdiInfo.cFiles;
    info.setID = fdiInfo.setID;
    info.iCabinet = fdiInfo.iCabinet;
    info.fReserve = fdiInfo.fReserve;
    info.hasprev = fdiInfo.hasprev;
    info.hasnext = fdiInfo.hasnext;
    WriteMessage(CabinetInformationText(cabinetPath, info));

    std::string folder;
    std::string name;
    SplitCabinetPath(path, platform::IsAnsiLeadByte, folder, name);
    if (CopyCabinetFiles(context, &name[0], &folder[0], 0, FdiNotify, nullptr, nullptr) != TRUE) {
        WriteMessage(FdiFailureText("FDICopy", error.erfOper));
        DestroyFdiContext(context);
        return 0;
    }
    if (DestroyFdiContext(context) != TRUE) {
        return Fail(FdiFailureText("FDIDestroy", error.erfOper));
    }
    platform::DebugText(MessageBuffer);
    return 1;
}
