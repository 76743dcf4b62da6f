// The save command goes to the drive only after every data block was taken and the
// checksum block succeeded or was accepted: checked over every place a fault can strike,
// every kind of fault, and both transports, on what the drive received.
#include <gtest/gtest.h>

#include <memory>

#include "engine/FlashEngine.h"
#include "sim/HostTransport.h"
#include "sim/SimDrive.h"
#include "tests/host/engine/EngineTestSupport.h"

namespace {

using namespace enginetest;

constexpr uint8_t kWriteBuffer = 0x3B;
constexpr uint32_t kBlocks = 4;
const char kSuccess[] = "Please Restart Your Computer.";

enum class Where { Block, ChecksumBlock, Save };

struct Kind {
    const char* name;
    bool transportFail;
    sim::SenseCode sense;
};

const Kind kKinds[] = {
    {"not ready", false, {0x02, 0x3A, 0x00}},    {"becoming ready", false, {0x06, 0x04, 0x01}},
    {"qualifier 07", false, {0x03, 0x11, 0x07}}, {"invalid field", false, {0x05, 0x24, 0x00}},
    {"medium error", false, {0x03, 0x11, 0x00}}, {"transport", true, {}},
};

bool AcceptableSense(const sim::SenseCode& s) {
    return s.key == 0x02 || s.asc == 0x04 || s.ascq == 0x07;
}

uint32_t Be24(const uint8_t* p) {
    return uint32_t{p[0]} << 16 | uint32_t{p[1]} << 8 | p[2];
}

class SafetyMatrixTest : public ::testing::Test {
  protected:
    void SetUp() override { sim::AttachHostDrive(&drive); }
    void TearDown() override { sim::AttachHostDrive(nullptr); }
    CountingMemory memory;
    RecordingSleeper sleeper;
    sim::SimDrive drive;
};

TEST_F(SafetyMatrixTest, SaveOnlyAfterEverythingWasTaken) {
    const auto bytes = PatternBytes(kBlocks * 4096, 11);
    TempFile file(std::string(bytes.begin(), bytes.end()), ".bin");
    int runs = 0;
    int saves = 0;

    for (uint8_t usePassThrough : {uint8_t{1}, uint8_t{0}}) {
        for (uint32_t place = 0; place < kBlocks + 2; ++place) {
            const Where where = place < kBlocks    ? Where::Block
                                : place == kBlocks ? Where::ChecksumBlock
                                                   : Where::Save;
            for (const Kind& kind : kKinds) {
                for (uint32_t count : {1u, 5u, 6u, 9u}) {
                    SCOPED_TRACE(std::string(usePassThrough ? "pass-through" : "ASPI") +
                                 ", place " + std::to_string(place) + ", " + kind.name + " x" +
                                 std::to_string(count));
                    drive = sim::SimDrive();
                    sim::Fault fault;
                    fault.opcode = kWriteBuffer;
                    fault.mode = where == Where::Save ? 7 : 6;
                    if (where != Where::Save) {
                        fault.bufferOffset = where == Where::Block ? 32 + place * 4096 : 0;
                    }
                    fault.count = count;
                    fault.kind = kind.transportFail ? sim::Fault::Kind::TransportFail
                                                    : sim::Fault::Kind::CheckCondition;
                    fault.sense = kind.sense;
                    drive.AddFault(fault);

                    telvio::FlashEngine engine(MakeJob(file.Path(), false, usePassThrough));
                    engine.Run();
                    ++runs;

                    // What should happen, worked out from the fault alone.
                    const bool accepted = !kind.transportFail && AcceptableSense(kind.sense);
                    // A data block that got no answer is not sent again.
                    const bool blocksTaken =
                        where != Where::Block || (count < 6 && !kind.transportFail);
                    const bool checksumOk = where != Where::ChecksumBlock || accepted;
                    const bool expectSave = blocksTaken && checksumOk;

                    // What the drive saw: each data block taken before any save, the
                    // checksum block taken or refused acceptably, and the save last.
                    const auto& log = Seen().log;
                    ASSERT_FALSE(log.empty());
                    std::vector<bool> taken(kBlocks, false);
                    bool checksumTaken = false;
                    int saveCount = 0;
                    const auto& record = drive.Record();
                    // A run that ends well reads the revision back after the save.
                    const size_t last = record.size() - (log.back() == kSuccess ? 1 : 0);
                    for (size_t i = 0; i < last; ++i) {
                        const auto& c = record[i];
                        ASSERT_EQ(c.opcode, kWriteBuffer);
                        const bool good = !c.transportFailed && c.status == 0;
                        if (c.cdb[1] == 7) {
                            ++saveCount;
                            EXPECT_EQ(i, last - 1) << "commands after the save";
                            for (uint32_t b = 0; b < kBlocks; ++b) {
                                EXPECT_TRUE(taken[b]) << "saved without block " << b;
                            }
                            EXPECT_TRUE(checksumTaken) << "saved without the checksum block";
                            continue;
                        }
                        const uint32_t offset = Be24(&c.cdb[3]);
                        if (offset == 0) {
                            checksumTaken = good || (c.status == 2 && AcceptableSense(c.sense));
                        } else if (good) {
                            taken[(offset - 32) / 4096] = true;
                        }
                    }
                    EXPECT_EQ(saveCount, expectSave ? 1 : 0);
                    saves += saveCount;
                    if (last < record.size()) {
                        EXPECT_EQ(record.back().opcode, 0x12);
                    }

                    if (!expectSave) {
                        EXPECT_EQ(log.back(), "Flashing is incorrect!!");
                        ASSERT_GE(log.size(), 3u);
                        // A checksum block with no answer at all may have set the drive
                        // programming, a data block's may have emptied its buffer: either
                        // line comes between the reason and the verdict.
                        const std::string& before = log[log.size() - 2];
                        const bool noted = before == telvio::kMayStillProgramLine ||
                                           before == telvio::kDownloadLostLine;
                        const size_t why = log.size() - (noted ? 3 : 2);
                        EXPECT_EQ(log[why].rfind("Execute command error!! ", 0), 0u)
                            << "the log does not say why: " << log[why];
                        EXPECT_FALSE(drive.Flashed());
                        EXPECT_TRUE(RecordingSleeper::waits.empty());
                    }
                    // The run only succeeds when the drive took the save.
                    const bool saveTaken =
                        expectSave && (where != Where::Save || accepted) &&
                        !(where == Where::ChecksumBlock);  // the model refuses a bad sum
                    EXPECT_EQ(log.back(), saveTaken ? kSuccess : "Flashing is incorrect!!");
                    RecordingSleeper::waits.clear();
                }
            }
        }
    }
    EXPECT_EQ(runs, 2 * (kBlocks + 2) * 6 * 4);
    // Both sides of the rule were exercised.
    EXPECT_GT(saves, 0);
    EXPECT_LT(saves, runs);
}

}  // namespace
