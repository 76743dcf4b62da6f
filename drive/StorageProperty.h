// What the storage stack says of a drive without sending it a command: the bus it sits
// on and whether Windows switches it off when it has been idle. Both answers come from
// the port driver (or the class driver's copy of them), never from the drive, so they
// may be asked before the first WRITE BUFFER and while the drive programs alike.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>

#include "drive/DriveRecord.h"
#include "drive/Transport.h"

namespace telvio {

// CTL_CODE(IOCTL_STORAGE_BASE, 0x500, METHOD_BUFFERED, FILE_ANY_ACCESS): a handle
// opened with no data rights may ask.
constexpr DWORD kQueryStorageProperty = 0x2D1400;

enum StoragePropertyId : int32_t {
    kStorageDeviceProperty = 0,
    kStorageDevicePowerProperty = 12,
};
constexpr int32_t kPropertyStandardQuery = 0;

// STORAGE_BUS_TYPE values of the buses a cable can drop.
constexpr int32_t kBusType1394 = 4;
constexpr int32_t kBusTypeUsb = 7;

struct StoragePropertyQuery {
    int32_t propertyId;
    int32_t queryType;
    uint8_t additionalParameters[1];
};

// The fixed part of STORAGE_DEVICE_DESCRIPTOR; the identification strings follow it.
struct StorageDeviceDescriptor {
    uint32_t version;
    uint32_t size;
    uint8_t deviceType;
    uint8_t deviceTypeModifier;
    uint8_t removableMedia;
    uint8_t commandQueueing;
    uint32_t vendorIdOffset;
    uint32_t productIdOffset;
    uint32_t productRevisionOffset;
    uint32_t serialNumberOffset;
    int32_t busType;
    uint32_t rawPropertiesLength;
    uint8_t rawDeviceProperties[1];
};

// DEVICE_POWER_DESCRIPTOR (Windows 8 on); each flag a one-byte BOOLEAN.
struct DevicePowerDescriptor {
    uint32_t version;
    uint32_t size;
    uint8_t deviceAttentionSupported;
    uint8_t asynchronousNotificationSupported;
    uint8_t idlePowerManagementEnabled;
    uint8_t d3ColdEnabled;
    uint8_t d3ColdSupported;
    uint8_t noVerifyDuringIdlePower;
    uint8_t reserved[2];
    uint32_t idleTimeoutInMs;
};

static_assert(sizeof(StoragePropertyQuery) == 12 &&
                  offsetof(StoragePropertyQuery, queryType) == 4 &&
                  offsetof(StoragePropertyQuery, additionalParameters) == 8,
              "STORAGE_PROPERTY_QUERY layout");
static_assert(offsetof(StorageDeviceDescriptor, deviceType) == 8 &&
                  offsetof(StorageDeviceDescriptor, vendorIdOffset) == 12 &&
                  offsetof(StorageDeviceDescriptor, busType) == 28 &&
                  offsetof(StorageDeviceDescriptor, rawPropertiesLength) == 32 &&
                  offsetof(StorageDeviceDescriptor, rawDeviceProperties) == 36,
              "STORAGE_DEVICE_DESCRIPTOR layout");
static_assert(sizeof(DevicePowerDescriptor) == 20 &&
                  offsetof(DevicePowerDescriptor, deviceAttentionSupported) == 8 &&
                  offsetof(DevicePowerDescriptor, idlePowerManagementEnabled) == 10 &&
                  offsetof(DevicePowerDescriptor, d3ColdEnabled) == 11 &&
                  offsetof(DevicePowerDescriptor, idleTimeoutInMs) == 16,
              "DEVICE_POWER_DESCRIPTOR layout");

// How long the drive behind `handle` may go without a command before the system cuts its
// power (it is under idle power management and is switched off in D3): the idle
// time-out in milliseconds. 0 when it is not, and wherever that cannot be told (before
// Windows 8, a port driver that does not answer, a short reply).
uint32_t PowerOffAfterMs(HANDLE handle);

// At the Upgrade command, before anything is sent (Windows 2000 on): whether the drive
// sits behind USB or FireWire, whose connection can drop while it programs. False for any
// other bus, and wherever the system does not say.
bool DriveOnExternalBus(const TransportState& state, const DriveRecord& drive);

}  // namespace telvio
