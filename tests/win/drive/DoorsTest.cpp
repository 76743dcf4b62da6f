// ScsiExecute through the real doors to the simulated drive: Wine's own pass-through
// code with the SG_IO library on NT, the simulator's WNASPI32.dll on 98. The command
// record shows what reached the drive.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "drive/Scsi.h"
#include "drive/Transport.h"
#include "tests/win/drive/SimAccess.h"

namespace telvio::test {
namespace {

std::vector<uint8_t> WriteBufferCdb(uint32_t offset, uint32_t length, uint8_t mode = 6) {
    return {0x3B, mode, 0, uint8_t(offset >> 16), uint8_t(offset >> 8), uint8_t(offset), uint8_t(length >> 16),
            uint8_t(length >> 8), uint8_t(length), 0, 0, 0};
}

const uint8_t kInquiry[12] = {0x12, 0, 0, 0, 36, 0, 0, 0, 0, 0, 0, 0};
const uint8_t kModeSense[12] = {0x5A, 0x08, 0x2A, 0, 0, 0, 0, 0, 0x28, 0, 0, 0};
const uint8_t kTestUnitReady[12] = {};

std::vector<uint8_t> Pattern(size_t n, uint8_t seed) {
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i) v[i] = uint8_t(i * 13 + seed);
    return v;
}

class PassThroughDoor : public ::testing::Test {
protected:
    void SetUp() override {
        scenario = LoadTestScenario();
        ClearRecord(scenario);
        TransportState state;
        SelectPlatform(state);
        ASSERT_EQ(1, state.UsePassThrough) << "run with Wine reporting an NT version";
        drive.handle = CreateFileA("\\\\.\\d:", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                   nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(INVALID_HANDLE_VALUE, drive.handle) << GetLastError();
        drive.alignMask = 0x7FF;
    }
    void TearDown() override {
        if (drive.handle != INVALID_HANDLE_VALUE) CloseHandle(drive.handle);
    }
    sim::Scenario scenario;
    DriveRecord drive{};
};

TEST_F(PassThroughDoor, WhatReachesTheDriveForEachDirection) {
    SenseData sense;
    // Data in: the platform reports the 36 bytes the drive sent of the 40 asked for.
    uint8_t reply[40] = {};
    uint32_t transferred = 0;
    ASSERT_EQ(1, ScsiExecute(drive, SRB_DIR_IN, 40, reply, 12, kInquiry, 1, sense,
                             kAmpleTimeoutSeconds, &transferred));
    EXPECT_EQ(0, std::memcmp(reply + 8, "DOORVENDDOOR DRIVE      1.00", 28));
    EXPECT_EQ(36u, transferred);
    // Data out, and both bits (taken as data out).
    const auto block = Pattern(4096, 1);
    auto data = block;
    const auto cdb = WriteBufferCdb(0x20, 4096);
    ASSERT_EQ(1, ScsiExecute(drive, SRB_DIR_OUT, 4096, data.data(), 12, cdb.data(), 1, sense));
    EXPECT_EQ(block, data);
    const auto small = Pattern(32, 9);
    auto smallData = small;
    const auto cdb32 = WriteBufferCdb(0, 32);
    ASSERT_EQ(1, ScsiExecute(drive, SRB_DIR_IN | SRB_DIR_OUT, 32, smallData.data(), 12, cdb32.data(), 1, sense));
    // No data.
    ASSERT_EQ(1, ScsiExecute(drive, 0, 0, nullptr, 12, kTestUnitReady, 1, sense));

    const auto rec = Recorded(scenario);
    ASSERT_EQ(4u, rec.size());
    struct Expect {
        uint8_t opcode;
        sim::Dir dir;
        uint32_t length;
        uint32_t digest;
    } expect[] = {
        {0x12, sim::Dir::In, 40, 0},
        {0x3B, sim::Dir::Out, 4096, sim::Fnv1a(block.data(), block.size())},
        {0x3B, sim::Dir::Out, 32, sim::Fnv1a(small.data(), small.size())},
        // DataIn stays 0 without a direction bit, which is SCSI_IOCTL_DATA_OUT.
        {0x00, sim::Dir::Out, 0, sim::Fnv1a(nullptr, 0)},
    };
    for (size_t i = 0; i < rec.size(); ++i) {
        const sim::CommandRecord& c = rec[i].command;
        EXPECT_EQ("sgio", rec[i].door);
        EXPECT_EQ(expect[i].opcode, c.opcode) << i;
        EXPECT_EQ(expect[i].dir, c.dir) << i;
        EXPECT_EQ(expect[i].length, c.length) << i;
        EXPECT_EQ(65535u, c.timeoutSeconds) << i;
        EXPECT_EQ(12, c.cdbLength) << i;
        if (expect[i].dir == sim::Dir::Out) {
            EXPECT_EQ(expect[i].digest, c.dataDigest) << i;
        }
    }
    EXPECT_EQ(0, std::memcmp(rec[1].command.cdb.data(), cdb.data(), 12));
}

TEST_F(PassThroughDoor, DataArrivesWholeForEveryAlignment) {
    const auto cdb = WriteBufferCdb(0x20, 4096);
    for (uint32_t mask : {0u, 0x7FFu, 0x1000u, 0xFFFu}) {
        drive.alignMask = mask;
        const auto block = Pattern(4096, uint8_t(mask));
        auto data = block;
        SenseData sense;
        ASSERT_EQ(1, ScsiExecute(drive, SRB_DIR_OUT, 4096, data.data(), 12, cdb.data(), 1, sense)) << mask;
        const auto rec = Recorded(scenario);
        ASSERT_FALSE(rec.empty());
        EXPECT_EQ(sim::Fnv1a(block.data(), block.size()), rec.back().command.dataDigest) << "mask " << mask;
    }
}

TEST_F(PassThroughDoor, CheckConditionAndTransportFailure) {
    SenseData sense;
    // MODE SENSE fails once with 05/20/00: sense comes back, the buffer stays untouched.
    std::vector<uint8_t> reply(64, 0xCC);
    EXPECT_EQ(0, ScsiExecute(drive, SRB_DIR_IN, 64, reply.data(), 12, kModeSense, 1, sense));
    EXPECT_EQ(0x05, sense.bytes[2] & 0x0F);
    EXPECT_EQ(0x20, sense.bytes[12]);
    EXPECT_EQ(0x00, sense.bytes[13]);
    EXPECT_EQ(std::vector<uint8_t>(64, 0xCC), reply);
    // The fault was for one attempt: the next succeeds and fills the page.
    EXPECT_EQ(1, ScsiExecute(drive, SRB_DIR_IN, 64, reply.data(), 12, kModeSense, 1, sense));
    EXPECT_EQ(0x2A, reply[8] & 0x3F);
    for (int i = 0; i < 16; ++i) EXPECT_EQ(0, sense.bytes[i]) << "cleared after a good command";

    // WRITE BUFFER at 0x1020 ends with ILLEGAL REQUEST 24/00.
    auto data = Pattern(4096, 3);
    const auto cdbA = WriteBufferCdb(0x1020, 4096);
    EXPECT_EQ(0, ScsiExecute(drive, SRB_DIR_OUT, 4096, data.data(), 12, cdbA.data(), 1, sense));
    EXPECT_EQ(0x05, sense.bytes[2]);
    EXPECT_EQ(0x24, sense.bytes[12]);
    EXPECT_EQ(0x70, sense.bytes[0] & 0x7F) << "fixed-format sense";

    // At 0x2020 the SG_IO call itself fails: DeviceIoControl fails, sense stays clear.
    const auto cdbB = WriteBufferCdb(0x2020, 4096);
    EXPECT_EQ(0, ScsiExecute(drive, SRB_DIR_OUT, 4096, data.data(), 12, cdbB.data(), 1, sense));
    for (int i = 0; i < 16; ++i) EXPECT_EQ(0, sense.bytes[i]) << i;
    EXPECT_EQ(1, ScsiExecute(drive, SRB_DIR_OUT, 4096, data.data(), 12, cdbB.data(), 1, sense))
        << "the fault was for one attempt";
}

class AspiDoor : public ::testing::Test {
protected:
    void SetUp() override {
        scenario = LoadTestScenario();
        ClearRecord(scenario);
        SelectPlatform(state);
        ASSERT_EQ(0, state.UsePassThrough) << "run with Wine reporting Windows 98";
        ASSERT_EQ(1, BindAspi(state, nullptr));
    }
    void TearDown() override {
        DriveTable table{};
        ReleaseTransport(state, table);
    }
    sim::Scenario scenario;
    TransportState state;
};

TEST_F(AspiDoor, CommandsCompleteAtOnceAndLater) {
    DriveRecord now{}, later{};
    later.adapter = 1;
    later.target = 3;
    for (DriveRecord* d : {&now, &later}) {
        uint8_t reply[36] = {};
        SenseData sense;
        ASSERT_EQ(1, ScsiExecute(*d, SRB_DIR_IN, 36, reply, 12, kInquiry, 0, sense)) << int(d->adapter);
        EXPECT_EQ(0, std::memcmp(reply + 8, d == &now ? "DOORVEND" : "LATERVND", 8));
        const auto block = Pattern(4096, d->adapter);
        auto data = block;
        const auto cdb = WriteBufferCdb(0x20, 4096);
        ASSERT_EQ(1, ScsiExecute(*d, SRB_DIR_OUT, 4096, data.data(), 12, cdb.data(), 0, sense));
        EXPECT_EQ(block, data);
        const auto rec = Recorded(scenario);
        ASSERT_FALSE(rec.empty());
        EXPECT_EQ("aspi", rec.back().door);
        EXPECT_EQ(sim::Fnv1a(block.data(), block.size()), rec.back().command.dataDigest);
        EXPECT_EQ(d->adapter, rec.back().command.adapter);
        EXPECT_EQ(d->target, rec.back().command.target);
        EXPECT_EQ(sim::Dir::Out, rec.back().command.dir);
    }
}

TEST_F(AspiDoor, FailuresReturnZeroWithTheDrivesSenseOnly) {
    struct Case {
        uint8_t adapter, target;
        uint32_t offset;
        uint8_t key, asc, ascq;  // all 0: the call itself failed, and no sense came
    } cases[] = {{0, 0, 0x1020, 5, 0x24, 0}, {0, 0, 0x2020, 0, 0, 0}, {1, 3, 0x1020, 2, 4, 7}};
    for (const Case& c : cases) {
        DriveRecord d{};
        d.adapter = c.adapter;
        d.target = c.target;
        auto data = Pattern(4096, 5);
        const auto cdb = WriteBufferCdb(c.offset, 4096);
        SenseData sense;
        std::memset(&sense, 0xEE, sizeof sense);
        EXPECT_EQ(0, ScsiExecute(d, SRB_DIR_OUT, 4096, data.data(), 12, cdb.data(), 0, sense))
            << int(c.adapter) << " @" << c.offset;
        EXPECT_EQ(c.key ? 0x70 : 0, sense.bytes[0]) << "fixed-format sense, or none";
        EXPECT_EQ(c.key, sense.bytes[2]);
        EXPECT_EQ(c.asc, sense.bytes[12]);
        EXPECT_EQ(c.ascq, sense.bytes[13]);
        EXPECT_EQ(0, sense.bytes[14] | sense.bytes[15]) << "SRB_SenseLen was 14";
        EXPECT_EQ(1, ScsiExecute(d, SRB_DIR_OUT, 4096, data.data(), 12, cdb.data(), 0, sense))
            << "one failure only";
    }
    // A target with no drive.
    DriveRecord none{};
    none.adapter = 0;
    none.target = 1;
    uint8_t reply[36];
    SenseData sense;
    EXPECT_EQ(0, ScsiExecute(none, SRB_DIR_IN, 36, reply, 12, kInquiry, 0, sense));
}

}  // namespace
}  // namespace telvio::test
