#include "controls/Dpi.h"

#include <windows.h>

namespace telvio {

int SystemDpi() {
    static int dpi = 0;
    if (dpi == 0) {
        int found = 96;
        if (HDC screen = GetDC(nullptr)) {
            const int caps = GetDeviceCaps(screen, LOGPIXELSY);
            if (caps > 0) found = caps;
            ReleaseDC(nullptr, screen);
        }
        dpi = found;
    }
    return dpi;
}

int ScaleForDpi(int pixels, int dpi) {
    // MulDiv's rounding, without its import; 64 bits so no height can overflow.
    const long long scaled = static_cast<long long>(pixels) * dpi;
    return static_cast<int>(scaled >= 0 ? (scaled + 48) / 96 : -((-scaled + 48) / 96));
}

int ScaleForDpi(int pixels) {
    return ScaleForDpi(pixels, SystemDpi());
}

}  // namespace telvio
