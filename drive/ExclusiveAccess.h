// The CD-ROM class driver's exclusive access (Windows Vista on): a drive locked for one
// handle refuses every other handle's commands, other programs' and the system's media
// polling alike, so nothing can come between the blocks of a download. The lock is asked
// for on the drive's CD-ROM device interface, which reaches the class driver itself: a
// letter's read/write handle reaches the file system of a mounted volume (RAW included),
// whose requests the driver does not count as the caller's. Where the driver has no such
// lock (2000, XP before SP3, Wine) the query fails, and the run goes on as before.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>

#include "drive/DriveRecord.h"
#include "drive/Transport.h"

namespace telvio {

// CTL_CODE(FILE_DEVICE_CD_ROM, 0x17, METHOD_BUFFERED, FILE_READ_ACCESS | FILE_WRITE_ACCESS):
// the system passes it on only for a handle opened for reading and writing.
constexpr DWORD kExclusiveAccessControl = 0x2C05C;
// Answered on any handle, and by a locked driver to every caller.
constexpr DWORD kGetDeviceNumber = 0x2D1080;

enum ExclusiveAccessRequest : int32_t {
    kExclusiveQuery = 0,
    kExclusiveLock = 1,
    kExclusiveUnlock = 2,
};

// Lock: take it although a file system has the volume mounted.
constexpr uint32_t kLockIgnoreVolume = 1;
// Unlock: the driver tells nobody that the medium went and came back, so AutoPlay and
// Explorer do not fall upon a drive that has just taken new firmware.
constexpr uint32_t kUnlockNoMediaNotifications = 2;
constexpr size_t kCallerNameLength = 64;
// The name this program locks a drive by; the driver takes letters, digits, blanks and
// . , : ; - _ only, 1 to 63 of them.
constexpr char kCallerName[] = "Telvio firmware upgrade";

struct CdromExclusiveAccess {
    int32_t requestType;
    uint32_t flags;
};

struct CdromExclusiveLock {
    CdromExclusiveAccess access;
    uint8_t callerName[kCallerNameLength];
};

// LockState is a one-byte BOOLEAN: the name follows at once, not at 4.
struct CdromExclusiveLockState {
    uint8_t lockState;
    uint8_t callerName[kCallerNameLength];
};

struct StorageDeviceNumber {
    uint32_t deviceType;
    uint32_t deviceNumber;
    uint32_t partitionNumber;
};

static_assert(sizeof(CdromExclusiveAccess) == 8 && alignof(CdromExclusiveAccess) == 4 &&
                  offsetof(CdromExclusiveAccess, requestType) == 0 &&
                  offsetof(CdromExclusiveAccess, flags) == 4,
              "CDROM_EXCLUSIVE_ACCESS layout");
static_assert(sizeof(CdromExclusiveLock) == 72 && alignof(CdromExclusiveLock) == 4 &&
                  offsetof(CdromExclusiveLock, access) == 0 &&
                  offsetof(CdromExclusiveLock, callerName) == 8,
              "CDROM_EXCLUSIVE_LOCK layout");
static_assert(sizeof(CdromExclusiveLockState) == 65 && alignof(CdromExclusiveLockState) == 1 &&
                  offsetof(CdromExclusiveLockState, lockState) == 0 &&
                  offsetof(CdromExclusiveLockState, callerName) == 1,
              "CDROM_EXCLUSIVE_LOCK_STATE layout");
static_assert(sizeof(StorageDeviceNumber) == 12 && offsetof(StorageDeviceNumber, deviceType) == 0 &&
                  offsetof(StorageDeviceNumber, deviceNumber) == 4 &&
                  offsetof(StorageDeviceNumber, partitionNumber) == 8,
              "STORAGE_DEVICE_NUMBER layout");
static_assert(sizeof kCallerName - 1 >= 1 && sizeof kCallerName - 1 < kCallerNameLength,
              "a name the driver takes");

// The holder's name as it may be shown: at most 64 bytes, up to a NUL, each byte the
// driver would not take from a caller as '?' (a filter or an emulator below may hand
// back anything).
constexpr size_t kShownHolderSize = kCallerNameLength + 1;
void ShowHolderName(const uint8_t (&name)[kCallerNameLength], char (&shown)[kShownHolderSize]);

// At the Upgrade command, before anything is sent: whether another program holds `drive`
// for itself, and its name as the driver gave it. False wherever that cannot be told
// (no interface for the drive, no rights, no such lock), which is no reason to stop.
bool DriveLockedByOther(const TransportState& state, const DriveRecord& drive,
                        uint8_t (&holder)[kCallerNameLength]);

// At the Upgrade command, before anything is sent, where the drive has the lock (the
// same drives DriveLockedByOther asks): whether a file system reads a disc in it. The
// driver refuses the lock while one does, and without the lock any program may read the
// disc between the blocks of a download. False wherever the lock is unknown.
bool DiscReadable(const TransportState& state, const DriveRecord& drive);

// What asking for the lock just before the first WRITE BUFFER came to.
struct DriveLock {
    // Locked for this program: every later command of the run goes on this handle, as
    // the driver refuses all others (the letter's included).
    HANDLE handle = INVALID_HANDLE_VALUE;
    // Another program took the lock since the Upgrade command asked; its name, shown.
    bool heldByOther = false;
    char holder[kShownHolderSize] = {};
};

// With the hold in place (the lock refuses the hold's requests afterwards), and
// `letterHandle` the hold's handle on the drive's letter. Any failure but another holder
// leaves no lock, and the run goes on the letter's handle as before; a disc a file system
// reads is never forced out, nor any volume dismounted (under Wine that unmounts the
// host's file system).
DriveLock LockDrive(const DriveRecord& drive, HANDLE letterHandle);

// Unlocks without telling of a medium change, then closes. The device may have gone with
// its old firmware: neither answer changes anything.
void UnlockDrive(HANDLE locked);

}  // namespace telvio
