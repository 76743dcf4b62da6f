// The hold of a drive for a run on Windows 2000 and later: a second handle on the
// drive's letter, with only the right to read attributes, reaches the CD-ROM class
// driver itself (not the file system of a mounted disc), and the driver counts both
// requests below per handle and drops them when the handle is closed, by the program or
// by the end of its process. IOCTL_STORAGE_MEDIA_REMOVAL is never sent: its count
// belongs to the whole device and outlives the process.
#include <windows.h>
#include <winioctl.h>

#include <new>

#include "drive/DeviceCalls.h"
#include "drive/ExclusiveAccess.h"
#include "drive/StorageProperty.h"
#include "drive/Transport.h"

namespace telvio {
namespace {

constexpr DWORD kMediaChangeControl = 0x2D0944;
constexpr DWORD kEjectionControl = 0x2D0940;
static_assert(kMediaChangeControl == IOCTL_STORAGE_MCN_CONTROL, "control code");
static_assert(kEjectionControl == IOCTL_STORAGE_EJECTION_CONTROL, "control code");

// A run's hold, and the lock taken with it where the driver has one.
struct HeldDrive {
    HANDLE hold;  // INVALID_HANDLE_VALUE when the driver took neither request
    DriveLock lock;
};

void* HoldDrive(const DriveRecord& drive) {
    if (drive.letter == 0) return nullptr;
    char path[] = "\\\\.\\?:";
    path[4] = drive.letter;
    HANDLE hold =
        Device().createFile(path, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, 0, nullptr);
    if (hold == INVALID_HANDLE_VALUE) return nullptr;
    // The class driver stops polling for media changes (so AutoPlay hears nothing), and
    // the eject button is locked. A driver that knows neither request changes nothing.
    PREVENT_MEDIA_REMOVAL prevent{};
    prevent.PreventMediaRemoval = TRUE;
    DWORD returned = 0;
    const BOOL quiet = Device().deviceIoControl(hold, kMediaChangeControl, &prevent, sizeof prevent,
                                                nullptr, 0, &returned, nullptr);
    const BOOL locked = Device().deviceIoControl(hold, kEjectionControl, &prevent, sizeof prevent,
                                                 nullptr, 0, &returned, nullptr);
    // Then the lock, which would refuse both requests on the hold's handle. Another
    // program's lock refuses them too: the handle still tells the drive's number.
    const DriveLock lock = LockDrive(drive, hold);
    if (!quiet && !locked) {
        Device().closeHandle(hold);
        hold = INVALID_HANDLE_VALUE;
        if (lock.handle == INVALID_HANDLE_VALUE && !lock.heldByOther) return nullptr;
    }
    HeldDrive* held = new (std::nothrow) HeldDrive{hold, lock};
    if (held == nullptr) {
        if (lock.handle != INVALID_HANDLE_VALUE) UnlockDrive(lock.handle);
        if (hold != INVALID_HANDLE_VALUE) Device().closeHandle(hold);
    }
    return held;
}

void ReleaseDrive(void* held) {
    HeldDrive* drive = static_cast<HeldDrive*>(held);
    // The lock goes first and quietly; the hold's close then lets the system back in.
    if (drive->lock.handle != INVALID_HANDLE_VALUE) UnlockDrive(drive->lock.handle);
    if (drive->hold != INVALID_HANDLE_VALUE) Device().closeHandle(drive->hold);
    delete drive;
}

// The holds that last as long as the process (one per run, and a start of the program
// allows one run), the lock with its hold: never closed, so the system's end of the
// process is what lets go of the drive, by which time the user has waited as the log and
// README.txt ask.
HeldDrive* keptHolds[4];

void KeepDrive(void* held) {
    for (HeldDrive*& slot : keptHolds) {
        if (slot == nullptr) {
            slot = static_cast<HeldDrive*>(held);
            return;
        }
    }
}

DeviceHandle LockedHandle(void* held) {
    const DriveLock& lock = static_cast<HeldDrive*>(held)->lock;
    return lock.handle != INVALID_HANDLE_VALUE ? lock.handle : nullptr;
}

const char* OtherHolder(void* held) {
    const DriveLock& lock = static_cast<HeldDrive*>(held)->lock;
    return lock.heldByOther ? lock.holder : nullptr;
}

// While the drive is locked, the class driver passes the question on to the port driver
// for the lock's handle only, and answers every other from what it kept, which holds no
// power descriptor.
uint32_t HeldPowerOffAfterMs(void* held) {
    const HeldDrive& drive = *static_cast<HeldDrive*>(held);
    const HANDLE asked = drive.lock.handle != INVALID_HANDLE_VALUE ? drive.lock.handle : drive.hold;
    return asked != INVALID_HANDLE_VALUE ? PowerOffAfterMs(asked) : 0;
}

}  // namespace

DriveHold DriveHoldFor(const TransportState& state) {
    // NT 4's class driver knows neither request, and ASPI has no handle to hold.
    if (state.UsePassThrough == 1 && state.isNT4OrOlder == 0)
        return DriveHold{HoldDrive,    ReleaseDrive, KeepDrive,
                         LockedHandle, OtherHolder,  HeldPowerOffAfterMs};
    return DriveHold{};
}

}  // namespace telvio
