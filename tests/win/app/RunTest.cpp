// A run in progress: the window refuses every way of ending, and Windows' shutdown, until
// the worker is done; the callbacks reach the controls; the log keeps every line.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <string>

#include "resources/resource.h"
#include "tests/win/app/AppHarness.h"

using apptest::RunningWindow;
using apptest::TheFakes;

namespace {

const DWORD kAwake = ES_CONTINUOUS | ES_SYSTEM_REQUIRED | ES_DISPLAY_REQUIRED;
const std::vector<DWORD> kAwakeThenCleared = {kAwake, ES_CONTINUOUS};

// An engine that holds the run open until the test lets it go.
struct HeldEngine {
    HANDLE release = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    std::atomic<bool> entered{false};
    std::vector<DWORD> statesAtVerdict;
    int powerRequestsAtVerdict = 0;
    HWND log = nullptr;
    std::string logAtVerdict;  // as the window showed it once the verdict was logged
    ~HeldEngine() { CloseHandle(release); }
};
HeldEngine* held = nullptr;

void StartHeldRun(RunningWindow& window) {
    TheFakes().engine = [](const telvio::UpdateJob& job, telvio::RunOutcome&) {
        job.SetStatusText("Updating.....");
        job.SetProgress(40);
        held->entered = true;
        WaitForSingleObject(held->release, 20000);
        job.AppendLog("Please Restart Your Computer.");
        held->statesAtVerdict = TheFakes().executionStates;
        held->powerRequestsAtVerdict = TheFakes().powerRequestsOpen;
        char text[64] = {};
        GetWindowTextA(held->log, text, sizeof text);
        held->logAtVerdict = text;
        job.SetDriveText("");
        job.SetRevisionText("");
        job.SetStatusText("");
    };
    held->log = window.Item(IDC_LOG);
    window.SetText(IDC_FILE_BOX, "a.bin");
    window.Press('u', true);  // the access key clicks Upgrade, which takes the focus
    ASSERT_TRUE(window.WaitFor([] { return held->entered.load(); }));
}

TEST(Run, NoRouteEndsTheWindowWhileARunIsInProgress) {
    apptest::ResetFakes();
    // COM's waits in the release of a taskbar list deliver the worker's progress.
    TheFakes().progressOnRelease = 40;
    HeldEngine engine;
    held = &engine;
    RunningWindow window;
    window.Send(TheFakes().taskbarMessage);
    StartHeldRun(window);

    EXPECT_FALSE(IsWindowEnabled(window.Item(IDCANCEL)));
    EXPECT_FALSE(IsWindowEnabled(window.Item(IDC_UPGRADE)));
    EXPECT_EQ(window.Text(IDC_STATUS), "Updating.....");
    EXPECT_EQ(SendMessageA(window.Item(IDC_PROGRESS), PBM_GETPOS, 0, 0), 40);
    HMENU menu = GetSystemMenu(window.Hwnd(), FALSE);
    EXPECT_TRUE(GetMenuState(menu, SC_CLOSE, MF_BYCOMMAND) & MF_GRAYED);
    // Kept awake from before the engine's first command ...
    EXPECT_EQ(TheFakes().executionStates, std::vector<DWORD>{kAwake});
    EXPECT_EQ(TheFakes().lockTakes, 1);
    EXPECT_EQ(TheFakes().lockReleases, 0);

    // Every way a window is asked to end: Close or Esc (the cancel command), Enter,
    // the close box and Alt+F4 (SC_CLOSE), and WM_CLOSE from anyone.
    window.Command(IDCANCEL);
    window.Command(IDOK);
    window.Send(WM_SYSCOMMAND, SC_CLOSE);
    window.Send(WM_CLOSE);
    window.Send(WM_SYSKEYDOWN, VK_F4, 1u << 29);
    LRESULT shutdown = window.Send(WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF);
    Sleep(100);  // anything posted by those has been dispatched by now
    EXPECT_EQ(shutdown, FALSE);
    EXPECT_TRUE(IsWindow(window.Hwnd()));
    EXPECT_EQ(window.WaitEnded(100), -2);

    // A second click during the run starts nothing, and a file dropped on the window
    // changes nothing.
    window.Click(IDC_UPGRADE);
    EXPECT_EQ(TheFakes().engineRuns, 1);
    HGLOBAL drop = apptest::MakeDrop({L"D:\\other.bin"});
    window.Send(WM_DROPFILES, reinterpret_cast<WPARAM>(drop));
    EXPECT_TRUE(apptest::DropFreed(drop));
    EXPECT_EQ(window.Text(IDC_FILE_BOX), "a.bin");
    // Explorer starting again makes the button again: the old list is not used once let go.
    window.Send(TheFakes().taskbarMessage);
    EXPECT_EQ(TheFakes().taskbarOpens, 2);
    EXPECT_EQ(TheFakes().taskbarCloses, 1);

    SetEvent(engine.release);
    ASSERT_TRUE(window.WaitFor([&] { return !window.Dialog().IsRunInProgress(); }));
    window.Send(WM_NULL);  // the end of the run has been handled in full
    EXPECT_TRUE(IsWindowEnabled(window.Item(IDCANCEL)));
    EXPECT_EQ(window.Text(IDCANCEL), "Close");
    EXPECT_FALSE(IsWindowEnabled(window.Item(IDC_UPGRADE)));
    EXPECT_FALSE(GetMenuState(menu, SC_CLOSE, MF_BYCOMMAND) & MF_GRAYED);
    EXPECT_EQ(window.Text(IDC_DRIVE_BOX), "");
    EXPECT_EQ(window.Text(IDC_REVISION), "");
    EXPECT_EQ(window.Text(IDC_STATUS), "");
    EXPECT_EQ(window.Text(IDC_LOG), "Please Restart Your Computer.");
    EXPECT_EQ(engine.statesAtVerdict, std::vector<DWORD>{kAwake}) << "... to after the verdict";
    EXPECT_EQ(TheFakes().executionStates, kAwakeThenCleared);
    EXPECT_EQ(engine.powerRequestsAtVerdict, 1);
    EXPECT_EQ(TheFakes().powerRequestsOpen, 0);
    EXPECT_NE(window.Send(WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF), FALSE);
    EXPECT_EQ(TheFakes().lockReleases, 1) << "the machine's upgrade given back with the run";

    // One run per start of the program: even an Upgrade command sent straight to the
    // window, with a drive named and a browsed file, shows nothing and sends nothing.
    window.SetText(IDC_DRIVE_BOX, "VENDOR  MODEL(0)");
    TheFakes().chosenFile = "b.bin";
    window.Click(IDC_BROWSE);
    window.Command(MAKEWPARAM(IDC_UPGRADE, BN_CLICKED));
    Sleep(50);
    EXPECT_EQ(TheFakes().engineRuns, 1);
    EXPECT_EQ(TheFakes().confirmCalls, 0);
    EXPECT_TRUE(TheFakes().messages.empty());
    window.Command(IDCANCEL);
    EXPECT_EQ(window.WaitEnded(), IDCANCEL);
    EXPECT_EQ(TheFakes().taskbarCloses, 2);
    EXPECT_EQ(TheFakes().taskbarCallsAfterRelease, 0);
    held = nullptr;
}

// Upgrade, clicked by its access key, goes off with the focus in it: the keyboard goes on in
// the log, and Close has the focus once the run is over.
TEST(Focus, ARunMovesItToTheLogAndThenToClose) {
    apptest::ResetFakes();
    HeldEngine engine;
    held = &engine;
    RunningWindow window;
    StartHeldRun(window);
    EXPECT_EQ(window.AwaitFocus(IDC_LOG), IDC_LOG);
    SetEvent(engine.release);
    EXPECT_EQ(window.AwaitFocus(IDCANCEL), IDCANCEL);
    held = nullptr;
}

// A handler that throws mid-run (here out of memory in the taskbar's progress) cannot end
// the window under the worker: the run goes on to its verdict, and only then does the
// program end with its start-up box.
TEST(Run, ExceptionInAHandlerWaitsForTheEndOfTheRun) {
    apptest::ResetFakes();
    TheFakes().throwAtProgress = 40;
    HeldEngine engine;
    held = &engine;
    RunningWindow program(true);
    program.Send(TheFakes().taskbarMessage);
    StartHeldRun(program);
    EXPECT_EQ(TheFakes().throwAtProgress, -1) << "thrown";
    Sleep(100);
    EXPECT_TRUE(IsWindow(program.Hwnd()));
    EXPECT_EQ(TheFakes().releaseCalls, 0) << "the worker's transport is kept";
    EXPECT_TRUE(TheFakes().messages.empty());

    SetEvent(engine.release);
    EXPECT_EQ(program.WaitEnded(), 1);
    EXPECT_EQ(engine.logAtVerdict, "Please Restart Your Computer.");
    EXPECT_EQ(TheFakes().executionStates, kAwakeThenCleared);
    EXPECT_EQ(TheFakes().releaseCalls, 1);
    ASSERT_EQ(TheFakes().messages.size(), 1u);
    EXPECT_EQ(TheFakes().messages[0].text, "Telvio cannot start: std::bad_alloc (error 0).");
    held = nullptr;
}

// The fakes above record what the window asks; the program's own look-ups must also reach
// the system's calls where they exist (Wine has both).
TEST(Run, RealLookupsReachTheSystem) {
    const telvio::AppServices& real = telvio::DefaultServices();
    real.SetExecutionState(kAwake);
    EXPECT_EQ(real.SetExecutionState(ES_CONTINUOUS), kAwake) << "the first call took effect";
    SYSTEM_POWER_STATUS power;
    std::memset(&power, 0xEE, sizeof power);
    ASSERT_TRUE(real.GetPowerStatus(&power));
    EXPECT_NE(power.ACLineStatus, 0xEE);
    EXPECT_NE(real.TaskbarButtonMessage(nullptr), 0u);
    // Wine 8 has the taskbar list (its progress calls do nothing): through COM, ole32
    // loaded when asked, and the interface declared here.
    telvio::TaskbarList* list = real.OpenTaskbarList();
    ASSERT_NE(list, nullptr);
    real.ShowTaskbarProgress(list, GetDesktopWindow(), telvio::TaskbarState::Normal, 40);
    real.CloseTaskbarList(list);
}

// The taskbar button through a fake taskbar: it follows the bar, shows the drive's
// programming time as indeterminate and ends cleared or in the error state; a window not
// in front has its button flashed when the run ends. Without a taskbar list, nothing. An
// exception out of the engine ends the run as a failure too, with its own line, and
// leaves the window to be closed. The window reads the verdict from the outcome alone.
TEST(Run, TaskbarButtonFollowsTheRun) {
    using S = telvio::TaskbarState;
    struct Case {
        const char* name;
        bool fails;
        bool inFront;
        bool taskbar;
        bool throws = false;
    };
    const Case cases[] = {{"good run, window behind", false, false, true},
                          {"failed run, window in front", true, true, true},
                          {"no taskbar list, as on 98 to Vista", false, false, false},
                          {"fault on the worker", true, true, true, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        apptest::ResetFakes();
        TheFakes().taskbarAvailable = c.taskbar;
        const Case run = c;
        TheFakes().engine = [run](const telvio::UpdateJob& job, telvio::RunOutcome& outcome) {
            job.SetStatusText("Updating.....");
            for (int p : {0, 5, 10}) job.SetProgress(p);
            if (run.throws) throw std::runtime_error("injected");
            if (run.fails) {
                outcome.succeeded = false;
                job.AppendLog("Flashing is incorrect!!");
                return;
            }
            // 15 before the save, then a bank's wait, then the waits are over.
            for (int p : {15, 20, 90, 100}) job.SetProgress(p);
            job.AppendLog("Please Restart Your Computer.");
        };
        RunningWindow window;
        TheFakes().foreground = c.inFront ? window.Hwnd() : nullptr;
        ASSERT_NE(TheFakes().taskbarMessage, 0u);
        window.Send(TheFakes().taskbarMessage);
        EXPECT_EQ(TheFakes().taskbarOpens, 1);
        window.SetText(IDC_FILE_BOX, "a.bin");
        window.Click(IDC_UPGRADE);
        ASSERT_TRUE(window.WaitFor([&] { return IsWindowEnabled(window.Item(IDCANCEL)) != 0; }));
        window.Send(WM_NULL);  // the end of the run has been handled in full

        std::vector<std::pair<S, int>> expected;
        if (c.taskbar) {
            expected = {{S::None, 0}, {S::Normal, 0}, {S::Normal, 5}, {S::Normal, 10}};
            if (c.fails) {
                expected.insert(expected.end(), {{S::Error, 10}, {S::Error, 10}});
            } else {
                expected.insert(expected.end(), {{S::Indeterminate, 15},
                                                 {S::Indeterminate, 20},
                                                 {S::Normal, 90},
                                                 {S::Normal, 100},
                                                 {S::None, 100}});
            }
        }
        EXPECT_EQ(TheFakes().taskbarShown, expected);
        EXPECT_EQ(TheFakes().flashes, c.inFront ? 0 : 1);
        if (c.throws) {
            EXPECT_EQ(window.Text(IDC_LOG),
                      "ERR: internal error, the upgrade was stopped.\r\nFlashing is incorrect!!");
            EXPECT_EQ(window.Text(IDC_STATUS), "");
            EXPECT_EQ(window.Text(IDCANCEL), "Close");
            EXPECT_EQ(TheFakes().executionStates, kAwakeThenCleared);
        }
        window.Command(IDCANCEL);
        EXPECT_EQ(window.WaitEnded(), IDCANCEL);
        EXPECT_EQ(TheFakes().taskbarCloses, c.taskbar ? 1 : 0);
    }
}

// After a run that left the drive perhaps still programming (what the window refuses
// meanwhile: the e2e case save-no-answer), the status line counts down, then everything is
// given back, sleep too; the machine's upgrade only when the drive is not held to the end.
// A fault past the first WRITE BUFFER is such a run too (one before it is not: the case
// "fault on the worker" above).
TEST(Run, TheWaitAfterADriveThatMayStillProgramEndsWithEverythingGivenBack) {
    const std::string line = telvio::kMayStillProgramLine;
    for (bool throws : {false, true}) {
        SCOPED_TRACE(throws ? "a fault after the first WRITE BUFFER" : "no answer, still held");
        apptest::ResetFakes();
        TheFakes().engine = [throws](const telvio::UpdateJob& job, telvio::RunOutcome& outcome) {
            outcome.downloadBegun = true;  // as the engine notes before its first WRITE BUFFER
            if (throws) throw std::runtime_error("injected");
            outcome.mayBeProgramming = true;
            outcome.holdKept = true;
            job.AppendLog(telvio::kMayStillProgramLine);
            job.AppendLog("Please Restart Your Computer.");
        };
        RunningWindow window;
        window.SetText(IDC_FILE_BOX, "a.bin");
        window.Click(IDC_UPGRADE);
        ASSERT_TRUE(window.WaitFor([&] { return window.Text(IDC_STATUS) == "Wait 0:01"; }));
        EXPECT_FALSE(IsWindowEnabled(window.Item(IDCANCEL)));
        EXPECT_EQ(TheFakes().executionStates, (std::vector<DWORD>{kAwake, kAwake, ES_CONTINUOUS}));
        EXPECT_EQ(TheFakes().powerRequestsOpen, 1);
        ASSERT_TRUE(window.WaitFor([&] { return IsWindowEnabled(window.Item(IDCANCEL)) != 0; }));
        window.Send(WM_NULL);  // the end of the wait has been handled in full
        EXPECT_EQ(window.Text(IDC_STATUS), "");
        EXPECT_EQ(window.Text(IDCANCEL), "Close");
        EXPECT_NE(window.Send(WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF), FALSE);
        EXPECT_EQ(TheFakes().executionStates,
                  (std::vector<DWORD>{kAwake, kAwake, ES_CONTINUOUS, ES_CONTINUOUS}));
        EXPECT_EQ(TheFakes().powerRequestsOpen, 0);
        EXPECT_EQ(TheFakes().lockName, "Global\\TelvioDriveUpgrade");
        EXPECT_EQ(TheFakes().lockReleases, throws ? 1 : 0);
        if (throws) {
            EXPECT_EQ(window.Text(IDC_LOG), "ERR: internal error, the upgrade was stopped.\r\n" +
                                                line + "\r\nFlashing is incorrect!!");
        }
        window.Command(IDCANCEL);
        EXPECT_EQ(window.WaitEnded(), IDCANCEL);
    }
}

// Far past the 511 characters after which the log used to lose its lines.
constexpr int kLines = 200;

TEST(Run, LogKeepsEveryLineInOrderAndShowsTheLast) {
    apptest::ResetFakes();
    TheFakes().engine = [](const telvio::UpdateJob& job, telvio::RunOutcome& outcome) {
        char line[64];
        job.AppendLog("Check Sum : 1A2B");
        for (int i = 0; i < kLines; ++i) {
            std::snprintf(line, sizeof line, "Execute command error!! %2X/%2X/%2X", 2, 4, i % 256);
            job.AppendLog(line);
        }
        outcome.succeeded = false;
        job.AppendLog("Flashing is incorrect!!");
    };
    RunningWindow window;
    window.SetText(IDC_FILE_BOX, "a.hex");
    window.Click(IDC_UPGRADE);
    ASSERT_TRUE(
        window.WaitFor([&] { return IsWindowEnabled(window.Item(IDCANCEL)) != 0; }, 60000));

    std::string expected = "Check Sum : 1A2B";
    char line[64];
    for (int i = 0; i < kLines; ++i) {
        std::snprintf(line, sizeof line, "\r\nExecute command error!! %2X/%2X/%2X", 2, 4, i % 256);
        expected += line;
    }
    expected += "\r\nFlashing is incorrect!!";
    HWND log = window.Item(IDC_LOG);
    EXPECT_EQ(window.Text(IDC_LOG), expected);
    EXPECT_EQ(TheFakes().executionStates, kAwakeThenCleared) << "a failed run sleeps again too";
    EXPECT_EQ(SendMessageA(log, EM_GETLINECOUNT, 0, 0), kLines + 2);
    // The last line is in view: its first character lies inside the client area.
    LRESULT lastLineStart = SendMessageA(log, EM_LINEINDEX, kLines + 1, 0);
    LRESULT pos = SendMessageA(log, EM_POSFROMCHAR, WPARAM(lastLineStart), 0);
    RECT client;
    GetClientRect(log, &client);
    ASSERT_NE(pos, -1);
    int y = short(HIWORD(pos));
    EXPECT_GE(y, 0);
    EXPECT_LT(y, client.bottom);
    EXPECT_GT(SendMessageA(log, EM_GETFIRSTVISIBLELINE, 0, 0), kLines - 20);
}

}  // namespace
