// The buffer handed to IOCTL_SCSI_PASS_THROUGH_DIRECT: the platform's own structure,
// a filler and a 32-byte sense area. On 32-bit Windows this is the classic 80-byte block
// (structure 44, sense at 48); on x86-64 the structure is 56 bytes and everything moves
// with it, which is what the system's checks expect.
#pragma once

#include <windows.h>
#include <winioctl.h>
#include <ntddscsi.h>

#include <cstddef>
#include <cstdint>

namespace telvio {

struct PassThroughBlock {
    SCSI_PASS_THROUGH_DIRECT sptd;
    ULONG filler;
    UCHAR sense[32];
};

constexpr ULONG kSenseOffset = offsetof(PassThroughBlock, sense);
constexpr DWORD kSptdSize = sizeof(SCSI_PASS_THROUGH_DIRECT);
constexpr DWORD kPassThroughBlockSize = sizeof(PassThroughBlock);
constexpr UCHAR kSenseInfoLength = 24;

#if !defined(_WIN64)
static_assert(kSptdSize == 44 && kSenseOffset == 48 && kPassThroughBlockSize == 80,
              "32-bit pass-through block layout");
#endif

// IOCTL_SCSI_GET_CAPABILITIES reply.
constexpr DWORD kCapabilitiesSize = 24;

constexpr DWORD kPassThroughDirect = 0x4D014;
static_assert(kPassThroughDirect == IOCTL_SCSI_PASS_THROUGH_DIRECT, "control code");

// One command as the block carries it. Every pass-through command the program sends is
// built from one of these, so the fields the system checks are set the same way for all.
struct PassThroughRequest {
    const uint8_t* cdb;
    uint8_t cdbLength;  // at most 16
    UCHAR dataIn;       // SCSI_IOCTL_DATA_IN or SCSI_IOCTL_DATA_OUT
    void* data;         // as the adapter gets it, aligned where it has to be
    ULONG length;
    ULONG timeoutSeconds;
    UCHAR pathId;  // the class driver puts its own device's address here anyway
    UCHAR targetId;
};

// Zeroes `block` and fills it for `request` (LUN 0, the sense area after the filler).
void FillPassThroughBlock(PassThroughBlock& block, const PassThroughRequest& request);

// Sends `block` on `handle` through the device-call table, the whole block as the output
// for the status, transfer count and sense to come back in. Of the input the system needs
// the structure alone; `inputSize` says how much of the block is handed in.
BOOL SendPassThrough(HANDLE handle, PassThroughBlock& block, DWORD inputSize);

}  // namespace telvio
