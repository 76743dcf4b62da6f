// The checks of the Upgrade button, one row per answer in the order they run: each row
// changes one fact of a command that would go on.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>

#include "app/UpgradeChecks.h"

using telvio::UpgradeDoor;

namespace {

struct FakeFacts : telvio::UpgradeFacts {
    std::string file = "D:\\fw\\IMAGE.HEX";
    std::string driveText = "VENDOR  MODEL(0)";
    telvio::DriveRecord drive{};
    bool browse = false;
    bool directory = true;
    int driveType = 3;  // DRIVE_FIXED
    telvio::ImageFindings findings{telvio::ImageNaming::Named, {}};
    bool powerKnown = false;
    uint8_t acLine = 1;
    uint8_t percent = 100;
    bool disc = false;
    bool usb = false;

    FakeFacts() {
        std::strcpy(drive.displayName, "VENDOR  MODEL(0)");
        std::strcpy(drive.product, "SIM DVD-RW      ");
        std::strcpy(drive.revision, "1.00");
        drive.target = 3;
    }
    std::string FileText() override { return file; }
    std::string DriveText() override { return driveText; }
    std::string RevisionText() override { return "1.00"; }
    telvio::DriveRecord ChosenDrive() override { return drive; }
    int ModelCount() override { return 2; }
    bool BrowseUsed() override { return browse; }
    bool CurrentDirectoryKnown() override { return directory; }
    int DriveType(const char*) override { return driveType; }
    telvio::ImageFindings Examine(const telvio::UpdateJob&, const char*) override {
        return findings;
    }
    bool DiscReadable(const telvio::DriveRecord& d) override { return disc && d.target == 3; }
    bool ExternalBus(const telvio::DriveRecord& d) override { return usb && d.target == 3; }
    bool PowerStatus(uint8_t& ac, uint8_t& share) override {
        ac = acLine;
        share = percent;
        return powerKnown;
    }
};

// A typed drive name on the first command: the job's drive is the zeroed one, unnamed.
void Typed(FakeFacts& f, const char* text) {
    f.driveText = text;
    f.drive = telvio::DriveRecord{};
    f.drive.adapter = f.drive.target = 255;
}

void OnBattery(FakeFacts& f, uint8_t ac, uint8_t percent) {
    f.powerKnown = true;
    f.acLine = ac;
    f.percent = percent;
}

struct Row {
    const char* what;
    std::function<void(FakeFacts&)> facts;
    UpgradeDoor door;
    // The box's text or the log line (no caption); the warning's drive name; going on,
    // the job's path.
    const char* text;
    const char* caption;
    unsigned style;
    UpgradeDoor afterYes = UpgradeDoor::GoOn;
    bool commandTaken = true;
};

const char kMismatch[] = "Input file format mismatched.";

const Row kRows[] = {
    {"empty file box", [](FakeFacts& f) { f.file = ""; }, UpgradeDoor::Refuse,
     "You must input HEX file", "File Not Found!!", 0x10, UpgradeDoor::GoOn, false},
    {"typed name of 26 characters", [](FakeFacts& f) { Typed(f, "ABCDEFGHIJKLMNOPQRSTUVWXYZ"); },
     UpgradeDoor::Refuse, "Drive model doesn't match!", nullptr, 0},
    {"browsed: the warning names the drive", [](FakeFacts& f) { f.browse = true; },
     UpgradeDoor::Ask, "VENDOR  MODEL(0)", nullptr, 0},
    {"current directory unreadable", [](FakeFacts& f) { f.directory = false; }, UpgradeDoor::Refuse,
     "Can't retrieves the current directory.", "GetCurrentDirectory Error !!", 0x1010},
    {"dot only in a folder name", [](FakeFacts& f) { f.file = "D:\\rel.2\\image"; },
     UpgradeDoor::Refuse, kMismatch, "Error!!", 0x10},
    {"another ending after .hex", [](FakeFacts& f) { f.file = "image.hex.bak"; },
     UpgradeDoor::Refuse, kMismatch, "Error!!", 0x10},
    {"no dot at all", [](FakeFacts& f) { f.file = "image"; }, UpgradeDoor::Refuse, kMismatch,
     "Error!!", 0x10},
    {"typed name of 25 characters", [](FakeFacts& f) { Typed(f, "ABCDEFGHIJKLMNOPQRSTUVWXY"); },
     UpgradeDoor::Refuse, "No Target Drive.", "Error!!", 0x10},
    {"a drive the program cannot see",
     [](FakeFacts& f) {
         f.file = "b:\\fw\\a.hex";
         f.driveType = telvio::kDriveNoRootDir;
     },
     UpgradeDoor::Refuse,
     "Telvio cannot reach drive B:, where this file is. A network drive mapped in your account "
     "is not visible to a program run as an administrator: copy the file to a folder on this "
     "computer.",
     "Error!!", 0x10},
    {"a disc in the tray, before any question about the image",
     [](FakeFacts& f) {
         f.disc = f.usb = true;
         f.findings.naming = telvio::ImageNaming::NotNamed;
     },
     UpgradeDoor::Refuse,
     "Take the disc out of the drive and close the tray, then press Upgrade again. While a disc "
     "is in the drive, Windows and other programs can read it during the upgrade.",
     "Error!!", 0x10},
    {"a drive behind USB or FireWire", [](FakeFacts& f) { f.usb = true; }, UpgradeDoor::Ask,
     "The drive \"SIM DVD-RW\" is connected through USB or FireWire. If that connection drops "
     "while the drive programs its memory, the drive is ruined. Plug it straight into the "
     "computer, not into a hub, give it its own power supply if it has one, and do not touch the "
     "cable until the upgrade has ended.\n\nUpgrade now?",
     "Warning!!", 0x134},
    {"another model's file",
     [](FakeFacts& f) { f.findings.naming = telvio::ImageNaming::NotNamed; }, UpgradeDoor::Ask,
     "This file does not name the drive \"SIM DVD-RW\".\nFirmware for another model can leave "
     "the drive unusable.\n\nUpgrade with this file anyway?",
     "Warning!!", 0x134},
    {"the revision the drive runs, then the battery",
     [](FakeFacts& f) {
         std::strcpy(f.findings.revision, "1.00");
         OnBattery(f, 0, 9);
     },
     UpgradeDoor::Ask,
     "The drive \"SIM DVD-RW\" already runs revision 1.00, the revision in this file.\nFlash it "
     "again only to repair a drive that misbehaves.\n\nUpgrade with this file anyway?",
     "Warning!!", 0x134, UpgradeDoor::Refuse},
    {"on battery at 9 %", [](FakeFacts& f) { OnBattery(f, 0, 9); }, UpgradeDoor::Refuse,
     "The battery is too low to upgrade the firmware safely. Connect the computer to mains power "
     "and press Upgrade again.",
     "Error!!", 0x10},
    {"on battery at 10 %", [](FakeFacts& f) { OnBattery(f, 0, 10); }, UpgradeDoor::GoOn,
     "D:\\fw\\IMAGE.hex", nullptr, 0},
    {"on mains at 5 %", [](FakeFacts& f) { OnBattery(f, 1, 5); }, UpgradeDoor::GoOn,
     "D:\\fw\\IMAGE.hex", nullptr, 0},
    {"on battery, share unknown", [](FakeFacts& f) { OnBattery(f, 0, 255); }, UpgradeDoor::GoOn,
     "D:\\fw\\IMAGE.hex", nullptr, 0},
    {".bin goes on as raw bytes", [](FakeFacts& f) { f.file = "D:\\fw\\image.BIN"; },
     UpgradeDoor::GoOn, "D:\\fw\\image.bin", nullptr, 0},
};

TEST(UpgradeChecks, AnswerInTheirOrder) {
    for (const Row& row : kRows) {
        SCOPED_TRACE(row.what);
        FakeFacts facts;
        row.facts(facts);
        telvio::UpgradeChecks checks(facts);
        const telvio::UpgradeAnswer answer = checks.Next();
        ASSERT_EQ(answer.door, row.door);
        EXPECT_EQ(answer.commandTaken, row.commandTaken);
        if (row.door == UpgradeDoor::GoOn) {
            EXPECT_EQ(answer.imagePath, row.text);
            EXPECT_EQ(answer.isHexFile, std::strstr(row.text, ".hex") != nullptr ? 1 : 0);
            continue;
        }
        EXPECT_EQ(answer.text, row.text);
        EXPECT_EQ(answer.caption == nullptr ? "" : answer.caption,
                  std::string(row.caption == nullptr ? "" : row.caption));
        EXPECT_EQ(answer.style, row.style);
        EXPECT_EQ(answer.warning, row.door == UpgradeDoor::Ask && row.caption == nullptr);
        if (answer.warning) {
            EXPECT_EQ(answer.revision, "1.00");
        }
        if (row.door == UpgradeDoor::Ask) {
            EXPECT_EQ(checks.Next().door, row.afterYes);
        }
    }
}

}  // namespace
