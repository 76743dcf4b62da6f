// Building and sending the pass-through request block, for every command the NT path sends.
#include "drive/PassThroughBlock.h"

#include <cstring>

#include "drive/DeviceCalls.h"

namespace telvio {

void FillPassThroughBlock(PassThroughBlock& block, const PassThroughRequest& request) {
    std::memset(&block, 0, sizeof block);
    // The platform's own structure size: 44 on 32-bit Windows, 56 on x86-64, and the
    // system refuses a block that gives any other.
    block.sptd.Length = USHORT(kSptdSize);
    block.sptd.PathId = request.pathId;
    block.sptd.TargetId = request.targetId;
    block.sptd.Lun = 0;
    block.sptd.CdbLength = request.cdbLength;
    block.sptd.SenseInfoLength = kSenseInfoLength;
    block.sptd.DataIn = request.dataIn;
    block.sptd.DataTransferLength = request.length;
    block.sptd.TimeOutValue = request.timeoutSeconds;
    block.sptd.DataBuffer = request.data;
    block.sptd.SenseInfoOffset = kSenseOffset;
    std::memcpy(block.sptd.Cdb, request.cdb, request.cdbLength);
}

BOOL SendPassThrough(HANDLE handle, PassThroughBlock& block, DWORD inputSize) {
    DWORD returned = 0;
    return Device().deviceIoControl(handle, kPassThroughDirect, &block, inputSize, &block,
                                    kPassThroughBlockSize, &returned, nullptr);
}

}  // namespace telvio
