// The yardstick of the start-up benchmark: the smallest dialog program, from an in-memory
// template, with the same runtime and libraries as the product. It stays up until closed.
#include <windows.h>
#include <commctrl.h>

#include "tools/minimal-dialog/BareDialog.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES | ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&controls);
    // DLGTEMPLATE, then empty menu and class arrays and the caption "Minimal".
    alignas(4) WORD buffer[64] = {};
    auto* tmpl = reinterpret_cast<DLGTEMPLATE*>(buffer);
    tmpl->style = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_VISIBLE | DS_MODALFRAME;
    tmpl->cx = 120;
    tmpl->cy = 40;
    WORD* p = reinterpret_cast<WORD*>(tmpl + 1);
    *p++ = 0;  // menu
    *p++ = 0;  // class
    for (const char* c = "Minimal"; *c; ++c) *p++ = WORD(*c);
    *p++ = 0;
    return int(DialogBoxIndirectParamA(instance, tmpl, nullptr, BareDialogProc, 0));
}
