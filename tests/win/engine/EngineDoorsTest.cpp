// The engine over the real transports under Wine: Wine's pass-through in front of the
// simulator's SG_IO library when Wine reports an NT version, the simulator's
// WNASPI32.dll when it reports Windows 98. The scenario's record shows what reached the
// drive.
#include <windows.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "drive/Transport.h"
#include "engine/FlashEngine.h"
#include "sim/RecordFile.h"
#include "sim/Scenario.h"
#include "sim/SimFile.h"
#include "tests/host/engine/EngineTestSupport.h"

namespace {

using namespace enginetest;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

const char kSuccess[] = "Please Restart Your Computer.";
const char kNowLine[] = "Firmware revision now: 2.00";

uint32_t Be24(const uint8_t* p) {
    return uint32_t{p[0]} << 16 | uint32_t{p[1]} << 8 | p[2];
}

class Door : public ::testing::Test {
  protected:
    void SetUp() override {
        const std::string path = sim::GetEnv(sim::kScenarioVariable);
        ASSERT_FALSE(path.empty()) << "no scenario in the environment";
        sim::ScenarioError error;
        ASSERT_TRUE(sim::LoadScenario(path, scenario, error)) << error.Describe();
        DeleteFileA(("Z:" + scenario.recordPath).c_str());

        SelectPlatform(state);
        job = MakeJob("", false, state.UsePassThrough);
        job.drive.adapter = 0;
        job.drive.target = 0;
        if (state.UsePassThrough) {
            job.drive.handle =
                CreateFileA("\\\\.\\d:", GENERIC_READ | GENERIC_WRITE,
                            FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
            ASSERT_NE(INVALID_HANDLE_VALUE, job.drive.handle) << GetLastError();
            job.drive.alignMask = 0x7FF;
        } else {
            ASSERT_EQ(1, BindAspi(state, nullptr));
            job.drive.handle = nullptr;
        }
    }
    void TearDown() override {
        if (state.UsePassThrough && job.drive.handle != INVALID_HANDLE_VALUE) {
            CloseHandle(job.drive.handle);
        }
        telvio::DriveTable table{};
        telvio::ReleaseTransport(state, table);
    }

    // Runs the engine on `content` through the transport Wine's version chose.
    void Run(const std::string& content, bool hex) {
        file = std::make_unique<TempFile>(content, hex ? ".hex" : ".bin");
        telvio::UpdateJob run = job;
        std::snprintf(run.imagePath, sizeof run.imagePath, "%s", file->Path().c_str());
        run.isHexFile = hex ? 1 : 0;
        telvio::FlashEngine engine(run);
        Seen() = Recorder{};
        engine.Run();
    }

    std::vector<sim::RecordEntry> Recorded() const {
        std::vector<sim::RecordEntry> entries;
        sim::ReadRecordFile(scenario.recordPath, entries);
        return entries;
    }

    const char* DoorName() const { return state.UsePassThrough ? "sgio" : "aspi"; }

    sim::Scenario scenario;
    telvio::TransportState state;
    telvio::UpdateJob job{};
    std::unique_ptr<TempFile> file;
    RecordingSleeper sleeper;  // the engine's waits, recorded rather than slept
};

class EngineDoors : public Door {
  protected:
    void SetUp() override {
        Door::SetUp();
        // On ASPI the drive whose commands end later, so the engine waits on the event.
        if (!state.UsePassThrough) {
            job.drive.adapter = 1;
            job.drive.target = 3;
        }
    }
};

TEST_F(EngineDoors, RawImageReachesTheDriveWhole) {
    const auto bytes = PatternBytes(3 * 4096 + 100, 21);
    Run(std::string(bytes.begin(), bytes.end()), false);
    EXPECT_EQ(Seen().log.back(), kSuccess);
    EXPECT_EQ(RecordingSleeper::waits, (std::vector<uint32_t>{1000}));

    std::vector<uint8_t> padded(4 * 4096, 0xFF);
    std::copy(bytes.begin(), bytes.end(), padded.begin());
    const auto rec = Recorded();
    ASSERT_EQ(rec.size(), 7u);
    for (size_t i = 0; i < 6; ++i) {
        const sim::CommandRecord& c = rec[i].command;
        EXPECT_EQ(rec[i].door, DoorName()) << i;
        EXPECT_EQ(c.opcode, 0x3B) << i;
        EXPECT_EQ(c.cdbLength, 12) << i;
        EXPECT_EQ(c.adapter, job.drive.adapter) << i;
        EXPECT_EQ(c.target, job.drive.target) << i;
        EXPECT_EQ(c.status, 0) << i;
        if (state.UsePassThrough) {
            EXPECT_EQ(c.timeoutSeconds, i < 4 ? 60u : 65535u) << i;
        }
    }
    for (uint32_t b = 0; b < 4; ++b) {
        const sim::CommandRecord& c = rec[b].command;
        EXPECT_EQ(Be24(&c.cdb[3]), 32 + b * 4096);
        EXPECT_EQ(c.dir, sim::Dir::Out);
        EXPECT_EQ(c.length, 4096u);
        EXPECT_EQ(c.dataDigest, sim::Fnv1a(padded.data() + b * 4096, 4096)) << "block " << b;
    }
    std::vector<uint8_t> checksum(32, 0);
    const uint16_t sum = Sum16(padded);
    checksum[30] = uint8_t(sum >> 8);
    checksum[31] = uint8_t(sum);
    EXPECT_EQ(rec[4].command.length, 32u);
    EXPECT_EQ(rec[4].command.dataDigest, sim::Fnv1a(checksum.data(), 32));
    EXPECT_EQ(rec[5].command.cdb[1], 7);
    EXPECT_EQ(rec[5].command.dir, sim::Dir::In);
    EXPECT_EQ(rec[5].command.length, 4096u);

    // Then the revision, read back through the same door, waiting past a busy drive.
    const sim::CommandRecord& inquiry = rec[6].command;
    EXPECT_EQ(rec[6].door, DoorName());
    EXPECT_EQ(inquiry.opcode, 0x12);
    EXPECT_EQ(inquiry.cdbLength, 6);
    EXPECT_EQ(inquiry.dir, sim::Dir::In);
    EXPECT_EQ(inquiry.length, 36u);
    EXPECT_EQ(inquiry.status, 0);
    if (state.UsePassThrough) {
        EXPECT_EQ(inquiry.timeoutSeconds, telvio::kReadBackTimeoutSeconds);
    }
    ASSERT_EQ(Seen().log.size(), 4u);
    EXPECT_EQ(Seen().log[2], kNowLine);
}

TEST_F(EngineDoors, HexImageGoesOutAsAWholeBank) {
    std::vector<uint8_t> image = PatternBytes(0x1234, 22);
    Run(HexOfImage(image), true);
    EXPECT_EQ(Seen().log.back(), kSuccess);
    EXPECT_EQ(RecordingSleeper::waits, (std::vector<uint32_t>{4000, 1000}));
    std::vector<uint8_t> bank(0x10000, 0xFF);
    std::copy(image.begin(), image.end(), bank.begin());
    const auto rec = Recorded();
    ASSERT_EQ(rec.size(), 19u);
    for (uint32_t b = 0; b < 16; ++b) {
        EXPECT_EQ(rec[b].command.dataDigest, sim::Fnv1a(bank.data() + b * 4096, 4096)) << b;
    }
    EXPECT_EQ(rec[17].command.cdb[1], 7);
    EXPECT_EQ(rec[17].command.status, 0);
    EXPECT_EQ(rec[18].command.opcode, 0x12);
}

// The sense bytes travel back through both doors, so the checksum block's "becoming
// ready" is accepted on either, and the read-back tells a unit attention (asked again)
// from no answer (asked no more, and said so on the pass-through).
TEST_F(Door, RetriesAndTheChecksumRule) {
    Run(ZeroSumHex(), true);
    std::vector<std::string> log = {"Check Sum : 0", "Please wait a minute.....", "dAddr is 8192\n",
                                    "dAddr is 8192\n"};
    if (state.UsePassThrough) log.push_back(telvio::kNoAnswerLine);
    log.push_back(telvio::kMayStillProgramLine);
    log.push_back(kSuccess);
    EXPECT_EQ(Seen().log, log);

    const auto rec = Recorded();
    int saves = 0;
    for (const auto& e : rec) saves += e.command.cdb[1] == 7;
    EXPECT_EQ(saves, 1);
    // 16 blocks, two of them sent again, the checksum block, the save and two read-backs.
    ASSERT_EQ(rec.size(), 16u + 2 + 1 + 1 + 2);
    EXPECT_EQ(Be24(&rec[2].command.cdb[3]), 0x2020u);
    EXPECT_EQ(Be24(&rec[3].command.cdb[3]), 0x2020u);
    EXPECT_EQ(Be24(&rec[4].command.cdb[3]), 0x2020u);
    EXPECT_EQ(rec[4].command.status, 0);
    EXPECT_EQ(rec[20].command.status, 2);
    EXPECT_TRUE(rec[21].command.transportFailed);
}

// On ASPI the request block tells an adapter that found no drive (a selection time-out)
// and a request still pending when the wait ends from the drive's own refusal (retried in
// Door.RetriesAndTheChecksumRule): either may have emptied the drive's buffer.
using LostBlock = Door;

TEST_F(LostBlock, NoAnswerToADataBlockEndsTheRunAtOnce) {
    job.dataBlockTimeoutSeconds = 1;
    for (uint8_t target : {0, 1}) {
        job.drive.target = target;
        Run(ZeroSumHex(), true);
        EXPECT_THAT(Seen().log, ElementsAre("Check Sum : 0", "Please wait a minute.....",
                                            "dAddr is 0\n", "Execute command error!!  0/ 0/ 0",
                                            telvio::kDownloadLostLine, "Flashing is incorrect!!"));
    }
    EXPECT_EQ(Recorded().size(), 2u) << "one data block each, nothing more";
}

}  // namespace
