// The start-up benchmark's second yardstick: the program's own main window, template 102
// from the program's resources (its controls, the chip picture, the manifest), shown by a
// bare dialog procedure. What telvio.exe takes beyond it is its own start-up work: drive
// discovery, icons, the labels' fonts. It stays up until closed.
#include <windows.h>
#include <commctrl.h>

#include "resources/resource.h"
#include "tools/minimal-dialog/BareDialog.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    // As the program registers them, so both load the same control classes.
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_WIN95_CLASSES | ICC_STANDARD_CLASSES};
    if (!InitCommonControlsEx(&controls)) InitCommonControls();
    return int(
        DialogBoxParamA(instance, MAKEINTRESOURCEA(IDD_TELVIO_DIALOG), nullptr, BareDialogProc, 0));
}
