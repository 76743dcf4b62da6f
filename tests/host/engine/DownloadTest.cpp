// Whole runs against the simulated drive, as the window and the drive see them.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>

#include "engine/FlashEngine.h"
#include "sim/HostTransport.h"
#include "sim/SimDrive.h"
#include "tests/host/engine/EngineTestSupport.h"

namespace {

using namespace enginetest;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;

constexpr uint8_t kWriteBuffer = 0x3B;
const char kSuccess[] = "Please Restart Your Computer.";
const char kFailure[] = "Flashing is incorrect!!";
const char kNowLine[] = "Firmware revision now: 2.00";
const char kUnchangedLine[] = "Firmware revision unchanged: 1.00";

uint32_t Be24(const uint8_t* p) {
    return uint32_t{p[0]} << 16 | uint32_t{p[1]} << 8 | p[2];
}

std::string CheckSumLine(uint16_t sum) {
    char line[32];
    std::snprintf(line, sizeof line, "Check Sum : %X", sum);
    return line;
}

std::string RetryLine(uint32_t address) {
    return "dAddr is " + std::to_string(address) + "\n";
}

// Progress as the run should show it: 0, a 5 and a 10 per block, 15, one value per
// bank, 90, 100.
std::vector<int> ProgressOf(int blocks, int banks) {
    std::vector<int> p = {0};
    for (int i = 0; i < blocks; ++i) {
        p.push_back(5);
        p.push_back(10);
    }
    p.push_back(15);
    for (int i = 0; i < banks; ++i) p.push_back(20 + 3 * i);
    p.push_back(90);
    p.push_back(100);
    return p;
}

// A hold that notes what the engine does with it.
std::vector<std::string> holdSteps;
int heldToken;
telvio::DriveHold RecordingHold() {
    telvio::DriveHold hold{};
    hold.Hold = [](const telvio::DriveRecord&) -> void* {
        holdSteps.push_back("hold");
        return &heldToken;
    };
    hold.Release = [](void*) { holdSteps.push_back("release"); };
    hold.KeepUntilExit = [](void*) { holdSteps.push_back("keep"); };
    return hold;
}

std::vector<uint32_t> WaitsOf(int banks) {
    std::vector<uint32_t> w(static_cast<size_t>(banks), 4000);
    w.push_back(1000);
    return w;
}

class DownloadTest : public ::testing::Test {
  protected:
    void SetUp() override { sim::AttachHostDrive(&drive); }
    void TearDown() override { sim::AttachHostDrive(nullptr); }

    void RunFile(const std::string& content, bool hex, uint8_t usePassThrough = 1,
                 const std::function<void(telvio::UpdateJob&)>& adjust = {}) {
        file = std::make_unique<TempFile>(content, hex ? ".hex" : ".bin");
        telvio::UpdateJob job = MakeJob(file->Path(), hex, usePassThrough);
        if (adjust) adjust(job);
        telvio::FlashEngine engine(job);
        engine.Run();
        EXPECT_EQ(engine.View().imageChunks[0], nullptr) << "the buffer outlives the run";
        EXPECT_EQ(CountingMemory::outstanding, 0);
        EXPECT_EQ(CountingMemory::unlocks, CountingMemory::locks);
    }

    // Buffer offsets of the mode 6 data blocks, in the order they were sent.
    std::vector<uint32_t> DataBlockOffsets() const {
        std::vector<uint32_t> offsets;
        for (const auto& c : drive.Record()) {
            if (c.opcode == kWriteBuffer && c.cdb[1] == 6 && c.length == telvio::kDataBlockSize) {
                offsets.push_back(Be24(&c.cdb[3]));
            }
        }
        return offsets;
    }

    int Count(uint8_t mode, uint32_t length) const {
        int n = 0;
        for (const auto& c : drive.Record()) {
            n += c.opcode == kWriteBuffer && c.cdb[1] == mode && c.length == length;
        }
        return n;
    }
    int SaveCommands() const { return Count(7, telvio::kDataBlockSize); }
    int ChecksumBlocks() const { return Count(6, 32); }

    std::vector<uint8_t> ChecksumBlock() const {
        return {drive.DownloadBuffer().begin(), drive.DownloadBuffer().begin() + 32};
    }
    std::vector<uint8_t> SentImage(size_t size) const {
        return {drive.DownloadBuffer().begin() + 32,
                drive.DownloadBuffer().begin() + 32 + static_cast<std::ptrdiff_t>(size)};
    }

    CountingMemory memory;
    RecordingSleeper sleeper;
    sim::SimDrive drive;
    std::unique_ptr<TempFile> file;
};

std::vector<uint32_t> Offsets(uint32_t blocks) {
    std::vector<uint32_t> o;
    for (uint32_t i = 0; i < blocks; ++i) o.push_back(32 + i * 4096);
    return o;
}

TEST_F(DownloadTest, HexRunAsTheWindowAndTheDriveSeeIt) {
    std::vector<uint8_t> image(0x9000, 0xFF);
    const auto data = PatternBytes(0x2000, 1);
    std::copy(data.begin(), data.end(), image.begin());
    image[0x8FFF] = 0x5C;
    RunFile(HexOfImage(image, 16, true), true);

    std::vector<uint8_t> expectedImage(0x10000, 0xFF);
    std::copy(image.begin(), image.end(), expectedImage.begin());
    const uint16_t sum = Sum16(expectedImage);

    EXPECT_THAT(Seen().log,
                ElementsAre(CheckSumLine(sum), "Please wait a minute.....", kNowLine, kSuccess));
    EXPECT_THAT(Seen().status, ElementsAre("Updating.....", ""));
    EXPECT_EQ(Seen().progress, ProgressOf(16, 1));
    EXPECT_THAT(Seen().driveText, ElementsAre(""));
    EXPECT_THAT(Seen().revisionText, ElementsAre(""));
    EXPECT_EQ(RecordingSleeper::waits, WaitsOf(1));

    const auto& record = drive.Record();
    ASSERT_EQ(record.size(), 19u);
    for (uint32_t i = 0; i < 16; ++i) {
        const auto& c = record[i];
        const uint32_t o = 32 + i * 4096;
        const std::array<uint8_t, 16> cdb = {
            0x3B, 0x06, 0x00, uint8_t(o >> 16), uint8_t(o >> 8), uint8_t(o), 0x00, 0x10, 0x00,
            0,    0,    0};
        EXPECT_EQ(c.cdb, cdb) << "block " << i;
        EXPECT_EQ(c.cdbLength, 12);
        EXPECT_EQ(c.dir, sim::Dir::Out);
        EXPECT_EQ(c.length, 4096u);
        EXPECT_EQ(c.adapter, 1);
        EXPECT_EQ(c.target, 2);
        EXPECT_EQ(c.dataDigest, sim::Fnv1a(expectedImage.data() + i * 4096, 4096));
        EXPECT_EQ(c.timeoutSeconds, 60u) << "block " << i;
    }
    EXPECT_EQ(record[16].timeoutSeconds, telvio::kAmpleTimeoutSeconds);
    const std::array<uint8_t, 16> checksumCdb = {0x3B, 0x06, 0, 0, 0, 0, 0, 0, 0x20, 0, 0, 0};
    EXPECT_EQ(record[16].cdb, checksumCdb);
    EXPECT_EQ(record[16].dir, sim::Dir::Out);
    EXPECT_EQ(record[16].length, 32u);
    const std::array<uint8_t, 16> saveCdb = {0x3B, 0x07};
    EXPECT_EQ(record[17].cdb, saveCdb);
    EXPECT_EQ(record[17].cdbLength, 12);
    EXPECT_EQ(record[17].dir, sim::Dir::In);
    EXPECT_EQ(record[17].length, 4096u);
    // After the waits, the revision is read back, waiting past a busy drive's 31 s.
    const std::array<uint8_t, 16> inquiryCdb = {0x12, 0, 0, 0, 36, 0};
    EXPECT_EQ(record[18].cdb, inquiryCdb);
    EXPECT_EQ(record[18].cdbLength, 6);
    EXPECT_EQ(record[18].dir, sim::Dir::In);
    EXPECT_EQ(record[18].length, 36u);
    EXPECT_EQ(record[18].timeoutSeconds, 35u);
    EXPECT_EQ(record[17].timeoutSeconds, telvio::kAmpleTimeoutSeconds);

    std::vector<uint8_t> checksumBlock(32, 0);
    checksumBlock[30] = uint8_t(sum >> 8);
    checksumBlock[31] = uint8_t(sum);
    EXPECT_EQ(ChecksumBlock(), checksumBlock);
    EXPECT_EQ(SentImage(0x10000), expectedImage);
    EXPECT_TRUE(drive.Flashed());
    EXPECT_EQ(drive.Firmware(), expectedImage);
    EXPECT_EQ(CountingMemory::locks, 1);
}

TEST_F(DownloadTest, RawMegabyte) {
    const auto bytes = PatternBytes(0x100000, 2);
    RunFile(std::string(bytes.begin(), bytes.end()), false);
    EXPECT_EQ(DataBlockOffsets(), Offsets(256));
    EXPECT_EQ(Seen().progress, ProgressOf(256, 16));
    EXPECT_EQ(RecordingSleeper::waits, WaitsOf(16));
    EXPECT_EQ(Seen().log.front(), CheckSumLine(Sum16(bytes)));
    EXPECT_EQ(Seen().log.back(), kSuccess);
    EXPECT_EQ(drive.Firmware(), bytes);
    // A full buffer is not locked, and is released all the same.
    EXPECT_EQ(CountingMemory::locks, 0);
    EXPECT_EQ(CountingMemory::releases, 1);
}

TEST_F(DownloadTest, RawPaddedWithErasedFlashPastTheBufferSendsItsFirstMegabyte) {
    const auto bytes = PatternBytes(0x100000, 3);
    RunFile(std::string(bytes.begin(), bytes.end()) + std::string(0x100000, '\xFF'), false);
    EXPECT_EQ(DataBlockOffsets(), Offsets(256));
    EXPECT_EQ(drive.Firmware(), bytes);
    EXPECT_EQ(Seen().log.back(), kSuccess);
}

TEST_F(DownloadTest, Raw5000EndsInFill) {
    const auto bytes = PatternBytes(5000, 4);
    RunFile(std::string(bytes.begin(), bytes.end()), false);
    EXPECT_EQ(DataBlockOffsets(), Offsets(2));
    std::vector<uint8_t> expected(8192, 0xFF);
    std::copy(bytes.begin(), bytes.end(), expected.begin());
    EXPECT_EQ(SentImage(8192), expected);
    // Under one bank: no 4000 ms wait, 15 straight to 90.
    EXPECT_EQ(RecordingSleeper::waits, WaitsOf(0));
    EXPECT_EQ(Seen().progress, ProgressOf(2, 0));
    // The checksum block sums what was sent; the logged sum is the whole buffer's.
    const uint16_t sent = Sum16(expected);
    EXPECT_EQ(ChecksumBlock()[30], sent >> 8);
    EXPECT_EQ(ChecksumBlock()[31], sent & 0xFF);
    EXPECT_EQ(Seen().log.front(),
              CheckSumLine(static_cast<uint16_t>(Sum16(bytes) + 0xFF * (0x100000 - 5000))));
    EXPECT_EQ(Seen().log.back(), kSuccess);
}

struct HexShape {
    const char* name;
    std::string text;
    uint32_t blocks;
    int banks;
};

TEST_F(DownloadTest, HexImageEndDecidesBlocksAndWaits) {
    std::string fifteen;
    for (int i = 0; i < 15; ++i) fifteen += BankRecord();
    const HexShape shapes[] = {
        {"first bank only", ZeroSumHex(), 16, 1},
        {"last byte at 0xFFFE", NameRecord() + DataRecord(0xFFFE, {1}) + EndRecord(), 16, 1},
        {"last byte at 0xFFFF", NameRecord() + DataRecord(0xFFFF, {1}) + EndRecord(), 32, 2},
        {"one byte into bank 1", NameRecord() + DataRecord(0xFFFF, {1, 2}) + EndRecord(), 32, 2},
        {"bank 2 via advances",
         NameRecord() + BankRecord() + BankRecord() + DataRecord(0, {7}) + EndRecord(), 48, 3},
        // The buffer's last byte: whole banks stop at 1 MiB, nothing beyond it is read.
        {"last byte at 0xFFFFF", NameRecord() + fifteen + DataRecord(0xFFFF, {9}) + EndRecord(),
         256, 16},
    };
    for (const HexShape& s : shapes) {
        SCOPED_TRACE(s.name);
        drive = sim::SimDrive();
        RunFile(s.text, true);
        EXPECT_EQ(DataBlockOffsets(), Offsets(s.blocks));
        EXPECT_EQ(RecordingSleeper::waits, WaitsOf(s.banks));
        EXPECT_EQ(Seen().progress, ProgressOf(static_cast<int>(s.blocks), s.banks));
        EXPECT_EQ(Seen().log.back(), kSuccess);
        RecordingSleeper::waits.clear();
    }
}

TEST_F(DownloadTest, HexChecksumBlockMatchesTheLoggedSum) {
    std::vector<uint8_t> image = PatternBytes(2 * 0x10000 + 0x345, 5);
    RunFile(HexOfImage(image), true);
    ASSERT_EQ(Seen().log.back(), kSuccess);
    const auto block = ChecksumBlock();
    EXPECT_EQ(CheckSumLine(static_cast<uint16_t>(block[30] << 8 | block[31])), Seen().log.front());
    EXPECT_EQ(DataBlockOffsets().size(), 48u);
}

// ---- the revision the file carries ----

// The simulated drive's identification as INQUIRY gives it: vendor and product, padded.
const char kIdentification[] = "TELVIOSMSIM DVD-RW      ";

struct FileRevisionCase {
    const char* name;
    bool hex;
    size_t size;
    // The identification, followed by these bytes, at each offset.
    std::vector<std::pair<size_t, std::string>> places;
    const char* fileLine;  // null: none
    const char* readBack;  // what the drive reports after taking the image
};

TEST_F(DownloadTest, FileRevisionIsLoggedAndTakenByTheDrive) {
    const FileRevisionCase cases[] = {
        {"unique", false, 0x3000, {{0x100, "2.10"}}, "File revision : 2.10", "2.10"},
        {"the same one twice",
         true,
         0x3000,
         {{0x100, "2.10"}, {0x2000, "2.10"}},
         "File revision : 2.10",
         "2.10"},
        {"two revisions", false, 0x3000, {{0x100, "2.10"}, {0x2000, "2.20"}}, nullptr, "2.10"},
        {"none: the product alone", false, 0x3000, {}, nullptr, "2.00"},
        // Only four printable bytes, not all blank, make a revision; trailing blanks go.
        {"blank and unprintable places pass",
         false,
         0x3000,
         {{0x100, "    "}, {0x200, std::string("2.1\x01", 4)}, {0x300, "3.0 "}},
         "File revision : 3.0",
         "3.0 "},
        {"across two HEX records", true, 0x3000, {{0x14, "2.10"}}, "File revision : 2.10", "2.10"},
        // The image's last byte is the buffer's: nothing past it is read.
        {"cut short at the end", false, 0x100000, {{0x100000 - 27, "2.1"}}, nullptr, "2.00"},
    };
    for (const FileRevisionCase& c : cases) {
        SCOPED_TRACE(c.name);
        drive = sim::SimDrive();
        std::vector<uint8_t> image = PatternBytes(c.size, 13);
        for (const auto& [offset, revision] : c.places) {
            const std::string bytes = kIdentification + revision;
            std::copy(bytes.begin(), bytes.end(),
                      image.begin() + static_cast<std::ptrdiff_t>(offset));
        }
        file = std::make_unique<TempFile>(
            c.hex ? HexOfImage(image) : std::string(image.begin(), image.end()),
            c.hex ? ".hex" : ".bin");
        telvio::UpdateJob job = MakeJob(file->Path(), c.hex);
        std::snprintf(job.drive.identification, sizeof job.drive.identification, "%s",
                      kIdentification);
        std::snprintf(job.drive.product, sizeof job.drive.product, "%s", kIdentification + 8);
        telvio::FlashEngine(job).Run();

        ASSERT_FALSE(Seen().log.empty());
        std::vector<std::string> log = {Seen().log[0]};
        if (c.fileLine) log.push_back(c.fileLine);
        log.push_back("Please wait a minute.....");
        // The read-back line drops the reply's trailing blanks.
        std::string readBack = c.readBack;
        readBack.erase(readBack.find_last_not_of(' ') + 1);
        log.push_back("Firmware revision now: " + readBack);
        log.push_back(kSuccess);
        EXPECT_EQ(Seen().log, log);
    }
}

// ---- failures before anything reaches the drive ----

struct EarlyFailure {
    const char* name;
    bool hex;
    std::string content;
    bool missing;
    bool failAllocate;
    uint64_t stopFromCall;
    std::vector<int> codes;
};

TEST_F(DownloadTest, LoadFailuresEndTheRunBeforeAnyCommand) {
    const std::string pastBuffer = std::string(0x120000, '\x5A');
    const EarlyFailure cases[] = {
        {"missing hex", true, "", true, false, 0, {2, 5}},
        {"missing raw", false, "", true, false, 0, {2, 5}},
        {"empty raw", false, "", false, false, 0, {5}},
        {"wrong checksum", true, ":0100000012EE\n" + EndRecord(), false, false, 0, {6}},
        {"type 04", true, HexRecord(0x04, 0, {0, 1}) + EndRecord(), false, false, 0, {6}},
        {"end record only", true, EndRecord(), false, false, 0, {6}},
        // Erased flash is no firmware, whichever file brings it.
        {"erased raw", false, std::string(5000, '\xFF'), false, false, 0, {6}},
        {"erased hex", true, HexOfImage(std::vector<uint8_t>(0x10010, 0xFF), 16, false), false, false, 0,
         {6}},
        {"no end record", true, DataRecord(0, {1}), false, false, 0, {6, 6}},
        // Firmware longer than the buffer would go out cut in half; HEX text is no firmware.
        {"raw past the buffer", false, pastBuffer, false, false, 0, {13}},
        {"HEX text as raw", false, "\r\n" + NameRecord() + EndRecord(), false, false, 0, {6}},
        {"no memory", true, EndRecord(), false, true, 0, {11}},
        {"stop in the reader", true, DataRecord(0, {1, 2}) + EndRecord(), false, false, 5, {14}},
    };
    for (const EarlyFailure& c : cases) {
        SCOPED_TRACE(c.name);
        // Each case from nothing, so that one fault reads as one.
        drive.ClearRecord();
        CountingMemory caseMemory;
        RecordingSleeper caseSleeper;
        CountingMemory::failAllocate = c.failAllocate;
        std::string path = MissingPath();
        if (!c.missing) {
            file = std::make_unique<TempFile>(c.content, c.hex ? ".hex" : ".bin");
            path = file->Path();
        }
        telvio::FlashEngine engine(MakeJob(path, c.hex));
        Seen().stopFromCall = c.stopFromCall;
        engine.Run();
        std::vector<std::string> expected;
        for (int code : c.codes) expected.push_back(ErrLine(code));
        expected.push_back(kFailure);
        EXPECT_EQ(Seen().log, expected);
        EXPECT_THAT(Seen().status, ElementsAre(""));
        EXPECT_THAT(Seen().progress, IsEmpty());
        EXPECT_THAT(Seen().driveText, IsEmpty());
        EXPECT_THAT(drive.Record(), IsEmpty());
        EXPECT_THAT(RecordingSleeper::waits, IsEmpty());
        EXPECT_EQ(CountingMemory::outstanding, 0);
        EXPECT_EQ(CountingMemory::unlocks, CountingMemory::locks);
        EXPECT_EQ(engine.View().imageChunks[0], nullptr);
    }
}

// ---- retries of one data block ----

struct RetryCase {
    uint32_t block;  // of five
    uint32_t failures;
};

class RetryTest : public DownloadTest, public ::testing::WithParamInterface<RetryCase> {};

TEST_P(RetryTest, BlockIsRetriedUpToSixTimes) {
    const RetryCase& c = GetParam();
    const auto bytes = PatternBytes(5 * 4096, 6);
    const std::string content(bytes.begin(), bytes.end());

    // The same image without faults gives the reference checksum block.
    RunFile(content, false);
    ASSERT_EQ(Seen().log.back(), kSuccess);
    const auto cleanChecksum = ChecksumBlock();

    drive = sim::SimDrive();
    RecordingSleeper::waits.clear();
    const uint32_t address = c.block * 4096;
    sim::Fault fault;
    fault.opcode = kWriteBuffer;
    fault.mode = 6;
    fault.bufferOffset = address + 32;
    fault.count = c.failures;
    fault.sense = {0x03, 0x0C, 0x00};
    drive.AddFault(fault);
    RunFile(content, false);

    std::vector<std::string> retries;
    for (const auto& line : Seen().log) {
        if (line.rfind("dAddr is ", 0) == 0) retries.push_back(line);
    }
    EXPECT_EQ(retries, std::vector<std::string>(std::min(c.failures, 6u), RetryLine(address)));

    // The attempts follow each other with nothing between them.
    const auto offsets = DataBlockOffsets();
    const auto first = std::find(offsets.begin(), offsets.end(), address + 32);
    ASSERT_NE(first, offsets.end());
    const auto attempts = std::count(offsets.begin(), offsets.end(), address + 32);
    EXPECT_EQ(std::count(first, first + attempts, address + 32), attempts);

    if (c.failures < 6) {
        EXPECT_EQ(attempts, c.failures + 1);
        EXPECT_EQ(offsets.size(), 5u + c.failures);
        EXPECT_EQ(ChecksumBlock(), cleanChecksum);
        EXPECT_EQ(Seen().log.back(), kSuccess);
        EXPECT_EQ(drive.Firmware(), bytes);
    } else {
        EXPECT_EQ(attempts, 6);
        EXPECT_EQ(offsets.back(), address + 32) << "a block was sent after the failed one";
        const size_t n = Seen().log.size();
        ASSERT_GE(n, 2u);
        EXPECT_EQ(Seen().log[n - 2], "Execute command error!!  3/ C/ 0");
        EXPECT_EQ(Seen().log[n - 1], kFailure);
        EXPECT_EQ(ChecksumBlocks(), 0);
        EXPECT_EQ(SaveCommands(), 0);
        EXPECT_THAT(RecordingSleeper::waits, IsEmpty());
        // The bar stays where the last good block left it.
        EXPECT_EQ(Seen().progress.back(), c.block == 0 ? 0 : 10);
        EXPECT_THAT(Seen().status, ElementsAre("Updating.....", ""));
    }
}

std::vector<RetryCase> RetryCases() {
    std::vector<RetryCase> cases;
    for (uint32_t block : {0u, 2u, 4u}) {
        for (uint32_t failures = 1; failures <= 7; ++failures) cases.push_back({block, failures});
    }
    return cases;
}

INSTANTIATE_TEST_SUITE_P(FirstMiddleLast, RetryTest, ::testing::ValuesIn(RetryCases()),
                         [](const auto& info) {
                             return "block" + std::to_string(info.param.block) + "_fails" +
                                    std::to_string(info.param.failures);
                         });

// ---- the checksum block and the save command ----

struct TailFault {
    const char* name;
    int mode;  // 6: the checksum block (offset 0), 7: the save command
    bool transportFail;
    sim::SenseCode sense;
    uint8_t usePassThrough;
    bool accepted;
    const char* errorLine;  // when refused
};

class TailFaultTest : public DownloadTest, public ::testing::WithParamInterface<TailFault> {};

TEST_P(TailFaultTest, AcceptedOrRefused) {
    const TailFault& c = GetParam();
    sim::Fault fault;
    fault.opcode = kWriteBuffer;
    fault.mode = c.mode;
    if (c.mode == 6) fault.bufferOffset = 0;
    fault.kind =
        c.transportFail ? sim::Fault::Kind::TransportFail : sim::Fault::Kind::CheckCondition;
    fault.sense = c.sense;
    drive.AddFault(fault);
    holdSteps.clear();
    RunFile(ZeroSumHex(), true, c.usePassThrough,
            [](telvio::UpdateJob& job) { job.hold = RecordingHold(); });

    // A drive that gave no answer may have taken the block and be programming: it stays
    // held until the program ends, and the log says so before the verdict. One that
    // answered with sense data has not started.
    const bool silent = c.transportFail;
    EXPECT_EQ(holdSteps, (std::vector<std::string>{"hold", silent ? "keep" : "release"}));
    if (c.accepted) {
        // A save that ended in a check condition did not take the firmware in the model.
        EXPECT_THAT(Seen().log, ElementsAre("Check Sum : 0", "Please wait a minute.....",
                                            c.mode == 6 ? kNowLine : kUnchangedLine, kSuccess));
        EXPECT_EQ(SaveCommands(), 1);
        EXPECT_EQ(Seen().progress, ProgressOf(16, 1));
        EXPECT_EQ(RecordingSleeper::waits, WaitsOf(1));
        EXPECT_EQ(drive.Flashed(), c.mode == 6);
    } else {
        std::vector<std::string> log = {"Check Sum : 0", "Please wait a minute.....", c.errorLine};
        if (silent) log.push_back(telvio::kMayStillProgramLine);
        log.push_back(kFailure);
        EXPECT_EQ(Seen().log, log);
        EXPECT_EQ(SaveCommands(), c.mode == 7 ? 1 : 0);
        EXPECT_EQ(Seen().progress.back(), c.mode == 7 ? 15 : 10);
        EXPECT_THAT(RecordingSleeper::waits, IsEmpty());
        EXPECT_THAT(Seen().driveText, IsEmpty());
        EXPECT_FALSE(drive.Flashed());
    }
    EXPECT_EQ(ChecksumBlocks(), 1) << "the checksum block gets one attempt";
    EXPECT_LE(SaveCommands(), 1) << "the save command gets one attempt";
    if (SaveCommands() == 1) {
        const auto& record = drive.Record();
        const bool readBack = c.accepted;
        ASSERT_GE(record.size(), readBack ? 2u : 1u);
        EXPECT_EQ(record[record.size() - (readBack ? 2 : 1)].cdb[1], 7)
            << "something other than the read-back was sent after the save";
        if (readBack) {
            EXPECT_EQ(record.back().opcode, 0x12);
        }
    }
}

const char kRefused[] = "Execute command error!!  5/24/ 0";
const char kNoSense[] = "Execute command error!!  0/ 0/ 0";

INSTANTIATE_TEST_SUITE_P(
    Table, TailFaultTest,
    ::testing::Values(
        TailFault{"checksum_not_ready", 6, false, {0x02, 0x3A, 0x00}, 1, true, nullptr},
        TailFault{"checksum_becoming_ready", 6, false, {0x06, 0x04, 0x01}, 1, true, nullptr},
        TailFault{"checksum_qualifier_07", 6, false, {0x03, 0x11, 0x07}, 1, true, nullptr},
        TailFault{"checksum_invalid_field", 6, false, {0x05, 0x24, 0x00}, 1, false, kRefused},
        TailFault{"checksum_medium_error",
                  6,
                  false,
                  {0x03, 0x11, 0x00},
                  1,
                  false,
                  "Execute command error!!  3/11/ 0"},
        TailFault{"checksum_transport", 6, true, {}, 1, false, kNoSense},
        // ASPI brings the drive's sense back too: the same rule, the same lines.
        TailFault{"checksum_not_ready_aspi", 6, false, {0x02, 0x3A, 0x00}, 0, true, nullptr},
        TailFault{"checksum_invalid_field_aspi", 6, false, {0x05, 0x24, 0x00}, 0, false, kRefused},
        TailFault{"save_not_ready", 7, false, {0x02, 0x3A, 0x00}, 1, true, nullptr},
        TailFault{"save_becoming_ready", 7, false, {0x06, 0x04, 0x01}, 1, true, nullptr},
        TailFault{"save_qualifier_07", 7, false, {0x03, 0x11, 0x07}, 1, true, nullptr},
        TailFault{"save_invalid_field", 7, false, {0x05, 0x24, 0x00}, 1, false, kRefused},
        TailFault{"save_transport", 7, true, {}, 1, false, kNoSense},
        TailFault{"save_not_ready_aspi", 7, false, {0x02, 0x04, 0x01}, 0, true, nullptr}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- reading the revision back ----

struct ReadBackCase {
    const char* name;
    uint8_t usePassThrough;
    bool atRestart;          // the drive shows its new revision only after a restart
    uint32_t checks;         // read-backs that end in a unit attention first
    uint32_t timeouts;       // then read-backs that get no answer
    uint32_t inquiryLength;  // the INQUIRY bytes the drive has
    uint32_t tries;          // INQUIRYs sent
    const char* line;        // null: none
    bool keptToExit = false;  // the hold outlives the run
    uint8_t pad = ' ';        // what the drive pads its names with
    const char* newRevision = "2.00";
    const char* revisionFound = "1.00";  // the record's, as discovery read it
};

class ReadBackTest : public DownloadTest, public ::testing::WithParamInterface<ReadBackCase> {};

TEST_P(ReadBackTest, TriesAndTheLine) {
    const ReadBackCase& c = GetParam();
    sim::DriveConfig config;
    config.newRevisionAtRestart = c.atRestart;
    config.inquiryLength = c.inquiryLength;
    config.inquiryPad = c.pad;
    config.newRevision = c.newRevision;
    drive = sim::SimDrive(config);
    sim::Fault fault;
    fault.opcode = 0x12;
    fault.afterSave = true;
    fault.count = c.checks;
    fault.sense = {0x06, 0x29, 0x00};  // the drive reset itself
    drive.AddFault(fault);
    fault.count = c.timeouts;
    fault.kind = sim::Fault::Kind::TransportFail;
    drive.AddFault(fault);
    holdSteps.clear();
    RunFile(ZeroSumHex(), true, c.usePassThrough, [&c](telvio::UpdateJob& job) {
        job.hold = RecordingHold();
        std::snprintf(job.drive.revision, sizeof job.drive.revision, "%s", c.revisionFound);
    });

    std::vector<std::string> log = {"Check Sum : 0", "Please wait a minute....."};
    if (c.line != nullptr) log.push_back(c.line);
    // No answer: the drive may still be programming, on either door.
    if (c.keptToExit) log.push_back(telvio::kMayStillProgramLine);
    log.push_back(kSuccess);
    EXPECT_EQ(Seen().log, log);
    std::vector<uint32_t> waits = WaitsOf(1);
    waits.insert(waits.end(), c.tries - 1, telvio::kReadBackPauseMs);
    EXPECT_EQ(RecordingSleeper::waits, waits) << "one second between tries, after the last wait";
    EXPECT_EQ(Seen().progress, ProgressOf(16, 1));
    EXPECT_EQ(holdSteps, (std::vector<std::string>{"hold", c.keptToExit ? "keep" : "release"}));

    const auto& record = drive.Record();
    ASSERT_GE(record.size(), c.tries + 1);
    for (size_t i = record.size() - c.tries; i < record.size(); ++i) {
        EXPECT_EQ(record[i].opcode, 0x12) << i;
        EXPECT_EQ(record[i].timeoutSeconds,
                  c.usePassThrough ? telvio::kReadBackTimeoutSeconds : 0u);
    }
    EXPECT_EQ(record[record.size() - c.tries - 1].cdb[1], 7) << "read back before the save";
}

const char kNoAnswer[] = "Firmware revision not read: the drive did not answer.";

INSTANTIATE_TEST_SUITE_P(
    Table, ReadBackTest,
    ::testing::Values(
        ReadBackCase{"now", 1, false, 0, 0, 36, 1, kNowLine},
        ReadBackCase{"unchanged_aspi", 0, true, 0, 0, 36, 1, kUnchangedLine},
        ReadBackCase{"unit_attention_twice", 1, false, 2, 0, 36, 3, kNowLine},
        ReadBackCase{"unit_attention_thrice_aspi", 0, false, 3, 0, 36, 3, nullptr},
        // A drive that does not answer may still be programming: it is not asked again,
        // and the system is kept from speaking to it until the program ends.
        ReadBackCase{"no_answer", 1, true, 0, 3, 36, 1, kNoAnswer, true},
        // ASPI has no revision line for it, and no hold on that door; the warning stays.
        ReadBackCase{"unit_attention_then_no_answer_aspi", 0, false, 1, 2, 36, 2, nullptr, true},
        // Only the bytes the drive sent count, and at least one must be printable.
        ReadBackCase{"short_reply_33", 1, true, 0, 0, 33, 1, "Firmware revision unchanged: 1",
                     false, ' ', "2.00", "1   "},
        ReadBackCase{"short_reply_32", 1, true, 0, 0, 32, 1, nullptr},
        ReadBackCase{"short_reply_35_aspi", 0, true, 0, 0, 35, 1,
                     "Firmware revision unchanged: 1.0", false, ' ', "2.00", "1.0"},
        ReadBackCase{"nul_padded", 1, false, 0, 0, 36, 1, "Firmware revision now: 2.1", false, 0x00,
                     "2.1"},
        ReadBackCase{"unprintable", 1, false, 0, 0, 36, 1, nullptr, false, ' ', "\x01"},
        // Shown as the window shows it, compared as the drive sent it.
        ReadBackCase{"beyond_ascii", 1, false, 0, 0, 36, 1, "Firmware revision now: 2.?", false,
                     ' ', "2.\xC9", "2.?"}),
    [](const auto& info) { return std::string(info.param.name); });

// After a reset or no answer the drive's download buffer may be gone: the run stops at the
// first failed attempt, before the checksum block, and gives the drive back. Any other
// refusal keeps its six attempts, on either door.
TEST_F(DownloadTest, ADataBlockEndsTheRunAtOnceOnlyWhenTheBufferMayBeGone) {
    using Kind = sim::Fault::Kind;
    const struct {
        Kind kind;
        sim::SenseCode sense;
        uint8_t usePassThrough;
        size_t attempts;
        const char* errorLine;
    } cases[] = {{Kind::NoAnswer, {}, 1, 1, kNoSense},
                 {Kind::CheckCondition, {6, 0x29, 0}, 1, 1, "Execute command error!!  6/29/ 0"},
                 {Kind::CheckCondition, {3, 0x0C, 0}, 0, 6, "Execute command error!!  3/ C/ 0"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.errorLine);
        drive = sim::SimDrive();
        sim::Fault fault;
        fault.opcode = kWriteBuffer;
        fault.bufferOffset = 0x1020;
        fault.count = 6;
        fault.kind = c.kind;
        fault.sense = c.sense;
        drive.AddFault(fault);
        holdSteps.clear();
        RunFile(ZeroSumHex(), true, c.usePassThrough,
                [](telvio::UpdateJob& job) { job.hold = RecordingHold(); });
        std::vector<std::string> log = {"Check Sum : 0", "Please wait a minute....."};
        log.insert(log.end(), c.attempts, RetryLine(0x1000));
        log.push_back(c.errorLine);
        if (c.attempts == 1) log.push_back(telvio::kDownloadLostLine);
        log.push_back(kFailure);
        EXPECT_EQ(Seen().log, log);
        EXPECT_EQ(drive.Record().size(), 1 + c.attempts) << "more than the data blocks went out";
        EXPECT_EQ(holdSteps, (std::vector<std::string>{"hold", "release"}));
        // The pass-through's request carries the data block's bound; ASPI carries none.
        EXPECT_EQ(drive.Record().back().timeoutSeconds, c.usePassThrough ? 60u : 0u);
    }
}

// ---- stop requests ----

TEST_F(DownloadTest, StopBeforeABlockEndsTheRun) {
    const auto bytes = PatternBytes(5 * 4096, 8);
    const std::string content(bytes.begin(), bytes.end());
    for (uint64_t stopAt = 1; stopAt <= 5; ++stopAt) {
        SCOPED_TRACE("stop at block " + std::to_string(stopAt - 1));
        drive = sim::SimDrive();
        file = std::make_unique<TempFile>(content, ".bin");
        telvio::FlashEngine engine(MakeJob(file->Path(), false));
        Seen().stopFromCall = stopAt;
        engine.Run();
        EXPECT_EQ(DataBlockOffsets(), Offsets(static_cast<uint32_t>(stopAt - 1)));
        EXPECT_EQ(ChecksumBlocks(), 0);
        EXPECT_EQ(SaveCommands(), 0);
        const size_t n = Seen().log.size();
        ASSERT_EQ(n, 4u);
        EXPECT_EQ(Seen().log[2], ErrLine(14));
        EXPECT_EQ(Seen().log[3], kFailure);
        EXPECT_THAT(RecordingSleeper::waits, IsEmpty());
    }
}

TEST_F(DownloadTest, StopAfterTheSaveIsOnlyNoted) {
    const auto bytes = PatternBytes(0x12000, 9);
    file = std::make_unique<TempFile>(std::string(bytes.begin(), bytes.end()), ".bin");
    telvio::FlashEngine engine(MakeJob(file->Path(), false));
    Seen().stopFromCall = 0x12 + 1;  // one question per block, then the one after the save
    engine.Run();
    EXPECT_EQ(Seen().stopCalls, 0x12u + 1);
    EXPECT_EQ(SaveCommands(), 1);
    EXPECT_TRUE(drive.Flashed());
    const size_t n = Seen().log.size();
    ASSERT_EQ(n, 5u);
    EXPECT_EQ(Seen().log[2], ErrLine(14));
    EXPECT_EQ(Seen().log[3], kNowLine) << "the read-back line comes just before the verdict";
    EXPECT_EQ(Seen().log[4], kSuccess);
    EXPECT_EQ(Seen().progress, ProgressOf(0x12, 1));
    EXPECT_EQ(RecordingSleeper::waits, WaitsOf(1));
    EXPECT_THAT(Seen().driveText, ElementsAre(""));
    EXPECT_THAT(Seen().revisionText, ElementsAre(""));
}

// A fault that escapes the engine (here from the window's side of a callback) ends the
// run where it stands: nothing more goes to the drive, the buffer goes back, and the hold
// is kept, since the drive may be anywhere in its download or its programming.
TEST_F(DownloadTest, AnExceptionEndsTheRunWithNothingMoreSentAndTheDriveHeld) {
    struct Case {
        int throwAt;      // the progress value whose callback throws
        size_t commands;  // what the drive got
        bool saved;
    };
    static int throwAt;
    for (const Case& c : {Case{10, 1, false}, Case{15, 17, false}, Case{20, 18, true}}) {
        SCOPED_TRACE("throw at progress " + std::to_string(c.throwAt));
        drive = sim::SimDrive();
        holdSteps.clear();
        throwAt = c.throwAt;
        file = std::make_unique<TempFile>(ZeroSumHex(), ".hex");
        telvio::UpdateJob job = MakeJob(file->Path(), true);
        job.hold = RecordingHold();
        job.SetProgress = [](int percent) {
            if (percent == throwAt) throw std::bad_alloc();
        };
        {
            telvio::FlashEngine engine(job);
            EXPECT_THROW(engine.Run(), std::bad_alloc);
        }
        EXPECT_EQ(drive.Record().size(), c.commands);
        EXPECT_EQ(SaveCommands(), c.saved ? 1 : 0);
        EXPECT_EQ(holdSteps, (std::vector<std::string>{"hold", "keep"}));
        EXPECT_EQ(CountingMemory::outstanding, 0);
        EXPECT_EQ(CountingMemory::unlocks, CountingMemory::locks);
    }
}

TEST_F(DownloadTest, AspiTransportRunsTheSameWay) {
    const auto bytes = PatternBytes(3 * 4096 + 7, 10);
    RunFile(std::string(bytes.begin(), bytes.end()), false, 0);
    EXPECT_EQ(DataBlockOffsets(), Offsets(4));
    EXPECT_EQ(Seen().log.back(), kSuccess);
    EXPECT_EQ(SaveCommands(), 1);
}

TEST_F(DownloadTest, DriveDetachedFailsTheFirstBlock) {
    sim::AttachHostDrive(nullptr);
    RunFile(ZeroSumHex(), true);
    std::vector<std::string> expected = {"Check Sum : 0", "Please wait a minute....."};
    expected.push_back(RetryLine(0));
    expected.push_back(kNoSense);
    expected.push_back(telvio::kDownloadLostLine);
    expected.push_back(kFailure);
    EXPECT_EQ(Seen().log, expected);
}

// A whole run with every callback missing: each call site of the run is passed.
using JobTest = DownloadTest;

TEST_F(JobTest, MissingCallbacksAreNotCalled) {
    const auto bytes = PatternBytes(0x10000 + 4096, 12);
    file = std::make_unique<TempFile>(std::string(bytes.begin(), bytes.end()), ".bin");
    telvio::UpdateJob job = MakeJob(file->Path(), false);
    job.SetRevisionText = nullptr;
    job.SetDriveText = nullptr;
    job.AppendLog = nullptr;
    job.SetStatusText = nullptr;
    job.SetProgress = nullptr;
    job.IsStopRequested = nullptr;
    telvio::FlashEngine engine(job);
    engine.Run();  // must not jump through a null callback
    EXPECT_TRUE(drive.Flashed());
    EXPECT_EQ(SentImage(bytes.size()), bytes);
    EXPECT_EQ(RecordingSleeper::waits, WaitsOf(1)) << "the run reached its last wait";
    EXPECT_EQ(engine.View().imageChunks[0], nullptr);
    EXPECT_EQ(CountingMemory::outstanding, 0);
}

}  // namespace
