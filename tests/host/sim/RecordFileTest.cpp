#include "sim/RecordFile.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sys/wait.h>

#include "sim/SimFile.h"
#include "sim/SimRuntime.h"

namespace {

// A fresh folder per test, removed when the test program ends.
std::string TempDir() {
    struct Folders {
        std::vector<std::string> paths;
        ~Folders() {
            for (const std::string& p : paths) std::filesystem::remove_all(p);
        }
    };
    static Folders folders;
    char pattern[] = "/tmp/telvio-sim-XXXXXX";
    const char* dir = mkdtemp(pattern);
    if (dir == nullptr) return "/tmp";
    folders.paths.push_back(dir);
    return dir;
}

sim::RecordEntry Sample() {
    sim::RecordEntry e;
    e.door = "sgio";
    e.drive = "main";
    e.pid = 4242;
    sim::CommandRecord& c = e.command;
    const uint8_t cdb[12] = {0x3B, 6, 0, 0, 0x10, 0x20, 0, 0x10, 0, 0, 0, 0};
    std::memcpy(c.cdb.data(), cdb, 12);
    c.cdbLength = 12;
    c.opcode = 0x3B;
    c.adapter = 2;
    c.target = 7;
    c.lun = 1;
    c.dir = sim::Dir::Out;
    c.length = 4096;
    c.timeoutSeconds = 65535;
    c.dataDigest = 0xDEADBEEF;
    c.status = 2;
    c.sense = {0x05, 0x24, 0x00};
    c.transportFailed = true;
    return e;
}

TEST(RecordFile, LineRoundTrips) {
    sim::RecordEntry in = Sample();
    sim::RecordEntry out;
    ASSERT_TRUE(sim::ParseRecordLine(sim::FormatRecordLine(in), out));
    EXPECT_EQ(out.door, "sgio");
    EXPECT_EQ(out.drive, "main");
    EXPECT_EQ(out.pid, 4242u);
    const sim::CommandRecord& c = out.command;
    EXPECT_EQ(c.opcode, 0x3B);
    EXPECT_EQ(c.cdbLength, 12);
    EXPECT_EQ(c.cdb, in.command.cdb);
    EXPECT_EQ(c.adapter, 2);
    EXPECT_EQ(c.target, 7);
    EXPECT_EQ(c.lun, 1);
    EXPECT_EQ(c.dir, sim::Dir::Out);
    EXPECT_EQ(c.length, 4096u);
    EXPECT_EQ(c.timeoutSeconds, 65535u);
    EXPECT_EQ(c.dataDigest, 0xDEADBEEFu);
    EXPECT_EQ(c.status, 2);
    EXPECT_EQ(c.sense.key, 5);
    EXPECT_EQ(c.sense.asc, 0x24);
    EXPECT_TRUE(c.transportFailed);
}

TEST(RecordFile, EmptyCdbRoundTrips) {
    sim::RecordEntry in;
    in.door = "aspi";
    in.drive = "d";
    sim::RecordEntry out;
    ASSERT_TRUE(sim::ParseRecordLine(sim::FormatRecordLine(in), out));
    EXPECT_EQ(out.command.cdbLength, 0);
    EXPECT_EQ(out.command.dir, sim::Dir::None);
}

TEST(RecordFile, MalformedLinesAreRejected) {
    const std::string good = sim::FormatRecordLine(Sample());
    auto replaced = [&](const std::string& from, const std::string& to) {
        std::string s = good;
        s.replace(s.find(from), from.size(), to);
        return s;
    };
    const std::string bad[] = {
        "",
        "hello",
        replaced("cmd ", "cmx "),
        replaced("dir=out", "dir=sideways"),
        replaced("adapter=2", "adapter=256"),
        replaced("adapter=2", "adapter=-1"),
        replaced("cdb=3b", "cdb=3"),
        replaced("cdb=3b060000", "cdb=3b06000000000000000000000000000000"),
        replaced("digest=deadbeef", "digest=xyz"),
        replaced("sense=05/24/00", "sense=05-24-00"),
        replaced("transport=fail", "transport=maybe"),
        replaced(" pid=4242", ""),
        replaced("lun=1", "lun"),
    };
    for (const std::string& line : bad) {
        sim::RecordEntry e;
        EXPECT_FALSE(sim::ParseRecordLine(line, e)) << line;
    }
}

TEST(RecordFile, ReaderSkipsJunkAndUnfinishedLines) {
    std::string dir = TempDir();
    std::string path = dir + "/record.txt";
    sim::RecordEntry a = Sample();
    sim::RecordEntry b = Sample();
    b.command.opcode = b.command.cdb[0] = 0x12;
    ASSERT_TRUE(sim::AppendLine(path, sim::FormatRecordLine(a)));
    ASSERT_TRUE(sim::AppendLine(path, "garbage that is no command"));
    ASSERT_TRUE(sim::AppendLine(path, sim::FormatRecordLine(b)));
    {
        std::ofstream partial(path, std::ios::app);
        partial << "cmd door=aspi drive=x";  // another process is still writing this one
    }
    std::vector<sim::RecordEntry> entries;
    ASSERT_TRUE(sim::ReadRecordFile(path, entries));
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].command.opcode, 0x3B);
    EXPECT_EQ(entries[1].command.opcode, 0x12);
    EXPECT_EQ(sim::Commands(entries).size(), 2u);
    EXPECT_FALSE(sim::ReadRecordFile(dir + "/missing.txt", entries));
}

TEST(RecordFile, SeveralProcessesAppendWholeLines) {
    std::string path = TempDir() + "/record.txt";
    constexpr int kChildren = 4;
    constexpr int kLines = 200;
    for (int c = 0; c < kChildren; ++c) {
        pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            sim::RecordEntry e = Sample();
            e.pid = uint32_t(c);
            for (int i = 0; i < kLines; ++i) sim::AppendLine(path, sim::FormatRecordLine(e));
            _exit(0);
        }
    }
    for (int c = 0; c < kChildren; ++c) {
        int status = 0;
        wait(&status);
        EXPECT_TRUE(WIFEXITED(status));
    }
    std::vector<sim::RecordEntry> entries;
    ASSERT_TRUE(sim::ReadRecordFile(path, entries));
    EXPECT_EQ(entries.size(), size_t(kChildren * kLines));
}

// The runtime behind the doors: commands reach the record file, and a flash persists so
// a later process (here: a second runtime) sees the new revision.
TEST(SimRuntime, RecordsCommandsAndPersistsTheFlash) {
    std::string dir = TempDir();
    const std::string scenario = "record " + dir + "/record.txt\nstate " + dir +
                                 "\ndrive main revision=1.00 new-revision=2.50\n";
    sim::SimRuntime first;
    ASSERT_TRUE(first.LoadText(scenario)) << first.Error();
    ASSERT_EQ(first.DriveCount(), 1u);

    std::vector<uint8_t> image = {1, 2, 3, 4};
    const uint8_t writeImage[12] = {0x3B, 6, 0, 0, 0, 0x20, 0, 0, 4, 0, 0, 0};
    std::vector<uint8_t> checksum(32, 0);
    checksum[31] = 10;
    const uint8_t writeSum[12] = {0x3B, 6, 0, 0, 0, 0, 0, 0, 0x20, 0, 0, 0};
    const uint8_t save[12] = {0x3B, 7, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    std::vector<uint8_t> scratch(4096);
    EXPECT_EQ(
        first.Execute(0, "host", writeImage, 12, sim::Dir::Out, image.data(), 4, 1, 2, 0, 9).status,
        0);
    EXPECT_EQ(first.Execute(0, "host", writeSum, 12, sim::Dir::Out, checksum.data(), 32, 1, 2, 0, 9)
                  .status,
              0);
    EXPECT_EQ(
        first.Execute(0, "host", save, 12, sim::Dir::In, scratch.data(), 4096, 1, 2, 0, 9).status,
        0);

    std::vector<sim::RecordEntry> entries;
    ASSERT_TRUE(sim::ReadRecordFile(dir + "/record.txt", entries));
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[0].door, "host");
    EXPECT_EQ(entries[0].drive, "main");
    EXPECT_EQ(entries[0].pid, uint32_t(getpid()));
    EXPECT_EQ(entries[0].command.adapter, 1);
    EXPECT_EQ(entries[0].command.timeoutSeconds, 9u);
    EXPECT_EQ(entries[0].command.dataDigest, sim::Fnv1a(image.data(), 4));
    EXPECT_EQ(entries[2].command.cdb[1], 7);

    std::string firmware;
    ASSERT_TRUE(sim::ReadWholeFile(sim::SimRuntime::FirmwareFile(dir, "main"), firmware));
    EXPECT_EQ(firmware, std::string("\x01\x02\x03\x04", 4));

    sim::SimRuntime later;
    ASSERT_TRUE(later.LoadText(scenario));
    EXPECT_TRUE(later.Drive(0).Flashed());
    EXPECT_EQ(later.Drive(0).Revision(), "2.50");
}

TEST(SimRuntime, RefusedFlashPersistsNothingAndBadScenarioHoldsNoDrive) {
    std::string dir = TempDir();
    sim::SimRuntime runtime;
    ASSERT_TRUE(runtime.LoadText("state " + dir + "\ndrive main\n"));
    const uint8_t save[12] = {0x3B, 7, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    std::vector<uint8_t> scratch(4096);
    EXPECT_EQ(
        runtime.Execute(0, "host", save, 12, sim::Dir::In, scratch.data(), 4096, 0, 0, 0, 0).status,
        2);
    std::string revision;
    EXPECT_FALSE(sim::ReadWholeFile(sim::SimRuntime::RevisionFile(dir, "main"), revision));
    EXPECT_FALSE(
        runtime.Execute(5, "host", save, 12, sim::Dir::In, scratch.data(), 4096, 0, 0, 0, 0)
            .transportOk);

    sim::SimRuntime bad;
    EXPECT_FALSE(bad.LoadText("drive a\nbogus line\n"));
    EXPECT_EQ(bad.DriveCount(), 0u);
    EXPECT_NE(bad.Error().find("line 2"), std::string::npos);
}

}  // namespace
