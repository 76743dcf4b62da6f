// Asking the storage stack about a drive with IOCTL_STORAGE_QUERY_PROPERTY.
#include "drive/StorageProperty.h"

#include <winioctl.h>

#include <cstring>

#include "drive/DeviceCalls.h"

namespace telvio {
namespace {

static_assert(kQueryStorageProperty == IOCTL_STORAGE_QUERY_PROPERTY, "control code");
static_assert(int32_t{kStorageDevicePowerProperty} == int32_t{StorageDevicePowerProperty},
              "property id");
static_assert(kBusTypeUsb == BusTypeUsb && kBusType1394 == BusType1394, "bus types");

// The device descriptor is followed by its identification strings; a driver copies what
// fits, and the bus type lies well inside this.
constexpr DWORD kDeviceDescriptorRoom = 512;

// The reply to `property`, at least `needed` bytes of it, into `reply`.
bool QueryProperty(HANDLE handle, StoragePropertyId property, void* reply, DWORD size,
                   DWORD needed) {
    StoragePropertyQuery query{};
    query.propertyId = property;
    query.queryType = kPropertyStandardQuery;
    std::memset(reply, 0, size);
    DWORD returned = 0;
    return Device().deviceIoControl(handle, kQueryStorageProperty, &query, sizeof query, reply,
                                    size, &returned, nullptr) != FALSE &&
           returned >= needed;
}

}  // namespace

uint32_t PowerOffAfterMs(HANDLE handle) {
    DevicePowerDescriptor power;
    if (!QueryProperty(handle, kStorageDevicePowerProperty, &power, sizeof power, sizeof power))
        return 0;
    // Idle power management alone may only lower the drive's power; D3cold takes it away.
    if (!power.idlePowerManagementEnabled || !power.d3ColdEnabled) return 0;
    return power.idleTimeoutInMs;
}

bool DriveOnExternalBus(const TransportState& state, const DriveRecord& drive) {
    // Where a run holds its drive (DriveHoldFor): NT 4's class drivers know no such query.
    if (state.UsePassThrough != 1 || state.isNT4OrOlder != 0 || drive.letter == 0) return false;
    char path[] = "\\\\.\\?:";
    path[4] = drive.letter;
    // No data rights: the open reaches the class driver, never a mounted disc's file
    // system, and the driver answers the bus from what it learnt at start.
    const HANDLE handle = Device().createFile(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                              OPEN_EXISTING, 0, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return false;
    union {
        StorageDeviceDescriptor fixed;
        uint8_t room[kDeviceDescriptorRoom];
    } reply;
    const bool answered =
        QueryProperty(handle, kStorageDeviceProperty, &reply, sizeof reply,
                      offsetof(StorageDeviceDescriptor, busType) + sizeof reply.fixed.busType);
    Device().closeHandle(handle);
    return answered && (reply.fixed.busType == kBusTypeUsb || reply.fixed.busType == kBusType1394);
}

}  // namespace telvio
