#include "controls/LabelTextRenderer.h"

#include <algorithm>
#include <new>
#include <vector>

#include "controls/Dpi.h"
#include "controls/GdiTally.h"
#include "controls/TextLines.h"

namespace telvio {

namespace {

LabelTextRenderer::Seams seams;
// The system's PlgBlt, looked up when first needed (9x has none, and the 32-bit program
// must load there).
LabelTextRenderer::ParallelogramTransfer systemTransfer = nullptr;
int parallelogramExact = -1;  // the installed transfer's probe; -1 not run yet

// Distance of the etched lines from the text block and from the client edge, and the
// shift of an embossed block's highlight copy: pixels at 96 DPI.
constexpr int kEtchGap96 = 6;
constexpr int kEmbossShift96 = 1;

void Etch(HDC dc, int left, int top, int right, int bottom, UINT edge) {
    RECT line{left, top, right, bottom};
    DrawEdge(dc, &line, EDGE_ETCHED, edge);
}

LabelTextRenderer::ParallelogramTransfer Transfer() {
    if (seams.transfer != nullptr) return seams.transfer;
    if (systemTransfer == nullptr) {
        HMODULE gdi = GetModuleHandleA("gdi32.dll");
        if (gdi != nullptr) {
            systemTransfer = reinterpret_cast<LabelTextRenderer::ParallelogramTransfer>(
                reinterpret_cast<void (*)()>(GetProcAddress(gdi, "PlgBlt")));
        }
    }
    return systemTransfer;
}

}  // namespace

LabelTextRenderer::LabelTextRenderer(HDC targetDC, std::string text, int hAlign, int vAlign)
    : targetDC_(targetDC),
      hAlign_(hAlign),
      vAlign_(vAlign),
      text_(std::move(text)),
      backColor_(GetSysColor(COLOR_BTNFACE)),
      textColor_(GetSysColor(COLOR_WINDOWTEXT)) {}

LabelTextRenderer::~LabelTextRenderer() {
    Reset();
}

LabelTextRenderer& LabelTextRenderer::SetEtchedLines(int flag) {
    etchedLines_ = flag;
    return *this;
}

LabelTextRenderer& LabelTextRenderer::SetEmbossed(int flag) {
    embossed_ = flag;
    return *this;
}

LabelTextRenderer& LabelTextRenderer::SetBackColor(COLORREF color) {
    backColor_ = color;
    return *this;
}

LabelTextRenderer& LabelTextRenderer::SetTextColor(COLORREF color) {
    textColor_ = color;
    return *this;
}

void LabelTextRenderer::Reset() {
    if (resultDC_ != nullptr) {
        SelectObject(resultDC_, resultOldBitmap_);
        gdi::DeleteMemoryDC(resultDC_);
    }
    gdi::DeleteObject(resultBitmap_);
    resultDC_ = nullptr;
    resultBitmap_ = nullptr;
    resultOldBitmap_ = nullptr;
    size_ = RECT{0, 0, 0, 0};
    angle_ = 0;
}

SIZE LabelTextRenderer::MeasureLines(HDC dc, const std::vector<std::string>& lines) {
    SIZE widest{0, 0};
    for (const std::string& line : lines) {
        SIZE extent;
        if (!GetTextExtentPoint32A(dc, line.c_str(), static_cast<int>(line.size()), &extent)) {
            continue;
        }
        widest.cx = std::max(widest.cx, extent.cx);
        widest.cy = std::max(widest.cy, extent.cy);
    }
    return widest;
}

bool LabelTextRenderer::Build(int angle) {
    Reset();
    angle_ = angle;

    std::vector<std::string> lines;
    try {
        lines = SplitLines(text_);
    } catch (const std::bad_alloc&) {
        return false;
    }
    const SIZE line = MeasureLines(targetDC_, lines);
    const int count = static_cast<int>(lines.size());
    const RECT block{0, 0, line.cx, line.cy * count};
    // Square, so the block fits whichever way it is turned; never empty, so an empty
    // text still builds (and draws nothing).
    const int side = std::max({static_cast<int>(block.right), static_cast<int>(block.bottom), 1});

    HBITMAP workBitmap = gdi::NewCompatibleBitmap(targetDC_, side, side);
    HBITMAP resultBitmap = gdi::NewCompatibleBitmap(targetDC_, side, side);
    HDC workDC = gdi::NewMemoryDC(targetDC_);
    HDC resultDC = gdi::NewMemoryDC(targetDC_);
    if (workBitmap == nullptr || resultBitmap == nullptr || workDC == nullptr ||
        resultDC == nullptr) {
        gdi::DeleteMemoryDC(resultDC);
        gdi::DeleteMemoryDC(workDC);
        gdi::DeleteObject(resultBitmap);
        gdi::DeleteObject(workBitmap);
        return false;
    }
    HBRUSH brush = gdi::NewSolidBrush(backColor_);
    if (brush == nullptr) {
        gdi::DeleteMemoryDC(resultDC);
        gdi::DeleteMemoryDC(workDC);
        gdi::DeleteObject(resultBitmap);
        gdi::DeleteObject(workBitmap);
        return false;
    }

    HGDIOBJ workOldBitmap = SelectObject(workDC, workBitmap);
    resultOldBitmap_ = SelectObject(resultDC, resultBitmap);
    resultDC_ = resultDC;
    resultBitmap_ = resultBitmap;
    HGDIOBJ workOldFont = SelectObject(workDC, GetCurrentObject(targetDC_, OBJ_FONT));
    SetBkMode(workDC, TRANSPARENT);

    FillRect(workDC, &block, brush);
    FillRect(resultDC, &block, brush);
    ::SetTextColor(workDC, textColor_);

    const UINT format = static_cast<UINT>(hAlign_) | DT_VCENTER | DT_SINGLELINE;
    const int embossShift = ScaleForDpi(kEmbossShift96);
    for (int i = 0; i < count; ++i) {
        RECT lineRect{0, i * line.cy, line.cx, (i + 1) * line.cy};
        const std::string& piece = lines[static_cast<size_t>(i)];
        if (embossed_) {
            ::SetTextColor(workDC, GetSysColor(COLOR_BTNHIGHLIGHT));
            RECT moved = lineRect;
            OffsetRect(&moved, embossShift, embossShift);
            DrawTextA(workDC, piece.c_str(), static_cast<int>(piece.size()), &moved, format);
            ::SetTextColor(workDC, GetSysColor(COLOR_BTNSHADOW));
        }
        DrawTextA(workDC, piece.c_str(), static_cast<int>(piece.size()), &lineRect, format);
    }

    Rotate(workDC, resultDC_, block, angle_);

    SelectObject(workDC, workOldFont);
    SelectObject(workDC, workOldBitmap);
    gdi::DeleteMemoryDC(workDC);
    gdi::DeleteObject(workBitmap);
    gdi::DeleteObject(brush);

    if (angle_ == 90 || angle_ == 270) {
        size_ = RECT{0, 0, block.bottom, block.right};
    } else {
        size_ = block;
    }
    return true;
}

BOOL LabelTextRenderer::Draw(const RECT& client) {
    if (resultDC_ == nullptr) return 0;
    const int cw = client.right - client.left;
    const int ch = client.bottom - client.top;
    // Cut to the client for this call only; the built size stays as it is.
    const int w = std::min(static_cast<int>(size_.right), cw);
    const int h = std::min(static_cast<int>(size_.bottom), ch);

    int x = 0;
    if (hAlign_ == 1) x = (cw - w) / 2;
    if (hAlign_ == 2) x = cw - w;
    int y = 0;
    if (vAlign_ == 1) y = (ch - h) / 2;
    if (vAlign_ == 2) y = ch - h;

    BOOL copied = BitBlt(targetDC_, x, y, w, h, resultDC_, 0, 0, SRCCOPY);

    if (etchedLines_) {
        const int gap = ScaleForDpi(kEtchGap96);
        if (angle_ == 0 || angle_ == 180) {
            int row = h / 2;
            if (vAlign_ == 1) row = ch / 2;
            if (vAlign_ == 2) row = ch - h / 2;
            if (hAlign_ == 0) {
                Etch(targetDC_, w + gap, row, cw - gap, row, BF_TOP);
            } else if (hAlign_ == 1) {
                Etch(targetDC_, gap, row, cw / 2 - w / 2 - gap, row, BF_TOP);
                Etch(targetDC_, cw / 2 + w / 2 + gap, row, cw - gap, row, BF_TOP);
            } else if (hAlign_ == 2) {
                Etch(targetDC_, gap, row, cw - w - gap, row, BF_TOP);
            }
        } else {
            int column = w / 2;
            if (hAlign_ == 1) column = cw / 2;
            if (hAlign_ == 2) column = cw - w / 2;
            if (vAlign_ == 0) {
                Etch(targetDC_, column, h + gap, column, ch - gap, BF_LEFT);
            } else if (vAlign_ == 1) {
                Etch(targetDC_, column, gap, column, ch / 2 - h / 2 - gap, BF_LEFT);
                Etch(targetDC_, column, ch / 2 + h / 2 + gap, column, ch - gap, BF_LEFT);
            } else if (vAlign_ == 2) {
                Etch(targetDC_, column, gap, column, ch - h - gap, BF_LEFT);
            }
        }
    }
    return copied;
}

void LabelTextRenderer::ParallelogramPoints(int angle, int w, int h, POINT points[3]) {
    switch (angle) {
        case 90:
            points[0] = {h, 0};
            points[1] = {h, w};
            points[2] = {0, 0};
            break;
        case 180:
            points[0] = {w, h};
            points[1] = {0, h};
            points[2] = {w, 0};
            break;
        case 270:
            points[0] = {0, w};
            points[1] = {0, 0};
            points[2] = {h, w};
            break;
        default:
            points[0] = {0, 0};
            points[1] = {w, 0};
            points[2] = {0, h};
            break;
    }
}

void LabelTextRenderer::RotatePixels(HDC source, HDC destination, int w, int h, int angle) {
    for (int x = 0; x < w; ++x) {
        for (int y = 0; y < h; ++y) {
            switch (angle) {
                case 90:
                    SetPixel(destination, h - 1 - y, x, GetPixel(source, x, y));
                    break;
                case 180:
                    SetPixel(destination, x, y, GetPixel(source, w - 1 - x, h - 1 - y));
                    break;
                case 270:
                    SetPixel(destination, y, x, GetPixel(source, w - 1 - x, y));
                    break;
                default:
                    SetPixel(destination, x, y, GetPixel(source, x, y));
                    break;
            }
        }
    }
}

bool LabelTextRenderer::Rotate(HDC source, HDC destination, const RECT& rect, int angle) {
    const int w = rect.right - rect.left;
    const int h = rect.bottom - rect.top;
    if (angle == 0) return BitBlt(destination, 0, 0, w, h, source, 0, 0, SRCCOPY) != FALSE;
    if (UseParallelogram()) {
        POINT points[3];
        ParallelogramPoints(angle, w, h, points);
        return Transfer()(destination, points, source, 0, 0, w, h, nullptr, 0, 0) != FALSE;
    }
    RotatePixels(source, destination, w, h, angle);
    return true;
}

bool LabelTextRenderer::UseParallelogram() {
    bool wanted = false;
    switch (seams.path) {
        case RotationPath::System:
            wanted = (GetVersion() & 0x80000000u) == 0;
            break;
        case RotationPath::Parallelogram:
            wanted = true;
            break;
        case RotationPath::PixelByPixel:
            wanted = false;
            break;
    }
    return wanted && ParallelogramTransferIsExact();
}

LabelTextRenderer::Seams LabelTextRenderer::InstallSeams(const Seams& replacement) {
    const Seams previous = seams;
    seams = replacement;
    if (seams.transfer != previous.transfer) parallelogramExact = -1;
    return previous;
}

bool LabelTextRenderer::ParallelogramTransferIsExact() {
    if (parallelogramExact >= 0) return parallelogramExact == 1;
    const ParallelogramTransfer transfer = Transfer();
    if (transfer == nullptr) {
        parallelogramExact = 0;
        return false;
    }
    // Some GDI implementations (Wine 8 among them) accept the call but do not turn the
    // block, or turn it a pixel off. Try every angle on a tiny block of distinct pixels
    // against the pixel path before trusting the transfer with a label.
    constexpr int w = 3, h = 2, side = 3;
    bool exact = false;
    void* sourceBits = nullptr;
    void* expectedBits = nullptr;
    void* gotBits = nullptr;
    HBITMAP sourceBitmap = gdi::NewDibSection(side, side, &sourceBits);
    HBITMAP expectedBitmap = gdi::NewDibSection(side, side, &expectedBits);
    HBITMAP gotBitmap = gdi::NewDibSection(side, side, &gotBits);
    HDC sourceDC = gdi::NewMemoryDC(nullptr);
    HDC expectedDC = gdi::NewMemoryDC(nullptr);
    HDC gotDC = gdi::NewMemoryDC(nullptr);
    if (sourceBitmap && expectedBitmap && gotBitmap && sourceDC && expectedDC && gotDC) {
        HGDIOBJ oldSource = SelectObject(sourceDC, sourceBitmap);
        HGDIOBJ oldExpected = SelectObject(expectedDC, expectedBitmap);
        HGDIOBJ oldGot = SelectObject(gotDC, gotBitmap);
        for (int y = 0; y < h; ++y) {
            for (int x = 0; x < w; ++x) SetPixel(sourceDC, x, y, RGB(40 + 50 * x, 60 + 90 * y, 7));
        }
        exact = true;
        for (int angle : {90, 180, 270}) {
            PatBlt(expectedDC, 0, 0, side, side, BLACKNESS);
            PatBlt(gotDC, 0, 0, side, side, BLACKNESS);
            RotatePixels(sourceDC, expectedDC, w, h, angle);
            POINT points[3];
            ParallelogramPoints(angle, w, h, points);
            if (!transfer(gotDC, points, sourceDC, 0, 0, w, h, nullptr, 0, 0)) {
                exact = false;
                break;
            }
            GdiFlush();
            const auto* want = static_cast<const DWORD*>(expectedBits);
            const auto* got = static_cast<const DWORD*>(gotBits);
            for (int i = 0; i < side * side; ++i) {
                if ((want[i] & 0xFFFFFF) != (got[i] & 0xFFFFFF)) exact = false;
            }
            if (!exact) break;
        }
        SelectObject(gotDC, oldGot);
        SelectObject(expectedDC, oldExpected);
        SelectObject(sourceDC, oldSource);
    }
    gdi::DeleteMemoryDC(gotDC);
    gdi::DeleteMemoryDC(expectedDC);
    gdi::DeleteMemoryDC(sourceDC);
    gdi::DeleteObject(gotBitmap);
    gdi::DeleteObject(expectedBitmap);
    gdi::DeleteObject(sourceBitmap);
    parallelogramExact = exact ? 1 : 0;
    return exact;
}

}  // namespace telvio
