// Where a cabinet entry goes: a file created anew by this extraction and deleted unless written
// whole, so that a file cut short (a full disk, an aborted extraction) never stays under its name.
#pragma once

#include <string>

#include "platform/cabinet_library.h"
#include "shared/run_state.h"

class CabinetDestination {
  public:
    // Entries are written below `prefix` (which ends in a backslash) and, once whole, recorded in
    // `files`.
    CabinetDestination(const std::string& prefix, FileLedger& files);

    // Opens the entry's file; -1 when it cannot be or is refused, with the format of the
    // refusal's message (one %s, the entry name) in `refusal`, or null for an open that failed.
    INT_PTR open(const FDINOTIFICATION& notification, const char*& refusal);

    // What the library did with a file: counts for the entry when it is the entry's.
    void written(INT_PTR file, UINT requested, int written);
    void closed(INT_PTR file);

    // Closes the entry and gives it its stored times and attributes; false (and the entry is
    // deleted) when a write of it failed or it is shorter than the cabinet says (the library also
    // closes an entry whose data was cut, as at the end of a cabinet of a set).
    bool finish(const FDINOTIFICATION& notification);

    // Deletes an entry that was not written whole; true when there was one.
    bool discard();

    // True once an entry of this extraction was discarded: the library may go on (and report
    // success) when a write or the close of an entry fails.
    bool anyDiscarded() const { return anyDiscarded_; }

  private:
    struct Entry {
        std::wstring path;  // empty when no entry is in progress
        INT_PTR file = -1;
        long expectedSize = 0;  // as the cabinet states it
        long writtenSize = 0;
        bool writeFailed = false;
    };

    void closeEntryFile();

    std::string prefix_;
    FileLedger& files_;
    Entry entry_;
    bool anyDiscarded_ = false;
};
