#include "payload/cabinet_extractor.h"

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "payload/cabinet_text.h"
#include "platform/cabinet_library.h"
#include "platform/code_pages.h"
#include "platform/debug_output.h"
#include "platform/handles.h"
#include "platform/own_files.h"
#include "platform/system_facts.h"
#include "shared/format_text.h"
#include "shared/setup_state.h"

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
// Always a new file: an old one is deleted first, so no stale tail survives and nothing is written
// through a link.
constexpr int kDestinationOpenFlags = _O_WRONLY | _O_CREAT | _O_EXCL | _O_SEQUENTIAL | _O_BINARY;
constexpr int kDestinationPermission = _S_IREAD | _S_IWRITE;
constexpr unsigned short kKeptAttributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |
                                           FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE;
constexpr INT_PTR kStop = -1;

constexpr char kRefusedEntryFormat[] = "FdiNotify: entry '%s' leaves the destination, refused\n";
constexpr char kNotReplaceableFormat[] =
    "FdiNotify: destination of entry '%s' is a link or cannot be replaced, refused\n";
constexpr char kContinuedCabinet[] = "FdiNotify: cabinet continues in another cabinet, refused\n";
constexpr char kLongPathFormat[] = "FdiNotify: destination of entry '%s' is too long, refused\n";
constexpr char kOpenFailedFormat[] = "Unable to open '%s' for input\n";
constexpr char kNotCabinetFormat[] = "FDIIsCabinet() failed: '%s' is not a cabinet\n";

// The entry being written: created by this extraction and deleted unless written whole, so that a
// file cut short (a full disk, an aborted extraction) never stays under its name.
struct EntryInProgress {
    std::wstring path;       // empty when no entry is in progress
    std::string recordedAs;  // its ANSI path for the record of written files; empty when none
    INT_PTR descriptor = kStop;
    long expectedSize = 0;  // as the cabinet states it
    long writtenSize = 0;
    bool writeFailed = false;
};
EntryInProgress CurrentEntry;
// Set when an entry of the extraction in progress was discarded: the platform's extractor may go
// on (and report success) when a write or the close of an entry fails.
bool EntryDiscarded = false;

// Every text of the extractor reports a failure or a refusal, but its cabinet information.
void WriteMessage(const std::string& text,
                  platform::Severity severity = platform::Severity::kFailure) {
    std::size_t length = text.size() < kMessageBufferSize ? text.size() : kMessageBufferSize - 1;
    std::memcpy(MessageBuffer, text.data(), length);
    MessageBuffer[length] = '\0';
    platform::DebugText(MessageBuffer, severity);
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
    int written = _write(static_cast<int>(hf), pv, cb);
    const bool entry = hf == CurrentEntry.descriptor;
    if (written < 0 || static_cast<UINT>(written) != cb) {
        if (entry) CurrentEntry.writeFailed = true;
        return static_cast<UINT>(-1);
    }
    if (entry) CurrentEntry.writtenSize += written;
    return cb;
}
FNCLOSE(FdiClose) {
    if (hf == CurrentEntry.descriptor) CurrentEntry.descriptor = kStop;
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

// True when a folder of the entry's path below the working directory (".\") is a link: the
// entry would land outside its destination.
bool PassesThroughLink(const std::wstring& path) {
    for (std::size_t slash = path.find(L'\\', 2); slash != std::wstring::npos;
         slash = path.find(L'\\', slash + 1)) {
        if (platform::IsLink(path.substr(0, slash))) return true;
    }
    return false;
}

// The entry's name in wide characters: decoded as UTF-8 when the cabinet marks it so, else read
// in the ANSI code page (as the platform reads a narrow name). False for invalid UTF-8.
bool WideEntryName(const FDINOTIFICATION& notification, std::wstring& name) {
    if ((notification.attribs & _A_NAME_IS_UTF) == 0) {
        name = platform::FromAnsi(notification.psz1);
        return true;
    }
    return DecodeUtf8(notification.psz1, name);
}

INT_PTR OpenNewDestination(const std::wstring& path) {
    return _wopen(path.c_str(), kDestinationOpenFlags, kDestinationPermission);
}

INT_PTR OpenDestination(const FDINOTIFICATION& notification) {
    const char* entryName = notification.psz1;
    std::wstring name;
    // The name checks read bytes below 0x80 only, which UTF-8 never uses inside a character.
    if (!IsContainedEntryName(entryName) || !WideEntryName(notification, name)) {
        WriteMessage(WithPath(kRefusedEntryFormat, entryName));
        return kStop;
    }
    std::string narrowPath = std::string(DestinationPrefix) + entryName;
    if (narrowPath.size() >= kCabinetTextLimit) {
        WriteMessage(WithPath(kLongPathFormat, entryName));
        return kStop;
    }
    std::wstring path = platform::FromAnsi(DestinationPrefix) + name;
    // A leftover file of this name is replaced, read-only or not; a link is never written through.
    if (PassesThroughLink(path) || !platform::RemoveOwnFile(path)) {
        WriteMessage(WithPath(kNotReplaceableFormat, entryName));
        return kStop;
    }
    INT_PTR descriptor = OpenNewDestination(path);
    if (descriptor == kStop && GetLastError() == ERROR_PATH_NOT_FOUND) {
        platform::CreateFoldersOf(path, &g_SetupState.MadeFolders);
        descriptor = OpenNewDestination(path);
    }
    if (descriptor == kStop) return kStop;
    std::string recordedAs;
    if ((notification.attribs & _A_NAME_IS_UTF) == 0) {
        recordedAs = narrowPath;
    } else if (!platform::ToAnsiExactly(path, recordedAs)) {
        recordedAs.clear();  // no program the setup starts has such a name
    }
    CurrentEntry = EntryInProgress{path, recordedAs, descriptor, notification.cb, 0, false};
    return descriptor;
}

// Deletes an entry that was not written whole; true when there was one.
bool DiscardEntryInProgress() {
    if (CurrentEntry.path.empty()) return false;
    if (CurrentEntry.descriptor != kStop) FdiClose(CurrentEntry.descriptor);
    DeleteFileW(CurrentEntry.path.c_str());
    CurrentEntry = EntryInProgress();
    EntryDiscarded = true;
    return true;
}

// Closes a written entry and gives it its stored times and attributes; false (and the entry is
// deleted) when a write of it failed or it is shorter than the cabinet says (the platform's
// extractor also closes an entry whose data was cut, as at the end of a cabinet of a set).
BOOL FinishDestination(const FDINOTIFICATION& notification) {
    FdiClose(notification.hf);
    if (CurrentEntry.writeFailed || CurrentEntry.writtenSize != CurrentEntry.expectedSize) {
        DiscardEntryInProgress();
        return FALSE;
    }
    const std::wstring& path = CurrentEntry.path;
    {
        platform::FileHandle file(CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE,
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
    SetFileAttributesW(path.c_str(), notification.attribs & kKeptAttributes);
    // Only now is every byte of the entry written.
    if (!CurrentEntry.recordedAs.empty()) RecordWrittenFile(CurrentEntry.recordedAs);
    g_SetupState.WrittenPaths.push_back(path);
    CurrentEntry = EntryInProgress();
    return TRUE;
}

FNFDINOTIFY(FdiNotify) {
    switch (fdint) {
        case fdintCOPY_FILE:
            return OpenDestination(*pfdin);
        case fdintCLOSE_FILE_INFO:
            return FinishDestination(*pfdin);
        case fdintNEXT_CABINET:
            // The payload never holds a cabinet set; answering "go on" would be asked again.
            WriteMessage(kContinuedCabinet);
            return kStop;
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
    EntryDiscarded = false;
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
    WriteMessage(CabinetInformationText(cabinetPath, info), platform::Severity::kInformation);

    std::string folder;
    std::string name;
    SplitCabinetPath(path, platform::IsAnsiLeadByte, folder, name);
    const BOOL copied =
        CopyCabinetFiles(context, &name[0], &folder[0], 0, FdiNotify, nullptr, nullptr);
    DiscardEntryInProgress();
    if (EntryDiscarded || copied != TRUE) {
        WriteMessage(
            FdiFailureText("FDICopy", copied != TRUE ? error.erfOper : FDIERROR_TARGET_FILE));
        DestroyFdiContext(context);
        return 0;
    }
    if (DestroyFdiContext(context) != TRUE) {
        return Fail(FdiFailureText("FDIDestroy", error.erfOper));
    }
    platform::DebugText(MessageBuffer);
    return 1;
}
