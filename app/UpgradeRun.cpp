#include "app/UpgradeRun.h"

#include <cstdio>
#include <utility>

#include "app/MainDialog.h"
#include "drive/ExclusiveAccess.h"
#include "system/SystemEntry.h"
#include "resources/resource.h"

namespace telvio {

std::atomic<uint8_t> StopFlag{0};

namespace {

// Shutdown-block reasons exist from Vista on; older systems just get the refusal.
using BlockReasonCreate = BOOL(WINAPI*)(HWND, LPCWSTR);
using BlockReasonDestroy = BOOL(WINAPI*)(HWND);

constexpr UINT kWaitTickMs = 1000;

}  // namespace

void FocusItem(HWND dialog, int id) {
    SendMessageA(dialog, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(GetDlgItem(dialog, id)), TRUE);
}

void FocusClose(HWND dialog) {
    if (!(GetWindowLongA(dialog, GWL_STYLE) & WS_DISABLED)) FocusItem(dialog, IDCANCEL);
}

const char* UpgradeRun::LockName(const TransportState& transport) {
    const bool sessions = transport.UsePassThrough == 1 && transport.isNT4OrOlder == 0;
    return sessions ? "Global\\TelvioDriveUpgrade" : "TelvioDriveUpgrade";
}

UpgradeAnswer UpgradeRun::Start(HWND window, const TransportState& transport,
                                const DriveRecord& drive) {
    window_ = window;
    // Nothing before this sends a command; from here on the drive is this window's alone.
    if (!services_.TakeUpgradeLock(LockName(transport), &upgradeLock_)) {
        return Refusal(
            "Another Telvio window is upgrading a drive. Let it finish, then press Upgrade again.");
    }
    // Another program's lock would refuse the first WRITE BUFFER; the user can end it.
    uint8_t holder[kCallerNameLength] = {};
    if (services_.DriveLockedByOther(transport, drive, holder)) {
        char shown[kShownHolderSize];
        ShowHolderName(holder, shown);
        char text[160];
        std::snprintf(text, sizeof text,
                      "The drive is in use by \"%s\". Close that program, then press Upgrade "
                      "again.",
                      shown);
        // Given back before the box, which may stay up a long time: another window may
        // upgrade another drive meanwhile.
        ReleaseUpgradeLock();
        return Refusal(text);
    }
    if (!StartWorker()) return Refusal("The upgrade could not be started.");
    return UpgradeAnswer{};
}

bool UpgradeRun::StartWorker() {
    inProgress_ = true;
    // A disabled button keeps the focus but takes no key: the keyboard goes on in the log.
    if (GetFocus() == GetDlgItem(window_, IDC_UPGRADE)) FocusItem(window_, IDC_LOG);
    // Upgrade goes off before the worker exists, so a second click cannot start another.
    EnableWindow(GetDlgItem(window_, IDC_UPGRADE), FALSE);
    HMENU menu = GetSystemMenu(window_, FALSE);
    if (menu) EnableMenuItem(menu, SC_CLOSE, MF_BYCOMMAND | MF_GRAYED);
    if (auto create = SystemEntry<BlockReasonCreate>("user32.dll", "ShutdownBlockReasonCreate")) {
        create(window_, L"A drive firmware upgrade is in progress.");
    }
    powerRequest_ = services_.KeepPowerOn();
    // Windows 95/98 fail CreateThread when the thread-id pointer is null.
    DWORD threadId = 0;
    HANDLE thread = CreateThread(nullptr, 0, &UpdateWorker, ActiveMainDialog, 0, &threadId);
    if (thread == nullptr) {
        OnFinished();   // gives the machine's upgrade back as well
        done_ = false;  // nothing ran: the user may try again
        EnableWindow(GetDlgItem(window_, IDC_UPGRADE), TRUE);
        return false;
    }
    CloseHandle(thread);
    return true;
}

void UpgradeRun::OnOutcome(const RunOutcome& outcome) {
    outcome_ = outcome;
    outcomeKnown_ = true;
    // The worker keeps the system awake only until it ends; this thread lives through the
    // wait.
    if (outcome.mayBeProgramming) services_.SetExecutionState(kKeepAwake);
}

bool UpgradeRun::OnFinished() {
    StopFlag = 0;
    inProgress_ = false;
    done_ = true;
    if (outcome_.mayBeProgramming) return StartProgrammingWait();
    GiveClosingBack();
    ReleaseUpgradeLock();
    return true;
}

bool UpgradeRun::StartProgrammingWait() {
    waitLeft_ = services_.programmingWaitSeconds;
    // Without a timer the window would refuse to end for ever: it gives everything back now.
    if (waitLeft_ == 0 || SetTimer(window_, kWaitTimer, kWaitTickMs, nullptr) == 0) {
        waitLeft_ = 1;
        return OnWaitTick();
    }
    return false;
}

bool UpgradeRun::OnWaitTick() {
    if (waitLeft_ == 0) return false;
    if (--waitLeft_ > 0) {
        char text[24];
        std::snprintf(text, sizeof text, "Wait %u:%02u", waitLeft_ / 60, waitLeft_ % 60);
        SetDlgItemTextA(window_, IDC_STATUS, text);
        return false;
    }
    KillTimer(window_, kWaitTimer);
    SetDlgItemTextA(window_, IDC_STATUS, "");
    GiveClosingBack();
    services_.SetExecutionState(ES_CONTINUOUS);
    // A drive still held stays this window's until the program ends: so does the
    // machine's one upgrade.
    if (!outcome_.holdKept) ReleaseUpgradeLock();
    FocusClose(window_);
    return true;
}

void UpgradeRun::ReleaseUpgradeLock() {
    services_.ReleaseUpgradeLock(std::exchange(upgradeLock_, nullptr));
}

void UpgradeRun::GiveClosingBack() {
    HWND close = GetDlgItem(window_, IDCANCEL);
    EnableWindow(close, TRUE);
    SetWindowTextA(close, "Close");
    HMENU menu = GetSystemMenu(window_, FALSE);
    if (menu) EnableMenuItem(menu, SC_CLOSE, MF_BYCOMMAND | MF_ENABLED);
    if (auto destroy =
            SystemEntry<BlockReasonDestroy>("user32.dll", "ShutdownBlockReasonDestroy")) {
        destroy(window_);
    }
    services_.LetPowerRest(std::exchange(powerRequest_, nullptr));
}

DWORD WINAPI UpdateWorker(void*) {
    MainDialog* window = ActiveMainDialog;
    if (window == nullptr) return 0;
    const HWND hwnd = window->GetHwnd();
    const AppServices& services = window->services;
    SendMessageA(hwnd, UpgradeRun::kRunStartedMessage, 0, 0);
    // A machine that suspends while the drive programs its flash leaves a dead drive: the
    // system stays awake from the first command to the verdict, whatever the verdict.
    services.SetExecutionState(UpgradeRun::kKeepAwake);
    RunOutcome outcome{};
    bool faulted = false;
    try {
        UpdateJob copy = window->Job();
        services.RunEngine(copy, outcome);
    } catch (...) {
        // Uncaught, it would end the process, and the window and its log with it. The
        // engine's own clean-up has run by now: the image buffer is given back, and the
        // drive stays held, since nothing tells how far its download or its programming
        // got. Nothing more goes to the drive.
        faulted = true;
    }
    if (faulted) {
        outcome.succeeded = false;
        window->AppendLog("ERR: internal error, the upgrade was stopped.");
        // Past the first WRITE BUFFER the drive may be anywhere in its programming.
        if (outcome.downloadBegun) {
            outcome.mayBeProgramming = true;
            window->AppendLog(kMayStillProgramLine);
        }
        window->AppendLog(kVerdictFailure);
        window->SetStatusText("");
    }
    SendMessageA(hwnd, UpgradeRun::kRunOutcomeMessage, 0, reinterpret_cast<LPARAM>(&outcome));
    services.SetExecutionState(ES_CONTINUOUS);
    StopFlag = 0;
    SendMessageA(hwnd, UpgradeRun::kRunFinishedMessage, 0, 0);
    return 0;
}

void SetRevisionText(const char* text) {
    if (ActiveMainDialog) ActiveMainDialog->SetRevisionText(text);
}

void SetDriveText(const char* text) {
    if (ActiveMainDialog) ActiveMainDialog->SetDriveText(text);
}

void AppendLog(const char* text) {
    if (ActiveMainDialog) ActiveMainDialog->AppendLog(text);
}

void SetStatusText(const char* text) {
    if (ActiveMainDialog) ActiveMainDialog->SetStatusText(text);
}

void SetProgress(int percent) {
    if (ActiveMainDialog) ActiveMainDialog->SetProgress(percent);
}

uint8_t IsStopRequested() {
    return StopFlag;
}

}  // namespace telvio
