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

int ExecutePassThrough(const DriveRecord& drive, uint8_t flags, uint32_t length, void* data,
                       uint8_t cdbLength, const uint8_t* cdb, SenseData& sense,
                       uint32_t timeoutSeconds, uint32_t& transferred, CommandEnd& end) {
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
    const bool dataIn = (flags & SRB_DIR_IN) && !(flags & SRB_DIR_OUT);
    if ((flags & SRB_DIR_OUT) && length) std::memcpy(aligned, data, length);

    // A command that moves no data goes as data out, as the block always said it.
    const UCHAR direction = dataIn ? SCSI_IOCTL_DATA_IN : SCSI_IOCTL_DATA_OUT;
    PassThroughBlock block;
    FillPassThroughBlock(block, {cdb, cdbLength, direction, aligned, length, timeoutSeconds,
                                 drive.adapter, drive.target});
    const BOOL ok = SendPassThrough(drive.handle, block, kSptdSize);
    int result = 0;
    if (!ok) {
        result = 0;
    } else if (block.sptd.ScsiStatus != 0) {
        std::memcpy(sense.bytes, block.sense, sizeof sense.bytes);
        // A status without sense is no answer the engine can read: the port's own.
        end = HoldsSenseData(sense) ? CommandEnd::CheckCondition : CommandEnd::NoAnswer;
        result = 0;
    } else {
        if (dataIn && length) std::memcpy(data, aligned, length);
        // The platform takes off what the drive did not send (an underrun is no error).
        transferred =
            block.sptd.DataTransferLength < length ? block.sptd.DataTransferLength : length;
        end = CommandEnd::Good;
        result = 1;
    }
    Device().heapFree(heap, 0, raw);
    return result;
}

void FillExecRequest(SRB_ExecSCSICmd& srb, const DriveRecord& drive, uint8_t flags, uint32_t length,
                     uint8_t* buffer, uint8_t cdbLength, const uint8_t* cdb) {
    std::memset(&srb, 0, sizeof srb);
    std::memcpy(srb.CDBByte, cdb, cdbLength);
    srb.SRB_Cmd = SC_EXEC_SCSI_CMD;
    srb.SRB_HaId = drive.adapter;
    srb.SRB_Flags = flags;
    srb.SRB_Target = drive.target;
    srb.SRB_Lun = 0;
    srb.SRB_BufLen = length;
    srb.SRB_BufPointer = buffer;
    srb.SRB_SenseLen = SENSE_LEN;
    srb.SRB_CDBLen = cdbLength;
}

// The result of an execute request that has ended.
int EndedRequest(const SRB_ExecSCSICmd& srb, SenseData& sense, CommandEnd& end) {
    // The library writes SRB_Status from its own thread; read it as it stands now.
    const volatile uint8_t* status = &srb.SRB_Status;
    if (*status == SS_COMP) {
        end = CommandEnd::Good;
        return 1;
    }
    // On CHECK CONDITION the library has fetched the drive's sense into the block. A
    // drive that is busy taking its firmware says so there, and only there.
    if (srb.SRB_TargStat == STATUS_CHKCOND) {
        const size_t senseLength =
            srb.SRB_SenseLen < sizeof srb.SenseArea ? srb.SRB_SenseLen : sizeof srb.SenseArea;
        std::memset(sense.bytes, 0, sizeof sense.bytes);
        std::memcpy(sense.bytes, srb.SenseArea, senseLength);
    }
    // The drive answered only when the adapter carried the exchange and the target gave a
    // status of its own: after a selection time-out or a bus reset the adapter speaks
    // for a drive that said nothing.
    end = srb.SRB_HaStat == HASTAT_OK && srb.SRB_TargStat == STATUS_CHKCOND
              ? CommandEnd::CheckCondition
              : CommandEnd::NoAnswer;
    return 0;
}

// A request with a bounded wait may be given up while the library still holds it, and
// the library may write the block, fill the data area and signal the event after that.
// So all three live on the heap, apart from the caller's buffer and stack, and go back
// only once the event says the library is done with them.
struct AspiRequest {
    SRB_ExecSCSICmd srb;
    HANDLE event;
    // The data area follows, aligned.
};

// Bus-master IDE moves data only at even addresses, and an adapter may want more (the
// mask its host adapter inquiry gave): the data area is aligned to that mask, and to 16
// bytes at least, whatever the caller's buffer is.
constexpr uint32_t kAspiLeastAlignMask = 0xF;

int ExecuteAspi(const DriveRecord& drive, uint8_t flags, uint32_t length, void* data,
                uint8_t cdbLength, const uint8_t* cdb, SenseData& sense, uint32_t timeoutSeconds,
                CommandEnd& end) {
    if (aspiSendCommand == nullptr) return 0;
    const uint32_t mask = drive.alignMask | kAspiLeastAlignMask;
    const uint64_t size = uint64_t(sizeof(AspiRequest)) + mask + length;
    if (size > 0xFFFFFFFFu) return 0;
    auto* request =
        static_cast<AspiRequest*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, SIZE_T(size)));
    if (request == nullptr) return 0;
    request->event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (request->event == nullptr) {
        HeapFree(GetProcessHeap(), 0, request);
        return 0;
    }
    uint8_t* area = reinterpret_cast<uint8_t*>((uintptr_t(request + 1) + mask) & ~uintptr_t(mask));
    if ((flags & SRB_DIR_OUT) && length) std::memcpy(area, data, length);
    SRB_ExecSCSICmd& srb = request->srb;
    FillExecRequest(srb, drive, flags, length, area, cdbLength, cdb);
    srb.SRB_Flags |= SRB_EVENT_NOTIFY;
    srb.SRB_PostProc = request->event;

    const DWORD bound = timeoutSeconds < kAmpleTimeoutSeconds ? timeoutSeconds * 1000 : INFINITE;
    if (aspiSendCommand(&srb) == SS_PENDING &&
        WaitForSingleObject(request->event, bound) != WAIT_OBJECT_0) {
        // No abort: an abort sent to a drive still busy programming its flash may make
        // the layers below reset it. The request stays the library's (a few bytes and an
        // event) rather than be freed under it; the caller sends nothing more.
        return 0;
    }
    const int result = EndedRequest(srb, sense, end);
    if ((flags & SRB_DIR_IN) && !(flags & SRB_DIR_OUT) && length) std::memcpy(data, area, length);
    CloseHandle(request->event);
    HeapFree(GetProcessHeap(), 0, request);
    return result;
}

}  // namespace

int ScsiExecute(const DriveRecord& drive, uint8_t flags, uint32_t length, void* data,
                uint8_t cdbLength, const uint8_t* cdb, uint8_t usePassThrough, SenseData& sense,
                uint32_t timeoutSeconds, uint32_t* transferred, CommandEnd* end) {
    std::memset(sense.bytes, 0, 16);
    uint32_t moved = 0;
    uint32_t& count = transferred != nullptr ? *transferred : moved;
    count = 0;
    CommandEnd ended = CommandEnd::NoAnswer;
    CommandEnd& how = end != nullptr ? *end : ended;
    how = CommandEnd::NoAnswer;
    if (cdbLength > 16) return 0;
    // A time-out of 0 would be no time at all; nothing beyond the ample one is needed.
    if (timeoutSeconds == 0 || timeoutSeconds > kAmpleTimeoutSeconds) {
        timeoutSeconds = kAmpleTimeoutSeconds;
    }
    if (usePassThrough) {
        return ExecutePassThrough(drive, flags, length, data, cdbLength, cdb, sense, timeoutSeconds,
                                  count, how);
    }
    const int result =
        ExecuteAspi(drive, flags, length, data, cdbLength, cdb, sense, timeoutSeconds, how);
    if (result == 1) count = length;
    return result;
}

}  // namespace telvio
