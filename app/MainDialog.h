// The program's one window: the drive box, the file box, the upgrade command, the log,
// and the state of the one run a start of the program allows.
#pragma once

#include <windows.h>
#include <shellapi.h>

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>

#include "app/AppServices.h"
#include "app/ScaledPictures.h"
#include "controls/ColorLabel.h"
#include "drive/DriveRecord.h"
#include "drive/Transport.h"
#include "engine/UpdateJob.h"
#include "framework/Dialog.h"

namespace telvio {

enum class ImageNaming : uint8_t;

constexpr int kModelSlots = 10;
constexpr int kModelSlotSize = 25;

class MainDialog : public Dialog {
  public:
    // Private messages through which other threads have the window's thread do the work.
    static constexpr UINT kAppendLogMessage = WM_APP + 1;
    static constexpr UINT kRunStartedMessage = WM_APP + 2;
    static constexpr UINT kRunFinishedMessage = WM_APP + 3;
    static constexpr UINT kProgressMessage = WM_APP + 4;

    explicit MainDialog(const AppServices& services = DefaultServices());
    ~MainDialog() override;

    static std::string GetModelText();
    static std::string GetRevisionText();

    // The window side of the engine's callbacks; any thread may call them.
    void AppendLog(const char* text);
    void SetStatusText(const char* text);
    void SetProgress(int percent);
    void SetDriveText(const char* text);
    void SetRevisionText(const char* text);

    bool IsRunInProgress() const { return runInProgress_; }
    // Not while a run is in progress, not even for a handler's exception: the worker still
    // writes through the window's transport and calls the window. Nor while the drive may
    // still be programming. The end of the run, or of that wait, ends it.
    bool MayEnd() const override { return !Guarded(); }
    const UpdateJob& Job() const { return job; }
    const DriveTable& Drives() const { return driveTable; }
    int BrowseUsed() const { return browseUsed; }
    const TransportState& Transport() const { return transport; }

    // The worker's way back to the window; both run on the window's thread.
    void OnRunStarted();
    void OnRunFinished();

  protected:
    void DoDataExchange() override;
    BOOL OnInitDialog() override;
    bool OnCommand(WORD id, WORD code, HWND control) override;
    std::optional<LRESULT> OnMessage(UINT msg, WPARAM wParam, LPARAM lParam) override;
    void OnDestroy() override;

  private:
    // The six callbacks and the worker reach the window through ActiveMainDialog.
    friend DWORD WINAPI UpdateWorker(void* parameter);

    void AddAboutItem();
    void ListDrives();
    std::optional<LRESULT> OnSysCommand(UINT id);
    bool OnPaintMinimised();
    void OnUpgrade();
    void FillUpdateJob();
    void OnBrowse();
    // Explorer's drag and drop: the window takes files, and the drop's messages come in
    // although Explorer runs with fewer rights.
    void AcceptDroppedFiles();
    void OnDropFiles(HDROP drop);
    // Every stop of the upgrade command after Close was disabled.
    void StopCommand();
    bool StartWorker();
    bool BatteryTooLow() const;
    // The image names the chosen drive (`product`, trimmed), or the user chose to go on
    // without it.
    bool ImageNamesDrive(const char* product, ImageNaming naming);
    // The file's revision (trimmed; empty: unknown) is not the one the drive runs, or the
    // user chose to flash it again.
    bool FileRevisionIsNew(const char* product, const char* fileRevision);
    void AppendLogNow(const char* text);
    void ShowProgressNow(int percent);
    void OnTaskbarButtonCreated();
    // The taskbar button follows the run: the bar's value, the drive's programming time
    // as indeterminate, the error state after a failed run, nothing after a good one.
    void ShowRunOnTaskbar();
    void AnnounceRunEnd();
    void SetClosingAllowed(bool allowed);
    // During a run, and after one that left the drive perhaps still programming until
    // the wait is over: the window refuses to end, and so does the session.
    bool Guarded() const { return runInProgress_ || waitLeft_ > 0; }
    // Takes the one upgrade of the machine for this window, or says why not; false: the
    // command stops.
    bool TakeUpgradeLock();
    void ReleaseUpgradeLock();
    void StartProgrammingWait();
    void OnWaitTick();
    // Close, the close box, the session and sleep are the user's again.
    void GiveClosingBack();
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
    char modelList[kModelSlots * kModelSlotSize] = {};
    HICON appIcon = nullptr;
    ScaledPictures pictures;  // the chip picture at the screen's DPI

    // From the start of the worker to the end of its run; the window refuses to end
    // meanwhile.
    bool runInProgress_ = false;
    // A run has ended: the window's work is done, and only closing it remains.
    bool runDone_ = false;
    // The run logged that the drive may still be programming; then, after the verdict,
    // the seconds the window still waits as during a run.
    bool mayBeProgramming_ = false;
    UINT waitLeft_ = 0;
    // The machine's one upgrade, from Upgrade to the end of the run and its wait.
    HANDLE upgradeLock_ = nullptr;

    // The taskbar button's progress indicator, once the taskbar has made the button (the
    // system names the message at run time; 0 where it has none).
    UINT taskbarMessage_ = 0;
    TaskbarList* taskbar_ = nullptr;
    int progress_ = 0;
    bool runFailed_ = false;

    static std::string sharedModelText;
    static std::string sharedRevisionText;
};

// The window, for the callbacks and the worker; set at start-up and by every upgrade
// command, on the window's thread, before any worker starts.
extern MainDialog* ActiveMainDialog;
// Returned by IsStopRequested. Nothing in the window raises it; the worker clears it.
extern std::atomic<uint8_t> StopFlag;
// What the job's drive hold tells of the run, cleared by each upgrade command: the engine
// came to its first WRITE BUFFER (the hold is taken just before it), and the drive stays
// held until the program ends.
extern std::atomic<bool> DownloadBegun;
extern std::atomic<bool> HoldKept;

// The callbacks the window hands the engine in every job.
void SetRevisionText(const char* text);
void SetDriveText(const char* text);
void AppendLog(const char* text);
void SetStatusText(const char* text);
void SetProgress(int percent);
uint8_t IsStopRequested();

DWORD WINAPI UpdateWorker(void* parameter);

}  // namespace telvio
