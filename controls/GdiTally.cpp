#include "controls/GdiTally.h"

#include <atomic>

namespace telvio::gdi {

namespace {

std::atomic<long> created{0};
std::atomic<long> deleted{0};

template <typename T>
T Made(T handle) {
    if (handle != nullptr) ++created;
    return handle;
}

bool Freed(BOOL ok) {
    if (ok) ++deleted;
    return ok != FALSE;
}

}  // namespace

Tally Snapshot() {
    return Tally{created.load(), deleted.load()};
}

HFONT NewFont(const LOGFONTA& logFont) {
    return Made(CreateFontIndirectA(&logFont));
}

HBRUSH NewSolidBrush(COLORREF color) {
    return Made(CreateSolidBrush(color));
}

HBITMAP NewCompatibleBitmap(HDC dc, int width, int height) {
    return Made(CreateCompatibleBitmap(dc, width, height));
}

HBITMAP NewDibSection(int width, int height, void** bits) {
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    return Made(CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, bits, nullptr, 0));
}

HBITMAP LoadBitmapResource(HINSTANCE module, int id) {
    return Made(LoadBitmapA(module, MAKEINTRESOURCEA(LOWORD(id))));
}

HDC NewMemoryDC(HDC compatibleWith) {
    return Made(CreateCompatibleDC(compatibleWith));
}

bool DeleteObject(HGDIOBJ object) {
    return object != nullptr && Freed(::DeleteObject(object));
}

bool DeleteMemoryDC(HDC dc) {
    return dc != nullptr && Freed(DeleteDC(dc));
}

HDC GetClientDC(HWND hwnd) {
    return Made(GetDC(hwnd));
}

bool ReleaseClientDC(HWND hwnd, HDC dc) {
    return dc != nullptr && Freed(ReleaseDC(hwnd, dc));
}

}  // namespace telvio::gdi
