// A dialog's pictures at the screen's DPI. The dialog's units grow with the DPI, but a
// static control shows its bitmap pixel for pixel: at 144 DPI the main window grew by half
// while its chip picture stayed as drawn for 96, a small stamp in a large frame.
#pragma once

#include <windows.h>

#include <vector>

namespace telvio {

class ScaledPictures {
  public:
    ScaledPictures() = default;
    // Deletes the copies; their controls are gone by then.
    ~ScaledPictures();
    ScaledPictures(const ScaledPictures&) = delete;
    ScaledPictures& operator=(const ScaledPictures&) = delete;

    // Shows in every bitmap static of `dialog` a copy of its picture at DPI / 96 times its
    // size (the control takes the copy's size). Nothing changes at 96 DPI.
    void Fit(HWND dialog);

  private:
    std::vector<HBITMAP> copies_;
};

}  // namespace telvio
