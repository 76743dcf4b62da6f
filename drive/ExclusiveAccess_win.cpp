// Finding the drive's CD-ROM device interface, asking who holds it, and locking it for
// the download.
#include "drive/ExclusiveAccess.h"

#include <setupapi.h>
#include <winioctl.h>

#include <cstring>

#include "drive/DeviceCalls.h"
#include "drive/InquiryChain.h"
#include "drive/Scsi.h"
#include "system/SystemEntry.h"

namespace telvio {
namespace {

static_assert(kExclusiveAccessControl == CTL_CODE(FILE_DEVICE_CD_ROM, 0x17, METHOD_BUFFERED,
                                                  FILE_READ_ACCESS | FILE_WRITE_ACCESS),
              "control code");
static_assert(kGetDeviceNumber == IOCTL_STORAGE_GET_DEVICE_NUMBER, "control code");

// GUID_DEVINTERFACE_CDROM, which the class driver registers for every drive it runs.
constexpr GUID kCdromInterface = {
    0x53F56308, 0xB6BF, 0x11D0, {0x94, 0xF2, 0x00, 0xA0, 0xC9, 0x1E, 0xFB, 0x8B}};
constexpr DWORD kPresentInterfaces = DIGCF_PRESENT | DIGCF_DEVICEINTERFACE;
static_assert(kPresentInterfaces == 0x12, "SetupDi flags");

// The detail's fixed part, which is all its cbSize may count: setupapi.h packs it to one
// byte on 32-bit Windows, and any other size is refused.
#if defined(_WIN64)
constexpr DWORD kDetailFixedSize = 8;
static_assert(sizeof(SP_DEVICE_INTERFACE_DATA) == 32, "SP_DEVICE_INTERFACE_DATA layout");
#else
constexpr DWORD kDetailFixedSize = 5;
static_assert(sizeof(SP_DEVICE_INTERFACE_DATA) == 28, "SP_DEVICE_INTERFACE_DATA layout");
#endif
static_assert(sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A) == kDetailFixedSize,
              "SP_DEVICE_INTERFACE_DETAIL_DATA_A layout");

// Bounds on what the system hands back, so a broken enumerator cannot keep us looping.
constexpr DWORD kMostInterfaces = 64;
constexpr DWORD kLongestDetail = 4096;

constexpr uint8_t kCdDvdDevice = 0x05;
constexpr uint8_t kInquiryReplyLength = 36;
// The drive is idle until the first WRITE BUFFER: the bound discovery gives its probes.
constexpr uint32_t kVerifyTimeoutSeconds = 2;

HANDLE OpenPath(const char* path, DWORD access) {
    return Device().createFile(path, access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                               OPEN_EXISTING, 0, nullptr);
}

bool ReadDeviceNumber(HANDLE handle, StorageDeviceNumber& number) {
    std::memset(&number, 0, sizeof number);
    DWORD returned = 0;
    return Device().deviceIoControl(handle, kGetDeviceNumber, nullptr, 0, &number, sizeof number,
                                    &returned, nullptr) != FALSE &&
           returned >= sizeof number;
}

bool SameDevice(const StorageDeviceNumber& a, const StorageDeviceNumber& b) {
    return a.deviceType == b.deviceType && a.deviceNumber == b.deviceNumber;
}

// The detail of one interface, its path included, on the process heap; null on failure.
SP_DEVICE_INTERFACE_DETAIL_DATA_A* InterfaceDetail(HDEVINFO set, SP_DEVICE_INTERFACE_DATA& data) {
    DWORD needed = 0;
    Device().setupDiGetDeviceInterfaceDetailA(set, &data, nullptr, 0, &needed, nullptr);
    if (needed <= kDetailFixedSize || needed > kLongestDetail) return nullptr;
    auto* detail = static_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(
        HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, needed));
    if (detail == nullptr) return nullptr;
    detail->cbSize = kDetailFixedSize;
    if (!Device().setupDiGetDeviceInterfaceDetailA(set, &data, detail, needed, nullptr, nullptr)) {
        HeapFree(GetProcessHeap(), 0, detail);
        return nullptr;
    }
    reinterpret_cast<char*>(detail)[needed - 1] = '\0';
    return detail;
}

// The one present CD-ROM interface whose device is the letter's, with that device's
// number; null when there is none, or more than one that cannot be told apart. The
// class driver numbers its devices itself, so a path is never built from a number.
SP_DEVICE_INTERFACE_DETAIL_DATA_A* FindInterface(HANDLE letterHandle,
                                                 StorageDeviceNumber& letterNumber) {
    HDEVINFO set =
        Device().setupDiGetClassDevsA(&kCdromInterface, nullptr, nullptr, kPresentInterfaces);
    if (set == INVALID_HANDLE_VALUE) return nullptr;
    SP_DEVICE_INTERFACE_DETAIL_DATA_A* found = nullptr;
    int matches = 0;
    for (DWORD index = 0; index < kMostInterfaces; ++index) {
        SP_DEVICE_INTERFACE_DATA data{};
        data.cbSize = sizeof data;
        if (!Device().setupDiEnumDeviceInterfaces(set, nullptr, &kCdromInterface, index, &data))
            break;
        // The letter is asked only once there is an interface to match (Wine has none).
        if (index == 0 && !ReadDeviceNumber(letterHandle, letterNumber)) break;
        SP_DEVICE_INTERFACE_DETAIL_DATA_A* detail = InterfaceDetail(set, data);
        if (detail == nullptr) continue;
        // No rights are needed to ask for the number, and none are asked for.
        const HANDLE probe = OpenPath(detail->DevicePath, 0);
        StorageDeviceNumber number;
        const bool same = probe != INVALID_HANDLE_VALUE && ReadDeviceNumber(probe, number) &&
                          SameDevice(number, letterNumber);
        if (probe != INVALID_HANDLE_VALUE) Device().closeHandle(probe);
        if (same && ++matches == 1) {
            found = detail;
        } else {
            HeapFree(GetProcessHeap(), 0, detail);
        }
    }
    Device().setupDiDestroyDeviceInfoList(set);
    if (matches != 1 && found != nullptr) {
        HeapFree(GetProcessHeap(), 0, found);
        found = nullptr;
    }
    return found;
}

// The drive's interface, opened for reading and writing (which the lock's control code
// needs); INVALID_HANDLE_VALUE when there is none, or no rights to it.
HANDLE OpenDriveInterface(HANDLE letterHandle) {
    StorageDeviceNumber letterNumber;
    SP_DEVICE_INTERFACE_DETAIL_DATA_A* detail = FindInterface(letterHandle, letterNumber);
    if (detail == nullptr) return INVALID_HANDLE_VALUE;
    const HANDLE handle = OpenPath(detail->DevicePath, GENERIC_READ | GENERIC_WRITE);
    HeapFree(GetProcessHeap(), 0, detail);
    if (handle == INVALID_HANDLE_VALUE) return handle;
    // Plug and Play may have put another device under the path since it was matched.
    StorageDeviceNumber number;
    if (!ReadDeviceNumber(handle, number) || !SameDevice(number, letterNumber)) {
        Device().closeHandle(handle);
        return INVALID_HANDLE_VALUE;
    }
    return handle;
}

// False where the driver knows no such lock: 2000 and XP refuse the code, Wine answers
// ERROR_NOT_SUPPORTED.
bool QueryLock(HANDLE handle, CdromExclusiveLockState& state) {
    CdromExclusiveAccess request{kExclusiveQuery, 0};
    std::memset(&state, 0, sizeof state);
    DWORD returned = 0;
    return Device().deviceIoControl(handle, kExclusiveAccessControl, &request, sizeof request,
                                    &state, sizeof state, &returned, nullptr) != FALSE &&
           returned >= sizeof state;
}

// ERROR_SUCCESS, or the error the driver refused the lock with.
DWORD RequestLock(HANDLE handle, uint32_t flags) {
    CdromExclusiveLock request{};
    request.access.requestType = kExclusiveLock;
    request.access.flags = flags;
    std::memcpy(request.callerName, kCallerName, sizeof kCallerName);
    DWORD returned = 0;
    if (Device().deviceIoControl(handle, kExclusiveAccessControl, &request, sizeof request, nullptr,
                                 0, &returned, nullptr)) {
        return ERROR_SUCCESS;
    }
    return GetLastError();
}

// Whether a file system reads a disc in the drive; `error` tells why not.
bool FileSystemReads(char letter, DWORD& error) {
    char root[] = "?:\\";
    root[0] = letter;
    using SetErrorModeCall = UINT(WINAPI*)(UINT);
    const auto setErrorMode = SystemEntry<SetErrorModeCall>("kernel32.dll", "SetErrorMode");
    // An empty drive must not bring up the system's box that asks for a disc.
    const UINT previous = setErrorMode != nullptr ? setErrorMode(SEM_FAILCRITICALERRORS) : 0;
    if (setErrorMode != nullptr) setErrorMode(previous | SEM_FAILCRITICALERRORS);
    char fileSystem[MAX_PATH + 1];
    const BOOL read = Device().getVolumeInformationA(root, nullptr, 0, nullptr, nullptr, nullptr,
                                                     fileSystem, sizeof fileSystem);
    error = read ? ERROR_SUCCESS : GetLastError();
    if (setErrorMode != nullptr) setErrorMode(previous);
    return read != FALSE;
}

// Whether no file system reads a disc in the drive: none is in it, or none knows it and
// the system mounted RAW, which the driver counts as mounted all the same. Only then may
// the lock pass over the volume: a readable disc stays the file system's.
bool NoFileSystemReads(char letter) {
    DWORD error = ERROR_SUCCESS;
    return !FileSystemReads(letter, error) && error != ERROR_PROC_NOT_FOUND;
}

// The locked handle reaches the drive discovery found: INQUIRY names it with the same
// bytes.
bool SameDriveAnswers(const DriveRecord& drive, HANDLE locked) {
    DriveRecord onLock = drive;
    onLock.handle = locked;
    const uint8_t cdb[6] = {0x12, 0, 0, 0, kInquiryReplyLength, 0};
    uint8_t reply[kInquiryReplyLength] = {};
    SenseData sense;
    uint32_t returned = 0;
    if (ScsiExecute(onLock, SRB_DIR_IN, sizeof reply, reply, sizeof cdb, cdb, 1, sense,
                    kVerifyTimeoutSeconds, &returned) != 1 ||
        returned < 1 || reply[0] != kCdDvdDevice) {
        return false;
    }
    InquiryNames names;
    ReadInquiryNames(reply, returned, names);
    return std::strcmp(names.identification, drive.identification) == 0 &&
           std::strcmp(names.product, drive.product) == 0 &&
           std::strcmp(names.revision, drive.revision) == 0;
}

void NoteHolder(DriveLock& lock, const CdromExclusiveLockState& state) {
    lock.heldByOther = true;
    ShowHolderName(state.callerName, lock.holder);
}

// At the Upgrade command: the lock's state where the drive has one, asked on its interface
// (opened and closed again, which sends the drive nothing). False where it has none.
bool AskLockState(const TransportState& state, const DriveRecord& drive,
                  CdromExclusiveLockState& lockState) {
    // Where a run holds its drive (DriveHoldFor); discovery's handle tells the number.
    if (state.UsePassThrough != 1 || state.isNT4OrOlder != 0 || drive.handle == nullptr ||
        drive.handle == INVALID_HANDLE_VALUE) {
        return false;
    }
    const HANDLE handle = OpenDriveInterface(drive.handle);
    if (handle == INVALID_HANDLE_VALUE) return false;
    const bool answered = QueryLock(handle, lockState);
    Device().closeHandle(handle);
    return answered;
}

}  // namespace

void ShowHolderName(const uint8_t (&name)[kCallerNameLength], char (&shown)[kShownHolderSize]) {
    size_t n = 0;
    for (; n < kCallerNameLength && name[n] != 0; ++n) {
        const uint8_t c = name[n];
        bool taken = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
        for (const char also : {' ', '.', ',', ':', ';', '-', '_'}) taken = taken || c == also;
        shown[n] = taken ? static_cast<char>(c) : '?';
    }
    shown[n] = '\0';
}

bool DriveLockedByOther(const TransportState& state, const DriveRecord& drive,
                        uint8_t (&holder)[kCallerNameLength]) {
    CdromExclusiveLockState lockState;
    const bool held = AskLockState(state, drive, lockState) && lockState.lockState != 0;
    if (held) std::memcpy(holder, lockState.callerName, sizeof holder);
    return held;
}

bool DiscReadable(const TransportState& state, const DriveRecord& drive) {
    // Only where the lock exists: elsewhere (Wine above all) the volume may answer for a
    // drive with no disc in it at all.
    CdromExclusiveLockState lockState;
    if (drive.letter == 0 || !AskLockState(state, drive, lockState)) return false;
    DWORD error = ERROR_SUCCESS;
    return FileSystemReads(drive.letter, error);
}

DriveLock LockDrive(const DriveRecord& drive, HANDLE letterHandle) {
    DriveLock lock;
    const HANDLE handle = OpenDriveInterface(letterHandle);
    if (handle == INVALID_HANDLE_VALUE) return lock;
    CdromExclusiveLockState state;
    if (!QueryLock(handle, state)) {
        Device().closeHandle(handle);
        return lock;
    }
    if (state.lockState == 0) {
        DWORD error = RequestLock(handle, 0);
        if (error == ERROR_BAD_COMMAND && drive.letter != 0 && NoFileSystemReads(drive.letter))
            error = RequestLock(handle, kLockIgnoreVolume);
        if (error == ERROR_SUCCESS) {
            if (SameDriveAnswers(drive, handle)) {
                lock.handle = handle;
            } else {
                UnlockDrive(handle);
            }
            return lock;
        }
        // Refused as another's lock: one taken since the query. The driver is asked again
        // who holds it, which also tells that refusal from any other.
        if (error != ERROR_ACCESS_DENIED || !QueryLock(handle, state)) state.lockState = 0;
    }
    if (state.lockState != 0) NoteHolder(lock, state);
    Device().closeHandle(handle);
    return lock;
}

void UnlockDrive(HANDLE locked) {
    CdromExclusiveAccess request{kExclusiveUnlock, kUnlockNoMediaNotifications};
    DWORD returned = 0;
    Device().deviceIoControl(locked, kExclusiveAccessControl, &request, sizeof request, nullptr, 0,
                             &returned, nullptr);
    Device().closeHandle(locked);
}

}  // namespace telvio
