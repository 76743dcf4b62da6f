// Start-up of the program, apart from its entry point so that the window tests can run it.
#pragma once

#include "app/AppServices.h"

namespace telvio {

// The three-dimensional control look, then the main window, run modally. Returns the
// program's exit code: 0 once the window has run, whatever its result; 1 when it could
// not be made, after a message box that names what failed.
int RunUpgradeApp(const AppServices& services);

}  // namespace telvio
