// Discovery and classification through the real doors, with Wine reporting 98, NT 4 or
// XP (the ctest entry picks the platform and the matching GTEST_FILTER).
#include <windows.h>

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "drive/Discovery.h"
#include "drive/Transport.h"
#include "tests/win/drive/SimAccess.h"

namespace telvio::test {
namespace {

struct Found {
    TransportState state;
    DriveTable table{};
    sim::Scenario scenario;
    Found() {
        scenario = LoadTestScenario();
        ClearRecord(scenario);
        SelectPlatform(state);
        EXPECT_EQ(1, BindAspi(state, nullptr));
        DiscoverDrives(state, table);
        ClassifyDrives(table);
    }
    ~Found() {
        ReleaseTransport(state, table);
        for (int i = 0; i < table.driveCount; ++i) HeapFree(GetProcessHeap(), 0, table.records[i]);
    }
    std::string Name(int i) const { return table.records[i]->displayName; }
};

const char kAlpha[] = "ALPHA   FIRST DRIVE     ";
const char kBravo[] = "BRAVO   SAME NAME       ";
const char kZulu[] = "ZULU    LAST            ";

TEST(DiscoverAspi, AdaptersTargetsAndInquiry) {
    Found f;
    ASSERT_EQ(0, f.state.UsePassThrough);
    // alpha at 0/1 (adapter 0 reports no target count: 0 and 1 are probed, so the
    // drive at 0/2 is never seen); on adapter 1 the 0x25 drive and the failing INQUIRY
    // are freed again and the disk is not a CD/DVD device.
    ASSERT_EQ(2, f.table.driveCount);
    EXPECT_EQ(kAlpha, f.Name(0)) << "names keep their spaces";
    EXPECT_STREQ("A100", f.table.records[0]->revision);
    EXPECT_EQ(0, f.table.records[0]->adapter);
    EXPECT_EQ(1, f.table.records[0]->target);
    EXPECT_EQ(nullptr, f.table.records[0]->handle);
    EXPECT_EQ(kBravo, f.Name(1));
    EXPECT_EQ(1, f.table.records[1]->adapter);
    EXPECT_EQ(2, f.table.records[1]->target);
    EXPECT_EQ(0x10000u, f.table.records[1]->maxTransfer) << "HA_Unique bytes 4-7";
    // Classification cannot reach ASPI drives: every class stays 0.
    for (int i = 0; i < 2; ++i) EXPECT_EQ(0u, f.table.records[i]->driveClass);

    // INQUIRY went to exactly the devices that reported type 5.
    std::set<std::string> asked;
    for (const auto& e : RecordedOp(f.scenario, 0x12)) asked.insert(e.drive);
    EXPECT_EQ((std::set<std::string>{"alpha", "qual", "bravo", "fails"}), asked);
    for (const auto& e : RecordedOp(f.scenario, 0x12)) {
        EXPECT_EQ(36u, e.command.length);
        EXPECT_EQ(12, e.command.cdbLength);
        EXPECT_EQ(36, e.command.cdb[4]);
        EXPECT_EQ(sim::Dir::In, e.command.dir);
    }
}

TEST(DiscoverAspi, MoreThanEightDrives) {
    Found f;
    ASSERT_EQ(8, f.table.driveCount);
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(i, f.table.records[i]->target);
        EXPECT_EQ("MANY    D" + std::to_string(i) + "              ", f.Name(i));
    }
}

TEST(DiscoverNt4, LettersCThroughYEachDriveOnce) {
    Found f;
    ASSERT_EQ(1, f.state.UsePassThrough);
    ASSERT_EQ(1, f.state.isNT4OrOlder);
    // d and h both lead to alpha at one address (Wine reads it as the inquiry data's):
    // listed once, through d; e is 0x25, f a disk; z is not examined on NT 4.
    ASSERT_EQ(2, f.table.driveCount);
    EXPECT_EQ(kAlpha, f.Name(0));
    EXPECT_EQ(kBravo, f.Name(1));
    EXPECT_NE(f.table.records[0]->handle, f.table.records[1]->handle);
    for (int i = 0; i < 2; ++i) {
        EXPECT_NE(nullptr, f.table.records[i]->handle);
        EXPECT_NE(INVALID_HANDLE_VALUE, f.table.records[i]->handle);
    }
    // Wine reports the path and target the letter's device has.
    EXPECT_EQ(1, f.table.records[0]->adapter);
    EXPECT_EQ(2, f.table.records[0]->target);
    EXPECT_EQ(0, f.table.records[1]->adapter);
    EXPECT_EQ(3, f.table.records[1]->target);
    // Wine answers the capabilities itself (its alignment mask is the page size).
    EXPECT_NE(0u, f.table.records[0]->alignMask);
    EXPECT_EQ(2u, f.table.records[0]->driveClass);
    EXPECT_EQ(0u, f.table.records[1]->driveClass);

    for (const auto& e : Recorded(f.scenario)) EXPECT_NE("zulu", e.drive) << "z is not examined";
    // The capabilities page went to every drive, with the short time-out. The block is
    // prepared once: the platform writes the bytes it moved back into the transfer
    // length, and later drives are asked for that many.
    const auto modeSense = RecordedOp(f.scenario, 0x5A);
    ASSERT_EQ(2u, modeSense.size());
    EXPECT_EQ(64u, modeSense[0].command.length);
    for (const auto& e : modeSense) {
        EXPECT_EQ(2u, e.command.timeoutSeconds);
        EXPECT_LE(e.command.length, 64u);
        EXPECT_GE(e.command.length, 12u) << "still covers the two capability bytes";
        EXPECT_EQ(0x2A, e.command.cdb[2]);
    }
}

TEST(DiscoverNt5, LettersCThroughZ) {
    Found f;
    ASSERT_EQ(1, f.state.UsePassThrough);
    ASSERT_EQ(0, f.state.isNT4OrOlder);
    ASSERT_EQ(4, f.table.driveCount);
    EXPECT_EQ(kAlpha, f.Name(0));
    EXPECT_EQ(kBravo, f.Name(1));
    EXPECT_EQ(kAlpha, f.Name(2));
    EXPECT_EQ(kZulu, f.Name(3));
    EXPECT_STREQ("Z999", f.table.records[3]->revision);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(0, f.table.records[i]->adapter);
        EXPECT_EQ(0, f.table.records[i]->target);
        EXPECT_EQ(0x7FFu, f.table.records[i]->alignMask);
        EXPECT_EQ(0u, f.table.records[i]->maxTransfer);
    }
    EXPECT_EQ(2u, f.table.records[0]->driveClass);
    EXPECT_EQ(0u, f.table.records[1]->driveClass);
    EXPECT_EQ(2u, f.table.records[3]->driveClass);
    // The discovery INQUIRY: 6-byte CDB, allocation 127, 2048 bytes, 2 s.
    const auto inquiries = RecordedOp(f.scenario, 0x12);
    ASSERT_FALSE(inquiries.empty());
    for (const auto& e : inquiries) {
        EXPECT_EQ(6, e.command.cdbLength);
        EXPECT_EQ(0x7F, e.command.cdb[4]);
        EXPECT_EQ(2048u, e.command.length);
        EXPECT_EQ(2u, e.command.timeoutSeconds);
    }
}

// Only the bytes the drive sent are its names: the rest of the reply buffer (0xFF before
// the call) reads as blanks, and so do the NULs some drives pad with. A byte beyond ASCII
// is shown as '?' and kept as it came for the image search.
TEST(DiscoverNt5, ShortAndNulPaddedReplies) {
    Found f;
    ASSERT_EQ(3, f.table.driveCount);
    EXPECT_EQ("SHORTVNDCUT             ", f.Name(0));
    EXPECT_STREQ("CUT             ", f.table.records[0]->product);
    EXPECT_STREQ("    ", f.table.records[0]->revision);
    EXPECT_EQ("NUL     PADDED          ", f.Name(1));
    EXPECT_STREQ("PADDED          ", f.table.records[1]->product);
    EXPECT_STREQ("N1  ", f.table.records[1]->revision);
    EXPECT_EQ("ABCD?FGHSIM DVD-RW      ", f.Name(2));
    EXPECT_STREQ("ABCD\311FGHSIM DVD-RW      ", f.table.records[2]->identification);  // 0xC9
    EXPECT_STREQ("SIM DVD-RW      ", f.table.records[2]->product);
    EXPECT_STREQ("1.0\xC9", f.table.records[2]->revision);
}

TEST(DiscoverNt5, MoreThanEightDrives) {
    Found f;
    ASSERT_EQ(8, f.table.driveCount);
    for (int i = 0; i < 8; ++i) EXPECT_EQ("MANY    D" + std::to_string(i) + "              ", f.Name(i));
}

}  // namespace
}  // namespace telvio::test
