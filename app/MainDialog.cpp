#include "app/MainDialog.h"

#include <commctrl.h>

#include <string>
#include <utility>

#include "app/AboutDialog.h"
#include "app/MessageFilter.h"
#include "app/UpgradeRules.h"
#include "controls/SystemLook.h"
#include "drive/Discovery.h"
#include "drive/ShownText.h"
#include "resources/resource.h"

namespace telvio {

MainDialog* ActiveMainDialog = nullptr;

namespace {

// WM_COPYGLOBALDATA, which carries a drop's file list across processes; no header names it.
constexpr UINT kCopyGlobalDataMessage = 0x0049;

}  // namespace

MainDialog::MainDialog(const AppServices& services)
    : Dialog(IDD_TELVIO_DIALOG), services(services), run(services) {
    appIcon = LoadIconA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDR_MAINFRAME));
}

MainDialog::~MainDialog() {
    if (ActiveMainDialog == this) ActiveMainDialog = nullptr;
}

void MainDialog::DoDataExchange() {
    BindControl(logEdit, IDC_LOG);
    BindControl(revisionLabel, IDC_REVISION);
    BindControl(driveBox, IDC_DRIVE_BOX);
}

BOOL MainDialog::OnInitDialog() {
    AddAboutItem();
    SendMessageA(GetHwnd(), WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(appIcon));
    SendMessageA(GetHwnd(), WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(appIcon));
    ActiveMainDialog = this;
    pictures.Fit(GetHwnd());

    services.SelectPlatform(transport);
    // Discovery's probes time out on a drive that is busy programming, and a command that
    // times out has the class driver reset it: while another copy upgrades, or waits for
    // a drive that may still be programming, this one binds and sends nothing.
    if (services.UpgradeHeldElsewhere(UpgradeRun::LockName(transport))) {
        Message("Another Telvio window is upgrading a drive, or waiting for one that may still "
                "be programming. Let it finish, then start Telvio again.",
                "Error!!", kStopStyle);
        EndDialog(IDCANCEL);
        return TRUE;
    }
    taskbarMessage_ = services.TaskbarButtonMessage(GetHwnd());
    AcceptDroppedFiles();

    SetDlgItemTextA(GetHwnd(), IDC_STATUS, "");
    revisionLabel.SetText("");
    SendDlgItemMessageA(GetHwnd(), IDC_PROGRESS, PBM_SETPOS, 0, 0);
    // The log keeps every line of a run; the edit control's default limit would cut it.
    SendMessageA(logEdit.GetHwnd(), EM_LIMITTEXT, 0, 0);

    if (services.BindAspi(transport, GetHwnd())) {
        services.DiscoverDrives(transport, driveTable);
        ListDrives();
    } else {
        EnableWindow(GetItem(IDC_UPGRADE), FALSE);
        EnableWindow(revisionLabel.GetHwnd(), FALSE);
    }

    modelCount = 2;
    services.ClassifyDrives(driveTable);
    return TRUE;
}

void MainDialog::AddAboutItem() {
    HMENU menu = GetSystemMenu(GetHwnd(), FALSE);
    if (menu == nullptr) return;
    char text[256] = {};
    LoadStringA(GetModuleHandleA(nullptr), IDS_ABOUTBOX, text, sizeof text);
    if (text[0] == '\0') return;
    AppendMenuA(menu, MF_SEPARATOR, 0, nullptr);
    AppendMenuA(menu, MF_STRING, IDM_ABOUTBOX, text);
}

void MainDialog::ListDrives() {
    int count = driveTable.driveCount;
    if (count > kDriveTableSlots) count = kDriveTableSlots;
    for (uint8_t i = 0; i < count; ++i) {
        DriveRecord* record = driveTable.records[i];
        if (record == nullptr) continue;
        AppendListSuffix(*record, i);
        SetWindowTextA(driveBox.GetHwnd(), record->displayName);
        char revision[sizeof record->revision];
        CopyShownText(revision, record->revision, sizeof revision);
        SetWindowTextA(revisionLabel.GetHwnd(), revision);
        SendMessageA(driveBox.GetHwnd(), CB_ADDSTRING, 0,
                     reinterpret_cast<LPARAM>(record->displayName));
    }
}

bool MainDialog::OnCommand(WORD id, WORD code, HWND control) {
    (void)control;
    switch (id) {
        case IDC_UPGRADE:  // start the upgrade
            if (code == BN_CLICKED) OnUpgrade();
            return true;
        case IDC_BROWSE:  // pick the image file
            if (code == BN_CLICKED) OnBrowse();
            return true;
        case IDC_DRIVE_BOX:  // show the chosen drive's revision
            if (code == CBN_SELENDOK) SelectDrive(GetHwnd(), driveTable);
            return true;
        case IDCANCEL:  // Close, Esc, the close box: never during a run or its wait
            if (!run.Guarded()) EndDialog(IDCANCEL);
            return true;
        case IDOK:  // Enter: the window has no OK button, so it ends nothing
            return true;
        default:
            return false;
    }
}

std::optional<LRESULT> MainDialog::OnMessage(UINT msg, WPARAM wParam, LPARAM lParam) {
    if (taskbarMessage_ != 0 && msg == taskbarMessage_) {
        OnTaskbarButtonCreated();
        return 0;
    }
    switch (msg) {
        case WM_SYSCOMMAND:
            return OnSysCommand(UINT(wParam));
        case WM_CLOSE:
            // Refused during a run whatever sent it; otherwise it becomes the cancel
            // command as usual.
            if (run.Guarded()) return 0;
            return std::nullopt;
        case WM_QUERYENDSESSION:
            // A session that ends mid-flash leaves a dead drive.
            if (run.Guarded()) return FALSE;
            return std::nullopt;
        case WM_POWERBROADCAST:
            // So does a suspend: 98, Me, 2000 and XP ask every window before a user or
            // the battery sends the machine to sleep (Vista and later no longer ask).
            if (run.Guarded() && (wParam == PBT_APMQUERYSUSPEND || wParam == PBT_APMQUERYSTANDBY)) {
                return BROADCAST_QUERY_DENY;
            }
            return std::nullopt;
        case WM_PAINT:
            if (OnPaintMinimised()) return 0;
            return std::nullopt;
        case WM_TIMER:
            if (wParam != UpgradeRun::kWaitTimer) return std::nullopt;
            if (run.OnWaitTick()) EndIfExceptionPending();
            return 0;
        case WM_DROPFILES:
            OnDropFiles(reinterpret_cast<HDROP>(wParam));
            return 0;
        case WM_QUERYDRAGICON:
            return reinterpret_cast<LRESULT>(appIcon);
        case WM_SYSCOLORCHANGE:
        case WM_SETTINGCHANGE:
            // Only the top-level window hears of a new colour scheme or high contrast.
            SystemLook::PassToChildren(GetHwnd(), msg, wParam, lParam);
            return std::nullopt;
        case kAppendLogMessage:
            AppendLogNow(reinterpret_cast<const char*>(lParam));
            return TRUE;
        case UpgradeRun::kRunStartedMessage:
            EnableWindow(GetItem(IDC_UPGRADE), FALSE);
            return TRUE;
        case UpgradeRun::kRunOutcomeMessage:
            run.OnOutcome(*reinterpret_cast<const RunOutcome*>(lParam));
            if (run.Failed()) ShowRunOnTaskbar();  // as soon as the verdict is known
            return TRUE;
        case UpgradeRun::kRunFinishedMessage:
            // A handler that threw during the run left the window open for the worker's sake.
            if (run.OnFinished()) EndIfExceptionPending();
            if (!run.Guarded()) FocusClose(GetHwnd());
            AnnounceRunEnd();
            return TRUE;
        case kProgressMessage:
            ShowProgressNow(int(wParam));
            return TRUE;
        default:
            return std::nullopt;
    }
}

std::optional<LRESULT> MainDialog::OnSysCommand(UINT id) {
    if ((id & 0xFFF0) == IDM_ABOUTBOX) {
        AboutDialog about;
        about.DoModal(GetHwnd());
        return 0;
    }
    // The close box is refused during a run, like WM_CLOSE.
    if ((id & 0xFFF0) == SC_CLOSE && run.Guarded()) return 0;
    return std::nullopt;
}

bool MainDialog::OnPaintMinimised() {
    if (!IsIconic(GetHwnd())) return false;
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(GetHwnd(), &paint);
    SendMessageA(GetHwnd(), WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
    int iconWidth = GetSystemMetrics(SM_CXICON);
    int iconHeight = GetSystemMetrics(SM_CYICON);
    RECT client;
    GetClientRect(GetHwnd(), &client);
    int x = (client.right - client.left - iconWidth + 1) / 2;
    int y = (client.bottom - client.top - iconHeight + 1) / 2;
    DrawIcon(dc, x, y, appIcon);
    EndPaint(GetHwnd(), &paint);
    return true;
}

void MainDialog::OnDestroy() {
    if (transport.UsePassThrough == 1) services.ReleaseTransport(transport, driveTable);
    // Let go of the list before releasing it: COM's waits in the release dispatch messages
    // that would use it.
    services.CloseTaskbarList(std::exchange(taskbar_, nullptr));
}

void MainDialog::OnBrowse() {
    // As long as the job's path: in UTF-8 a folder name's character takes up to 3 bytes.
    char path[sizeof job.imagePath] = {};
    services.ChooseImageFile(GetHwnd(), path, sizeof path);
    SetDlgItemTextA(GetHwnd(), IDC_FILE_BOX, path);
    browseUsed = 1;
}

void MainDialog::AcceptDroppedFiles() {
    // The style is what DragAcceptFiles sets; set here, the shell loads at the first drop
    // instead of at every start.
    HWND window = GetHwnd();
    SetWindowLongA(window, GWL_EXSTYLE, GetWindowLongA(window, GWL_EXSTYLE) | WS_EX_ACCEPTFILES);
    for (UINT message : {UINT(WM_DROPFILES), UINT(WM_COPYDATA), kCopyGlobalDataMessage}) {
        LetMessageIn(window, message);
    }
}

void MainDialog::OnDropFiles(HDROP drop) {
    // Not while a run is in progress, nor while the upgrade command waits for an answer
    // (the window is disabled then): the path is the command's by then.
    if (!run.InProgress() && IsWindowEnabled(GetHwnd())) {
        const UINT count = DragQueryFileA(drop, 0xFFFFFFFF, nullptr, 0);
        for (UINT i = 0; i < count; ++i) {
            char path[sizeof job.imagePath] = {};
            // Cut to the box's length it would name another file.
            if (DragQueryFileA(drop, i, nullptr, 0) >= sizeof path) continue;
            if (DragQueryFileA(drop, i, path, sizeof path) == 0) continue;
            const DWORD attributes = GetFileAttributesA(path);
            if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
                continue;
            }
            SetDlgItemTextA(GetHwnd(), IDC_FILE_BOX, path);
            browseUsed = 1;  // as if chosen with Browser...: the warning follows at Upgrade
            break;
        }
    }
    // The drop's memory is the receiver's to free, taken or not.
    DragFinish(drop);
}

int MainDialog::Message(const char* text, const char* caption, UINT style) {
    return services.ShowMessage(GetHwnd(), text, caption, style);
}

void MainDialog::SetClosingAllowed(bool allowed) {
    EnableWindow(GetItem(IDCANCEL), allowed ? TRUE : FALSE);
}

// Callbacks: each is one call that the window's thread carries out, so a line of the
// log is appended whole even while the user works the window.

void MainDialog::AppendLog(const char* text) {
    SendMessageA(GetHwnd(), kAppendLogMessage, 0, reinterpret_cast<LPARAM>(text));
}

void MainDialog::SetStatusText(const char* text) {
    SetDlgItemTextA(GetHwnd(), IDC_STATUS, text);
}

void MainDialog::SetProgress(int percent) {
    // The taskbar's object lives in the window thread's apartment: it is used there only.
    SendMessageA(GetHwnd(), kProgressMessage, WPARAM(percent), 0);
}

void MainDialog::SetDriveText(const char* text) {
    SetWindowTextA(driveBox.GetHwnd(), text);
}

void MainDialog::SetRevisionText(const char* text) {
    SetWindowTextA(revisionLabel.GetHwnd(), text);
}

void MainDialog::ShowProgressNow(int percent) {
    SendDlgItemMessageA(GetHwnd(), IDC_PROGRESS, PBM_SETPOS, WPARAM(percent), 0);
    progress_ = percent;
    ShowRunOnTaskbar();
}

void MainDialog::OnTaskbarButtonCreated() {
    // Sent again when the taskbar itself starts again: the old object is of no use then.
    // The worker's progress and log lines reach the window during COM's waits in its
    // release and in the new creation, so no list is held meanwhile.
    services.CloseTaskbarList(std::exchange(taskbar_, nullptr));
    taskbar_ = services.OpenTaskbarList();
    ShowRunOnTaskbar();
}

void MainDialog::ShowRunOnTaskbar() {
    if (taskbar_ == nullptr) return;
    TaskbarState state = TaskbarState::Normal;
    if (run.Failed()) {
        state = TaskbarState::Error;
    } else if (!run.InProgress()) {
        state = TaskbarState::None;
    } else if (progress_ >= kProgressSaving && progress_ < kProgressProgrammed) {
        state = TaskbarState::Indeterminate;
    }
    services.ShowTaskbarProgress(taskbar_, GetHwnd(), state, progress_);
}

void MainDialog::AnnounceRunEnd() {
    ShowRunOnTaskbar();
    // The user may have turned to other work during the long wait.
    if (services.ForegroundWindow() != GetHwnd()) services.FlashTaskbarButton(GetHwnd());
}

void MainDialog::AppendLogNow(const char* text) {
    if (text == nullptr) return;
    HWND edit = logEdit.GetHwnd();
    // Appended at the end, never rewritten: earlier lines are the record of the run.
    int length = GetWindowTextLengthA(edit);
    std::string addition = length > 0 ? std::string("\r\n") + text : std::string(text);
    SendMessageA(edit, EM_SETSEL, WPARAM(length), LPARAM(length));
    SendMessageA(edit, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(addition.c_str()));
    // The caret stands after the new line: bringing it into view puts the last line at
    // the bottom. Scrolling by the line count would leave it alone at the top on Windows.
    SendMessageA(edit, EM_SCROLLCARET, 0, 0);
}

}  // namespace telvio
