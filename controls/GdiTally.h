// Every drawing object the custom controls make or free goes through here, so a test can
// tell that painting leaves nothing behind (Wine does not answer GetGuiResources).
#pragma once

#include <windows.h>

namespace telvio::gdi {

struct Tally {
    long created;
    long deleted;
};

// Objects made and successfully freed since the process started.
Tally Snapshot();

HFONT NewFont(const LOGFONTA& logFont);
HBRUSH NewSolidBrush(COLORREF color);
HBITMAP NewCompatibleBitmap(HDC dc, int width, int height);
// A 32-bit top-down section; `bits` receives its pixels.
HBITMAP NewDibSection(int width, int height, void** bits);
HBITMAP LoadBitmapResource(HINSTANCE module, int id);
HDC NewMemoryDC(HDC compatibleWith);
bool DeleteObject(HGDIOBJ object);
bool DeleteMemoryDC(HDC dc);

// A window's client context (GetDC) and its release, counted like the rest.
HDC GetClientDC(HWND hwnd);
bool ReleaseClientDC(HWND hwnd, HDC dc);

}  // namespace telvio::gdi
