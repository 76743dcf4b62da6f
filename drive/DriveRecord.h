// A drive found at start-up, and the window's table of them. Portable: the engine and
// the native tests use these records without any Windows header.
#pragma once

#include <cstdint>

namespace telvio {

// A Windows HANDLE; kept as void* so portable code needs no Windows header.
using DeviceHandle = void*;

struct DriveRecord {
    DeviceHandle handle;      // pass-through: the drive letter's open device; ASPI: null
    uint8_t adapter;          // ASPI host adapter, or the pass-through PathId
    uint8_t target;           // SCSI target id; the LUN is always 0
    uint32_t maxTransfer;     // adapter's maximum transfer length (kept, not consulted)
    uint32_t alignMask;       // pass-through data buffer alignment mask
    char displayName[32];     // vendor + product (24 chars, untrimmed, as shown) + "(n)" suffix
    char revision[5];         // product revision level, 4 chars + NUL
    uint32_t driveClass;      // 2 or 0, from the capabilities page (kept, not consulted)
    char letter;              // pass-through: the letter its handle was opened on; ASPI: 0
    char product[17];         // product identification (16 chars, untrimmed) + NUL
    // vendor + product as the drive sent them (displayName shows a byte outside 0x20-0x7E
    // as '?'), 24 chars + NUL when discovery read them whole
    char identification[25];
};

constexpr int kDriveTableSlots = 8;

struct DriveTable {
    DriveRecord* records[kDriveTableSlots];
    int32_t driveCount;
};

}  // namespace telvio
