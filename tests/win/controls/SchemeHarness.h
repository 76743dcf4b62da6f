// High contrast for tests: Wine cannot switch it on, so the query answers "on" through
// the seam, and the scheme's colours are set for the whole Wine server (a test that does
// so must run alone: ctest RUN_SERIAL).
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

class HighContrastOn {
  public:
    HighContrastOn() : seams_(SystemLook::Seams{&AnswerHighContrastOn}) {}

  private:
    SeamScope<SystemLook> seams_;
};

// Sets system colours and puts the old ones back when it ends.
class ColorScheme {
  public:
    ColorScheme(std::vector<int> elements, std::vector<COLORREF> colors)
        : elements_(std::move(elements)) {
        for (int e : elements_) saved_.push_back(GetSysColor(e));
        SetSysColors(static_cast<int>(elements_.size()), elements_.data(), colors.data());
    }
    ~ColorScheme() {
        SetSysColors(static_cast<int>(elements_.size()), elements_.data(), saved_.data());
    }

  private:
    std::vector<int> elements_;
    std::vector<COLORREF> saved_;
};

// Whether `p` lies on the way from `a` to `b`, every channel the same part of the way
// (smoothed text mixes the two), give or take rounding.
inline bool IsBlend(COLORREF p, COLORREF a, COLORREF b) {
    double part = -1;
    for (int shift : {0, 8, 16}) {
        const int pc = (p >> shift) & 0xFF, ac = (a >> shift) & 0xFF, bc = (b >> shift) & 0xFF;
        if (ac == bc) {
            if (std::abs(pc - ac) > 2) return false;
            continue;
        }
        const double f = double(pc - ac) / (bc - ac);
        if (f < -0.02 || f > 1.02) return false;
        if (part < 0) part = f;
        if (std::abs(f - part) > 0.05) return false;
    }
    return true;
}

// How many pixels of `canvas` are neither `a`, nor `b`, nor a blend of the two.
inline int CountOutside(const PixelCanvas& canvas, COLORREF a, COLORREF b) {
    int n = 0;
    for (int y = 0; y < canvas.height(); ++y) {
        for (int x = 0; x < canvas.width(); ++x) n += !IsBlend(canvas.At(x, y), a, b);
    }
    return n;
}

}  // namespace telvio::testing
