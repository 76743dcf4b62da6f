// The program's one window: its controls and messages, the log, the taskbar button and the
// drop. The Upgrade button's checks and the run it starts have files of their own.
#pragma once

#include <windows.h>
#include <shellapi.h>

#include <cstdint>
#include <optional>

#include "app/AppServices.h"
#include "app/ScaledPictures.h"
#include "app/UpgradeChecks.h"
#include "app/UpgradeRun.h"
#include "controls/ColorLabel.h"
#include "drive/DriveRecord.h"
#include "drive/Transport.h"
#include "engine/UpdateJob.h"
#include "framework/Dialog.h"

namespace telvio {

class MainDialog : public Dialog {
  public:
    // Private messages through which other threads have the window's thread do the work.
    static constexpr UINT kAppendLogMessage = WM_APP + 1;
    static constexpr UINT kProgressMessage = WM_APP + 4;

    explicit MainDialog(const AppServices& services = DefaultServices());
    ~MainDialog() override;

    // The window side of the engine's callbacks; any thread may call them.
    void AppendLog(const char* text);
    void SetStatusText(const char* text);
    void SetProgress(int percent);
    void SetDriveText(const char* text);
    void SetRevisionText(const char* text);

    bool IsRunInProgress() const { return run.InProgress(); }
    // Not while a run is in progress, not even for a handler's exception: the worker still
    // writes through the window's transport and calls the window. Nor while the drive may
    // still be programming. The end of the run, or of that wait, ends it.
    bool MayEnd() const override { return !run.Guarded(); }
    const UpdateJob& Job() const { return job; }
    const DriveTable& Drives() const { return driveTable; }
    int BrowseUsed() const { return browseUsed; }
    const TransportState& Transport() const { return transport; }

  protected:
    void DoDataExchange() override;
    BOOL OnInitDialog() override;
    bool OnCommand(WORD id, WORD code, HWND control) override;
    std::optional<LRESULT> OnMessage(UINT msg, WPARAM wParam, LPARAM lParam) override;
    void OnDestroy() override;

  private:
    // The worker reaches the window through ActiveMainDialog.
    friend DWORD WINAPI UpdateWorker(void* parameter);
    // What the upgrade command's checks read of the window (UpgradeChecks_win.cpp).
    class Facts;

    void AddAboutItem();
    void ListDrives();
    std::optional<LRESULT> OnSysCommand(UINT id);
    bool OnPaintMinimised();
    void OnUpgrade();
    // Asks the answer's question: true when the user goes on.
    bool Asked(const UpgradeAnswer& answer);
    void FillUpdateJob(const DriveRecord& chosen);
    void OnBrowse();
    // Explorer's drag and drop: the window takes files, and the drop's messages come in
    // although Explorer runs with fewer rights.
    void AcceptDroppedFiles();
    void OnDropFiles(HDROP drop);
    void AppendLogNow(const char* text);
    void ShowProgressNow(int percent);
    void OnTaskbarButtonCreated();
    // The taskbar button follows the run: the bar's value, the drive's programming time
    // as indeterminate, the error state after a failed run, nothing after a good one.
    void ShowRunOnTaskbar();
    void AnnounceRunEnd();
    void SetClosingAllowed(bool allowed);
    int Message(const char* text, const char* caption, UINT style);

    const AppServices& services;

    Window logEdit;
    ColorLabel revisionLabel;
    Window driveBox;
    UpdateJob job{};
    TransportState transport;
    DriveTable driveTable{};
    int32_t modelCount = 0;
    int32_t browseUsed = 0;
    HICON appIcon = nullptr;
    ScaledPictures pictures;  // the chip picture at the screen's DPI
    UpgradeRun run;

    // The taskbar button's progress indicator, once the taskbar has made the button (the
    // system names the message at run time; 0 where it has none).
    UINT taskbarMessage_ = 0;
    TaskbarList* taskbar_ = nullptr;
    int progress_ = 0;
};

// The window, for the callbacks and the worker; set at start-up and by every upgrade
// command, on the window's thread, before any worker starts.
extern MainDialog* ActiveMainDialog;

}  // namespace telvio
