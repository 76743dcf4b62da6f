// ScsiExecute's request blocks, seen byte for byte through the in-process device table
// (pass-through) and through a stand-in ASPI entry (ASPI path).
#include <windows.h>

#include "tests/win/TestThread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "drive/AspiEntries.h"
#include "drive/DriveHold.h"
#include "drive/PassThroughBlock.h"
#include "drive/Scsi.h"
#include "engine/FlashEngine.h"
#include "tests/win/drive/FakeDevice.h"

namespace telvio::test {

// In WholeUpgrade.cpp: one whole upgrade of `drive` through the engine; gives back the log.
std::vector<std::string> WholeUpgrade(const DriveRecord& drive, const std::string& image,
                                      const DriveHold& hold = {}, uint8_t usePassThrough = 1);

namespace {

const uint8_t kWriteBuffer[12] = {0x3B, 0x06, 0, 0, 0x10, 0x20, 0, 0x10, 0, 0, 0, 0};

struct Drive {
    FakeDevice fake;
    DriveRecord record{};
    Drive(uint32_t alignMask = 0x7FF) {
        fake.AddLetter('d');
        record.handle = Device().createFile("\\\\.\\d:", 0, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        record.adapter = 3;
        record.target = 5;
        record.alignMask = alignMask;
    }
};

// What a drive saw of one pass-through command.
struct Seen {
    PassThroughBlock block;
    std::vector<uint8_t> data;
    uintptr_t dataAddress = 0;
};

// A drive that records the block and its data, then answers with `status`, writing
// `reply` into the data buffer (data in) and 24 sense bytes when status is nonzero.
FakeDevice::Handler Answer(Seen& seen, UCHAR status, std::vector<uint8_t> reply = {}) {
    return [&seen, status, reply](const IoCall& call, void* out, DWORD outSize) -> BOOL {
        (void)call;
        std::memcpy(&seen.block, out, outSize < sizeof seen.block ? outSize : sizeof seen.block);
        SCSI_PASS_THROUGH_DIRECT* s = static_cast<SCSI_PASS_THROUGH_DIRECT*>(out);
        uint8_t* buf = static_cast<uint8_t*>(s->DataBuffer);
        seen.dataAddress = uintptr_t(buf);
        seen.data.assign(buf, buf + s->DataTransferLength);
        if (s->DataIn == SCSI_IOCTL_DATA_IN && !reply.empty()) {
            std::memcpy(buf, reply.data(), reply.size() < s->DataTransferLength ? reply.size() : s->DataTransferLength);
        }
        s->ScsiStatus = status;
        if (status != 0) {
            uint8_t* sense = static_cast<uint8_t*>(out) + s->SenseInfoOffset;
            for (int i = 0; i < s->SenseInfoLength; ++i) sense[i] = uint8_t(0xA0 + i);
            sense[2] = 0x05;
            sense[12] = 0x24;
            sense[13] = 0x00;
        }
        return TRUE;
    };
}

TEST(PassThroughBlock, FieldsOfADataOutCommand) {
    Drive d;
    Seen seen;
    d.fake.SetHandler(IOCTL_SCSI_PASS_THROUGH_DIRECT, Answer(seen, 0));
    std::vector<uint8_t> data(4096);
    for (size_t i = 0; i < data.size(); ++i) data[i] = uint8_t(i * 7 + 1);
    const std::vector<uint8_t> before = data;
    SenseData sense;
    std::memset(&sense, 0xEE, sizeof sense);

    EXPECT_EQ(1, ScsiExecute(d.record, SRB_DIR_OUT, 4096, data.data(), 12, kWriteBuffer, 1, sense));

    ASSERT_EQ(1u, d.fake.calls.size());
    const IoCall& call = d.fake.calls[0];
    EXPECT_EQ(DWORD(0x4D014), call.code);
    EXPECT_EQ(sizeof(SCSI_PASS_THROUGH_DIRECT), call.inSize);
    EXPECT_EQ(sizeof(PassThroughBlock), call.outSize);
    EXPECT_TRUE(call.inIsOut);
    const SCSI_PASS_THROUGH_DIRECT& s = seen.block.sptd;
    EXPECT_EQ(sizeof(SCSI_PASS_THROUGH_DIRECT), s.Length);
    EXPECT_EQ(3, s.PathId);
    EXPECT_EQ(5, s.TargetId);
    EXPECT_EQ(0, s.Lun);
    EXPECT_EQ(12, s.CdbLength);
    EXPECT_EQ(24, s.SenseInfoLength);
    EXPECT_EQ(offsetof(PassThroughBlock, sense), s.SenseInfoOffset);
    EXPECT_EQ(SCSI_IOCTL_DATA_OUT, s.DataIn);
    EXPECT_EQ(4096u, s.DataTransferLength);
    EXPECT_EQ(65535u, s.TimeOutValue);
    EXPECT_EQ(0, std::memcmp(s.Cdb, kWriteBuffer, 12));
    for (int i = 12; i < 16; ++i) EXPECT_EQ(0, s.Cdb[i]) << "cdb byte " << i;
    EXPECT_EQ(0u, seen.block.filler);
    for (uint8_t b : seen.block.sense) EXPECT_EQ(0, b);
    EXPECT_EQ(0u, seen.dataAddress & 0x7FF);
    EXPECT_EQ(before, seen.data) << "the drive gets exactly the caller's bytes";
    EXPECT_EQ(before, data) << "data out leaves the caller's buffer as it was";
    for (int i = 0; i < 16; ++i) EXPECT_EQ(0, sense.bytes[i]) << i;
    for (int i = 16; i < 32; ++i) EXPECT_EQ(0xEE, sense.bytes[i]) << "only 16 bytes are cleared";
}

// After mode 7 the drive may still be programming: the read-back's INQUIRY waits past
// ATA's 31 s busy allowance, and a drive that let it time out is not asked again (and the
// log says it did not answer).
TEST(PassThroughBlock, ReadBackAfterModeSeven) {
    for (bool timesOut : {false, true}) {
        Drive d;
        std::vector<std::pair<UCHAR, ULONG>> sent;  // operation code, time-out
        d.fake.SetHandler(IOCTL_SCSI_PASS_THROUGH_DIRECT, [&](const IoCall&, void* out, DWORD) {
            PassThroughBlock* b = static_cast<PassThroughBlock*>(out);
            sent.emplace_back(b->sptd.Cdb[0], b->sptd.TimeOutValue);
            b->sptd.ScsiStatus = 0;
            if (b->sptd.Cdb[0] != 0x12) return TRUE;
            if (timesOut) SetLastError(ERROR_SEM_TIMEOUT);
            std::memcpy(static_cast<uint8_t*>(b->sptd.DataBuffer) + 32, "2.00", 4);
            return timesOut ? FALSE : TRUE;
        });
        const std::vector<std::string> log = WholeUpgrade(d.record, std::string(3 * 4096, 'Z'));
        ASSERT_GE(log.size(), 3u);
        EXPECT_EQ("Please Restart Your Computer.", log.back());
        const size_t readBackLine = log.size() - (timesOut ? 3 : 2);
        EXPECT_EQ(timesOut ? kNoAnswerLine : "Firmware revision now: 2.00", log[readBackLine]);
        ASSERT_EQ(6u, sent.size()) << "three blocks, checksum, save, one read-back";
        for (size_t i = 0; i < sent.size(); ++i) {
            EXPECT_EQ(i == 5 ? 0x12 : 0x3B, sent[i].first) << i;
            EXPECT_EQ(i == 5 ? 35u : i < 3 ? 60u : 65535u, sent[i].second) << i;
        }
    }
}

TEST(PassThroughBlock, AlignmentOfTheDataBuffer) {
    struct Case {
        uint32_t mask;
        uint32_t length;
    } cases[] = {{0, 4096}, {0, 1}, {0x7FF, 4096}, {0x7FF, 33}, {0x1000, 4096}, {0xFFF, 5000}, {0x3, 7}};
    for (const Case& c : cases) {
        Drive d(c.mask);
        Seen seen;
        std::vector<uint8_t> reply(c.length);
        for (size_t i = 0; i < reply.size(); ++i) reply[i] = uint8_t(i ^ 0x5A);
        d.fake.SetHandler(IOCTL_SCSI_PASS_THROUGH_DIRECT, Answer(seen, 0, reply));
        std::vector<uint8_t> data(c.length, 0);
        SenseData sense;
        ASSERT_EQ(1, ScsiExecute(d.record, SRB_DIR_IN, c.length, data.data(), 12, kWriteBuffer, 1, sense))
            << "mask " << c.mask;
        EXPECT_EQ(0u, seen.dataAddress & c.mask) << "mask " << c.mask;
        EXPECT_EQ(reply, data) << "mask " << c.mask;
        // The drive wrote `length` bytes at the rounded address: that must lie inside
        // the allocation, which the heap would report otherwise.
        EXPECT_TRUE(HeapValidate(GetProcessHeap(), 0, nullptr)) << "mask " << c.mask;
    }
}

TEST(PassThroughBlock, DirectionFlags) {
    struct Case {
        uint8_t flags;
        uint32_t length;
        UCHAR dataIn;
    } cases[] = {
        {SRB_DIR_IN, 36, SCSI_IOCTL_DATA_IN},
        {SRB_DIR_IN, 0, SCSI_IOCTL_DATA_IN},
        {SRB_DIR_OUT, 32, SCSI_IOCTL_DATA_OUT},
        {SRB_DIR_IN | SRB_DIR_OUT, 32, SCSI_IOCTL_DATA_OUT},
        {0, 0, 0},
    };
    for (const Case& c : cases) {
        Drive d;
        Seen seen;
        d.fake.SetHandler(IOCTL_SCSI_PASS_THROUGH_DIRECT, Answer(seen, 0, std::vector<uint8_t>(64, 0x77)));
        std::vector<uint8_t> data(64, 0x11);
        SenseData sense;
        EXPECT_EQ(1, ScsiExecute(d.record, c.flags, c.length, c.length ? data.data() : nullptr, 12,
                                 kWriteBuffer, 1, sense));
        EXPECT_EQ(c.dataIn, seen.block.sptd.DataIn) << "flags " << int(c.flags);
        EXPECT_EQ(c.length, seen.block.sptd.DataTransferLength) << "flags " << int(c.flags);
        if (c.dataIn == SCSI_IOCTL_DATA_OUT) {
            EXPECT_EQ(std::vector<uint8_t>(c.length, 0x11), seen.data);
            EXPECT_EQ(std::vector<uint8_t>(64, 0x11), data) << "flags " << int(c.flags);
        }
    }
}

// A heap that gives out blocks still holding an earlier user's bytes unless told to zero.
LPVOID WINAPI DirtyHeapAlloc(HANDLE heap, DWORD flags, SIZE_T size) {
    void* block = HeapAlloc(heap, flags, size);
    if (block != nullptr && !(flags & HEAP_ZERO_MEMORY)) std::memset(block, 0xAB, size);
    return block;
}

TEST(PassThroughBlock, TransferBufferHoldsNothingOfEarlierUse) {
    for (uint8_t flags : {uint8_t(SRB_DIR_IN), uint8_t(0)}) {
        Drive d;
        Device().heapAlloc = &DirtyHeapAlloc;  // the fake device puts the system's back
        Seen seen;  // the drive moves 10 bytes in, not 36
        d.fake.SetHandler(IOCTL_SCSI_PASS_THROUGH_DIRECT,
                          Answer(seen, 0, std::vector<uint8_t>(10, 9)));
        std::vector<uint8_t> data(36, 0x11);
        SenseData sense;
        ASSERT_EQ(1, ScsiExecute(d.record, flags, 36, data.data(), 12, kWriteBuffer, 1, sense));
        EXPECT_EQ(std::vector<uint8_t>(36, 0), seen.data) << "flags " << int(flags);
        if (flags == SRB_DIR_IN) {
            EXPECT_EQ(0, data[10]) << "handed back past what moved";
        }
    }
}

TEST(PassThroughBlock, CheckConditionGivesSenseAndLeavesDataAlone) {
    Drive d;
    Seen seen;
    d.fake.SetHandler(IOCTL_SCSI_PASS_THROUGH_DIRECT, Answer(seen, 2, std::vector<uint8_t>(36, 0x99)));
    std::vector<uint8_t> data(36, 0x11);
    SenseData sense;
    std::memset(&sense, 0xEE, sizeof sense);
    EXPECT_EQ(0, ScsiExecute(d.record, SRB_DIR_IN, 36, data.data(), 12, kWriteBuffer, 1, sense));
    EXPECT_EQ(std::vector<uint8_t>(36, 0x11), data) << "no data is copied back after a failure";
    EXPECT_EQ(0x05, sense.bytes[2]);
    EXPECT_EQ(0x24, sense.bytes[12]);
    EXPECT_EQ(0x00, sense.bytes[13]);
    EXPECT_EQ(0xA0, sense.bytes[0]);
    EXPECT_EQ(0xA0 + 23, sense.bytes[23]);
    for (int i = 24; i < 32; ++i) EXPECT_EQ(0, sense.bytes[i]) << "past the drive's 24 bytes: " << i;
}

TEST(PassThroughBlock, FailedControlCallLeavesSenseClearAndDataAlone) {
    Drive d;
    d.fake.SetHandler(IOCTL_SCSI_PASS_THROUGH_DIRECT, [](const IoCall&, void* out, DWORD) -> BOOL {
        // Even if the platform scribbled status and sense, a failed call reports nothing.
        PassThroughBlock* b = static_cast<PassThroughBlock*>(out);
        b->sptd.ScsiStatus = 2;
        std::memset(b->sense, 0x55, sizeof b->sense);
        SetLastError(ERROR_IO_DEVICE);
        return FALSE;
    });
    std::vector<uint8_t> data(36, 0x11);
    SenseData sense;
    std::memset(&sense, 0xEE, sizeof sense);
    EXPECT_EQ(0, ScsiExecute(d.record, SRB_DIR_IN, 36, data.data(), 12, kWriteBuffer, 1, sense));
    EXPECT_EQ(std::vector<uint8_t>(36, 0x11), data);
    for (int i = 0; i < 16; ++i) EXPECT_EQ(0, sense.bytes[i]) << i;
}

TEST(PassThroughBlock, OverlongCdbIsNotSent) {
    Drive d;
    Seen seen;
    d.fake.SetHandler(IOCTL_SCSI_PASS_THROUGH_DIRECT, Answer(seen, 0));
    uint8_t cdb[17] = {0x12};
    SenseData sense;
    std::memset(&sense, 0xEE, sizeof sense);
    EXPECT_EQ(0, ScsiExecute(d.record, SRB_DIR_IN, 0, nullptr, 17, cdb, 1, sense));
    EXPECT_EQ(0, ScsiExecute(d.record, SRB_DIR_IN, 0, nullptr, 17, cdb, 0, sense));
    EXPECT_TRUE(d.fake.calls.empty());
    for (int i = 0; i < 16; ++i) EXPECT_EQ(0, sense.bytes[i]) << i;
}

// --- ASPI path through a stand-in SendASPI32Command ---------------------------------

struct AspiStandIn {
    static inline SRB_ExecSCSICmd seen;
    static inline std::vector<uint8_t> seenData;
    static inline uint8_t status = SS_COMP;
    static inline uint8_t targStat = STATUS_GOOD;
    static inline bool pending = false;
    static inline std::atomic<int> calls{0};
    static inline telvio::test::TestThread worker;

    // A request that never ends by itself; the test ends it late, after the call gave up.
    static inline bool hang = false;
    static inline int aborts = 0;
    static inline SRB_ExecSCSICmd* held = nullptr;

    static void EndLate(SRB_ExecSCSICmd* srb, DWORD delay) {
        worker = telvio::test::TestThread([srb, delay] {
            Sleep(delay);
            // The library's late writes: into the block, its data area and its event.
            std::memset(srb->SRB_BufPointer, 0x66, srb->SRB_BufLen);
            srb->SRB_Status = SS_COMP;
            lateSignal = SetEvent(static_cast<HANDLE>(srb->SRB_PostProc));
        });
    }
    static inline BOOL lateSignal = FALSE;

    static uint32_t Send(void* p) {
        if (static_cast<SRB_Header*>(p)->SRB_Cmd == SC_ABORT_SRB) {
            ++aborts;
            return static_cast<SRB_Abort*>(p)->SRB_Status = SS_COMP;
        }
        SRB_ExecSCSICmd* srb = static_cast<SRB_ExecSCSICmd*>(p);
        ++calls;
        seen = *srb;
        seenData.assign(srb->SRB_BufPointer, srb->SRB_BufPointer + srb->SRB_BufLen);
        if (hang) {
            held = srb;
            return SS_PENDING;
        }
        std::memset(srb->SenseArea, 0x5A, sizeof srb->SenseArea);
        srb->SRB_TargStat = targStat;
        if (!pending) {
            srb->SRB_Status = status;
            return status;
        }
        worker = telvio::test::TestThread([srb] {
            Sleep(50);
            srb->SRB_Status = status;
            SetEvent(static_cast<HANDLE>(srb->SRB_PostProc));
        });
        return SS_PENDING;
    }

    AspiStandIn() {
        aspiSendCommand = &Send;
        calls = 0;
        hang = false;
        aborts = 0;
        held = nullptr;
        lateSignal = FALSE;
        pending = false;
        status = SS_COMP;
        targStat = STATUS_GOOD;
    }
    ~AspiStandIn() {
        if (worker.joinable()) worker.join();
        aspiSendCommand = nullptr;
    }
};

TEST(AspiBlock, FieldsAndFlags) {
    AspiStandIn aspi;
    DriveRecord drive{};
    drive.adapter = 1;
    drive.target = 6;
    drive.alignMask = 1;  // IDE's: even addresses
    const uint8_t flagCases[] = {SRB_DIR_IN, SRB_DIR_OUT, SRB_DIR_IN | SRB_DIR_OUT, 0};
    for (uint8_t flags : flagCases) {
        std::vector<uint8_t> data(33, 0x33);  // the caller's at an odd address
        SenseData sense;
        EXPECT_EQ(1, ScsiExecute(drive, flags, 32, data.data() + 1, 12, kWriteBuffer, 0, sense));
        const SRB_ExecSCSICmd& s = AspiStandIn::seen;
        EXPECT_EQ(SC_EXEC_SCSI_CMD, s.SRB_Cmd);
        EXPECT_EQ(1, s.SRB_HaId);
        EXPECT_EQ(6, s.SRB_Target);
        EXPECT_EQ(0, s.SRB_Lun);
        EXPECT_EQ(flags | SRB_EVENT_NOTIFY, s.SRB_Flags) << "flags pass on unchanged, plus 0x40";
        EXPECT_EQ(32u, s.SRB_BufLen);
        EXPECT_EQ(0u, uintptr_t(s.SRB_BufPointer) & 0xF)
            << "the library's data at 16 bytes at least";
        EXPECT_TRUE(flags != SRB_DIR_OUT ||
                    AspiStandIn::seenData == std::vector<uint8_t>(32, 0x33));
        EXPECT_EQ(14, s.SRB_SenseLen);
        EXPECT_EQ(12, s.SRB_CDBLen);
        EXPECT_EQ(0, std::memcmp(s.CDBByte, kWriteBuffer, 12));
        EXPECT_NE(nullptr, s.SRB_PostProc);
        EXPECT_EQ(0u, s.SRB_Hdr_Rsvd);
    }
}

TEST(AspiBlock, CompletionAndStatus) {
    struct Case {
        bool pending;
        uint8_t status;
        uint8_t targStat;
        int result;
    } cases[] = {
        {false, SS_COMP, STATUS_GOOD, 1},   {false, SS_ERR, STATUS_GOOD, 0},
        {true, SS_COMP, STATUS_GOOD, 1},    {true, SS_ERR, STATUS_GOOD, 0},
        {true, SS_ABORTED, STATUS_GOOD, 0}, {false, SS_ERR, STATUS_CHKCOND, 0},
        {true, SS_ERR, STATUS_CHKCOND, 0},
    };
    for (const Case& c : cases) {
        AspiStandIn aspi;
        AspiStandIn::pending = c.pending;
        AspiStandIn::status = c.status;
        AspiStandIn::targStat = c.targStat;
        DriveRecord drive{};
        uint8_t data[36] = {};
        SenseData sense;
        std::memset(&sense, 0xEE, sizeof sense);
        EXPECT_EQ(c.result, ScsiExecute(drive, SRB_DIR_IN, 36, data, 12, kWriteBuffer, 0, sense))
            << "pending " << c.pending << " status " << int(c.status);
        EXPECT_EQ(1, AspiStandIn::calls.load());
        // Only a check condition brings sense: the 14 bytes the block asked for.
        const bool check = c.targStat == STATUS_CHKCOND;
        for (int i = 0; i < 16; ++i) EXPECT_EQ(check && i < 14 ? 0x5A : 0, sense.bytes[i]) << i;
        for (int i = 16; i < 32; ++i) EXPECT_EQ(check ? 0 : 0xEE, sense.bytes[i]) << i;
    }
}

// A bounded request that does not end is never aborted (an abort may reset a drive that
// is programming): the call gives up with no sense, and the block, its data area and its
// event outlive whatever the library writes afterwards.
TEST(AspiBlock, BoundedWaitLeavesTheRequestToTheLibrary) {
    const uint8_t inquiry[6] = {0x12, 0, 0, 0, 36, 0};
    AspiStandIn aspi;
    AspiStandIn::hang = true;
    DriveRecord drive{};
    std::vector<uint8_t> data(36, 0x11);
    SenseData sense;
    std::memset(&sense, 0xEE, sizeof sense);
    EXPECT_EQ(0, ScsiExecute(drive, SRB_DIR_IN, 36, data.data(), 6, inquiry, 0, sense, 1));
    EXPECT_EQ(0, AspiStandIn::aborts);
    for (int i = 0; i < 16; ++i) EXPECT_EQ(0, sense.bytes[i]) << "no answer, no sense: " << i;
    EXPECT_NE(data.data(), AspiStandIn::seen.SRB_BufPointer)
        << "a bounded request moves its data through an area of its own";
    AspiStandIn::EndLate(AspiStandIn::held, 50);
    AspiStandIn::worker.join();
    EXPECT_TRUE(AspiStandIn::lateSignal) << "the event was closed under the library";
    EXPECT_EQ(std::vector<uint8_t>(36, 0x11), data) << "a late write reached the caller";
    EXPECT_TRUE(HeapValidate(GetProcessHeap(), 0, nullptr));
}

TEST(AspiBlock, UnboundLibrarySendsNothing) {
    aspiSendCommand = nullptr;
    DriveRecord drive{};
    SenseData sense;
    EXPECT_EQ(0, ScsiExecute(drive, SRB_DIR_IN, 0, nullptr, 12, kWriteBuffer, 0, sense));
}

}  // namespace
}  // namespace telvio::test
