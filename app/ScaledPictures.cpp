#include "app/ScaledPictures.h"

#include "controls/Dpi.h"

namespace telvio {

namespace {

HBITMAP StretchedCopy(HBITMAP picture) {
    BITMAP info;
    if (GetObjectA(picture, sizeof info, &info) == 0) return nullptr;
    const int width = ScaleForDpi(info.bmWidth);
    const int height = ScaleForDpi(info.bmHeight);
    if (width <= 0 || height <= 0) return nullptr;
    HDC screen = GetDC(nullptr);
    if (screen == nullptr) return nullptr;
    HBITMAP copy = CreateCompatibleBitmap(screen, width, height);
    HDC from = CreateCompatibleDC(screen);
    HDC to = CreateCompatibleDC(screen);
    bool drawn = false;
    if (copy != nullptr && from != nullptr && to != nullptr) {
        HGDIOBJ oldFrom = SelectObject(from, picture);
        HGDIOBJ oldTo = SelectObject(to, copy);
        // Whole pixels repeated, never blended: the art is drawn in a 256-colour palette.
        SetStretchBltMode(to, COLORONCOLOR);
        drawn = StretchBlt(to, 0, 0, width, height, from, 0, 0, info.bmWidth, info.bmHeight,
                           SRCCOPY) != FALSE;
        SelectObject(to, oldTo);
        SelectObject(from, oldFrom);
    }
    if (to != nullptr) DeleteDC(to);
    if (from != nullptr) DeleteDC(from);
    ReleaseDC(nullptr, screen);
    if (!drawn && copy != nullptr) {
        DeleteObject(copy);
        copy = nullptr;
    }
    return copy;
}

}  // namespace

ScaledPictures::~ScaledPictures() {
    for (HBITMAP copy : copies_) DeleteObject(copy);
}

void ScaledPictures::Fit(HWND dialog) {
    if (SystemDpi() == 96) return;
    for (HWND child = GetWindow(dialog, GW_CHILD); child != nullptr;
         child = GetWindow(child, GW_HWNDNEXT)) {
        if ((GetWindowLongA(child, GWL_STYLE) & SS_TYPEMASK) != SS_BITMAP) continue;
        // Only a static answers with a picture; any other control with these style bits
        // answers nothing.
        auto picture =
            reinterpret_cast<HBITMAP>(SendMessageA(child, STM_GETIMAGE, IMAGE_BITMAP, 0));
        if (picture == nullptr) continue;
        HBITMAP copy = StretchedCopy(picture);
        if (copy == nullptr) continue;
        copies_.push_back(copy);
        auto previous = reinterpret_cast<HBITMAP>(
            SendMessageA(child, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(copy)));
        // The control loaded its template's picture itself and no longer shows it; a
        // replaced image is the caller's to delete.
        if (previous != nullptr && previous != copy) DeleteObject(previous);
    }
}

}  // namespace telvio
