#include "app/StartUp.h"

#include <commctrl.h>

#include <cstdio>
#include <exception>

#include "app/MainDialog.h"
#include "framework/ResourceException.h"

namespace telvio {

namespace {

// No window exists yet to own the box; without one the user would be left with the
// runtime's abort message, which says nothing of the cause.
int StartUpFailed(const AppServices& services, const char* what, unsigned long lastError) {
    char text[256];
    std::snprintf(text, sizeof text, "Telvio cannot start: %s (error %lu).", what, lastError);
    services.ShowMessage(nullptr, text, "Error!!", MB_ICONHAND);
    return 1;
}

}  // namespace

int RunUpgradeApp(const AppServices& services) {
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_WIN95_CLASSES | ICC_STANDARD_CLASSES};
    if (!InitCommonControlsEx(&controls)) InitCommonControls();
    try {
        MainDialog dialog(services);
        dialog.DoModal(nullptr);
    } catch (const ResourceException& e) {
        return StartUpFailed(services, e.what(), e.LastError());
    } catch (const std::exception& e) {
        return StartUpFailed(services, e.what(), 0);
    } catch (...) {
        return StartUpFailed(services, "an unknown error", 0);
    }
    return 0;
}

}  // namespace telvio
