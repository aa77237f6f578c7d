#include "payload/cabinet_extractor.h"

#include <string>

#include "payload/cabinet_destination.h"
#include "payload/cabinet_text.h"
#include "platform/cabinet_library.h"
#include "platform/code_pages.h"
#include "platform/debug_output.h"
#include "shared/format_text.h"

namespace {

constexpr INT_PTR kStop = -1;

constexpr char kContinuedCabinet[] = "FdiNotify: cabinet continues in another cabinet, refused\n";
constexpr char kOpenFailedFormat[] = "Unable to open '%s' for input\n";
constexpr char kNotCabinetFormat[] = "FDIIsCabinet() failed: '%s' is not a cabinet\n";

std::string WithPath(const char* format, const char* path) {
    return FormatText(format, {path});
}

CabinetInformation InformationOf(const FDICABINETINFO& fdiInfo) {
    CabinetInformation info;
    info.cbCabinet = fdiInfo.cbCabinet;
    info.cFolders = fdiInfo.cFolders;
    info.cFiles = fdiInfo.cFiles;
    info.setID = fdiInfo.setID;
    info.iCabinet = fdiInfo.iCabinet;
    info.fReserve = fdiInfo.fReserve;
    info.hasprev = fdiInfo.hasprev;
    info.hasnext = fdiInfo.hasnext;
    return info;
}

// One extraction: its destination and its messages. The library reaches it through the
// notifications' context and the decompressor's listener.
class Extraction final : public platform::CabinetEntryListener {
  public:
    Extraction(const char* destinationPrefix, FileLedger& files)
        : destination_(destinationPrefix, files) {}

    // Every text of the extractor reports a failure or a refusal, but its cabinet information.
    // The last one is kept: the final report repeats it.
    void writeMessage(const std::string& text,
                      platform::Severity severity = platform::Severity::kFailure) {
        lastMessage_ = ExtractorMessage(text);
        platform::DebugText(lastMessage_, severity);
    }
    const std::string& lastMessage() const { return lastMessage_; }

    CabinetDestination& destination() { return destination_; }

    void entryWritten(INT_PTR file, UINT requested, int written) override {
        destination_.written(file, requested, written);
    }
    void entryClosed(INT_PTR file) override { destination_.closed(file); }

    static FNFDINOTIFY(Notify);

  private:
    INT_PTR openEntry(const FDINOTIFICATION& notification) {
        const char* refusal = nullptr;
        const INT_PTR file = destination_.open(notification, refusal);
        if (refusal != nullptr) writeMessage(WithPath(refusal, notification.psz1));
        return file;
    }

    CabinetDestination destination_;
    std::string lastMessage_;
};

FNFDINOTIFY(Extraction::Notify) {
    auto& extraction = *static_cast<Extraction*>(pfdin->pv);
    switch (fdint) {
        case fdintCOPY_FILE:
            return extraction.openEntry(*pfdin);
        case fdintCLOSE_FILE_INFO:
            return extraction.destination_.finish(*pfdin) ? TRUE : FALSE;
        case fdintNEXT_CABINET:
            // The payload never holds a cabinet set; answering "go on" would be asked again.
            extraction.writeMessage(kContinuedCabinet);
            return kStop;
        default:
            return 0;
    }
}

}  // namespace

int ExtractCabinet(const char* cabinetPath, const char* destinationPrefix, FileLedger& files) {
    Extraction extraction(destinationPrefix, files);
    // Each extraction opens with its message buffer as it stands, still empty: log readers see an
    // empty text before every cabinet's information, and the sequence is kept for them.
    platform::DebugText(extraction.lastMessage());
    platform::CabinetDecompressor decompressor(extraction);
    if (!decompressor.create()) {
        extraction.writeMessage(FdiFailureText("FDICreate", decompressor.error()));
        return 0;
    }
    FDICABINETINFO fdiInfo{};
    switch (decompressor.probe(cabinetPath, fdiInfo)) {
        case platform::CabinetDecompressor::Probe::kNotOpened:
            extraction.writeMessage(WithPath(kOpenFailedFormat, cabinetPath));
            return 0;
        case platform::CabinetDecompressor::Probe::kNotCabinet:
            extraction.writeMessage(WithPath(kNotCabinetFormat, cabinetPath));
            return 0;
        case platform::CabinetDecompressor::Probe::kCabinet:
            break;
    }
    extraction.writeMessage(CabinetInformationText(cabinetPath, InformationOf(fdiInfo)),
                            platform::Severity::kInformation);

    std::string folder;
    std::string name;
    SplitCabinetPath(cabinetPath, platform::IsAnsiLeadByte, folder, name);
    const bool copied = decompressor.copy(name, folder, Extraction::Notify, &extraction);
    extraction.destination().discard();
    if (!copied || extraction.destination().anyDiscarded()) {
        extraction.writeMessage(
            FdiFailureText("FDICopy", copied ? FDIERROR_TARGET_FILE : decompressor.error()));
        return 0;
    }
    if (!decompressor.destroy()) {
        extraction.writeMessage(FdiFailureText("FDIDestroy", decompressor.error()));
        return 0;
    }
    platform::DebugText(extraction.lastMessage());
    return 1;
}
