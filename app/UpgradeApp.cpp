// Start-up: the DLL search narrowed first, then the three-dimensional control look and the
// main window, run modally; the program ends with it, whatever its result, or with code 1
// when it could not be made.
#include <windows.h>

#include <delayimp.h>

#include "app/StartUp.h"
#include "system/SystemEntry.h"

namespace {

// The delay-imported libraries (the x86-64 program's file dialog and shell) come from the
// system directory like every other DLL the program loads itself; the loader's helper
// would name them bare. Null lets the helper try its own way and report its failure.
FARPROC WINAPI LoadDelayedFromSystem(unsigned notify, PDelayLoadInfo info) {
    if (notify != dliNotePreLoadLibrary || info == nullptr || info->szDll == nullptr) {
        return nullptr;
    }
    return reinterpret_cast<FARPROC>(telvio::LoadSystemLibrary(info->szDll));
}

}  // namespace

// Read by the delay-load helper of the runtime; its own definition, an empty hook, is left
// out of the link once this one is here.
PfnDliHook __pfnDliNotifyHook2 = &LoadDelayedFromSystem;

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    // Before any window: the common controls, themes, the file dialog and the COM
    // servers behind it load DLLs by name on the program's behalf.
    telvio::NarrowDllSearch();
    return telvio::RunUpgradeApp(telvio::DefaultServices());
}
