// The checks of the Upgrade button through the window: each door (go on, refuse with a box
// or a log line, ask), the run's own refusal, and the job it fills. Every answer of the
// checks has its row natively (tests/host/app).
#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "resources/resource.h"
#include "tests/win/app/AppHarness.h"

using apptest::RunningWindow;
using apptest::TheFakes;

namespace {

struct CommandCase {
    const char* what;
    std::vector<apptest::FakeDrive> drives;
    const char* driveText;  // typed into the drive box; null keeps the start-up text
    const char* fileText;
    bool browse;            // the file comes through Browser...
    INT_PTR confirm;
    // Expected: the message box (null: none), the log line (null: none), a run.
    const char* message;
    const char* caption;
    UINT style;
    const char* logLine;
    bool runs;
    // The name another program locked the drive by, as its driver gives it.
    const char* lockHolder = nullptr;
};

constexpr UINT kStop = 0x10;
const char kBatteryLow[] =
    "The battery is too low to upgrade the firmware safely. Connect the computer to mains "
    "power and press Upgrade again.";
// 70 bytes from the driver: only 64 are a name, and some of those no caller may use.
const char kForeignHolder[] =
    "Burn\xE9(Pro) 2.0/x"
    "AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA";
const char kInUse[] =
    "The drive is in use by \"Burn??Pro? 2.0?xAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA\". "
    "Close that program, then press Upgrade again.";

const CommandCase kCases[] = {
    {"empty file box", {{"VENDOR  MODEL", "1.00"}}, nullptr, "", false, IDOK,
     "You must input HEX file", "File Not Found!!", kStop, nullptr, false},
    {"upper-case .HEX runs", {{"VENDOR  MODEL", "1.00"}}, nullptr, "D:\\fw\\IMAGE.HEX", false,
     IDOK, nullptr, nullptr, 0, nullptr, true},
    {".bin runs", {{"VENDOR  MODEL", "1.00"}}, nullptr, "D:\\fw\\image.bin", false, IDOK,
     nullptr, nullptr, 0, nullptr, true},
    {"typed name of 26 characters", {{"VENDOR  MODEL", "1.00"}},
     "ABCDEFGHIJKLMNOPQRSTUVWXYZ", "a.hex", false, IDOK, nullptr, nullptr, 0,
     "Drive model doesn't match!", false},
    {"no drive and an empty box", {}, nullptr, "a.bin", false, IDOK, "No Target Drive.",
     "Error!!", kStop, nullptr, false},
    {"browsed, warning cancelled", {{"VENDOR  MODEL", "1.00"}}, nullptr, "D:\\fw\\a.hex", true,
     IDCANCEL, nullptr, nullptr, 0, nullptr, false},
    {"browsed, warning confirmed", {{"VENDOR  MODEL", "1.00"}}, nullptr, "D:\\fw\\a.hex", true,
     IDOK, nullptr, nullptr, 0, nullptr, true},
    {"another program holds the drive", {{"VENDOR  MODEL", "1.00"}}, nullptr, "a.bin", false,
     IDOK, kInUse, "Error!!", kStop, nullptr, false, kForeignHolder},
};

class UpgradeCommandTest : public ::testing::TestWithParam<CommandCase> {};

TEST_P(UpgradeCommandTest, StopsWithItsMessageOrStartsTheRun) {
    const CommandCase& c = GetParam();
    apptest::ResetFakes();
    TheFakes().drives = c.drives;
    TheFakes().confirmAnswer = c.confirm;
    TheFakes().lockHolder = c.lockHolder ? c.lockHolder : "";
    RunningWindow window;
    if (c.driveText) window.SetText(IDC_DRIVE_BOX, c.driveText);
    if (c.browse) {
        TheFakes().chosenFile = c.fileText;
        window.Click(IDC_BROWSE);
    } else {
        window.SetText(IDC_FILE_BOX, c.fileText);
    }
    window.Click(IDC_UPGRADE);

    if (c.message) {
        ASSERT_EQ(TheFakes().messages.size(), 1u) << c.what;
        EXPECT_EQ(TheFakes().messages[0].text, c.message) << c.what;
        EXPECT_EQ(TheFakes().messages[0].caption, c.caption) << c.what;
        EXPECT_EQ(TheFakes().messages[0].style, c.style) << c.what;
    } else {
        EXPECT_TRUE(TheFakes().messages.empty()) << c.what << ": " << TheFakes().messages[0].text;
    }
    std::string log = window.Text(IDC_LOG);
    if (c.logLine) {
        EXPECT_EQ(log, c.logLine) << c.what;
    }
    EXPECT_EQ(TheFakes().confirmCalls, c.browse ? 1 : 0) << c.what;
    if (c.runs) {
        ASSERT_TRUE(window.WaitFor([] { return TheFakes().engineRuns == 1; })) << c.what;
        // The job's hold hands the engine the lock's handle and holder.
        EXPECT_NE(TheFakes().lastJob.hold.CommandHandle, nullptr) << c.what;
        EXPECT_NE(TheFakes().lastJob.hold.OtherHolder, nullptr) << c.what;
        ASSERT_TRUE(window.WaitFor([&] { return IsWindowEnabled(window.Item(IDCANCEL)) != 0; }));
        EXPECT_FALSE(IsWindowEnabled(window.Item(IDC_UPGRADE))) << c.what;
    } else {
        Sleep(50);
        EXPECT_EQ(TheFakes().engineRuns, 0) << c.what;
        EXPECT_TRUE(IsWindowEnabled(window.Item(IDCANCEL))) << c.what;
        EXPECT_TRUE(IsWindowEnabled(window.Item(IDC_UPGRADE))) << c.what;
        EXPECT_FALSE(window.Dialog().IsRunInProgress()) << c.what;
    }
}

INSTANTIATE_TEST_SUITE_P(Checks, UpgradeCommandTest, ::testing::ValuesIn(kCases));

TEST(UpgradeCommand, JobCarriesTheChosenDriveTheLowerCasedPathAndTheTransport) {
    apptest::ResetFakes();
    TheFakes().drives = {{"FIRST", "1.11"}, {"SECOND", "2.22"}};
    TheFakes().usePassThrough = 0;
    RunningWindow window;
    window.SetText(IDC_DRIVE_BOX, "FIRST(0)");
    window.SetText(IDC_FILE_BOX, "D:\\fw\\IMAGE.HEX");
    window.Click(IDC_UPGRADE);
    ASSERT_TRUE(window.WaitFor([] { return TheFakes().engineRuns == 1; }));
    const telvio::UpdateJob& job = TheFakes().lastJob;
    EXPECT_STREQ(job.drive.displayName, "FIRST(0)");
    EXPECT_EQ(job.drive.adapter, 0);
    EXPECT_STREQ(job.imagePath, "D:\\fw\\IMAGE.hex");
    EXPECT_EQ(job.isHexFile, 1);
    EXPECT_EQ(job.UsePassThrough, 0);
    EXPECT_NE(job.AppendLog, nullptr);
    EXPECT_NE(job.IsStopRequested, nullptr);
    EXPECT_EQ(job.IsStopRequested(), 0);
}

TEST(UpgradeCommand, AfterAFoundDriveAShortTypedNameMustAgreeWithIt) {
    apptest::ResetFakes();
    TheFakes().drives = {{"PLEXTOR PX", "1.00"}};
    TheFakes().confirmAnswer = IDCANCEL;
    RunningWindow window;
    window.Click(IDC_BROWSE);  // the warning stops the first command once the job is filled
    window.SetText(IDC_FILE_BOX, "a.hex");
    window.Click(IDC_UPGRADE);
    ASSERT_EQ(TheFakes().confirmCalls, 1);
    EXPECT_EQ(TheFakes().warnedModel, "PLEXTOR PX(0)");
    EXPECT_EQ(TheFakes().warnedRevision, "1.00");

    window.SetText(IDC_DRIVE_BOX, "SOMETHING ELSE");
    window.Click(IDC_UPGRADE);
    EXPECT_EQ(window.Text(IDC_LOG), "Drive model doesn't match!");
    EXPECT_EQ(TheFakes().confirmCalls, 1);
    EXPECT_TRUE(IsWindowEnabled(window.Item(IDCANCEL)));
}

// An image file in the temporary folder, removed when the object goes.
struct ImageFile {
    std::string path;
    ImageFile(const char* name, const std::string& bytes) {
        char dir[MAX_PATH];
        GetTempPathA(sizeof dir, dir);
        path = dir + ("telvio-app-" + std::to_string(GetCurrentProcessId())) + name;
        std::ofstream(path, std::ios::binary) << bytes;
    }
    ~ImageFile() { DeleteFileA(path.c_str()); }
};

// After a question answered No: nothing logged, the window idle, and `next`, a file
// nothing is asked about, then runs after the one question already asked.
void ExpectIdleThenRuns(RunningWindow& window, const std::string& next, const char* why) {
    EXPECT_EQ(window.Text(IDC_LOG), "");
    EXPECT_TRUE(IsWindowEnabled(window.Item(IDCANCEL)));
    EXPECT_TRUE(IsWindowEnabled(window.Item(IDC_UPGRADE)));
    window.SetText(IDC_FILE_BOX, next);
    window.Click(IDC_UPGRADE);
    ASSERT_TRUE(window.WaitFor([] { return TheFakes().engineRuns == 1; }));
    EXPECT_EQ(TheFakes().messages.size(), 1u) << why;
}

const char kQuestion[] =
    "This file does not name the drive \"SIM DVD-RW\".\nFirmware for another model can leave "
    "the drive unusable.\n\nUpgrade with this file anyway?";

TEST(UpgradeCommand, AsksBeforeSendingAnImageThatDoesNotNameTheDrive) {
    const std::string firmware = std::string(300, '\x5A') + "SIM DVD-RW" + std::string(300, '\x00');
    ImageFile named("-named.bin", firmware);
    ImageFile other("-other.bin", std::string(600, '\x5A') + "OTHER DRIVE");
    ImageFile empty("-empty.bin", "");
    // "SIM DVD-RW" in the records' bytes only: the text holds its digits.
    ImageFile hex("-named.hex", ":0A00000053494D204456442D525739\r\n:00000001FF\r\n");
    struct Case {
        const char* what;
        std::string product;
        const ImageFile& image;
        int answer;
        bool asked;
        bool runs;
    } cases[] = {
        {"another model's file, No", "SIM DVD-RW      ", other, IDNO, true, false},
        {"another model's file, Yes", "SIM DVD-RW      ", other, IDYES, true, true},
        {"the name in the HEX records", "SIM DVD-RW      ", hex, IDNO, false, true},
        {"the drive gives no name", "                ", other, IDNO, false, true},
        {"a file the run will refuse", "SIM DVD-RW", empty, IDNO, false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        apptest::ResetFakes();
        TheFakes().drives = {{"TELVIOSMSIM DVD-RW", "1.00", c.product}};
        TheFakes().messageAnswer = c.answer;
        RunningWindow window;
        window.SetText(IDC_FILE_BOX, c.image.path);
        window.Click(IDC_UPGRADE);
        if (c.asked) {
            ASSERT_EQ(TheFakes().messages.size(), 1u);
            EXPECT_EQ(TheFakes().messages[0].text, kQuestion);
            EXPECT_EQ(TheFakes().messages[0].caption, "Warning!!");
            EXPECT_EQ(TheFakes().messages[0].style, 0x134u);
        } else {
            EXPECT_TRUE(TheFakes().messages.empty());
        }
        if (c.runs) {
            ASSERT_TRUE(window.WaitFor([] { return TheFakes().engineRuns == 1; }));
            continue;
        }
        // Declined: nothing started, nothing logged, and another file may be tried.
        Sleep(50);
        EXPECT_EQ(TheFakes().engineRuns, 0);
        ExpectIdleThenRuns(window, named.path, "asked again about a file that names it");
    }
}

// The drive's firmware as it keeps its INQUIRY reply: identification, then revision.
std::string FirmwareAt(const std::string& revision) {
    return std::string(300, '\x5A') + "TELVIOSMSIM DVD-RW      " + revision + std::string(300, 0);
}

std::string SameRevisionQuestion(const char* revision) {
    return std::string("The drive \"SIM DVD-RW\" already runs revision ") + revision +
           ", the revision in this file.\nFlash it again only to repair a drive that "
           "misbehaves.\n\nUpgrade with this file anyway?";
}

TEST(UpgradeCommand, AsksBeforeFlashingTheRevisionTheDriveRuns) {
    ImageFile same("-same.bin", FirmwareAt("1.00"));
    ImageFile padded("-padded.bin", FirmwareAt("1.0 "));
    ImageFile newer("-newer.bin", FirmwareAt("2.00"));
    ImageFile both("-both.bin", FirmwareAt("1.00") + FirmwareAt("2.00"));
    struct Case {
        const char* what;
        const char* running;
        const ImageFile& image;
        int answer;
        const char* asked;  // the revision the question names; null: none
        bool runs;
        bool batteryLow = false;
    } cases[] = {
        {"the running revision, No", "1.00", same, IDNO, "1.00", false},
        {"the running revision, Yes", "1.00", same, IDYES, "1.00", true},
        {"padding trimmed on both sides", "1.0 ", padded, IDNO, "1.0", false},
        {"a newer revision", "1.00", newer, IDNO, nullptr, true},
        {"two revisions in the file", "1.00", both, IDNO, nullptr, true},
        // The battery is checked after the question, and only when the user goes on.
        {"Yes, then the battery", "1.00", same, IDYES, "1.00", false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        apptest::ResetFakes();
        TheFakes().drives = {{"TELVIOSMSIM DVD-RW      ", c.running, "SIM DVD-RW      "}};
        TheFakes().messageAnswer = c.answer;
        TheFakes().powerKnown = c.batteryLow;
        TheFakes().power.ACLineStatus = 0;
        TheFakes().power.BatteryLifePercent = 5;
        RunningWindow window;
        window.SetText(IDC_FILE_BOX, c.image.path);
        window.Click(IDC_UPGRADE);
        if (c.asked) {
            ASSERT_EQ(TheFakes().messages.size(), c.batteryLow ? 2u : 1u);
            EXPECT_EQ(TheFakes().messages[0].text, SameRevisionQuestion(c.asked));
            EXPECT_EQ(TheFakes().messages[0].caption, "Warning!!");
            EXPECT_EQ(TheFakes().messages[0].style, 0x134u);
            if (c.batteryLow) {
                EXPECT_EQ(TheFakes().messages[1].text, kBatteryLow);
            }
        } else {
            EXPECT_TRUE(TheFakes().messages.empty()) << TheFakes().messages[0].text;
        }
        if (c.runs) {
            ASSERT_TRUE(window.WaitFor([] { return TheFakes().engineRuns == 1; }));
            continue;
        }
        Sleep(50);
        EXPECT_EQ(TheFakes().engineRuns, 0);
        if (c.batteryLow) continue;
        // Declined: nothing started, nothing logged, and another file may be tried.
        ExpectIdleThenRuns(window, newer.path, "asked again about another revision");
    }
}

}  // namespace
