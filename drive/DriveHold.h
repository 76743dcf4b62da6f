// Keeping the system's own traffic away from a drive while it takes its firmware.
// Portable: the engine only says when the stretch begins; what holding means is the
// platform's business, and a job without a hold (ASPI, NT 4, the native tests) runs as
// before.
#pragma once

#include "drive/DriveRecord.h"

namespace telvio {

struct DriveHold {
    // Called once, just before the first WRITE BUFFER; gives back what Release must end,
    // or null when nothing is held (which is never a reason to stop).
    void* (*Hold)(const DriveRecord& drive);
    void (*Release)(void* held);
};

// Holds the drive for as long as it lives: from the first WRITE BUFFER to the end of the
// run, whichever way the run ends.
class DriveHoldScope {
  public:
    DriveHoldScope(const DriveHold& hold, const DriveRecord& drive)
        : release_(hold.Release), held_(hold.Hold != nullptr ? hold.Hold(drive) : nullptr) {}
    ~DriveHoldScope() {
        if (held_ != nullptr && release_ != nullptr) release_(held_);
    }
    DriveHoldScope(const DriveHoldScope&) = delete;
    DriveHoldScope& operator=(const DriveHoldScope&) = delete;

  private:
    void (*release_)(void*);
    void* held_;
};

}  // namespace telvio
