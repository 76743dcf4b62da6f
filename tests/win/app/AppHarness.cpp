#include "tests/win/app/AppHarness.h"

#include <objbase.h>
#include <shlobj.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <new>
#include <utility>

#include "app/StartUp.h"
#include "app/Taskbar.h"
#include "drive/Discovery.h"

namespace apptest {

namespace {

// Under Wine stdout is a pipe and fully buffered: a test that hangs would show nothing.
const int kUnbuffered = (std::setvbuf(stdout, nullptr, _IONBF, 0), 0);

Fakes fakes;
std::deque<telvio::DriveRecord> records;  // stable addresses for the table

void FakeSelectPlatform(telvio::TransportState& state) {
    state.UsePassThrough = fakes.usePassThrough;
    state.isNT4OrOlder = fakes.isNT4OrOlder;
}

uint8_t FakeBindAspi(telvio::TransportState&, HWND) {
    return fakes.bindResult;
}

void FakeDiscoverDrives(telvio::TransportState&, telvio::DriveTable& table) {
    ++fakes.discoverCalls;
    if (fakes.discoverThrows) throw std::bad_alloc();
    table.driveCount = 0;
    for (const FakeDrive& d : fakes.drives) {
        if (table.driveCount >= telvio::kDriveTableSlots) break;
        records.emplace_back();
        telvio::DriveRecord& r = records.back();
        r = telvio::DriveRecord{};
        std::strncpy(r.displayName, d.name.c_str(), 24);
        std::strncpy(r.identification, d.name.c_str(), 24);
        std::strncpy(r.revision, d.revision.c_str(), 4);
        std::strncpy(r.product, d.product.c_str(), 16);
        r.adapter = uint8_t(table.driveCount);  // tells the records apart in the job
        r.target = 3;
        table.records[table.driveCount++] = &r;
    }
}

void FakeClassifyDrives(telvio::DriveTable&) {
    ++fakes.classifyCalls;
}

uint8_t FakeReleaseTransport(telvio::TransportState&, telvio::DriveTable&) {
    ++fakes.releaseCalls;
    return 1;
}

int FakeShowMessage(HWND, const char* text, const char* caption, UINT style) {
    fakes.messages.push_back({text, caption, style});
    return fakes.messageAnswer;
}

DWORD FakeQueryCurrentDirectory(DWORD size, char* buffer) {
    return GetCurrentDirectoryA(size, buffer);
}

INT_PTR FakeConfirmUpgrade(HWND owner, const char* model, const char* revision) {
    ++fakes.confirmCalls;
    fakes.warnedModel = model;
    fakes.warnedRevision = revision;
    if (fakes.realWarning) {
        fakes.warningResult = telvio::DefaultServices().ConfirmUpgrade(owner, model, revision);
        return fakes.warningResult;
    }
    return fakes.confirmAnswer;
}

void FakeChooseImageFile(HWND, char* path, DWORD size) {
    std::strncpy(path, fakes.chosenFile.c_str(), size - 1);
    path[size - 1] = '\0';
}

void FakeRunEngine(const telvio::UpdateJob& job, telvio::RunOutcome& outcome) {
    ++fakes.engineRuns;
    fakes.lastJob = job;
    outcome.succeeded = true;
    if (fakes.engine) {
        fakes.engine(job, outcome);
    } else {
        job.AppendLog("Please Restart Your Computer.");
    }
}

DWORD FakeSetExecutionState(DWORD flags) {
    fakes.executionStates.push_back(flags);
    return ES_CONTINUOUS;
}

BOOL FakeGetPowerStatus(SYSTEM_POWER_STATUS* status) {
    if (!fakes.powerKnown) return FALSE;
    *status = fakes.power;
    return TRUE;
}

bool FakeDriveLockedByOther(const telvio::TransportState&, const telvio::DriveRecord&,
                            uint8_t (&holder)[telvio::kCallerNameLength]) {
    if (fakes.lockHolder.empty()) return false;
    std::memcpy(holder, fakes.lockHolder.data(), std::min(fakes.lockHolder.size(), sizeof holder));
    return true;
}

// A name of the tests' own: Wine's taskbar never sends it.
UINT FakeTaskbarButtonMessage(HWND window) {
    fakes.taskbarWindow = window;
    fakes.taskbarMessage = RegisterWindowMessageA("TelvioTestTaskbarButtonCreated");
    return fakes.taskbarMessage;
}

struct FakeTaskbarList {
    bool released = false;
    telvio::TaskbarList* real = nullptr;
};
std::deque<FakeTaskbarList> taskbarLists;

telvio::TaskbarList* FakeOpenTaskbarList() {
    ++fakes.taskbarOpens;
    if (!fakes.taskbarAvailable) return nullptr;
    taskbarLists.emplace_back();
    if (fakes.realTaskbar) {
        const HRESULT started = CoInitialize(nullptr);
        if (SUCCEEDED(started)) CoUninitialize();
        fakes.comBeforeOpen.push_back(started);
        taskbarLists.back().real = telvio::OpenTaskbarList();
    }
    return reinterpret_cast<telvio::TaskbarList*>(&taskbarLists.back());
}

void FakeShowTaskbarProgress(telvio::TaskbarList* list, HWND, telvio::TaskbarState state,
                             int percent) {
    if (reinterpret_cast<FakeTaskbarList*>(list)->released) {
        ++fakes.taskbarCallsAfterRelease;
        return;
    }
    if (percent == fakes.throwAtProgress) {
        fakes.throwAtProgress = -1;
        throw std::bad_alloc();
    }
    fakes.taskbarShown.emplace_back(state, percent);
}

void FakeCloseTaskbarList(telvio::TaskbarList* list) {
    if (list == nullptr) return;
    ++fakes.taskbarCloses;
    auto* fake = reinterpret_cast<FakeTaskbarList*>(list);
    fake->released = true;
    telvio::CloseTaskbarList(std::exchange(fake->real, nullptr));
    if (fakes.progressOnRelease >= 0) {
        SendMessageA(fakes.taskbarWindow, telvio::MainDialog::kProgressMessage,
                     WPARAM(fakes.progressOnRelease), 0);
    }
}

void FakeFlashTaskbarButton(HWND) {
    ++fakes.flashes;
}

HWND FakeForegroundWindow() {
    return fakes.foreground;
}

bool FakeTakeUpgradeLock(const char* name, HANDLE* lock) {
    fakes.lockName = name;
    *lock = nullptr;
    if (fakes.lockHeldElsewhere) return false;
    ++fakes.lockTakes;
    *lock = reinterpret_cast<HANDLE>(&fakes);
    return true;
}

void FakeReleaseUpgradeLock(HANDLE lock) {
    if (lock == reinterpret_cast<HANDLE>(&fakes)) ++fakes.lockReleases;
}

bool FakeUpgradeHeldElsewhere(const char*) {
    return false;
}

HANDLE FakeKeepPowerOn() {
    ++fakes.powerRequestsOpen;
    return reinterpret_cast<HANDLE>(&fakes.powerRequestsOpen);
}

void FakeLetPowerRest(HANDLE request) {
    if (request == reinterpret_cast<HANDLE>(&fakes.powerRequestsOpen)) --fakes.powerRequestsOpen;
}

bool FakeNotAsked(const telvio::TransportState&, const telvio::DriveRecord&) {
    return false;
}

constexpr telvio::AppServices MakeFakeServices() {
    telvio::AppServices services{};
    services.SelectPlatform = &FakeSelectPlatform;
    services.BindAspi = &FakeBindAspi;
    services.DiscoverDrives = &FakeDiscoverDrives;
    services.ClassifyDrives = &FakeClassifyDrives;
    services.ReleaseTransport = &FakeReleaseTransport;
    services.ShowMessage = &FakeShowMessage;
    services.QueryCurrentDirectory = &FakeQueryCurrentDirectory;
    services.ConfirmUpgrade = &FakeConfirmUpgrade;
    services.ChooseImageFile = &FakeChooseImageFile;
    services.RunEngine = &FakeRunEngine;
    services.SetExecutionState = &FakeSetExecutionState;
    services.GetPowerStatus = &FakeGetPowerStatus;
    services.DriveLockedByOther = &FakeDriveLockedByOther;
    services.TaskbarButtonMessage = &FakeTaskbarButtonMessage;
    services.OpenTaskbarList = &FakeOpenTaskbarList;
    services.ShowTaskbarProgress = &FakeShowTaskbarProgress;
    services.CloseTaskbarList = &FakeCloseTaskbarList;
    services.FlashTaskbarButton = &FakeFlashTaskbarButton;
    services.ForegroundWindow = &FakeForegroundWindow;
    services.TakeUpgradeLock = &FakeTakeUpgradeLock;
    services.ReleaseUpgradeLock = &FakeReleaseUpgradeLock;
    services.UpgradeHeldElsewhere = &FakeUpgradeHeldElsewhere;
    services.KeepPowerOn = &FakeKeepPowerOn;
    services.LetPowerRest = &FakeLetPowerRest;
    services.DiscReadable = &FakeNotAsked;
    services.DriveOnExternalBus = &FakeNotAsked;
    services.dataBlockTimeoutSeconds = telvio::kDataBlockTimeoutSeconds;
    services.programmingWaitSeconds = kProgrammingWaitSeconds;
    return services;
}

constexpr telvio::AppServices kFakeServices = MakeFakeServices();

}  // namespace

Fakes& TheFakes() {
    return fakes;
}

const telvio::AppServices& FakeServices() {
    return kFakeServices;
}

namespace {

struct DialogSearch {
    const char* caption;
    HWND except;
    HWND found;
};

BOOL CALLBACK MatchOwnDialog(HWND h, LPARAM p) {
    auto* s = reinterpret_cast<DialogSearch*>(p);
    DWORD pid = 0;
    GetWindowThreadProcessId(h, &pid);
    char text[128] = {}, cls[16] = {};
    GetWindowTextA(h, text, sizeof text);
    GetClassNameA(h, cls, sizeof cls);
    if (pid == GetCurrentProcessId() && h != s->except && IsWindowVisible(h) &&
        std::strcmp(cls, "#32770") == 0 && std::strcmp(text, s->caption) == 0) {
        s->found = h;
        return FALSE;
    }
    return TRUE;
}

// Wine gives each thread that makes windows an X connection of its own and closes it when
// the thread ends; the X server then hands that connection's ids to the next client to
// connect, of this program or another. Drawing requests for the thread's windows that Wine
// still holds unsent on the program's one drawing connection (a window's last painting
// leaves some) then name whatever has the id by then, and a GC made for another program's
// input-only window is "BadMatch (X_CreateGC)", after which Xlib ends this program. Reading
// a pixel of the screen is a round trip on that connection: it sends them while the ids are
// still the thread's. The program itself ends no thread that made windows.
void SendPendingDrawing() {
    if (HDC screen = GetDC(nullptr)) {
        GetPixel(screen, 0, 0);
        ReleaseDC(nullptr, screen);
    }
}

}  // namespace

HWND FindOwnDialog(const char* caption, HWND except) {
    DialogSearch search{caption, except, nullptr};
    EnumWindows(&MatchOwnDialog, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

void ResetFakes() {
    fakes = Fakes{};
    taskbarLists.clear();
    fakes.drives = {{"VENDOR  MODEL", "1.00"}};
}

RunningWindow::RunningWindow(bool asProgram) : dialog_(kFakeServices) {
    if (asProgram) shown_ = nullptr;
    thread_ = telvio::test::TestThread([this, asProgram] {
        result_ = asProgram ? telvio::RunUpgradeApp(kFakeServices) : dialog_.DoModal(nullptr);
        SendPendingDrawing();
        ended_ = true;
    });
    WaitFor([this] {
        if (shown_ == nullptr) shown_ = telvio::ActiveMainDialog;
        return shown_ && shown_->GetHwnd() && IsWindowVisible(shown_->GetHwnd());
    });
    if (shown_ != nullptr) hwnd_ = shown_->GetHwnd();
}

RunningWindow::~RunningWindow() {
    if (!ended_) {
        // A run the test left blocked must not keep the window alive forever.
        WaitFor([this] { return ended_ || !shown_->IsRunInProgress(); }, 120000);
        PostMessageA(hwnd_, WM_COMMAND, IDCANCEL, 0);
    }
    thread_.join();
}

std::string RunningWindow::Text(int id) const {
    std::string text(size_t(SendMessageA(Item(id), WM_GETTEXTLENGTH, 0, 0)) + 1, '\0');
    LRESULT got = SendMessageA(Item(id), WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(&text[0]));
    text.resize(size_t(got));
    return text;
}

void RunningWindow::SetText(int id, const std::string& text) {
    SendMessageA(Item(id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

void RunningWindow::Click(int id) {
    Command(MAKEWPARAM(id, BN_CLICKED));
}

void RunningWindow::Command(WPARAM command) {
    SendMessageA(hwnd_, WM_COMMAND, command, reinterpret_cast<LPARAM>(Item(LOWORD(command))));
}

namespace {

HWND FocusOfThread(HWND window) {
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &info);
    return info.hwndFocus;
}

}  // namespace

void RunningWindow::Press(WPARAM key, bool alt) {
    HWND target = FocusOfThread(hwnd_);
    if (target == nullptr) target = hwnd_;
    PostMessageA(target, alt ? WM_SYSCHAR : WM_KEYDOWN, key, alt ? 1u << 29 : 1);
}

void RunningWindow::Focus(int id) {
    Send(WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(Item(id)), TRUE);
}

int RunningWindow::FocusedId() const {
    // The drive box has the focus in its edit field.
    HWND control = FocusOfThread(hwnd_);
    while (control != nullptr && GetAncestor(control, GA_PARENT) != hwnd_) {
        control = GetAncestor(control, GA_PARENT);
    }
    return control != nullptr ? GetDlgCtrlID(control) : 0;
}

int RunningWindow::AwaitFocus(int id, DWORD ms) {
    WaitFor([&] { return FocusedId() == id; }, ms);
    return FocusedId();
}

LRESULT RunningWindow::Send(UINT msg, WPARAM wParam, LPARAM lParam) {
    return SendMessageA(hwnd_, msg, wParam, lParam);
}

INT_PTR RunningWindow::WaitEnded(DWORD ms) {
    return WaitFor([this] { return ended_; }, ms) ? result_ : -2;
}

bool RunningWindow::WaitFor(const std::function<bool()>& done, DWORD ms) {
    DWORD start = GetTickCount();
    while (!done()) {
        if (GetTickCount() - start > ms) return false;
        Sleep(5);
    }
    return true;
}

HGLOBAL MakeDrop(const std::vector<std::wstring>& names) {
    size_t characters = 1;  // the empty name that ends the list
    for (const std::wstring& name : names) characters += name.size() + 1;
    HGLOBAL drop = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT,
                               sizeof(DROPFILES) + characters * sizeof(wchar_t));
    auto* files = static_cast<DROPFILES*>(GlobalLock(drop));
    files->pFiles = sizeof(DROPFILES);
    files->fWide = TRUE;
    auto* next = reinterpret_cast<wchar_t*>(files + 1);
    for (const std::wstring& name : names) {
        std::memcpy(next, name.c_str(), (name.size() + 1) * sizeof(wchar_t));
        next += name.size() + 1;
    }
    GlobalUnlock(drop);
    return drop;
}

bool DropFreed(HGLOBAL drop) {
    return GlobalFlags(drop) == GMEM_INVALID_HANDLE;
}

}  // namespace apptest
