// The simulator's WNASPI32.dll, loaded by name as a program loads it, driven with raw
// request blocks. Each case writes its own scenario, names it in the environment and
// loads the library afresh, so every case starts from a new runtime.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "drive/Aspi.h"
#include "sim/RecordFile.h"
#include "sim/SimDrive.h"
#include "sim/SimFile.h"

namespace {

using GetSupportFn = DWORD(__cdecl*)();
using SendFn = DWORD(__cdecl*)(void*);

std::string WorkDir() {
    std::string dir = sim::GetEnv("TELVIO_SIM_WORKDIR");
    return dir.empty() ? std::string(".") : dir;
}

class AspiDoor : public ::testing::Test {
  protected:
    void TearDown() override { Unload(); }

    // Writes `body` as this case's scenario (with its record and state places) and loads
    // the library.
    void Load(const std::string& body) {
        const std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        base_ = WorkDir() + "/aspi-" + name;
        record_ = base_ + ".record";
        state_ = base_ + ".state";
        sim::ReplaceWholeFile(record_, "");
        CreateDirectoryA(Native(state_).c_str(), nullptr);
        DeleteFileA(Native(state_ + "/main.revision").c_str());
        const std::string scenario = base_ + ".scenario";
        ASSERT_TRUE(sim::ReplaceWholeFile(scenario,
                                          "record " + record_ + "\nstate " + state_ + "\n" + body));
        ASSERT_TRUE(SetEnvironmentVariableA("TELVIO_SIM_SCENARIO", scenario.c_str()));
        Reload();
    }

    void Reload() {
        Unload();
        module_ = LoadLibraryA("WNASPI32");
        ASSERT_NE(module_, nullptr) << GetLastError();
        char path[MAX_PATH] = {};
        GetModuleFileNameA(module_, path, sizeof path);
        // Wine's own library would answer with no adapters: make sure it is ours.
        ASSERT_NE(std::string(path).find("WNASPI32.dll"), std::string::npos) << path;
        support_ = reinterpret_cast<GetSupportFn>(
            reinterpret_cast<void*>(GetProcAddress(module_, "GetASPI32SupportInfo")));
        send_ = reinterpret_cast<SendFn>(
            reinterpret_cast<void*>(GetProcAddress(module_, "SendASPI32Command")));
        ASSERT_NE(support_, nullptr);
        ASSERT_NE(send_, nullptr);
    }

    void Unload() {
        if (module_ != nullptr) FreeLibrary(module_);
        module_ = nullptr;
    }

    static std::string Native(const std::string& path) {
        std::string out = path[0] == '/' ? "Z:" + path : path;
        for (char& c : out) {
            if (c == '/') c = '\\';
        }
        return out;
    }

    std::vector<sim::RecordEntry> Records() {
        std::vector<sim::RecordEntry> entries;
        sim::ReadRecordFile(record_, entries);
        return entries;
    }

    // An execute block for `cdb` with an event to signal; returns SendASPI32Command's value.
    DWORD Exec(SRB_ExecSCSICmd& srb, uint8_t ha, uint8_t target, uint8_t flags,
               const std::vector<uint8_t>& cdb, void* data, uint32_t length, HANDLE event,
               uint8_t senseFill = 0) {
        std::memset(&srb, 0, sizeof srb);
        std::memset(srb.SenseArea, senseFill, sizeof srb.SenseArea);
        srb.SRB_Cmd = SC_EXEC_SCSI_CMD;
        srb.SRB_HaId = ha;
        srb.SRB_Flags = uint8_t(flags | SRB_EVENT_NOTIFY);
        srb.SRB_Target = target;
        srb.SRB_BufLen = length;
        srb.SRB_BufPointer = static_cast<uint8_t*>(data);
        srb.SRB_SenseLen = SENSE_LEN;
        srb.SRB_CDBLen = uint8_t(cdb.size());
        std::memcpy(srb.CDBByte, cdb.data(), cdb.size());
        srb.SRB_PostProc = event;
        return send_(&srb);
    }

    // Sends and waits as a program does: a pending request is awaited on the event.
    uint8_t ExecAndWait(uint8_t ha, uint8_t target, uint8_t flags, const std::vector<uint8_t>& cdb,
                        void* data, uint32_t length, SRB_ExecSCSICmd* out = nullptr) {
        HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        SRB_ExecSCSICmd srb;
        DWORD r = Exec(srb, ha, target, flags, cdb, data, length, event);
        if (r == SS_PENDING) {
            EXPECT_EQ(WaitForSingleObject(event, 10000), WAIT_OBJECT_0);
        }
        CloseHandle(event);
        if (out != nullptr) *out = srb;
        return srb.SRB_Status;
    }

    HMODULE module_ = nullptr;
    GetSupportFn support_ = nullptr;
    SendFn send_ = nullptr;
    std::string base_, record_, state_;
};

const char* kTwoAdapters =
    "adapter 0 align=0x0001 flags=0x00 targets=8 max-transfer=0x10000\n"
    "adapter 1 align=0x0003 flags=0x02 targets=0 max-transfer=0x20000 completion=later scsi-id=6\n"
    "drive main adapter=0 target=1 vendor=ABCDEFGH product=\"SAMPLE DRIVE 001\" revision=1.00 "
    "new-revision=2.00\n"
    "drive disk adapter=0 target=3 peripheral=0x00\n"
    "drive late adapter=1 target=0 vendor=LATER\n"
    "drive odd adapter=1 target=1 peripheral=0x25 devtype=5\n";

const std::vector<uint8_t> kInquiry = {0x12, 0, 0, 0, 36, 0, 0, 0, 0, 0, 0, 0};

TEST_F(AspiDoor, SupportInfoReportsStatusAndAdapterCount) {
    struct Case {
        const char* extra;
        DWORD expected;
    };
    const Case cases[] = {
        {"", 0x0102},
        {"aspi count=5\n", 0x0105},
        {"aspi status=0xE8 count=0\n", 0xE800},
    };
    for (const Case& c : cases) {
        Load(std::string(kTwoAdapters) + c.extra);
        EXPECT_EQ(support_(), c.expected) << c.extra;
    }
}

TEST_F(AspiDoor, BrokenOrMissingScenarioMeansNoAspi) {
    Load("adapter 0\nthis is not a line\n");
    EXPECT_EQ(support_() >> 8, DWORD(SS_NO_ASPI));
    EXPECT_EQ(support_() & 0xFF, 0u);
    SetEnvironmentVariableA("TELVIO_SIM_SCENARIO", nullptr);
    Reload();
    EXPECT_EQ(support_() >> 8, DWORD(SS_NO_ASPI));
}

TEST_F(AspiDoor, HostAdapterInquiryFillsTheUniqueBytes) {
    Load(kTwoAdapters);
    SRB_HAInquiry ha;
    std::memset(&ha, 0, sizeof ha);
    ha.SRB_Cmd = SC_HA_INQUIRY;
    ha.SRB_HaId = 1;
    EXPECT_EQ(send_(&ha), DWORD(SS_COMP));
    EXPECT_EQ(ha.SRB_Status, SS_COMP);
    EXPECT_EQ(ha.HA_Count, 2);
    EXPECT_EQ(ha.HA_SCSI_ID, 6);
    const uint8_t unique[8] = {0x03, 0x00, 0x02, 0x00, 0x00, 0x00, 0x02, 0x00};
    EXPECT_EQ(0, std::memcmp(ha.HA_Unique, unique, 8));
    EXPECT_EQ(std::string(reinterpret_cast<char*>(ha.HA_ManagerId), 14), "ASPI for WIN32");

    std::memset(&ha, 0, sizeof ha);
    ha.SRB_Cmd = SC_HA_INQUIRY;
    ha.SRB_HaId = 2;
    EXPECT_EQ(send_(&ha), DWORD(SS_INVALID_HA));
    EXPECT_EQ(ha.SRB_Status, SS_INVALID_HA);
}

TEST_F(AspiDoor, DeviceTypeQueryAnswersPerTarget) {
    Load(kTwoAdapters);
    struct Case {
        uint8_t ha, target;
        uint8_t status, type;
    };
    const Case cases[] = {
        {0, 1, SS_COMP, 5}, {0, 3, SS_COMP, 0},       {0, 2, SS_NO_DEVICE, 0},
        {1, 1, SS_COMP, 5}, {7, 0, SS_INVALID_HA, 0},
    };
    for (const Case& c : cases) {
        SRB_GDEVBlock dev;
        std::memset(&dev, 0, sizeof dev);
        dev.SRB_Cmd = SC_GET_DEV_TYPE;
        dev.SRB_HaId = c.ha;
        dev.SRB_Target = c.target;
        EXPECT_EQ(send_(&dev), DWORD(c.status)) << int(c.ha) << ":" << int(c.target);
        EXPECT_EQ(dev.SRB_Status, c.status);
        if (c.status == SS_COMP) {
            EXPECT_EQ(dev.SRB_DeviceType, c.type);
        }
    }
}

TEST_F(AspiDoor, ImmediateExecuteSignalsTheEventBeforeReturning) {
    Load(kTwoAdapters);
    HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    std::vector<uint8_t> reply(36, 0);
    SRB_ExecSCSICmd srb;
    EXPECT_EQ(Exec(srb, 0, 1, SRB_DIR_IN, kInquiry, reply.data(), 36, event), DWORD(SS_COMP));
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
    CloseHandle(event);
    EXPECT_EQ(srb.SRB_Status, SS_COMP);
    EXPECT_EQ(srb.SRB_TargStat, STATUS_GOOD);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(&reply[8]), 28), "ABCDEFGHSAMPLE DRIVE 0011.00");
    auto records = Records();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].door, "aspi");
    EXPECT_EQ(records[0].drive, "main");
    EXPECT_EQ(records[0].command.target, 1);
    EXPECT_EQ(records[0].command.dir, sim::Dir::In);
    EXPECT_EQ(records[0].command.length, 36u);
    EXPECT_EQ(records[0].command.cdbLength, 12);
}

TEST_F(AspiDoor, DeferredExecuteIsPendingUntilTheEvent) {
    Load(kTwoAdapters);
    HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    std::vector<uint8_t> reply(36, 0);
    SRB_ExecSCSICmd srb;
    EXPECT_EQ(Exec(srb, 1, 0, SRB_DIR_IN, kInquiry, reply.data(), 36, event), DWORD(SS_PENDING));
    ASSERT_EQ(WaitForSingleObject(event, 10000), WAIT_OBJECT_0);
    CloseHandle(event);
    EXPECT_EQ(srb.SRB_Status, SS_COMP);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(&reply[8]), 5), "LATER");
}

TEST_F(AspiDoor, CheckConditionFillsSenseAreaUpToSenseLen) {
    Load(std::string(kTwoAdapters) + "fault main opcode=0x3B mode=7 sense=05/24/00\n" +
         "fault late opcode=0x12 sense=02/04/07\n");
    for (uint8_t ha : {0, 1}) {
        std::vector<uint8_t> scratch(4096);
        const std::vector<uint8_t> save = {0x3B, 7, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
        HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        SRB_ExecSCSICmd srb;
        DWORD r = ha == 0 ? Exec(srb, 0, 1, SRB_DIR_IN, save, scratch.data(), 4096, event, 0xEE)
                          : Exec(srb, 1, 0, SRB_DIR_IN, kInquiry, scratch.data(), 36, event, 0xEE);
        if (r == SS_PENDING) {
            ASSERT_EQ(WaitForSingleObject(event, 10000), WAIT_OBJECT_0);
        }
        CloseHandle(event);
        EXPECT_EQ(srb.SRB_Status, SS_ERR);
        EXPECT_EQ(srb.SRB_HaStat, HASTAT_OK);
        EXPECT_EQ(srb.SRB_TargStat, STATUS_CHKCOND);
        EXPECT_EQ(srb.SenseArea[0], 0x70);
        EXPECT_EQ(srb.SenseArea[2], ha == 0 ? 0x05 : 0x02);
        EXPECT_EQ(srb.SenseArea[12], ha == 0 ? 0x24 : 0x04);
        EXPECT_EQ(srb.SenseArea[13], ha == 0 ? 0x00 : 0x07);
        EXPECT_EQ(srb.SenseArea[14], 0xEE);  // SRB_SenseLen was 14
    }
}

TEST_F(AspiDoor, TransportFaultIsAnErrorWithoutSense) {
    Load(std::string(kTwoAdapters) + "fault main opcode=0x12 transport\n");
    std::vector<uint8_t> reply(36, 0x77);
    SRB_ExecSCSICmd srb;
    EXPECT_EQ(ExecAndWait(0, 1, SRB_DIR_IN, kInquiry, reply.data(), 36, &srb), SS_ERR);
    EXPECT_NE(srb.SRB_HaStat, HASTAT_OK);
    EXPECT_EQ(srb.SRB_TargStat, STATUS_GOOD);
    EXPECT_EQ(reply[0], 0x77);
    ASSERT_EQ(Records().size(), 1u);
    EXPECT_TRUE(Records()[0].command.transportFailed);
    // The fault was for one command only.
    EXPECT_EQ(ExecAndWait(0, 1, SRB_DIR_IN, kInquiry, reply.data(), 36), SS_COMP);
}

TEST_F(AspiDoor, RequestsToNothingAreRefused) {
    Load(kTwoAdapters);
    std::vector<uint8_t> reply(36);
    EXPECT_EQ(ExecAndWait(0, 2, SRB_DIR_IN, kInquiry, reply.data(), 36), SS_NO_DEVICE);
    EXPECT_EQ(ExecAndWait(9, 0, SRB_DIR_IN, kInquiry, reply.data(), 36), SS_INVALID_HA);
    SRB_Header h;
    std::memset(&h, 0, sizeof h);
    h.SRB_Cmd = 0x09;
    EXPECT_EQ(send_(&h), DWORD(SS_INVALID_CMD));
    EXPECT_TRUE(Records().empty());
}

TEST_F(AspiDoor, BothDirectionBitsMoveNoData) {
    Load(kTwoAdapters);
    std::vector<uint8_t> reply(36, 0x77);
    // INQUIRY succeeds but, with no transfer, nothing reaches the buffer.
    EXPECT_EQ(ExecAndWait(0, 1, SRB_DIR_IN | SRB_DIR_OUT, kInquiry, reply.data(), 36), SS_COMP);
    EXPECT_EQ(reply[0], 0x77);
    ASSERT_EQ(Records().size(), 1u);
    EXPECT_EQ(Records()[0].command.dir, sim::Dir::None);
}

// A whole download as a program sends it, on an adapter that completes later: the new
// revision shows at once and, through the state folder, in a later load of the library.
TEST_F(AspiDoor, FlashPersistsAcrossLoads) {
    Load(
        "adapter 0 completion=later\n"
        "drive main adapter=0 target=0 revision=1.00 new-revision=2.00\n");
    std::vector<uint8_t> block(4096);
    uint16_t sum = 0;
    for (uint32_t addr = 0; addr < 0x10000; addr += 4096) {
        for (size_t i = 0; i < block.size(); ++i) {
            block[i] = uint8_t((addr >> 12) * 31 + i);
            sum = uint16_t(sum + block[i]);
        }
        const uint32_t offset = addr + 32;
        const std::vector<uint8_t> cdb = {
            0x3B, 6, 0, uint8_t(offset >> 16), uint8_t(offset >> 8), uint8_t(offset), 0, 0x10, 0,
            0,    0, 0};
        ASSERT_EQ(ExecAndWait(0, 0, SRB_DIR_OUT, cdb, block.data(), 4096), SS_COMP) << addr;
    }
    std::vector<uint8_t> checksum(32, 0);
    checksum[30] = uint8_t(sum >> 8);
    checksum[31] = uint8_t(sum);
    const std::vector<uint8_t> writeSum = {0x3B, 6, 0, 0, 0, 0, 0, 0, 0x20, 0, 0, 0};
    ASSERT_EQ(ExecAndWait(0, 0, SRB_DIR_OUT, writeSum, checksum.data(), 32), SS_COMP);
    std::vector<uint8_t> scratch(4096);
    const std::vector<uint8_t> save = {0x3B, 7, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    ASSERT_EQ(ExecAndWait(0, 0, SRB_DIR_IN, save, scratch.data(), 4096), SS_COMP);

    std::vector<uint8_t> reply(36);
    ASSERT_EQ(ExecAndWait(0, 0, SRB_DIR_IN, kInquiry, reply.data(), 36), SS_COMP);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(&reply[32]), 4), "2.00");
    EXPECT_EQ(Records().size(), 16u + 3u);
    std::vector<uint8_t> first(4096);
    for (size_t i = 0; i < first.size(); ++i) first[i] = uint8_t(i);
    EXPECT_EQ(Records()[0].command.dataDigest, sim::Fnv1a(first.data(), first.size()));
    EXPECT_EQ(Records()[0].command.dir, sim::Dir::Out);

    Reload();  // a fresh runtime, as in a later process
    reply.assign(36, 0);
    ASSERT_EQ(ExecAndWait(0, 0, SRB_DIR_IN, kInquiry, reply.data(), 36), SS_COMP);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(&reply[32]), 4), "2.00");
    std::string firmware;
    ASSERT_TRUE(sim::ReadWholeFile(state_ + "/main.firmware", firmware));
    EXPECT_EQ(firmware.size(), 0x10000u);
}

}  // namespace
