// Start-up: the three-dimensional control look, then the main window, run modally; the
// program ends with it, whatever its result, or with code 1 when it could not be made.
#include <windows.h>

#include "app/StartUp.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    return telvio::RunUpgradeApp(telvio::DefaultServices());
}
