// A 32-bit memory canvas to paint into and read back exactly.
#pragma once

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace telvio::testing {

class PixelCanvas {
  public:
    PixelCanvas(int width, int height, COLORREF fill = RGB(255, 255, 255))
        : width_(width), height_(height) {
        BITMAPINFO info{};
        info.bmiHeader.biSize = sizeof(info.bmiHeader);
        info.bmiHeader.biWidth = width;
        info.bmiHeader.biHeight = -height;
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        info.bmiHeader.biCompression = BI_RGB;
        bitmap_ = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits_, nullptr, 0);
        dc_ = CreateCompatibleDC(nullptr);
        old_ = SelectObject(dc_, bitmap_);
        Fill(fill);
    }
    ~PixelCanvas() {
        SelectObject(dc_, old_);
        DeleteDC(dc_);
        DeleteObject(bitmap_);
    }
    PixelCanvas(const PixelCanvas&) = delete;
    PixelCanvas& operator=(const PixelCanvas&) = delete;

    HDC dc() const { return dc_; }
    int width() const { return width_; }
    int height() const { return height_; }

    void Fill(COLORREF color) {
        HBRUSH brush = CreateSolidBrush(color);
        RECT all{0, 0, width_, height_};
        FillRect(dc_, &all, brush);
        DeleteObject(brush);
    }

    COLORREF At(int x, int y) const {
        GdiFlush();
        if (x < 0 || y < 0 || x >= width_ || y >= height_) return CLR_INVALID;
        DWORD v = static_cast<const DWORD*>(bits_)[y * width_ + x];
        return RGB((v >> 16) & 0xFF, (v >> 8) & 0xFF, v & 0xFF);
    }

    // The smallest rectangle holding every pixel that is not `background`, inside `area`;
    // empty (all zero) when there is none.
    RECT InkBox(COLORREF background, RECT area) const {
        RECT box{0, 0, 0, 0};
        bool any = false;
        for (int y = area.top; y < area.bottom; ++y) {
            for (int x = area.left; x < area.right; ++x) {
                if (At(x, y) == background) continue;
                if (!any) {
                    box = RECT{x, y, x + 1, y + 1};
                    any = true;
                } else {
                    box.left = std::min<LONG>(box.left, x);
                    box.top = std::min<LONG>(box.top, y);
                    box.right = std::max<LONG>(box.right, x + 1);
                    box.bottom = std::max<LONG>(box.bottom, y + 1);
                }
            }
        }
        return box;
    }
    RECT InkBox(COLORREF background) const { return InkBox(background, {0, 0, width_, height_}); }

    int Count(COLORREF color, RECT area) const {
        int n = 0;
        for (int y = area.top; y < area.bottom; ++y) {
            for (int x = area.left; x < area.right; ++x) n += At(x, y) == color;
        }
        return n;
    }
    int Count(COLORREF color) const { return Count(color, {0, 0, width_, height_}); }

    // Where the two canvases differ, as "x,y: a != b" for the first few; empty when equal.
    std::string Diff(const PixelCanvas& other) const {
        std::string out;
        int shown = 0;
        for (int y = 0; y < height_; ++y) {
            for (int x = 0; x < width_; ++x) {
                if (At(x, y) == other.At(x, y)) continue;
                if (shown++ < 5) {
                    char line[80];
                    snprintf(line, sizeof line, "%d,%d: %06lx != %06lx; ", x, y, At(x, y),
                             other.At(x, y));
                    out += line;
                }
            }
        }
        if (shown > 5) out += std::to_string(shown) + " pixels differ";
        return out;
    }

  private:
    int width_;
    int height_;
    HBITMAP bitmap_ = nullptr;
    HDC dc_ = nullptr;
    HGDIOBJ old_ = nullptr;
    void* bits_ = nullptr;
};

inline std::string RectText(const RECT& r) {
    return "(" + std::to_string(r.left) + "," + std::to_string(r.top) + "," +
           std::to_string(r.right) + "," + std::to_string(r.bottom) + ")";
}

inline bool SameRect(const RECT& a, const RECT& b) {
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

// A bold font without smoothing, so every text pixel is exactly the text colour.
inline HFONT CrispFont(int height, const char* face = "Tahoma") {
    LOGFONTA lf{};
    lf.lfHeight = height;
    lf.lfWeight = FW_BOLD;
    lf.lfQuality = NONANTIALIASED_QUALITY;
    lf.lfCharSet = DEFAULT_CHARSET;
    lstrcpynA(lf.lfFaceName, face, LF_FACESIZE);
    return CreateFontIndirectA(&lf);
}

}  // namespace telvio::testing
