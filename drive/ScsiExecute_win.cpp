// ScsiExecute on Windows: the NT storage pass-through or the ASPI library.
#include <windows.h>

#include <cstring>

#include "drive/AspiEntries.h"
#include "drive/DeviceCalls.h"
#include "drive/PassThroughBlock.h"
#include "drive/Scsi.h"

namespace telvio {

ASPI_CALL_GetSupportInfo* aspiSupportInfo = nullptr;
ASPI_CALL_SendCommand* aspiSendCommand = nullptr;

namespace {

constexpr DWORD kPassThroughDirect = 0x4D014;
static_assert(kPassThroughDirect == IOCTL_SCSI_PASS_THROUGH_DIRECT, "control code");

// Commands are given ample time: firmware programming can take a long while.
constexpr ULONG kCommandTimeoutSeconds = 0xFFFF;

int ExecutePassThrough(const DriveRecord& drive, uint8_t flags, uint32_t length, void* data,
                       uint8_t cdbLength, const uint8_t* cdb, SenseData& sense) {
    PassThroughBlock block;
    std::memset(&block, 0, sizeof block);
    std::memcpy(block.sptd.Cdb, cdb, cdbLength);
    block.sptd.Length = USHORT(kSptdSize);
    block.sptd.PathId = drive.adapter;
    block.sptd.TargetId = drive.target;
    block.sptd.Lun = 0;
    block.sptd.CdbLength = cdbLength;
    block.sptd.SenseInfoLength = kSenseInfoLength;
    block.sptd.SenseInfoOffset = kSenseOffset;
    block.sptd.TimeOutValue = kCommandTimeoutSeconds;
    block.sptd.DataTransferLength = length;

    // The adapter wants its data at an address with the mask bits clear: allocate mask
    // bytes more and round up inside the allocation.
    const uint64_t allocSize = uint64_t(length) + drive.alignMask;
    if (allocSize > 0xFFFFFFFFu) return 0;
    HANDLE heap = GetProcessHeap();
    // Zeroed: a data-in command that moves fewer bytes must not hand back stale heap.
    uint8_t* raw =
        static_cast<uint8_t*>(Device().heapAlloc(heap, HEAP_ZERO_MEMORY, SIZE_T(allocSize ? allocSize : 1)));
    if (raw == nullptr) return 0;
    uint8_t* aligned =
        reinterpret_cast<uint8_t*>((uintptr_t(raw) + drive.alignMask) & ~uintptr_t(drive.alignMask));
    block.sptd.DataBuffer = aligned;

    if (flags & SRB_DIR_OUT) {
        block.sptd.DataIn = SCSI_IOCTL_DATA_OUT;
        if (length) std::memcpy(aligned, data, length);
    } else if (flags & SRB_DIR_IN) {
        block.sptd.DataIn = SCSI_IOCTL_DATA_IN;
    }

    DWORD returned = 0;
    const BOOL ok = Device().deviceIoControl(drive.handle, kPassThroughDirect, &block, kSptdSize,
                                             &block, kBlockSize, &returned, nullptr);
    int result = 0;
    if (!ok) {
        result = 0;
    } else if (block.sptd.ScsiStatus != 0) {
        std::memcpy(sense.bytes, block.sense, sizeof sense.bytes);
        result = 0;
    } else {
        if ((flags & SRB_DIR_IN) && !(flags & SRB_DIR_OUT) && length) {
            std::memcpy(data, aligned, length);
        }
        result = 1;
    }
    Device().heapFree(heap, 0, raw);
    return result;
}

int ExecuteAspi(const DriveRecord& drive, uint8_t flags, uint32_t length, void* data,
                uint8_t cdbLength, const uint8_t* cdb, SenseData& sense) {
    if (aspiSendCommand == nullptr) return 0;
    SRB_ExecSCSICmd srb;
    std::memset(&srb, 0, sizeof srb);
    std::memcpy(srb.CDBByte, cdb, cdbLength);
    srb.SRB_Cmd = SC_EXEC_SCSI_CMD;
    srb.SRB_HaId = drive.adapter;
    srb.SRB_Flags = flags;
    srb.SRB_Target = drive.target;
    srb.SRB_Lun = 0;
    srb.SRB_BufLen = length;
    srb.SRB_BufPointer = static_cast<uint8_t*>(data);
    srb.SRB_SenseLen = SENSE_LEN;
    srb.SRB_CDBLen = cdbLength;

    HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (event == nullptr) return 0;
    srb.SRB_Flags |= SRB_EVENT_NOTIFY;
    srb.SRB_PostProc = event;
    ResetEvent(event);

    const uint32_t sent = aspiSendCommand(&srb);
    if (sent == SS_PENDING) {
        if (WaitForSingleObject(event, INFINITE) == WAIT_OBJECT_0) ResetEvent(event);
    }
    CloseHandle(event);
    // The library writes SRB_Status from its own thread; read it as it stands now.
    const volatile uint8_t* status = &srb.SRB_Status;
    if (*status == SS_COMP) return 1;
    // On CHECK CONDITION the library has fetched the drive's sense into the block. A
    // drive that is busy taking its firmware says so there, and only there.
    if (srb.SRB_TargStat == STATUS_CHKCOND) {
        const size_t senseLength =
            srb.SRB_SenseLen < sizeof srb.SenseArea ? srb.SRB_SenseLen : sizeof srb.SenseArea;
        std::memset(sense.bytes, 0, sizeof sense.bytes);
        std::memcpy(sense.bytes, srb.SenseArea, senseLength);
    }
    return 0;
}

}  // namespace

int ScsiExecute(const DriveRecord& drive, uint8_t flags, uint32_t length, void* data,
                uint8_t cdbLength, const uint8_t* cdb, uint8_t usePassThrough, SenseData& sense) {
    std::memset(sense.bytes, 0, 16);
    if (cdbLength > 16) return 0;
    if (usePassThrough) return ExecutePassThrough(drive, flags, length, data, cdbLength, cdb, sense);
    return ExecuteAspi(drive, flags, length, data, cdbLength, cdb, sense);
}

}  // namespace telvio
