// The buffer handed to IOCTL_SCSI_PASS_THROUGH_DIRECT: the platform's own structure,
// a filler and a 32-byte sense area. On 32-bit Windows this is the classic 80-byte block
// (structure 44, sense at 48); on x86-64 the structure is 56 bytes and everything moves
// with it, which is what the system's checks expect.
#pragma once

#include <windows.h>
#include <winioctl.h>
#include <ntddscsi.h>

#include <cstddef>

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

}  // namespace telvio
