#include "sim/HostTransport.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "drive/Scsi.h"

namespace {

using sim::Dir;

const uint8_t kInquiry[12] = {0x12, 0, 0, 0, 36, 0, 0, 0, 0, 0, 0, 0};
const uint8_t kSave[12] = {0x3B, 7, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};

class HostTransportTest : public ::testing::Test {
  protected:
    void SetUp() override {
        record_.adapter = 3;
        record_.target = 1;
        sim::AttachHostDrive(&drive_);
        std::memset(sense_.bytes, 0xEE, sizeof sense_.bytes);
    }
    void TearDown() override { sim::AttachHostDrive(nullptr); }

    int Run(uint8_t flags, uint32_t length, void* data, const uint8_t* cdb, uint8_t passThrough,
            uint8_t cdbLength = 12) {
        return telvio::ScsiExecute(record_, flags, length, data, cdbLength, cdb, passThrough,
                                   sense_);
    }
    void FailNext(uint8_t opcode, sim::Fault::Kind kind, sim::SenseCode sense = {}) {
        sim::Fault f;
        f.opcode = opcode;
        f.kind = kind;
        f.sense = sense;
        drive_.AddFault(f);
    }

    sim::SimDrive drive_;
    telvio::DriveRecord record_{};
    telvio::SenseData sense_;
};

TEST_F(HostTransportTest, GoodDataInReachesTheCallerOnBothTransports) {
    for (uint8_t passThrough : {0, 1}) {
        std::vector<uint8_t> reply(36, 0);
        EXPECT_EQ(Run(0x08, 36, reply.data(), kInquiry, passThrough), 1);
        EXPECT_EQ(reply[0], 0x05);
        EXPECT_EQ(std::string(reinterpret_cast<char*>(&reply[8]), 8), "TELVIOSM");
        for (int i = 0; i < 16; ++i) EXPECT_EQ(sense_.bytes[i], 0) << i;
    }
    ASSERT_EQ(drive_.Record().size(), 2u);
    for (const sim::CommandRecord& r : drive_.Record()) {
        EXPECT_EQ(r.adapter, 3);
        EXPECT_EQ(r.target, 1);
        EXPECT_EQ(r.lun, 0);
        EXPECT_EQ(r.dir, Dir::In);
    }
    EXPECT_EQ(drive_.Record()[0].timeoutSeconds, 0u);
    EXPECT_EQ(drive_.Record()[1].timeoutSeconds, 0xFFFFu);
}

TEST_F(HostTransportTest, PassThroughCheckConditionCopiesSenseAndLeavesDataAlone) {
    FailNext(0x12, sim::Fault::Kind::CheckCondition, {0x05, 0x24, 0x00});
    std::vector<uint8_t> reply(36, 0x77);
    EXPECT_EQ(Run(0x08, 36, reply.data(), kInquiry, 1), 0);
    EXPECT_EQ(sense_.bytes[0], 0x70);
    EXPECT_EQ(sense_.bytes[2], 0x05);
    EXPECT_EQ(sense_.bytes[12], 0x24);
    EXPECT_EQ(sense_.bytes[13], 0x00);
    for (int i = 18; i < 32; ++i) EXPECT_EQ(sense_.bytes[i], 0) << i;
    EXPECT_EQ(reply, std::vector<uint8_t>(36, 0x77));
}

TEST_F(HostTransportTest, AspiCheckConditionGivesTheLibrarysFourteenSenseBytes) {
    FailNext(0x3B, sim::Fault::Kind::CheckCondition, {0x02, 0x04, 0x07});
    std::vector<uint8_t> scratch(4096);
    EXPECT_EQ(Run(0x08, 4096, scratch.data(), kSave, 0), 0);
    EXPECT_EQ(sense_.bytes[0], 0x70);
    EXPECT_EQ(sense_.bytes[2], 0x02);
    EXPECT_EQ(sense_.bytes[12], 0x04);
    EXPECT_EQ(sense_.bytes[13], 0x07);
    for (int i = 14; i < 32; ++i) EXPECT_EQ(sense_.bytes[i], 0) << i;
    ASSERT_EQ(drive_.Record().size(), 1u);
    EXPECT_EQ(drive_.Record()[0].status, 2);
}

TEST_F(HostTransportTest, TransportFailureReturnsZeroWithSenseCleared) {
    for (uint8_t passThrough : {0, 1}) {
        FailNext(0x12, sim::Fault::Kind::TransportFail);
        std::memset(sense_.bytes, 0xEE, sizeof sense_.bytes);
        std::vector<uint8_t> reply(36, 0x77);
        EXPECT_EQ(Run(0x08, 36, reply.data(), kInquiry, passThrough), 0);
        for (int i = 0; i < 16; ++i) EXPECT_EQ(sense_.bytes[i], 0) << i;
        EXPECT_EQ(reply[0], 0x77);
    }
}

TEST_F(HostTransportTest, DataOutLeavesTheCallerBufferAndReachesTheDrive) {
    std::vector<uint8_t> block(4096);
    for (size_t i = 0; i < block.size(); ++i) block[i] = uint8_t(i ^ 0x5C);
    const std::vector<uint8_t> copy = block;
    const uint8_t cdb[12] = {0x3B, 6, 0, 0, 0x10, 0x20, 0, 0x10, 0, 0, 0, 0};
    EXPECT_EQ(Run(0x10, 4096, block.data(), cdb, 1), 1);
    EXPECT_EQ(block, copy);
    EXPECT_EQ(0, std::memcmp(drive_.DownloadBuffer().data() + 0x1020, copy.data(), 4096));
    EXPECT_EQ(drive_.Record()[0].dataDigest, sim::Fnv1a(copy.data(), 4096));
}

TEST_F(HostTransportTest, BothDirectionBitsMeanOutOnPassThroughAndNoDataOnAspi) {
    std::vector<uint8_t> block(4, 0x11);
    const uint8_t cdb[12] = {0x3B, 6, 0, 0, 0, 0x20, 0, 0, 4, 0, 0, 0};
    EXPECT_EQ(Run(0x18, 4, block.data(), cdb, 1), 1);
    EXPECT_EQ(drive_.Record().back().dir, Dir::Out);
    // ASPI moves nothing for both bits, so the drive sees a length that does not agree.
    EXPECT_EQ(Run(0x18, 4, block.data(), cdb, 0), 0);
    EXPECT_EQ(drive_.Record().back().dir, Dir::None);
}

TEST_F(HostTransportTest, ZeroLengthDataInIsSentAsSuch) {
    EXPECT_EQ(Run(0x08, 0, nullptr, kInquiry, 1), 1);
    EXPECT_EQ(drive_.Record()[0].dir, Dir::In);
    EXPECT_EQ(drive_.Record()[0].length, 0u);
}

TEST_F(HostTransportTest, RefusesWithoutSendingWhenItCannot) {
    uint8_t longCdb[17] = {0x12, 0, 0, 0, 36};
    std::vector<uint8_t> reply(36);
    EXPECT_EQ(Run(0x08, 36, reply.data(), longCdb, 1, 17), 0);
    EXPECT_EQ(Run(0x08, 36, nullptr, kInquiry, 1), 0);
    EXPECT_TRUE(drive_.Record().empty());
    for (int i = 0; i < 16; ++i) EXPECT_EQ(sense_.bytes[i], 0) << i;
    sim::AttachHostDrive(nullptr);
    EXPECT_EQ(Run(0x08, 36, reply.data(), kInquiry, 1), 0);
}

TEST_F(HostTransportTest, SixteenByteCdbIsAccepted) {
    uint8_t cdb[16] = {0x12, 0, 0, 0, 36};
    std::vector<uint8_t> reply(36);
    EXPECT_EQ(Run(0x08, 36, reply.data(), cdb, 1, 16), 1);
    EXPECT_EQ(drive_.Record()[0].cdbLength, 16);
}

}  // namespace
