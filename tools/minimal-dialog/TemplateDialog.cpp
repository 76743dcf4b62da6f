// The start-up benchmark's second yardstick: the program's own main window, template 102
// from the program's resources (its controls, the chip picture, the manifest), shown by a
// bare dialog procedure that sets the program's big and small icons as the main window
// does. What telvio.exe takes beyond it is its own start-up work: drive discovery, the
// labels' fonts. It stays up until closed.
#include <windows.h>
#include <commctrl.h>

#include "resources/resource.h"
#include "tools/minimal-dialog/BareDialog.h"

namespace {

INT_PTR CALLBACK TemplateDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        HICON icon = LoadIconA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDR_MAINFRAME));
        SendMessageA(dialog, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
        SendMessageA(dialog, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon));
    }
    return BareDialogProc(dialog, message, wParam, lParam);
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    // As the program registers them, so both load the same control classes.
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_WIN95_CLASSES | ICC_STANDARD_CLASSES};
    if (!InitCommonControlsEx(&controls)) InitCommonControls();
    return int(DialogBoxParamA(instance, MAKEINTRESOURCEA(IDD_TELVIO_DIALOG), nullptr,
                               TemplateDialogProc, 0));
}
