// What the user chose for the look of every program: high contrast, and the messages that
// tell a window of a change. A window hears WM_SYSCOLORCHANGE and WM_SETTINGCHANGE only
// when it is top-level, so a dialog passes them on to its controls, which rebuild what
// they keep of the system's colours.
#pragma once

#include <windows.h>

namespace telvio {

class SystemLook {
  public:
    // Whether the user has switched high contrast on; a system that cannot say counts
    // as off.
    static bool HighContrastOn();

    // Sends `msg` with its parameters to every child of `parent`, as the system would
    // send it to a top-level window.
    static void PassToChildren(HWND parent, UINT msg, WPARAM wParam, LPARAM lParam);

    // What a test may replace (see controls/Seams.h): Wine cannot switch high contrast
    // on, so a test answers the query itself.
    struct Seams {
        BOOL(WINAPI* systemParametersInfo)(UINT, UINT, void*, UINT) = &::SystemParametersInfoA;
    };
    static Seams InstallSeams(const Seams& seams);
};

}  // namespace telvio
