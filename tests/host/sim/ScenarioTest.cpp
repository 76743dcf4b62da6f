#include "sim/Scenario.h"

#include <gtest/gtest.h>

namespace {

using sim::ParseScenario;
using sim::Scenario;
using sim::ScenarioError;

TEST(Scenario, ReadsEveryKindOfLine) {
    const char* text =
        "# two drives on one adapter, one of them also behind a letter\n"
        "record /tmp/x/record.txt\n"
        "state /tmp/x/state\n"
        "aspi status=0x01 count=3\n"
        "adapter 1 align=0x0003 flags=0x02 targets=4 max-transfer=0x20000 completion=later "
        "scsi-id=6\n"
        "drive main adapter=1 target=2 lun=0 peripheral=0x05 vendor=\"ABCDEFGH\" "
        "product=\"SAMPLE DRIVE 001\" revision=1.00 new-revision=\"2.00\" read-caps=0x1F "
        "write-caps=0x17 buffer=0x120000\n"
        "drive other adapter=1 target=3 peripheral=0x25 devtype=5 new-revision-at=restart "
        "inquiry-length=33\n"
        "letter d drive=main path=2 target=1 lun=0\n"
        "letter e drive=main\n"
        "   \n"
        "fault main opcode=0x3B mode=6 offset=0x1020 count=2 sense=04/44/01  # two bad blocks\n"
        "fault other opcode=0x12 transport after-save\n";
    Scenario s;
    ScenarioError e;
    ASSERT_TRUE(ParseScenario(text, s, e)) << e.Describe();
    EXPECT_EQ(s.recordPath, "/tmp/x/record.txt");
    EXPECT_EQ(s.statePath, "/tmp/x/state");
    EXPECT_EQ(s.aspiStatus, 1);
    EXPECT_EQ(s.HaCount(), 3);
    ASSERT_EQ(s.adapters.size(), 1u);
    const sim::AdapterSpec& a = s.adapters[0];
    EXPECT_EQ(a.id, 1);
    EXPECT_EQ(a.alignMask, 3);
    EXPECT_EQ(a.flags, 2);
    EXPECT_EQ(a.targets, 4);
    EXPECT_EQ(a.maxTransfer, 0x20000u);
    EXPECT_EQ(a.scsiId, 6);
    EXPECT_TRUE(a.deferred);

    ASSERT_EQ(s.drives.size(), 2u);
    const sim::DriveSpec& d = s.drives[0];
    EXPECT_EQ(d.name, "main");
    EXPECT_TRUE(d.onAspi);
    EXPECT_EQ(d.target, 2);
    EXPECT_EQ(d.config.product, "SAMPLE DRIVE 001");
    EXPECT_EQ(d.config.revision, "1.00");
    EXPECT_EQ(d.config.newRevision, "2.00");
    EXPECT_EQ(d.config.readCaps, 0x1F);
    EXPECT_EQ(d.config.writeCaps, 0x17);
    EXPECT_EQ(d.DeviceType(), 5);
    ASSERT_EQ(d.faults.size(), 1u);
    EXPECT_EQ(d.faults[0].opcode, 0x3B);
    EXPECT_EQ(d.faults[0].mode, 6);
    EXPECT_EQ(d.faults[0].bufferOffset, 0x1020);
    EXPECT_EQ(d.faults[0].count, 2u);
    EXPECT_EQ(d.faults[0].sense.key, 4);
    EXPECT_EQ(d.faults[0].sense.asc, 0x44);
    EXPECT_EQ(d.faults[0].sense.ascq, 1);
    EXPECT_FALSE(d.faults[0].afterSave);
    EXPECT_FALSE(d.config.newRevisionAtRestart);
    EXPECT_TRUE(s.drives[1].config.newRevisionAtRestart);
    EXPECT_EQ(d.config.inquiryLength, 36u);
    EXPECT_EQ(s.drives[1].config.inquiryLength, 33u);
    EXPECT_TRUE(s.drives[1].faults[0].afterSave);
    EXPECT_EQ(s.drives[1].config.peripheral, 0x25);
    EXPECT_EQ(s.drives[1].DeviceType(), 5);
    EXPECT_EQ(s.drives[1].faults[0].kind, sim::Fault::Kind::TransportFail);

    EXPECT_EQ(s.DriveAt(1, 2, 0), 0);
    EXPECT_EQ(s.DriveAt(1, 3, 0), 1);
    EXPECT_EQ(s.DriveAt(0, 2, 0), -1);
    ASSERT_NE(s.Letter('d'), nullptr);
    EXPECT_EQ(s.Letter('d')->pathId, 2);
    EXPECT_EQ(s.Letter('d')->targetId, 1);
    EXPECT_EQ(s.Letter('e')->drive, 0u);
    EXPECT_EQ(s.Letter('f'), nullptr);
}

TEST(Scenario, DefaultsFollowTheDeclarations) {
    Scenario s;
    ScenarioError e;
    ASSERT_TRUE(ParseScenario("adapter 0\nadapter 3\ndrive x peripheral=0x25\n", s, e));
    EXPECT_EQ(s.HaCount(), 2);
    EXPECT_EQ(s.aspiStatus, 1);
    EXPECT_FALSE(s.adapters[0].deferred);
    EXPECT_FALSE(s.drives[0].onAspi);
    EXPECT_EQ(s.drives[0].DeviceType(), 5);  // the type bits of the peripheral byte
    EXPECT_TRUE(s.recordPath.empty());
}

TEST(Scenario, BadLinesAreReportedWithTheirNumber) {
    struct Case {
        const char* text;
        int line;
        const char* fragment;
    };
    const Case cases[] = {
        {"teleport 1\n", 1, "unknown kind"},
        {"adapter 0\nadapter 0\n", 2, "twice"},
        {"adapter 256\n", 1, "adapter"},
        {"adapter 0 targets=300\n", 1, "targets"},
        {"adapter 0 completion=soon\n", 1, "completion"},
        {"drive a new-revision-at=reboot\n", 1, "now or restart"},
        {"drive a inquiry-length=4\n", 1, "5 to 36"},
        {"drive a inquiry-length=37\n", 1, "inquiry-length"},
        {"adapter 0 colour=red\n", 1, "unknown option"},
        {"drive a adapter=4\n", 1, "not declared"},
        {"adapter 0\ndrive a adapter=0\ndrive b adapter=0\n", 3, "another drive"},
        {"drive a\ndrive a\n", 2, "twice"},
        {"drive a/b\n", 1, "name"},
        {"drive a vendor=\"ABC\n", 1, "quote"},
        {"drive a "
         "vendor=\"0123456789012345678901234567890123456789012345678901234567890123456789\"\n",
         1, "too long"},
        {"drive a peripheral=0x100\n", 1, "peripheral"},
        {"drive a buffer=99999999999999999999999\n", 1, "buffer"},
        {"letter d drive=nobody\n", 1, "drive=NAME"},
        {"drive a\nletter b drive=a\n", 2, "c..z"},
        {"drive a\nletter d drive=a\nletter d drive=a\n", 3, "twice"},
        {"drive a\nfault a opcode=0x3B\n", 2, "either"},
        {"drive a\nfault a sense=05/24/00 transport\n", 2, "either"},
        {"drive a\nfault a sense=5-24-0\n", 2, "KEY/ASC/ASCQ"},
        {"drive a\nfault a sense=10/24/00\n", 2, "KEY/ASC/ASCQ"},
        {"fault ghost transport\n", 1, "ghost"},
        {"record\n", 1, "one path"},
        {"drive a count=1 count=2\n", 1, "twice"},
        {"\n\n\ndrive a \x01\n", 4, "character"},
    };
    for (const Case& c : cases) {
        Scenario s;
        ScenarioError e;
        EXPECT_FALSE(ParseScenario(c.text, s, e)) << c.text;
        EXPECT_EQ(e.line, c.line) << c.text;
        EXPECT_NE(e.message.find(c.fragment), std::string::npos) << c.text << " -> " << e.message;
        EXPECT_NE(e.Describe().find("line " + std::to_string(c.line)), std::string::npos);
    }
}

TEST(Scenario, OverlongLinesAndFilesAreRefusedWithoutHarm) {
    Scenario s;
    ScenarioError e;
    std::string longLine = "drive a product=\"" + std::string(5000, 'x') + "\"\n";
    EXPECT_FALSE(ParseScenario(longLine, s, e));
    EXPECT_EQ(e.line, 1);
    std::string huge(2 << 20, '#');
    EXPECT_FALSE(ParseScenario(huge, s, e));
    EXPECT_EQ(e.line, 0);
}

TEST(Scenario, AFailedParseLeavesTheOldScenario) {
    Scenario s;
    ScenarioError e;
    ASSERT_TRUE(ParseScenario("drive keep\n", s, e));
    EXPECT_FALSE(ParseScenario("drive other\nnonsense\n", s, e));
    ASSERT_EQ(s.drives.size(), 1u);
    EXPECT_EQ(s.drives[0].name, "keep");
}

TEST(Scenario, MissingFileIsAnError) {
    Scenario s;
    ScenarioError e;
    EXPECT_FALSE(sim::LoadScenario("/nonexistent/telvio/scenario", s, e));
    EXPECT_EQ(e.line, 0);
    EXPECT_NE(e.message.find("cannot read"), std::string::npos);
}

}  // namespace
