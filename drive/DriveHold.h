// Keeping the system's own traffic away from a drive while it takes its firmware.
// Portable: the engine only says when the stretch begins; what holding means is the
// platform's business, and a job without a hold (ASPI, NT 4, the native tests) runs as
// before.
#pragma once

#include <cstdint>
#include <exception>

#include "drive/DriveRecord.h"

namespace telvio {

struct DriveHold {
    // Called once, just before the first WRITE BUFFER; gives back what Release must end,
    // or null when nothing is held (which is never a reason to stop).
    void* (*Hold)(const DriveRecord& drive);
    void (*Release)(void* held);
    // Instead of Release: what was held stays held until the process ends. Null: it is
    // only never released, which comes to the same.
    void (*KeepUntilExit)(void* held);
    // What Hold got: the handle every later command of the run goes on, once the drive is
    // this program's alone and refuses every other handle; null (or a null member): the
    // drive's own.
    DeviceHandle (*CommandHandle)(void* held);
    // What Hold found instead: the name of another program that holds the drive for
    // itself, fit to be shown; null (or a null member): none. The run then sends nothing.
    const char* (*OtherHolder)(void* held);
    // How long the drive may go without a command before the system cuts its power, in
    // milliseconds, as its port driver tells it to the handle the run holds it by; 0 when
    // the system never does, or does not say. A hold put together without it says
    // nothing, and the run goes on as it would have.
    uint32_t (*PowerOffAfterMs)(void* held) = nullptr;
};

// Holds the drive for as long as it lives: from the first WRITE BUFFER to the end of the
// run, or to the end of the program for a drive that may still be busy. Releasing is what
// makes the system speak to the drive again, so a run cut short by an exception, which
// may have left the drive anywhere in its download or its programming, keeps it held.
class DriveHoldScope {
  public:
    // `kept`, when given, becomes true once something held is kept until the end.
    DriveHoldScope(const DriveHold& hold, const DriveRecord& drive, bool* kept = nullptr)
        : hold_(hold),
          held_(hold.Hold != nullptr ? hold.Hold(drive) : nullptr),
          kept_(kept),
          exceptions_(std::uncaught_exceptions()) {}
    ~DriveHoldScope() {
        if (std::uncaught_exceptions() > exceptions_) {
            KeepUntilExit();
        } else if (held_ != nullptr && hold_.Release != nullptr) {
            hold_.Release(held_);
        }
    }
    DriveHoldScope(const DriveHoldScope&) = delete;
    DriveHoldScope& operator=(const DriveHoldScope&) = delete;

    void KeepUntilExit() {
        if (held_ != nullptr && kept_ != nullptr) *kept_ = true;
        if (held_ != nullptr && hold_.KeepUntilExit != nullptr) hold_.KeepUntilExit(held_);
        held_ = nullptr;
    }
    DeviceHandle CommandHandle() const {
        return held_ != nullptr && hold_.CommandHandle != nullptr ? hold_.CommandHandle(held_)
                                                                  : nullptr;
    }
    const char* OtherHolder() const {
        return held_ != nullptr && hold_.OtherHolder != nullptr ? hold_.OtherHolder(held_)
                                                                : nullptr;
    }
    uint32_t PowerOffAfterMs() const {
        return held_ != nullptr && hold_.PowerOffAfterMs != nullptr ? hold_.PowerOffAfterMs(held_)
                                                                    : 0;
    }

  private:
    DriveHold hold_;
    void* held_;
    bool* kept_;
    int exceptions_;
};

}  // namespace telvio
