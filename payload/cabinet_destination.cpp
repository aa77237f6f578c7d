#include "payload/cabinet_destination.h"

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "payload/cabinet_text.h"
#include "platform/code_pages.h"
#include "platform/own_files.h"
#include "shared/trace_log.h"

namespace {

constexpr INT_PTR kNoFile = -1;
// Always a new file: an old one is deleted first, so no stale tail survives and nothing is written
// through a link.
constexpr int kDestinationOpenFlags = _O_WRONLY | _O_CREAT | _O_EXCL | _O_SEQUENTIAL | _O_BINARY;
constexpr int kDestinationPermission = _S_IREAD | _S_IWRITE;
constexpr unsigned short kKeptAttributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |
                                           FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE;

constexpr char kRefusedEntryFormat[] = "FdiNotify: entry '%s' leaves the destination, refused\n";
constexpr char kNotReplaceableFormat[] =
    "FdiNotify: destination of entry '%s' is a link or cannot be replaced, refused\n";
constexpr char kLongPathFormat[] = "FdiNotify: destination of entry '%s' is too long, refused\n";

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

INT_PTR OpenNewFile(const std::wstring& path) {
    return _wopen(path.c_str(), kDestinationOpenFlags, kDestinationPermission);
}

}  // namespace

CabinetDestination::CabinetDestination(const std::string& prefix, FileLedger& files)
    : prefix_(prefix), files_(files) {}

INT_PTR CabinetDestination::open(const FDINOTIFICATION& notification, const char*& refusal) {
    const char* entryName = notification.psz1;
    std::wstring name;
    refusal = nullptr;
    // The name checks read bytes below 0x80 only, which UTF-8 never uses inside a character.
    if (!IsContainedEntryName(entryName) || !WideEntryName(notification, name)) {
        refusal = kRefusedEntryFormat;
        return kNoFile;
    }
    if (prefix_.size() + std::strlen(entryName) >= CB_MAX_CAB_PATH) {
        refusal = kLongPathFormat;
        return kNoFile;
    }
    std::wstring path = platform::FromAnsi(prefix_) + name;
    // A leftover file of this name is replaced, read-only or not; a link is never written through.
    if (PassesThroughLink(path) || !platform::RemoveOwnFile(path)) {
        refusal = kNotReplaceableFormat;
        return kNoFile;
    }
    INT_PTR file = OpenNewFile(path);
    // The runtime's reading of a missing folder on the way (the platform's ERROR_PATH_NOT_FOUND):
    // a new file cannot be missing itself.
    if (file == kNoFile && errno == ENOENT) {
        std::vector<std::wstring> made;
        platform::CreateFoldersOf(path, &made);
        for (const std::wstring& folder : made) files_.recordFolder(folder);
        file = OpenNewFile(path);
    }
    if (file == kNoFile) return kNoFile;
    entry_ = Entry{path, file, notification.cb, 0, false};
    return file;
}

void CabinetDestination::written(INT_PTR file, UINT requested, int written) {
    if (entry_.path.empty() || file != entry_.file) return;
    if (written < 0 || static_cast<UINT>(written) != requested) {
        entry_.writeFailed = true;
        return;
    }
    entry_.writtenSize += written;
}

void CabinetDestination::closed(INT_PTR file) {
    if (!entry_.path.empty() && file == entry_.file) entry_.file = kNoFile;
}

void CabinetDestination::closeEntryFile() {
    if (entry_.file == kNoFile) return;
    _close(static_cast<int>(entry_.file));
    entry_.file = kNoFile;
}

bool CabinetDestination::finish(const FDINOTIFICATION& notification) {
    closeEntryFile();
    if (entry_.writeFailed || entry_.writtenSize != entry_.expectedSize) {
        discard();
        return false;
    }
    const std::wstring& path = entry_.path;
    // The bytes are whole: an entry without its stored times or attributes is still the entry,
    // and the trace log says so. The attributes go after the times, so that a read-only entry
    // still receives them.
    const DWORD timesError = platform::SetDosFileTimes(path, notification.date, notification.time);
    const DWORD attributesError =
        platform::SetFileAttributesOf(path, notification.attribs & kKeptAttributes);
    if (timesError != 0 || attributesError != 0) {
        TraceText("stored times or attributes of " + platform::ToAnsi(path) + " not set, error " +
                      std::to_string(attributesError != 0 ? attributesError : timesError),
                  platform::Severity::kWarning);
    }
    // Only now is every byte of the entry written.
    files_.recordFile(path);
    entry_ = Entry();
    return true;
}

bool CabinetDestination::discard() {
    if (entry_.path.empty()) return false;
    closeEntryFile();
    platform::RemoveOwnFile(entry_.path);
    entry_ = Entry();
    anyDiscarded_ = true;
    return true;
}
