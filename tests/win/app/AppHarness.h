// Runs the main window on a window thread of its own with fake services, so a test can
// work it through messages from the test thread and look at what it asked of the system.
#pragma once

#include <windows.h>

#include "tests/win/TestThread.h"

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "app/MainDialog.h"

namespace apptest {

struct FakeDrive {
    std::string name;  // INQUIRY vendor + product, up to 24 characters
    std::string revision;
    std::string product{};  // INQUIRY bytes 16..31 as read; empty: blank
};

// The wait after a run that left the drive perhaps still programming, shortened.
constexpr UINT kProgrammingWaitSeconds = 2;

struct ShownMessage {
    std::string text;
    std::string caption;
    UINT style;
};

// What the fakes do and what they saw. One window runs at a time, so one instance serves.
struct Fakes {
    uint8_t usePassThrough = 1;
    uint8_t isNT4OrOlder = 0;
    uint8_t bindResult = 1;
    bool discoverThrows = false;  // discovery runs out of memory
    std::vector<FakeDrive> drives;
    INT_PTR confirmAnswer = IDOK;
    int messageAnswer = IDOK;  // what every message box answers
    bool realWarning = false;  // show the real warning dialog instead of answering
    INT_PTR warningResult = 0;
    std::string chosenFile;
    // What GetPowerStatus reports; without it the system has no such call (NT 4).
    bool powerKnown = false;
    SYSTEM_POWER_STATUS power{};
    // The name another program holds the drive by, as its driver hands it back (at most 64
    // bytes are given); empty: nobody holds it.
    std::string lockHolder;
    // Runs on the worker in place of the engine, given the outcome of a good run to change;
    // the default logs one line.
    std::function<void(const telvio::UpdateJob&, telvio::RunOutcome&)> engine;
    // The taskbar: whether the system gives out a taskbar list, which window is in front.
    bool taskbarAvailable = true;
    // Each list given out holds the system's own as well (COM on the window's thread).
    bool realTaskbar = false;
    HWND foreground = nullptr;
    // Showing this progress on the taskbar throws std::bad_alloc (once).
    int throwAtProgress = -1;
    // Releasing a taskbar list delivers a progress message to the window, as COM's waits
    // deliver the worker's.
    int progressOnRelease = -1;

    int discoverCalls = 0;
    int classifyCalls = 0;
    int releaseCalls = 0;
    int confirmCalls = 0;
    std::string warnedModel, warnedRevision;  // what the last warning was given to show
    int engineRuns = 0;
    telvio::UpdateJob lastJob{};
    std::vector<ShownMessage> messages;
    std::vector<DWORD> executionStates;  // every SetExecutionState, in order
    UINT taskbarMessage = 0;             // what TaskbarButtonMessage answered
    HWND taskbarWindow = nullptr;        // and for which window
    int taskbarOpens = 0;
    int taskbarCloses = 0;  // of a list that was given out
    int taskbarCallsAfterRelease = 0;
    // With realTaskbar, what CoInitialize answered on the window's thread just before each
    // list was opened: S_FALSE while COM was still started there, S_OK after its end.
    std::vector<HRESULT> comBeforeOpen;
    std::vector<std::pair<telvio::TaskbarState, int>> taskbarShown;
    int flashes = 0;
    // The machine's one upgrade: another program holds it; the name asked for, and how
    // often it was taken and given back.
    bool lockHeldElsewhere = false;
    std::string lockName;
    int lockTakes = 0;
    int lockReleases = 0;
    // Windows 7's power requests for the display and the system still made and not ended.
    int powerRequestsOpen = 0;
};

Fakes& TheFakes();
const telvio::AppServices& FakeServices();

class RunningWindow {
  public:
    // Starts the window with the fakes as they stand; waits until it shows. As the program,
    // the window is RunUpgradeApp's, and WaitEnded gives the program's exit code.
    explicit RunningWindow(bool asProgram = false);
    // Ends the window (the cancel command) if it still runs, and joins its thread.
    ~RunningWindow();

    HWND Hwnd() const { return hwnd_; }
    HWND Item(int id) const { return GetDlgItem(hwnd_, id); }
    telvio::MainDialog& Dialog() { return *shown_; }
    std::string Text(int id) const;
    // Types into the file box or the drive box's field (the window's own thread does it).
    void SetText(int id, const std::string& text);
    void Click(int id);
    void Command(WPARAM command);
    // A key as the window's own loop gets it, posted to the control with the focus: a
    // key (VK_TAB, VK_RETURN ...), or with `alt` the character of an access key.
    void Press(WPARAM key, bool alt = false);
    void Focus(int id);
    // The control of the window that holds its thread's focus, 0 for none.
    int FocusedId() const;
    // FocusedId once it is `id`, or as it stands when `ms` have passed: keys and clicks move
    // the focus through the window's own loop. Under Wine a window that another program
    // shows takes the foreground, and this thread's focus with it: the tests that check the
    // focus are the Focus cases, which run alone (tests/win/app/CMakeLists.txt).
    int AwaitFocus(int id, DWORD ms = 5000);
    // Sends a message and returns its result, on the window's thread.
    LRESULT Send(UINT msg, WPARAM wParam = 0, LPARAM lParam = 0);
    // Waits until the dialog has ended; its result, or -2 when it did not end in time.
    INT_PTR WaitEnded(DWORD ms = 5000);
    bool WaitFor(const std::function<bool()>& done, DWORD ms = 5000);

  private:
    telvio::MainDialog dialog_;
    telvio::MainDialog* shown_ = &dialog_;
    telvio::test::TestThread thread_;
    HWND hwnd_ = nullptr;
    volatile bool ended_ = false;
    INT_PTR result_ = -2;
};

// A visible dialog of this process with that caption, other than `except`: tests of other
// programs share the wineserver, and their windows are on the same desktop.
HWND FindOwnDialog(const char* caption, HWND except = nullptr);

// A fresh set of fakes: one NT drive "VENDOR  MODEL" with revision 1.00.
void ResetFakes();

// The memory of a WM_DROPFILES as Explorer hands it over: the names, wide, in one block.
// The window that takes the message frees it.
HGLOBAL MakeDrop(const std::vector<std::wstring>& names);
// Whether `drop` has been freed (DragFinish); asked at once, before anything else could
// take the handle again.
bool DropFreed(HGLOBAL drop);

}  // namespace apptest
