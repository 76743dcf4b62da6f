#include "app/AppServices.h"

#include <commdlg.h>

#include "app/WarningDialog.h"
#include "drive/Discovery.h"
#include "engine/FlashEngine.h"

namespace telvio {

namespace {

int ShowMessageBox(HWND owner, const char* text, const char* caption, UINT style) {
    return MessageBoxA(owner, text, caption, style);
}

DWORD QueryCurrentDirectoryA(DWORD size, char* buffer) {
    return GetCurrentDirectoryA(size, buffer);
}

INT_PTR RunWarningDialog(HWND owner) {
    WarningDialog dialog;
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
    // On cancel or failure the buffer may hold anything (a needed size, say): no path.
    if (!GetOpenFileNameA(&ofn)) path[0] = '\0';
}

void RunFlashEngine(const UpdateJob& job) {
    FlashEngine engine(job);
    engine.Run();
}

// Looked up, not imported: Windows 95 and NT 4 do not have it, and the program must load
// there all the same.
DWORD SetThreadExecutionStateIfAny(DWORD flags) {
    using SetState = DWORD(WINAPI*)(DWORD);
    HMODULE kernel32 = GetModuleHandleA("kernel32.dll");
    auto set = kernel32 ? reinterpret_cast<SetState>(reinterpret_cast<void (*)()>(
                              GetProcAddress(kernel32, "SetThreadExecutionState")))
                        : nullptr;
    return set ? set(flags) : 0;
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
    return services;
}

constexpr AppServices kDefaults = MakeDefaults();

}  // namespace

const AppServices& DefaultServices() {
    return kDefaults;
}

}  // namespace telvio
