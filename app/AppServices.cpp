#include "app/AppServices.h"

#include <commdlg.h>

#include "app/Taskbar.h"
#include "system/SystemEntry.h"
#include "app/WarningDialog.h"
#include "drive/Discovery.h"
#include "drive/ExclusiveAccess.h"
#include "drive/StorageProperty.h"
#include "engine/FlashEngine.h"

namespace telvio {

namespace {

int ShowMessageBox(HWND owner, const char* text, const char* caption, UINT style) {
    return MessageBoxA(owner, text, caption, style);
}

DWORD QueryCurrentDirectoryA(DWORD size, char* buffer) {
    return GetCurrentDirectoryA(size, buffer);
}

INT_PTR RunWarningDialog(HWND owner, const char* model, const char* revision) {
    WarningDialog dialog(model, revision);
    return dialog.DoModal(owner);
}

void ChooseWithFileDialog(HWND owner, char* path, DWORD size) {
    // Two entries, each a description and a pattern, closed by an empty part.
    static const char kFilter[] = "HEX Files (*.HEX)\0*.hex\0BIN Files(*.BIN)\0*.bin\0\0";
    path[0] = '\0';
    OPENFILENAMEA ofn{};
    // The size of the original structure, which every Windows version accepts.
    ofn.lStructSize = OPENFILENAME_SIZE_VERSION_400A;
    ofn.hwndOwner = owner;
    ofn.lpstrFilter = kFilter;
    ofn.nFilterIndex = 1;
    ofn.lpstrFile = path;
    ofn.nMaxFile = size;
    ofn.Flags = 0;
    // The dialog makes the browsed folder the process's current directory, OFN_NOCHANGEDIR
    // or not, and where the system has no SetDllDirectoryA that folder stays in the DLL
    // search of an elevated program: it is put back at once.
    char directory[MAX_PATH + 1];
    const DWORD length = GetCurrentDirectoryA(sizeof directory, directory);
    // On cancel or failure the buffer may hold anything (a needed size, say): no path.
    if (!GetOpenFileNameA(&ofn)) path[0] = '\0';
    if (length > 0 && length < sizeof directory) SetCurrentDirectoryA(directory);
}

void RunFlashEngine(const UpdateJob& job, RunOutcome& outcome) {
    FlashEngine engine(job);
    engine.Run(outcome);
}

// Windows 95 and NT 4 lack these two.
DWORD SetThreadExecutionStateIfAny(DWORD flags) {
    auto set = SystemEntry<DWORD(WINAPI*)(DWORD)>("kernel32.dll", "SetThreadExecutionState");
    return set ? set(flags) : 0;
}

BOOL GetSystemPowerStatusIfAny(SYSTEM_POWER_STATUS* status) {
    auto get =
        SystemEntry<BOOL(WINAPI*)(SYSTEM_POWER_STATUS*)>("kernel32.dll", "GetSystemPowerStatus");
    return get ? get(status) : FALSE;
}

bool TakeNamedMutex(const char* name, HANDLE* lock) {
    *lock = nullptr;
    HANDLE mutex = CreateMutexA(nullptr, FALSE, name);
    // Made by a Telvio of another user or session, whose mutex grants us nothing.
    if (mutex == nullptr) return GetLastError() != ERROR_ACCESS_DENIED;
    // Abandoned: a Telvio that ended without giving it back, which is as good as free.
    const DWORD waited = WaitForSingleObject(mutex, 0);
    if (waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED) {
        *lock = mutex;
        return true;
    }
    CloseHandle(mutex);
    return waited != WAIT_TIMEOUT;
}

void ReleaseNamedMutex(HANDLE lock) {
    if (lock == nullptr) return;
    ReleaseMutex(lock);
    CloseHandle(lock);
}

// Another copy holds the machine's one upgrade: the mutex exists only while a copy holds
// it (TakeNamedMutex closes what it could not take). Opened, never waited on: asking takes
// nothing. A mutex of another user's copy, which we may not open, is held all the same.
bool NamedMutexHeld(const char* name) {
    HANDLE mutex = OpenMutexA(SYNCHRONIZE, FALSE, name);
    if (mutex != nullptr) {
        CloseHandle(mutex);
        return true;
    }
    return GetLastError() == ERROR_ACCESS_DENIED;
}

// Windows 7's power requests; the structure and the two request types as the SDK has them.
struct ReasonContext {
    ULONG version;
    DWORD flags;
    union {
        struct {
            HMODULE module;
            ULONG id;
            ULONG count;
            LPWSTR* strings;
        } detailed;
        LPWSTR simple;
    } reason;
};
constexpr DWORD kSimpleReason = 0x1;  // POWER_REQUEST_CONTEXT_SIMPLE_STRING
constexpr int kDisplayRequired = 0;   // PowerRequestDisplayRequired
constexpr int kSystemRequired = 1;    // PowerRequestSystemRequired
using PowerCreateRequestCall = HANDLE(WINAPI*)(ReasonContext*);
using PowerRequestCall = BOOL(WINAPI*)(HANDLE, int);

HANDLE KeepDisplayAndSystemOn() {
    const auto create =
        SystemEntry<PowerCreateRequestCall>("kernel32.dll", "PowerCreateRequest");
    const auto set = SystemEntry<PowerRequestCall>("kernel32.dll", "PowerSetRequest");
    if (create == nullptr || set == nullptr) return nullptr;
    static wchar_t reason[] = L"A drive firmware upgrade is in progress.";
    ReasonContext context{};
    context.flags = kSimpleReason;
    context.reason.simple = reason;
    const HANDLE request = create(&context);
    if (request == INVALID_HANDLE_VALUE || request == nullptr) return nullptr;
    set(request, kDisplayRequired);
    set(request, kSystemRequired);
    return request;
}

void LetDisplayAndSystemRest(HANDLE request) {
    if (request == nullptr) return;
    if (const auto clear = SystemEntry<PowerRequestCall>("kernel32.dll", "PowerClearRequest")) {
        clear(request, kDisplayRequired);
        clear(request, kSystemRequired);
    }
    CloseHandle(request);
}

HWND ForegroundWindowNow() {
    return GetForegroundWindow();
}

constexpr AppServices MakeDefaults() {
    AppServices services{};
    services.SelectPlatform = &SelectPlatform;
    services.BindAspi = &BindAspi;
    services.DiscoverDrives = &DiscoverDrives;
    services.ClassifyDrives = &ClassifyDrives;
    services.ReleaseTransport = &ReleaseTransport;
    services.ShowMessage = &ShowMessageBox;
    services.QueryCurrentDirectory = &QueryCurrentDirectoryA;
    services.ConfirmUpgrade = &RunWarningDialog;
    services.ChooseImageFile = &ChooseWithFileDialog;
    services.RunEngine = &RunFlashEngine;
    services.SetExecutionState = &SetThreadExecutionStateIfAny;
    services.GetPowerStatus = &GetSystemPowerStatusIfAny;
    services.DriveLockedByOther = &DriveLockedByOther;
    services.TaskbarButtonMessage = &TaskbarButtonMessage;
    services.OpenTaskbarList = &OpenTaskbarList;
    services.ShowTaskbarProgress = &ShowTaskbarProgress;
    services.CloseTaskbarList = &CloseTaskbarList;
    services.FlashTaskbarButton = &FlashTaskbarButton;
    services.ForegroundWindow = &ForegroundWindowNow;
    services.TakeUpgradeLock = &TakeNamedMutex;
    services.ReleaseUpgradeLock = &ReleaseNamedMutex;
    services.UpgradeHeldElsewhere = &NamedMutexHeld;
    services.DiscReadable = &DiscReadable;
    services.DriveOnExternalBus = &DriveOnExternalBus;
    services.dataBlockTimeoutSeconds = kDataBlockTimeoutSeconds;
    services.KeepPowerOn = &KeepDisplayAndSystemOn;
    services.LetPowerRest = &LetDisplayAndSystemRest;
    // Long enough for a drive to finish programming its flash, however slow.
    services.programmingWaitSeconds = 5 * 60;
    return services;
}

constexpr AppServices kDefaults = MakeDefaults();

}  // namespace

const AppServices& DefaultServices() {
    return kDefaults;
}

}  // namespace telvio
