// Start-up: the three-dimensional control look, then the main window, run modally; the
// program ends with it, whatever its result.
#include <windows.h>
#include <commctrl.h>

#include "app/MainDialog.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_WIN95_CLASSES | ICC_STANDARD_CLASSES};
    if (!InitCommonControlsEx(&controls)) InitCommonControls();
    telvio::MainDialog dialog;
    dialog.DoModal(nullptr);
    return 0;
}
