// High contrast for tests. Wine cannot switch it on: the query answers "on" through the
// seam. The scheme's colours hold for the whole Wine server, so a test that sets them runs
// alone (ctest RUN_SERIAL).
#pragma once

#include <windows.h>

#include <cstdlib>
#include <vector>

#include "controls/Seams.h"
#include "controls/SystemLook.h"
#include "tests/win/controls/PixelCanvas.h"

namespace telvio::testing {

inline BOOL WINAPI AnswerHighContrastOn(UINT action, UINT, void* info, UINT) {
    if (action != SPI_GETHIGHCONTRAST) return FALSE;
    static_cast<HIGHCONTRASTA*>(info)->dwFlags = HCF_HIGHCONTRASTON;
    return TRUE;
}

struct HighContrastOn : SeamScope<SystemLook> {
    HighContrastOn() : SeamScope<SystemLook>(SystemLook::Seams{&AnswerHighContrastOn}) {}
};

// Sets system colours; puts the old ones back when it ends.
class ColorScheme {
  public:
    ColorScheme(std::vector<int> elements, std::vector<COLORREF> colors) : elements_(elements) {
        for (int e : elements_) saved_.push_back(GetSysColor(e));
        SetSysColors(int(elements_.size()), elements_.data(), colors.data());
    }
    ~ColorScheme() { SetSysColors(int(elements_.size()), elements_.data(), saved_.data()); }

  private:
    std::vector<int> elements_;
    std::vector<COLORREF> saved_;
};

// Pixels that are neither `a`, nor `b`, nor a blend of the two (smoothed text mixes them:
// every channel the same part of the way, give or take rounding).
inline int CountOutside(const PixelCanvas& canvas, COLORREF a, COLORREF b) {
    int outside = 0;
    for (int y = 0; y < canvas.height(); ++y) {
        for (int x = 0; x < canvas.width(); ++x) {
            const COLORREF p = canvas.At(x, y);
            double part = -1;
            bool blend = true;
            for (int shift : {0, 8, 16}) {
                const int pc = (p >> shift) & 0xFF, ac = (a >> shift) & 0xFF;
                const int bc = (b >> shift) & 0xFF;
                if (ac == bc) {
                    blend = blend && std::abs(pc - ac) <= 2;
                    continue;
                }
                const double f = double(pc - ac) / (bc - ac);
                if (part < 0) part = f;
                blend = blend && f > -0.02 && f < 1.02 && std::abs(f - part) <= 0.05;
            }
            outside += !blend;
        }
    }
    return outside;
}

}  // namespace telvio::testing
