#include "sim/SimDrive.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

using sim::Dir;
using sim::Fault;
using sim::Result;
using sim::SimDrive;

std::vector<uint8_t> WriteBufferCdb(uint8_t mode, uint32_t offset, uint32_t length) {
    return {0x3B,
            mode,
            0,
            uint8_t(offset >> 16),
            uint8_t(offset >> 8),
            uint8_t(offset),
            uint8_t(length >> 16),
            uint8_t(length >> 8),
            uint8_t(length),
            0,
            0,
            0};
}

Result Send(SimDrive& d, const std::vector<uint8_t>& cdb, Dir dir, uint8_t* data, uint32_t length) {
    return d.Execute(cdb.data(), uint8_t(cdb.size()), dir, data, length);
}

Result WriteBlock(SimDrive& d, uint32_t offset, std::vector<uint8_t> bytes) {
    return Send(d, WriteBufferCdb(6, offset, uint32_t(bytes.size())), Dir::Out, bytes.data(),
                uint32_t(bytes.size()));
}

Result Save(SimDrive& d) {
    std::vector<uint8_t> scratch(4096, 0xAB);
    return Send(d, WriteBufferCdb(7, 0, 0), Dir::In, scratch.data(), 4096);
}

std::vector<uint8_t> ChecksumBlock(uint16_t sum) {
    std::vector<uint8_t> b(32, 0);
    b[30] = uint8_t(sum >> 8);
    b[31] = uint8_t(sum);
    return b;
}

void ExpectSense(const Result& r, uint8_t key, uint8_t asc, uint8_t ascq) {
    EXPECT_TRUE(r.transportOk);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.sense[0], 0x70);
    EXPECT_EQ(r.sense[2], key);
    EXPECT_EQ(r.sense[12], asc);
    EXPECT_EQ(r.sense[13], ascq);
}

sim::DriveConfig Sample() {
    sim::DriveConfig c;
    c.peripheral = 0x05;
    c.vendor = "ABCDEFGH";
    c.product = "SAMPLE";
    c.revision = "1.5";
    c.newRevision = "1.60";
    c.readCaps = 0x1F;
    c.writeCaps = 0x17;
    c.bufferSize = 0x2000;
    return c;
}

TEST(SimDriveInquiry, ReportsPaddedIdentification) {
    SimDrive d(Sample());
    std::vector<uint8_t> reply(36, 0xFF);
    Result r = Send(d, {0x12, 0, 0, 0, 36, 0}, Dir::In, reply.data(), 36);
    ASSERT_EQ(r.status, 0);
    EXPECT_EQ(r.transferred, 36u);
    EXPECT_EQ(reply[0], 0x05);
    EXPECT_EQ(reply[4], 31);  // additional length
    EXPECT_EQ(std::string(reinterpret_cast<char*>(&reply[8]), 28), "ABCDEFGHSAMPLE          1.5 ");
}

TEST(SimDriveInquiry, CutsLongTextsAtTheirFields) {
    sim::DriveConfig c = Sample();
    c.vendor = "VENDORNAMEX";
    c.product = "A PRODUCT NAME THAT IS LONG";
    c.revision = "12345";
    c.peripheral = 0x25;
    SimDrive d(c);
    std::vector<uint8_t> reply(64, 0xFF);
    Send(d, {0x12, 0, 0, 0, 64, 0}, Dir::In, reply.data(), 64);
    EXPECT_EQ(reply[0], 0x25);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(&reply[8]), 28), "VENDORNAA PRODUCT NAME T1234");
    EXPECT_EQ(reply[36], 0xFF);  // nothing beyond the standard data
}

struct LengthCase {
    uint16_t allocation;
    uint32_t transport;
    uint32_t expected;
};

TEST(SimDriveInquiry, HonoursAllocationAndTransferLength) {
    const LengthCase cases[] = {
        {36, 36, 36}, {127, 2048, 36}, {5, 36, 5}, {36, 8, 8}, {0, 36, 0}, {0x100, 300, 36},
    };
    for (const LengthCase& c : cases) {
        SimDrive d(Sample());
        std::vector<uint8_t> reply(2048, 0xEE);
        Result r = Send(d, {0x12, 0, 0, uint8_t(c.allocation >> 8), uint8_t(c.allocation), 0},
                        Dir::In, reply.data(), c.transport);
        EXPECT_EQ(r.transferred, c.expected) << "allocation " << c.allocation;
        EXPECT_EQ(reply[c.expected], 0xEE) << "allocation " << c.allocation;
        EXPECT_EQ(d.Record().at(0).length, c.transport);
    }
}

TEST(SimDriveInquiry, RefusesVitalProductDataPages) {
    SimDrive d(Sample());
    std::vector<uint8_t> reply(36);
    ExpectSense(Send(d, {0x12, 1, 0x80, 0, 36, 0}, Dir::In, reply.data(), 36), 5, 0x24, 0);
}

TEST(SimDriveModeSense, ReturnsCapabilitiesPageAfterHeader) {
    SimDrive d(Sample());
    std::vector<uint8_t> reply(64, 0);
    Result r = Send(d, {0x5A, 0x08, 0x2A, 0, 0, 0, 0, 0, 0x28, 0, 0, 0}, Dir::In, reply.data(), 64);
    ASSERT_EQ(r.status, 0);
    EXPECT_EQ(r.transferred, SimDrive::kModeSenseLength);
    EXPECT_EQ(reply[1], SimDrive::kModeSenseLength - 2);
    EXPECT_EQ(reply[6], 0);  // no block descriptors
    EXPECT_EQ(reply[7], 0);
    EXPECT_EQ(reply[8], 0x2A);
    EXPECT_EQ(reply[9], SimDrive::kModeSenseLength - 10);
    EXPECT_EQ(reply[10], 0x1F);
    EXPECT_EQ(reply[11], 0x17);
}

TEST(SimDriveModeSense, HonoursAllocationLength) {
    SimDrive d(Sample());
    std::vector<uint8_t> reply(64, 0xEE);
    Result r = Send(d, {0x5A, 0x08, 0x2A, 0, 0, 0, 0, 0, 11, 0, 0, 0}, Dir::In, reply.data(), 64);
    EXPECT_EQ(r.transferred, 11u);
    EXPECT_EQ(reply[10], 0x1F);
    EXPECT_EQ(reply[11], 0xEE);
}

TEST(SimDriveModeSense, RefusesOtherPages) {
    SimDrive d(Sample());
    std::vector<uint8_t> reply(64);
    ExpectSense(Send(d, {0x5A, 0x08, 0x01, 0, 0, 0, 0, 0, 0x28, 0}, Dir::In, reply.data(), 64), 5,
                0x24, 0);
}

TEST(SimDriveCommands, TestUnitReadyIsGoodAndUnknownOpcodesAreRefused) {
    SimDrive d(Sample());
    EXPECT_EQ(Send(d, {0, 0, 0, 0, 0, 0}, Dir::None, nullptr, 0).status, 0);
    ExpectSense(Send(d, {0x28, 0, 0, 0, 0, 0, 0, 0, 1, 0}, Dir::In, nullptr, 0), 5, 0x20, 0);
    ExpectSense(Send(d, {0x12, 0, 0}, Dir::In, nullptr, 0), 5, 0x20, 0);  // cut-off CDB
}

TEST(SimDriveWriteBuffer, Mode6StoresDataAtTheOffset) {
    SimDrive d(Sample());
    ASSERT_EQ(WriteBlock(d, 0x120, {1, 2, 3, 4}).status, 0);
    EXPECT_EQ(d.DownloadBuffer()[0x120], 1);
    EXPECT_EQ(d.DownloadBuffer()[0x123], 4);
    EXPECT_EQ(d.DownloadEnd(), 0x124u);
    ASSERT_EQ(WriteBlock(d, 0x20, {9}).status, 0);
    EXPECT_EQ(d.DownloadEnd(), 0x124u);  // the highest end stays
}

TEST(SimDriveWriteBuffer, Mode6RefusesWhatADriveWouldRefuse) {
    struct Case {
        const char* what;
        std::vector<uint8_t> cdb;
        Dir dir;
        uint32_t length;
        bool accepted;
    };
    const Case cases[] = {
        {"last byte of the buffer", WriteBufferCdb(6, 0x1FFC, 4), Dir::Out, 4, true},
        {"one byte beyond the buffer", WriteBufferCdb(6, 0x1FFD, 4), Dir::Out, 4, false},
        {"offset far beyond", WriteBufferCdb(6, 0xFFFFFF, 4), Dir::Out, 4, false},
        {"list longer than transfer", WriteBufferCdb(6, 0, 8), Dir::Out, 4, false},
        {"list shorter than transfer", WriteBufferCdb(6, 0, 2), Dir::Out, 4, false},
        {"data in", WriteBufferCdb(6, 0, 4), Dir::In, 4, false},
        {"unknown mode", WriteBufferCdb(2, 0, 4), Dir::Out, 4, false},
        {"other buffer id", {0x3B, 6, 1, 0, 0, 0, 0, 0, 4, 0}, Dir::Out, 4, false},
    };
    for (const Case& c : cases) {
        SimDrive d(Sample());
        std::vector<uint8_t> data(8, 0x5A);
        Result r = Send(d, c.cdb, c.dir, data.data(), c.length);
        if (c.accepted) {
            EXPECT_EQ(r.status, 0) << c.what;
        } else {
            ExpectSense(r, 5, 0x24, 0);
            EXPECT_EQ(d.DownloadEnd(), 0u) << c.what;
        }
    }
}

TEST(SimDriveWriteBuffer, Mode7TakesImageWhoseSumMatches) {
    SimDrive d(Sample());
    std::vector<uint8_t> image(0x1000);
    uint16_t sum = 0;
    for (size_t i = 0; i < image.size(); ++i) {
        image[i] = uint8_t(i * 7 + 3);
        sum = uint16_t(sum + image[i]);
    }
    ASSERT_GT(0x1000 * 0x80, 0xFFFF);  // the sum wraps
    ASSERT_EQ(WriteBlock(d, 32, image).status, 0);
    ASSERT_EQ(WriteBlock(d, 0, ChecksumBlock(sum)).status, 0);
    std::vector<uint8_t> scratch(4096, 0xAB);
    Result r = Send(d, WriteBufferCdb(7, 0, 0), Dir::In, scratch.data(), 4096);
    ASSERT_EQ(r.status, 0);
    EXPECT_EQ(r.transferred, 0u);
    EXPECT_EQ(scratch[0], 0xAB);
    EXPECT_TRUE(d.Flashed());
    EXPECT_EQ(d.Revision(), "1.60");
    EXPECT_EQ(d.Firmware(), image);

    std::vector<uint8_t> reply(36);
    Send(d, {0x12, 0, 0, 0, 36, 0}, Dir::In, reply.data(), 36);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(&reply[32]), 4), "1.60");
}

// Whole runs show the drive taking an image's revision (DownloadTest); here, what it keeps
// for a restart, and that only the padded identification announces a revision.
TEST(SimDriveWriteBuffer, Mode7TakesTheRevisionTheImageCarries) {
    const struct {
        std::string image;
        const char* stored;
    } cases[] = {{"xxABCDEFGHSAMPLE          1.7Ayy", "1.7A"}, {"ABCDEFGHSAMPLE1.7A", "1.60"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.image);
        sim::DriveConfig config = Sample();
        config.newRevisionAtRestart = true;
        SimDrive d(config);
        const std::vector<uint8_t> bytes(c.image.begin(), c.image.end());
        uint16_t sum = 0;
        for (uint8_t b : bytes) sum = uint16_t(sum + b);
        ASSERT_EQ(WriteBlock(d, 32, bytes).status, 0);
        ASSERT_EQ(WriteBlock(d, 0, ChecksumBlock(sum)).status, 0);
        ASSERT_EQ(Save(d).status, 0);
        EXPECT_EQ(d.Revision(), "1.5");
        EXPECT_EQ(d.StoredRevision(), c.stored);
    }
}

TEST(SimDriveWriteBuffer, Mode7RefusesAWrongSumAndKeepsTheRevision) {
    const uint16_t sums[] = {0x0000, 0x0B00, 0x000C};  // 0x0B00: the true sum byte-swapped
    for (uint16_t wrong : sums) {
        SimDrive d(Sample());
        ASSERT_EQ(WriteBlock(d, 32, {0x0A, 0x00, 0x00, 0x01}).status, 0);  // true sum 0x000B
        ASSERT_EQ(WriteBlock(d, 0, ChecksumBlock(wrong)).status, 0);
        ExpectSense(Save(d), 5, 0x24, 0);
        EXPECT_FALSE(d.Flashed());
        EXPECT_EQ(d.Revision(), "1.5");
        EXPECT_TRUE(d.Firmware().empty());
    }
}

TEST(SimDriveWriteBuffer, Mode7WithoutAnImageIsRefused) {
    SimDrive d(Sample());
    ASSERT_EQ(WriteBlock(d, 0, ChecksumBlock(0)).status, 0);
    ExpectSense(Save(d), 5, 0x24, 0);
    EXPECT_FALSE(d.Flashed());
}

TEST(SimDriveWriteBuffer, EachDownloadIsSummedOnItsOwn) {
    SimDrive d(Sample());
    ASSERT_EQ(WriteBlock(d, 32, std::vector<uint8_t>(64, 1)).status, 0);
    ASSERT_EQ(WriteBlock(d, 0, ChecksumBlock(1)).status, 0);  // wrong: 64
    ExpectSense(Save(d), 5, 0x24, 0);
    EXPECT_EQ(d.DownloadEnd(), 0u);
    // A second, shorter download must not be summed with the first one's tail.
    ASSERT_EQ(WriteBlock(d, 32, {5, 6}).status, 0);
    ASSERT_EQ(WriteBlock(d, 0, ChecksumBlock(11)).status, 0);
    EXPECT_EQ(Save(d).status, 0);
    EXPECT_EQ(d.Firmware(), (std::vector<uint8_t>{5, 6}));
}

TEST(SimDriveFaults, FailTheMatchingCommandsCountTimes) {
    SimDrive d(Sample());
    Fault f;
    f.opcode = 0x3B;
    f.mode = 6;
    f.bufferOffset = 0x1020;
    f.count = 2;
    f.sense = {0x04, 0x44, 0x01};
    d.AddFault(f);
    // Other offsets and other commands pass.
    EXPECT_EQ(WriteBlock(d, 0x20, {1}).status, 0);
    std::vector<uint8_t> reply(36);
    EXPECT_EQ(Send(d, {0x12, 0, 0, 0, 36, 0}, Dir::In, reply.data(), 36).status, 0);
    ExpectSense(WriteBlock(d, 0x1020, {7}), 4, 0x44, 1);
    EXPECT_EQ(d.DownloadBuffer()[0x1020], 0);  // a failed block writes nothing
    ExpectSense(WriteBlock(d, 0x1020, {7}), 4, 0x44, 1);
    EXPECT_EQ(WriteBlock(d, 0x1020, {7}).status, 0);
    EXPECT_EQ(d.DownloadBuffer()[0x1020], 7);
}

TEST(SimDriveFaults, ModeNarrowsToWriteBufferOnly) {
    SimDrive d(Sample());
    Fault f;
    f.mode = 7;
    f.sense = {0x02, 0x04, 0x07};
    d.AddFault(f);
    std::vector<uint8_t> reply(36);
    EXPECT_EQ(Send(d, {0x12, 0, 0, 0, 36, 0}, Dir::In, reply.data(), 36).status, 0);
    EXPECT_EQ(WriteBlock(d, 0x20, {1}).status, 0);
    ExpectSense(Save(d), 2, 4, 7);
    EXPECT_FALSE(d.Flashed());
}

TEST(SimDriveFaults, TransportFailureIsRecordedAndClears) {
    SimDrive d(Sample());
    Fault f;
    f.opcode = 0x12;
    f.kind = Fault::Kind::TransportFail;
    d.AddFault(f);
    std::vector<uint8_t> reply(36, 0xEE);
    Result r = Send(d, {0x12, 0, 0, 0, 36, 0}, Dir::In, reply.data(), 36);
    EXPECT_FALSE(r.transportOk);
    EXPECT_EQ(reply[0], 0xEE);
    ASSERT_EQ(d.Record().size(), 1u);
    EXPECT_TRUE(d.Record()[0].transportFailed);
    EXPECT_TRUE(Send(d, {0x12, 0, 0, 0, 36, 0}, Dir::In, reply.data(), 36).transportOk);

    d.AddFault(f);
    d.ClearFaults();
    EXPECT_TRUE(Send(d, {0x12, 0, 0, 0, 36, 0}, Dir::In, reply.data(), 36).transportOk);
}

TEST(SimDriveRecord, KeepsEveryCommandInOrder) {
    SimDrive d(Sample());
    std::vector<uint8_t> block = {1, 2, 3};
    std::vector<uint8_t> cdb = WriteBufferCdb(6, 0x20, 3);
    d.Execute(cdb.data(), 12, Dir::Out, block.data(), 3, 2, 5, 1, 65535);
    std::vector<uint8_t> reply(36);
    const uint8_t inquiry[6] = {0x12, 0, 0, 0, 36, 0};
    d.Execute(inquiry, 6, Dir::In, reply.data(), 36, 1, 0, 0, 2);
    d.Execute(inquiry, 6, Dir::In, reply.data(), 36);

    ASSERT_EQ(d.Record().size(), 3u);
    const sim::CommandRecord& w = d.Record()[0];
    EXPECT_EQ(w.opcode, 0x3B);
    EXPECT_EQ(w.adapter, 2);
    EXPECT_EQ(w.target, 5);
    EXPECT_EQ(w.lun, 1);
    EXPECT_EQ(w.dir, Dir::Out);
    EXPECT_EQ(w.length, 3u);
    EXPECT_EQ(w.timeoutSeconds, 65535u);
    EXPECT_EQ(w.cdbLength, 12);
    EXPECT_EQ(0, std::memcmp(w.cdb.data(), cdb.data(), 12));
    EXPECT_EQ(w.dataDigest, sim::Fnv1a(block.data(), 3));
    const sim::CommandRecord& q = d.Record()[1];
    EXPECT_EQ(q.opcode, 0x12);
    EXPECT_EQ(q.timeoutSeconds, 2u);
    EXPECT_EQ(q.dataDigest, sim::Fnv1a(reply.data(), 36));
    EXPECT_EQ(d.Record()[2].adapter, 0);
    d.ClearRecord();
    EXPECT_TRUE(d.Record().empty());
}

TEST(SimDriveRecord, Fnv1aMatchesKnownValues) {
    EXPECT_EQ(sim::Fnv1a(nullptr, 0), 0x811C9DC5u);
    const uint8_t a[] = {'a'};
    EXPECT_EQ(sim::Fnv1a(a, 1), 0xE40C292Cu);
    const uint8_t foobar[] = {'f', 'o', 'o', 'b', 'a', 'r'};
    EXPECT_EQ(sim::Fnv1a(foobar, 6), 0xBF9CF968u);
}

TEST(SimDriveState, RestoredRevisionIsReported) {
    SimDrive d(Sample());
    d.RestoreRevision("1.60", true);
    EXPECT_TRUE(d.Flashed());
    std::vector<uint8_t> reply(36);
    Send(d, {0x12, 0, 0, 0, 36, 0}, Dir::In, reply.data(), 36);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(&reply[32]), 4), "1.60");
}

}  // namespace
