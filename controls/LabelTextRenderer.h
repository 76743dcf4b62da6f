// Renders a label's text off-screen (one line per newline-separated piece, opaque
// background), turns it by 0, 90, 180 or 270 degrees and copies it aligned into the
// label's client area. Lives for one paint of one label. The font is the target's, already
// at the screen's DPI; the etched lines' gap and the embossed shift scale by DPI / 96.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace telvio {

class LabelTextRenderer {
  public:
    // `hAlign`: 0 left, 1 centre, 2 right; `vAlign`: 0 top, 1 centre, 2 bottom. The font
    // selected in `targetDC` is the one used. Creates no drawing objects.
    LabelTextRenderer(HDC targetDC, std::string text, int hAlign, int vAlign);
    virtual ~LabelTextRenderer();
    LabelTextRenderer(const LabelTextRenderer&) = delete;
    LabelTextRenderer& operator=(const LabelTextRenderer&) = delete;

    LabelTextRenderer& SetEtchedLines(int flag);
    LabelTextRenderer& SetEmbossed(int flag);
    LabelTextRenderer& SetBackColor(COLORREF color);
    LabelTextRenderer& SetTextColor(COLORREF color);

    // Renders and turns the block; on failure nothing stays allocated.
    bool Build(int angle);
    // Copies the built block into `client` of the target; 0 when nothing is built.
    BOOL Draw(const RECT& client);
    RECT GetSize() const { return size_; }
    void Reset();

    // Which way blocks are turned. System follows the Windows family (parallelogram
    // transfer on NT, pixel by pixel on 9x); the others let tests take either way.
    enum class RotationPath { System, Parallelogram, PixelByPixel };
    using ParallelogramTransfer = BOOL(WINAPI*)(HDC, const POINT*, HDC, int, int, int, int, HBITMAP,
                                                int, int);

    // What a test may replace, all in one place (see controls/Seams.h); the defaults
    // are the program's.
    struct Seams {
        RotationPath path = RotationPath::System;
        // Null: the system's PlgBlt, looked up when first needed (9x has none, and the
        // 32-bit program must load there). The transfer's turns are checked once on a
        // small probe before they are trusted; one that does not turn exactly as the
        // pixel path does is passed over for the pixel path. The verdict stands until a
        // set with another transfer is installed.
        ParallelogramTransfer transfer = nullptr;
    };
    // Puts `seams` in place of the installed set, which it returns.
    static Seams InstallSeams(const Seams& seams);
    // Whether the installed transfer passed its probe (runs the probe when not yet done).
    static bool ParallelogramTransferIsExact();
    // The destination points of the source's upper-left, upper-right and lower-left
    // corners for a w x h block turned by `angle`.
    static void ParallelogramPoints(int angle, int w, int h, POINT points[3]);

  private:
    static SIZE MeasureLines(HDC dc, const std::vector<std::string>& lines);
    static bool Rotate(HDC source, HDC destination, const RECT& rect, int angle);
    static void RotatePixels(HDC source, HDC destination, int w, int h, int angle);
    static bool UseParallelogram();

    HDC targetDC_;
    HDC resultDC_ = nullptr;
    HBITMAP resultBitmap_ = nullptr;
    HGDIOBJ resultOldBitmap_ = nullptr;
    RECT size_{0, 0, 0, 0};
    int hAlign_;
    int vAlign_;
    int angle_ = 0;
    int embossed_ = 0;
    int etchedLines_ = 0;
    std::string text_;
    COLORREF backColor_;
    COLORREF textColor_;
};

}  // namespace telvio
