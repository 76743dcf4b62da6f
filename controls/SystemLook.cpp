#include "controls/SystemLook.h"

namespace telvio {

namespace {

SystemLook::Seams seams;

}  // namespace

SystemLook::Seams SystemLook::InstallSeams(const Seams& replacement) {
    const Seams previous = seams;
    seams = replacement;
    return previous;
}

bool SystemLook::HighContrastOn() {
    HIGHCONTRASTA contrast{};
    contrast.cbSize = sizeof(contrast);
    if (!seams.systemParametersInfo(SPI_GETHIGHCONTRAST, sizeof(contrast), &contrast, 0)) {
        return false;
    }
    return (contrast.dwFlags & HCF_HIGHCONTRASTON) != 0;
}

void SystemLook::PassToChildren(HWND parent, UINT msg, WPARAM wParam, LPARAM lParam) {
    for (HWND child = GetWindow(parent, GW_CHILD); child != nullptr;
         child = GetWindow(child, GW_HWNDNEXT)) {
        SendMessageA(child, msg, wParam, lParam);
    }
}

}  // namespace telvio
