// Texts and name rules of the cabinet extractor that need no platform.
#pragma once

#include <string>

#include "shared/ansi_text.h"

// The cabinet information as FDIIsCabinet reports it.
struct CabinetInformation {
    long cbCabinet = 0;
    unsigned short cFolders = 0;
    unsigned short cFiles = 0;
    unsigned short setID = 0;
    unsigned short iCabinet = 0;
    int fReserve = 0;
    int hasprev = 0;
    int hasnext = 0;
};

// The text of an FDI error code; "Unknown error" for codes outside the table.
const char* FdiErrorText(int code);

// "<operation>() failed: code <code> [<text>]" and a line feed.
std::string FdiFailureText(const char* operation, int code);

// A message of the extractor as its buffer holds it: at most its first 4,999 characters.
std::string ExtractorMessage(const std::string& text);

// The nine-line information text of a cabinet.
std::string CabinetInformationText(const std::string& cabinetPath, const CabinetInformation& info);

// Splits a cabinet path at its last backslash: the folder part keeps the backslash.
void SplitCabinetPath(const std::string& path, LeadBytePredicate isLeadByte, std::string& folder,
                      std::string& name);

// True when an entry name stays inside the destination folder: no drive or stream colon, no
// leading separator, no component made only of dots and blanks other than ".", no empty
// component, no device name. Both slashes count as separators.
bool IsContainedEntryName(const std::string& name);
