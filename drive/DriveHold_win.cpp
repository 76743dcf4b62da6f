// The hold of a drive for a run on Windows 2000 and later: a second handle on the
// drive's letter, with only the right to read attributes, reaches the CD-ROM class
// driver itself (not the file system of a mounted disc), and the driver counts both
// requests below per handle and drops them when the handle is closed, by the program or
// by the end of its process. IOCTL_STORAGE_MEDIA_REMOVAL is never sent: its count
// belongs to the whole device and outlives the process.
#include <windows.h>
#include <winioctl.h>

#include "drive/DeviceCalls.h"
#include "drive/Transport.h"

namespace telvio {
namespace {

constexpr DWORD kMediaChangeControl = 0x2D0944;
constexpr DWORD kEjectionControl = 0x2D0940;
static_assert(kMediaChangeControl == IOCTL_STORAGE_MCN_CONTROL, "control code");
static_assert(kEjectionControl == IOCTL_STORAGE_EJECTION_CONTROL, "control code");

void* HoldDrive(const DriveRecord& drive) {
    if (drive.letter == 0) return nullptr;
    char path[] = "\\\\.\\?:";
    path[4] = drive.letter;
    HANDLE held =
        Device().createFile(path, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, 0, nullptr);
    if (held == INVALID_HANDLE_VALUE) return nullptr;
    // The class driver stops polling for media changes (so AutoPlay hears nothing), and
    // the eject button is locked. A driver that knows neither request changes nothing.
    PREVENT_MEDIA_REMOVAL prevent{};
    prevent.PreventMediaRemoval = TRUE;
    DWORD returned = 0;
    const BOOL quiet = Device().deviceIoControl(held, kMediaChangeControl, &prevent, sizeof prevent,
                                                nullptr, 0, &returned, nullptr);
    const BOOL locked = Device().deviceIoControl(held, kEjectionControl, &prevent, sizeof prevent,
                                                 nullptr, 0, &returned, nullptr);
    if (!quiet && !locked) {
        Device().closeHandle(held);
        return nullptr;
    }
    return held;
}

void ReleaseDrive(void* held) {
    Device().closeHandle(held);
}

// The handles of holds that last as long as the process (one per run, and a start of the
// program allows one run): never closed, so the system's end of the process is what lets
// go of the drive, by which time the user has waited as the log and README.txt ask.
HANDLE keptHolds[4];

void KeepDrive(void* held) {
    for (HANDLE& slot : keptHolds) {
        if (slot == nullptr) {
            slot = held;
            return;
        }
    }
}

}  // namespace

DriveHold DriveHoldFor(const TransportState& state) {
    // NT 4's class driver knows neither request, and ASPI has no handle to hold.
    if (state.UsePassThrough == 1 && state.isNT4OrOlder == 0)
        return DriveHold{HoldDrive, ReleaseDrive, KeepDrive};
    return DriveHold{nullptr, nullptr, nullptr};
}

}  // namespace telvio
