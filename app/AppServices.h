// What the main window asks of the system beyond its own controls: the drive doors, the
// message boxes, the file dialog, the warning dialog, the engine and the taskbar button.
// The program uses DefaultServices(); the window tests put recorders and fakes in their
// place. Each table is filled field by field, by name: the fields' order means nothing.
#pragma once

#include <windows.h>

#include <cstdint>

#include "drive/DriveRecord.h"
#include "drive/ExclusiveAccess.h"
#include "drive/Transport.h"
#include "engine/UpdateJob.h"

namespace telvio {

// The system's taskbar list object (ITaskbarList3), as OpenTaskbarList hands it out.
struct TaskbarList;

// What the taskbar button's progress indicator shows; the values are the system's.
enum class TaskbarState : int { None = 0, Indeterminate = 1, Normal = 2, Error = 4 };

struct AppServices {
    void (*SelectPlatform)(TransportState& state);
    uint8_t (*BindAspi)(TransportState& state, HWND owner);
    void (*DiscoverDrives)(TransportState& state, DriveTable& table);
    void (*ClassifyDrives)(DriveTable& table);
    uint8_t (*ReleaseTransport)(TransportState& state, DriveTable& table);
    int (*ShowMessage)(HWND owner, const char* text, const char* caption, UINT style);
    DWORD (*QueryCurrentDirectory)(DWORD size, char* buffer);
    // The warning dialog naming the drive and its revision, run modally with `owner` as its
    // owner; returns its result.
    INT_PTR (*ConfirmUpgrade)(HWND owner, const char* model, const char* revision);
    // The file-open dialog; writes the chosen path, or the empty text when none was.
    void (*ChooseImageFile)(HWND owner, char* path, DWORD size);
    // One run of the engine over the worker's own copy of the job; `outcome` follows it as
    // it goes, so that it still tells how far a run got that an exception cut short.
    void (*RunEngine)(const UpdateJob& job, RunOutcome& outcome);
    // SetThreadExecutionState where the system has it (from Windows 98 and 2000 on);
    // elsewhere nothing happens and 0 comes back.
    DWORD (*SetExecutionState)(DWORD flags);
    // The taskbar button, Windows 7 on. The number of the "TaskbarButtonCreated" message,
    // let through to `window` although the program runs elevated (0 where there is none).
    UINT (*TaskbarButtonMessage)(HWND window);
    // The taskbar list, or null where the system has none (98 to Vista) or COM fails.
    TaskbarList* (*OpenTaskbarList)();
    // Shows `state` on the button of `window`, at `percent` of 100 where it has a value.
    void (*ShowTaskbarProgress)(TaskbarList* list, HWND window, TaskbarState state, int percent);
    void (*CloseTaskbarList)(TaskbarList* list);
    // Flashes the window's taskbar button until the user brings it to the front.
    void (*FlashTaskbarButton)(HWND window);
    HWND (*ForegroundWindow)();
    // GetSystemPowerStatus where the system has it (not on NT 4); FALSE elsewhere.
    BOOL (*GetPowerStatus)(SYSTEM_POWER_STATUS* status);
    // Whether another program holds the drive for itself (Vista on), with its name as the
    // driver gave it: NUL-terminated only when shorter than the 64 bytes.
    bool (*DriveLockedByOther)(const TransportState& state, const DriveRecord& drive,
                               uint8_t (&holder)[kCallerNameLength]);
    // One upgrade at a time on the machine: the named mutex `name`, owned by the calling
    // thread from now on. False when another program holds it. True with `lock` null when
    // the system gives no mutex for another reason: the upgrade goes on as it always did.
    bool (*TakeUpgradeLock)(const char* name, HANDLE* lock);
    // Gives back what TakeUpgradeLock took, on the thread that took it; null does nothing.
    void (*ReleaseUpgradeLock)(HANDLE lock);
    // Whether another copy holds the machine's upgrade, asked at start-up without taking it.
    bool (*UpgradeHeldElsewhere)(const char* name);
    // Windows 7 on: a power request that keeps the display and the system on, with its
    // reason; null where the system has none. LetPowerRest ends it; null does nothing.
    HANDLE (*KeepPowerOn)();
    void (*LetPowerRest)(HANDLE request);
    // Of the chosen drive, before anything is sent: a disc a file system reads (only where
    // the drive has the class driver's lock), and a drive behind USB or FireWire.
    bool (*DiscReadable)(const TransportState& state, const DriveRecord& drive);
    bool (*DriveOnExternalBus)(const TransportState& state, const DriveRecord& drive);
    // How long a data block may take before the run stops: until the checksum block the
    // drive has only taken data into its buffer.
    uint32_t dataBlockTimeoutSeconds;
    // How long the window stays as during a run after a run that left the drive perhaps
    // still programming.
    UINT programmingWaitSeconds;
};

const AppServices& DefaultServices();

}  // namespace telvio
