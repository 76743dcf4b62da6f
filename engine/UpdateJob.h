// The record the window fills for one upgrade, and its table of callbacks into the
// window. The engine copies it when it is built and reads nothing else.
#pragma once

#include <cstdint>

#include "drive/DriveHold.h"
#include "drive/DriveRecord.h"

namespace telvio {

// Texts are owned by the engine and valid only during the call; every call comes from
// the worker thread.
using SetRevisionTextCallback = void (*)(const char* text);
using SetDriveTextCallback = void (*)(const char* text);
using AppendLogCallback = void (*)(const char* text);
using SetStatusTextCallback = void (*)(const char* text);
using SetProgressCallback = void (*)(int percent);
using IsStopRequestedCallback = uint8_t (*)();

constexpr int kImagePathSize = 512;

// The two lines a run ends its log with.
constexpr char kVerdictSuccess[] = "Please Restart Your Computer.";
constexpr char kVerdictFailure[] = "Flashing is incorrect!!";
// Logged just before the verdict when, after the first WRITE BUFFER, the drive stopped
// answering: it may be programming its flash still.
constexpr char kMayStillProgramLine[] =
    "Do not close Telvio or restart for 5 minutes: the drive may still be programming.";

// SetProgress values that open and close the stretch in which the drive is told to take
// the firmware and programs it: a fixed wait with nothing to measure.
constexpr int kProgressSaving = 15;
constexpr int kProgressProgrammed = 90;

// Until the checksum block a drive has only taken data into its buffer, and stopping
// harms nothing: a data block may wait this long. A block that never ends would
// otherwise hold a window that cannot close, nor let Windows shut down.
constexpr uint32_t kDataBlockTimeoutSeconds = 60;

// How a run ended, which the window acts on; its log only tells the user. Filled as the
// run goes, so that a run cut short by an exception still tells how far it got.
struct RunOutcome {
    bool succeeded;         // the verdict
    bool downloadBegun;     // it came to its first WRITE BUFFER (the hold is taken just before)
    bool mayBeProgramming;  // the drive stopped answering after it: it may be programming still
    bool holdKept;          // the drive stays held until the program ends
};

struct UpdateJob {
    DriveRecord drive;
    char imagePath[kImagePathSize];
    uint8_t isHexFile;  // 1: Intel-HEX text, 0: raw binary
    SetRevisionTextCallback SetRevisionText;
    SetDriveTextCallback SetDriveText;
    AppendLogCallback AppendLog;
    SetStatusTextCallback SetStatusText;
    SetProgressCallback SetProgress;
    IsStopRequestedCallback IsStopRequested;
    uint8_t UsePassThrough;  // 1: NT pass-through, 0: ASPI
    DriveHold hold;          // members null: the drive is not held
    // Tests shorten it; 0 stands for the default.
    uint32_t dataBlockTimeoutSeconds = kDataBlockTimeoutSeconds;
};

}  // namespace telvio
