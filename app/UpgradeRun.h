// The one run a start of the program allows, as the window lives through it: the machine's
// upgrade mutex, the worker, the system kept awake and the session kept from ending, the
// outcome the worker hands back and, after a drive that may still be programming, the wait.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>

#include "app/AppServices.h"
#include "app/UpgradeChecks.h"
#include "drive/DriveRecord.h"
#include "drive/Transport.h"
#include "engine/UpdateJob.h"

namespace telvio {

class UpgradeRun {
  public:
    // The worker's messages, each carried out on the window's thread.
    static constexpr UINT kRunStartedMessage = WM_APP + 2;
    static constexpr UINT kRunFinishedMessage = WM_APP + 3;
    // lParam: the RunOutcome, handed over while the worker still keeps the system awake.
    static constexpr UINT kRunOutcomeMessage = WM_APP + 5;
    // What the run and its wait keep on: the system, and the screen, since a Modern
    // Standby machine lets the drive go to low power (STOP UNIT) once the screen is off.
    static constexpr DWORD kKeepAwake = ES_CONTINUOUS | ES_SYSTEM_REQUIRED | ES_DISPLAY_REQUIRED;
    // The once-a-second count-down while the drive may still be programming.
    static constexpr UINT_PTR kWaitTimer = 1;

    explicit UpgradeRun(const AppServices& services) : services_(services) {}

    // The machine's one upgrade, by name. One name for the machine, across its sessions
    // where it has them (2000 on): two drives on one IDE channel share its resets. 9x and
    // NT 4 have one namespace, and no such prefix.
    static const char* LockName(const TransportState& transport);

    // From the start of the worker to the end of its run.
    bool InProgress() const { return inProgress_; }
    // A run has ended: the window's work is done, and only closing it remains.
    bool Done() const { return done_; }
    bool Failed() const { return outcomeKnown_ && !outcome_.succeeded; }
    // During a run, and after one that left the drive perhaps still programming until the
    // wait is over: the window refuses to end, and so does the session.
    bool Guarded() const { return inProgress_ || waitLeft_ > 0; }

    // Takes the machine's one upgrade, makes sure no other program holds the drive, and
    // starts the worker. A refusal when one of them fails; the command then stops.
    UpgradeAnswer Start(HWND window, const TransportState& transport, const DriveRecord& drive);

    // On the window's thread. The two that end the run or its wait answer true once
    // closing is given back: a handler's exception may end the window from then on.
    void OnOutcome(const RunOutcome& outcome);
    bool OnFinished();
    bool OnWaitTick();

  private:
    bool StartWorker();
    bool StartProgrammingWait();
    // Close, the close box, the session and sleep are the user's again.
    void GiveClosingBack();
    void ReleaseUpgradeLock();

    const AppServices& services_;
    HWND window_ = nullptr;
    bool inProgress_ = false;
    bool done_ = false;
    bool outcomeKnown_ = false;
    RunOutcome outcome_{};
    // After the verdict, the seconds the window still waits as during a run.
    UINT waitLeft_ = 0;
    // The machine's one upgrade, from Upgrade to the end of the run and its wait.
    HANDLE upgradeLock_ = nullptr;
    // Windows 7 on: the display and the system kept on, from the worker's start to the end
    // of the run or of its wait.
    HANDLE powerRequest_ = nullptr;
};

// Returned by IsStopRequested. Nothing in the window raises it; the worker clears it.
extern std::atomic<uint8_t> StopFlag;

// The callbacks the window hands the engine in every job.
void SetRevisionText(const char* text);
void SetDriveText(const char* text);
void AppendLog(const char* text);
void SetStatusText(const char* text);
void SetProgress(int percent);
uint8_t IsStopRequested();

DWORD WINAPI UpdateWorker(void* parameter);

// Close is the one way on once a run is over; not while a box of ours is up: the focus is
// there.
void FocusClose(HWND dialog);
// Through the dialog manager, so that the default-button look follows the focus.
void FocusItem(HWND dialog, int id);

}  // namespace telvio
