// The off-screen text renderer, painted into memory canvases and read back.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "controls/ControlToolTip.h"
#include "controls/Dpi.h"
#include "controls/LabelTextRenderer.h"
#include "controls/Seams.h"
#include "tests/win/controls/PixelCanvas.h"

using namespace telvio;
using telvio::testing::CrispFont;
using telvio::testing::PixelCanvas;
using telvio::testing::RectText;
using telvio::testing::SameRect;

namespace {

constexpr COLORREF kWhite = RGB(255, 255, 255);
constexpr COLORREF kBlock = RGB(0, 200, 0);
constexpr COLORREF kInk = RGB(0, 0, 160);

// Selects a crisp font into a canvas for the length of a test.
class FontScope {
  public:
    FontScope(HDC dc, int height) : dc_(dc), font_(CrispFont(height)) {
        old_ = SelectObject(dc_, font_);
    }
    ~FontScope() {
        SelectObject(dc_, old_);
        DeleteObject(font_);
    }

  private:
    HDC dc_;
    HFONT font_;
    HGDIOBJ old_;
};

using RendererSeams = SeamScope<LabelTextRenderer>;

// `seams` turning by `path`.
LabelTextRenderer::Seams WithPath(LabelTextRenderer::RotationPath path,
                                  LabelTextRenderer::Seams seams = {}) {
    seams.path = path;
    return seams;
}

SIZE Extent(HDC dc, const std::string& s) {
    SIZE size{0, 0};
    GetTextExtentPoint32A(dc, s.c_str(), static_cast<int>(s.size()), &size);
    return size;
}

// Renders `text` at `angle` into `canvas` (white first), aligned in `client`.
RECT Render(PixelCanvas& canvas, const std::string& text, int h, int v, int angle, RECT client,
            bool etched = false, bool embossed = false) {
    canvas.Fill(kWhite);
    LabelTextRenderer r(canvas.dc(), text, h, v);
    r.SetBackColor(kBlock).SetTextColor(kInk).SetEtchedLines(etched).SetEmbossed(embossed);
    EXPECT_TRUE(r.Build(angle)) << text << " at " << angle;
    EXPECT_TRUE(r.Draw(client));
    return r.GetSize();
}

TEST(LabelTextRenderer, DrawWithoutBuildFails) {
    PixelCanvas canvas(50, 50);
    LabelTextRenderer r(canvas.dc(), "x", 0, 0);
    EXPECT_FALSE(r.Draw(RECT{0, 0, 50, 50}));
    EXPECT_EQ(50 * 50, canvas.Count(kWhite));
    ASSERT_TRUE(r.Build(0));
    r.Reset();
    EXPECT_FALSE(r.Draw(RECT{0, 0, 50, 50}));
    EXPECT_TRUE(SameRect(RECT{0, 0, 0, 0}, r.GetSize()));
}

TEST(LabelTextRenderer, EveryAlignmentPlacesTheBlock) {
    PixelCanvas canvas(200, 100);
    FontScope font(canvas.dc(), -16);
    const SIZE line = Extent(canvas.dc(), "Align");
    struct Case {
        int h, v;
        int x, y;
    };
    const Case cases[] = {
        {0, 0, 0, 0},
        {1, 0, (200 - line.cx) / 2, 0},
        {2, 0, 200 - line.cx, 0},
        {0, 1, 0, (100 - line.cy) / 2},
        {1, 1, (200 - line.cx) / 2, (100 - line.cy) / 2},
        {2, 1, 200 - line.cx, (100 - line.cy) / 2},
        {0, 2, 0, 100 - line.cy},
        {1, 2, (200 - line.cx) / 2, 100 - line.cy},
        {2, 2, 200 - line.cx, 100 - line.cy},
    };
    for (const Case& c : cases) {
        Render(canvas, "Align", c.h, c.v, 0, RECT{0, 0, 200, 100});
        RECT want{c.x, c.y, c.x + line.cx, c.y + line.cy};
        RECT got = canvas.InkBox(kWhite);
        EXPECT_TRUE(SameRect(want, got)) << "h=" << c.h << " v=" << c.v << " want "
                                         << RectText(want) << " got " << RectText(got);
        EXPECT_GT(canvas.Count(kInk), 0) << "h=" << c.h << " v=" << c.v;
    }
}

TEST(LabelTextRenderer, BlockLargerThanClientIsCutAndPlacedAtZero) {
    PixelCanvas canvas(120, 80);
    FontScope font(canvas.dc(), -16);
    const RECT client{0, 0, 20, 8};
    for (int h = 0; h < 3; ++h) {
        for (int v = 0; v < 3; ++v) {
            RECT size = Render(canvas, "Much too wide\nand tall\nfor it", h, v, 0, client);
            EXPECT_GT(size.right, 20);
            EXPECT_GT(size.bottom, 8);
            RECT got = canvas.InkBox(kWhite);
            EXPECT_TRUE(SameRect(client, got))
                << "h=" << h << " v=" << v << " got " << RectText(got);
        }
    }
    // Wider only: cut at the right, still aligned vertically.
    const SIZE line = Extent(canvas.dc(), "Much too wide");
    Render(canvas, "Much too wide", 2, 2, 0, RECT{0, 0, 30, 60});
    RECT want{0, 60 - line.cy, 30, 60};
    EXPECT_TRUE(SameRect(want, canvas.InkBox(kWhite))) << RectText(canvas.InkBox(kWhite));
}

TEST(LabelTextRenderer, SizesAndEmptyPieces) {
    PixelCanvas canvas(200, 200);
    FontScope font(canvas.dc(), -13);
    const SIZE a = Extent(canvas.dc(), "A");
    const SIZE wide = Extent(canvas.dc(), "abc");
    struct Case {
        std::string text;
        int angle;
        RECT size;
    };
    const Case cases[] = {
        {"A\n\nB", 0, {0, 0, std::max(a.cx, Extent(canvas.dc(), "B").cx), 2 * a.cy}},
        {"\n\n\n", 0, {0, 0, 0, 0}},
        {"", 90, {0, 0, 0, 0}},
        {"abc\nab\na", 90, {0, 0, 3 * wide.cy, wide.cx}},
        {"abc\nab\na", 270, {0, 0, 3 * wide.cy, wide.cx}},
        {"abc\nab\na", 180, {0, 0, wide.cx, 3 * wide.cy}},
        {"\nabc\n", 45, {0, 0, wide.cx, wide.cy}},
        {" \nabc", 0, {0, 0, wide.cx, 2 * wide.cy}},
    };
    for (const Case& c : cases) {
        RECT got = Render(canvas, c.text, 0, 0, c.angle, RECT{0, 0, 200, 200});
        EXPECT_TRUE(SameRect(c.size, got))
            << "text '" << c.text << "' angle " << c.angle << " want " << RectText(c.size)
            << " got " << RectText(got);
    }
    // Newlines only: nothing visible at all.
    Render(canvas, "\n\n", 1, 1, 0, RECT{0, 0, 200, 200});
    EXPECT_EQ(200 * 200, canvas.Count(kWhite));
}

// Reads the w x h block at the canvas origin.
std::vector<COLORREF> Block(const PixelCanvas& canvas, int w, int h) {
    std::vector<COLORREF> pixels;
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) pixels.push_back(canvas.At(x, y));
    }
    return pixels;
}

TEST(LabelTextRenderer, TurnsClockwiseForNinetyAndBackForTwoSeventy) {
    RendererSeams seams(WithPath(LabelTextRenderer::RotationPath::PixelByPixel));
    PixelCanvas canvas(200, 200);
    FontScope font(canvas.dc(), -14);
    // A long first line over a short second one: the top-left of the block is inked,
    // its bottom-right is bare background.
    const std::string text = "WWWWWW\nI";
    const RECT client{0, 0, 200, 200};
    RECT flat = Render(canvas, text, 0, 0, 0, client);
    const int w = flat.right, h = flat.bottom;
    std::vector<COLORREF> upright = Block(canvas, w, h);
    auto src = [&](int x, int y) { return upright[static_cast<size_t>(y * w + x)]; };
    // The marked corner: ink near the top-left, none near the bottom-right.
    ASSERT_EQ(kBlock, src(w - 1, h - 1));

    struct Case {
        int angle;
        int width, height;
        // Where the source pixel (x, y) lands.
        POINT (*to)(int x, int y, int w, int h);
    };
    const Case cases[] = {
        {90, h, w,
         [](int x, int y, int, int h) {
             return POINT{h - 1 - y, x};
         }},
        {180, w, h,
         [](int x, int y, int w, int h) {
             return POINT{w - 1 - x, h - 1 - y};
         }},
        {270, h, w,
         [](int x, int y, int w, int) {
             return POINT{y, w - 1 - x};
         }},
    };
    for (const Case& c : cases) {
        RECT size = Render(canvas, text, 0, 0, c.angle, client);
        EXPECT_TRUE(SameRect(RECT{0, 0, c.width, c.height}, size))
            << c.angle << ": " << RectText(size);
        int wrong = 0;
        for (int y = 0; y < h; ++y) {
            for (int x = 0; x < w; ++x) {
                POINT p = c.to(x, y, w, h);
                if (canvas.At(p.x, p.y) != src(x, y)) ++wrong;
            }
        }
        EXPECT_EQ(0, wrong) << "angle " << c.angle;
        EXPECT_TRUE(SameRect(RECT{0, 0, c.width, c.height}, canvas.InkBox(kWhite)))
            << c.angle << ": " << RectText(canvas.InkBox(kWhite));
    }
    // The bare corner of the upright block: clockwise it goes to the bottom-left, counter-
    // clockwise to the top-right.
    Render(canvas, text, 0, 0, 90, client);
    EXPECT_EQ(kBlock, canvas.At(0, w - 1));
    Render(canvas, text, 0, 0, 270, client);
    EXPECT_EQ(kBlock, canvas.At(h - 1, 0));
}

// A parallelogram transfer that maps every source pixel centre through the affine map
// the three points define, independent of the renderer's own tables.
int exactCalls = 0;
BOOL WINAPI ExactTransfer(HDC dst, const POINT* p, HDC src, int sx, int sy, int w, int h, HBITMAP,
                          int, int) {
    ++exactCalls;
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            double u = (x + 0.5) / w, v = (y + 0.5) / h;
            double dx = p[0].x + u * (p[1].x - p[0].x) + v * (p[2].x - p[0].x);
            double dy = p[0].y + u * (p[1].y - p[0].y) + v * (p[2].y - p[0].y);
            SetPixel(dst, static_cast<int>(dx), static_cast<int>(dy),
                     GetPixel(src, sx + x, sy + y));
        }
    }
    return TRUE;
}

int flatCalls = 0;
BOOL WINAPI UnturnedTransfer(HDC dst, const POINT*, HDC src, int sx, int sy, int w, int h, HBITMAP,
                             int, int) {
    ++flatCalls;
    return BitBlt(dst, 0, 0, w, h, src, sx, sy, SRCCOPY);
}

// The program's seams, but turning with `transfer`.
LabelTextRenderer::Seams WithTransfer(LabelTextRenderer::ParallelogramTransfer transfer) {
    LabelTextRenderer::Seams seams;
    seams.transfer = transfer;
    return seams;
}

// Both paths of `seams` paint the same pixels.
void ExpectPathsAgree(const char* what, const LabelTextRenderer::Seams& seams = {}) {
    PixelCanvas nt(160, 160), nine(160, 160);
    FontScope ntFont(nt.dc(), -15), nineFont(nine.dc(), -15);
    for (int angle : {0, 90, 180, 270, 45}) {
        for (bool embossed : {false, true}) {
            {
                RendererSeams path(WithPath(LabelTextRenderer::RotationPath::Parallelogram, seams));
                Render(nt, "Turn me\nround", 1, 1, angle, RECT{0, 0, 160, 160}, true, embossed);
            }
            {
                RendererSeams path(WithPath(LabelTextRenderer::RotationPath::PixelByPixel, seams));
                Render(nine, "Turn me\nround", 1, 1, angle, RECT{0, 0, 160, 160}, true, embossed);
            }
            EXPECT_EQ("", nt.Diff(nine)) << what << " angle " << angle << " embossed " << embossed;
        }
    }
}

// The system's own transfer, counted.
int systemCalls = 0;
BOOL WINAPI CountedSystemTransfer(HDC dst, const POINT* p, HDC src, int sx, int sy, int w, int h,
                                  HBITMAP mask, int mx, int my) {
    ++systemCalls;
    return PlgBlt(dst, p, src, sx, sy, w, h, mask, mx, my);
}

// Wine 8's PlgBlt fails the probe (it samples a pixel off the centres and repeats a column),
// so here the labels must not reach it; where it passes, every turned label goes through it
// and must equal the pixel path's. The NT path with a transfer that turns exactly is
// compared with the pixel path by ExactTransferIsTakenWithTheTablePoints.
TEST(LabelTextRenderer, SystemTransferCarriesLabelsOnlyWhenItTurnsExactly) {
    const LabelTextRenderer::Seams seams = WithTransfer(&CountedSystemTransfer);
    RendererSeams scope(seams);
    systemCalls = 0;
    const bool trusted = LabelTextRenderer::ParallelogramTransferIsExact();
    const int probeCalls = systemCalls;
    std::printf("system parallelogram transfer trusted: %d\n", trusted);
    EXPECT_GE(probeCalls, 1);
    ExpectPathsAgree("system transfer", seams);
    // Trusted, it turns every label but the upright ones: 90, 180, 270 and 45, both looks.
    EXPECT_EQ(probeCalls + (trusted ? 4 * 2 : 0), systemCalls);
}

TEST(LabelTextRenderer, ExactTransferIsTakenWithTheTablePoints) {
    const LabelTextRenderer::Seams seams = WithTransfer(&ExactTransfer);
    RendererSeams scope(seams);
    exactCalls = 0;
    ASSERT_TRUE(LabelTextRenderer::ParallelogramTransferIsExact());
    const int probeCalls = exactCalls;
    EXPECT_EQ(3, probeCalls);
    ExpectPathsAgree("exact transfer", seams);
    // 3 turned angles x 2 looks went through the transfer; 0 and 45 are plain or identity.
    EXPECT_EQ(probeCalls + 3 * 2 + 2, exactCalls);
}

TEST(LabelTextRenderer, TransferThatDoesNotTurnIsPassedOver) {
    const LabelTextRenderer::Seams seams = WithTransfer(&UnturnedTransfer);
    RendererSeams scope(seams);
    flatCalls = 0;
    EXPECT_FALSE(LabelTextRenderer::ParallelogramTransferIsExact());
    const int probeCalls = flatCalls;
    EXPECT_GE(probeCalls, 1);
    ExpectPathsAgree("unturned transfer", seams);
    EXPECT_EQ(probeCalls, flatCalls);
}

TEST(LabelTextRenderer, CornerPointsOfTheTable) {
    struct Case {
        int angle;
        POINT p[3];
    };
    const Case cases[] = {{90, {{13, 0}, {13, 40}, {0, 0}}},
                          {180, {{40, 13}, {0, 13}, {40, 0}}},
                          {270, {{0, 40}, {0, 0}, {13, 40}}},
                          {0, {{0, 0}, {40, 0}, {0, 13}}},
                          {45, {{0, 0}, {40, 0}, {0, 13}}}};
    for (const Case& c : cases) {
        POINT got[3];
        LabelTextRenderer::ParallelogramPoints(c.angle, 40, 13, got);
        for (int i = 0; i < 3; ++i) {
            EXPECT_EQ(c.p[i].x, got[i].x) << c.angle << " point " << i;
            EXPECT_EQ(c.p[i].y, got[i].y) << c.angle << " point " << i;
        }
    }
}

// Finds a font height at which `text` is exactly `width` pixels wide.
int HeightForWidth(HDC dc, const std::string& text, int width) {
    for (int height = -8; height >= -60; --height) {
        HFONT f = CrispFont(height);
        HGDIOBJ old = SelectObject(dc, f);
        SIZE s = Extent(dc, text);
        SelectObject(dc, old);
        DeleteObject(f);
        if (s.cx == width) return height;
    }
    return 0;
}

// The columns of `row` holding the etched line's shadow colour, as [first, last+1) runs.
std::vector<std::pair<int, int>> ShadowRuns(const PixelCanvas& canvas, int row) {
    std::vector<std::pair<int, int>> runs;
    const COLORREF shadow = GetSysColor(COLOR_BTNSHADOW);
    for (int x = 0; x < canvas.width(); ++x) {
        if (canvas.At(x, row) != shadow) continue;
        if (!runs.empty() && runs.back().second == x) {
            runs.back().second = x + 1;
        } else {
            runs.emplace_back(x, x + 1);
        }
    }
    return runs;
}

TEST(LabelTextRenderer, EtchedLinesBesideTheBlock) {
    PixelCanvas canvas(200, 60);
    std::string text;
    int height = 0;
    for (const char* candidate : {"Etched", "Lines", "Label", "Text", "Forty"}) {
        height = HeightForWidth(canvas.dc(), candidate, 40);
        if (height != 0) {
            text = candidate;
            break;
        }
    }
    ASSERT_NE(0, height) << "no font height gives a 40 pixel text";
    FontScope font(canvas.dc(), height);
    const int lineHeight = Extent(canvas.dc(), text).cy;
    using Runs = std::vector<std::pair<int, int>>;
    struct Case {
        int h, v;
        int row;
        Runs runs;
    };
    const Case cases[] = {
        {1, 1, 30, {{6, 74}, {126, 194}}},
        {0, 0, lineHeight / 2, {{46, 194}}},
        {2, 2, 60 - lineHeight / 2, {{6, 154}}},
    };
    for (const Case& c : cases) {
        Render(canvas, text, c.h, c.v, 0, RECT{0, 0, 200, 60}, true);
        Runs got = ShadowRuns(canvas, c.row);
        EXPECT_EQ(c.runs, got) << "h=" << c.h << " v=" << c.v << " row " << c.row;
    }
}

TEST(LabelTextRenderer, TurnedTextGetsUprightEtchedLines) {
    PixelCanvas canvas(60, 200);
    FontScope font(canvas.dc(), -12);
    // Unknown angles draw unturned but etch like turned text.
    for (int angle : {90, 45}) {
        RECT size = Render(canvas, "Up", 1, 1, angle, RECT{0, 0, 60, 200}, true);
        const int column = 30;
        const COLORREF shadow = GetSysColor(COLOR_BTNSHADOW);
        EXPECT_EQ(shadow, canvas.At(column, 6)) << angle;
        EXPECT_EQ(shadow, canvas.At(column, 100 - size.bottom / 2 - 7)) << angle;
        EXPECT_NE(shadow, canvas.At(column, 5)) << angle;
        EXPECT_EQ(shadow, canvas.At(column, 100 + size.bottom / 2 + 6)) << angle;
        EXPECT_EQ(shadow, canvas.At(column, 193)) << angle;
        EXPECT_NE(shadow, canvas.At(column, 194)) << angle;
    }
}

TEST(LabelTextRenderer, EmbossedIsHighlightOffsetUnderShadow) {
    PixelCanvas plain(120, 40), embossed(120, 40);
    FontScope f1(plain.dc(), -20), f2(embossed.dc(), -20);
    const COLORREF shadow = GetSysColor(COLOR_BTNSHADOW);
    const COLORREF light = GetSysColor(COLOR_BTNHIGHLIGHT);
    ASSERT_NE(shadow, light);
    {
        plain.Fill(kWhite);
        LabelTextRenderer r(plain.dc(), "Emboss", 0, 0);
        r.SetBackColor(kBlock).SetTextColor(shadow);
        ASSERT_TRUE(r.Build(0));
        ASSERT_TRUE(r.Draw(RECT{0, 0, 120, 40}));
    }
    Render(embossed, "Emboss", 0, 0, 0, RECT{0, 0, 120, 40}, false, true);
    auto ink = [&](int x, int y) { return plain.At(x, y) == shadow; };
    int mismatches = 0, lightSeen = 0;
    for (int y = 0; y < 40; ++y) {
        for (int x = 0; x < 120; ++x) {
            COLORREF want = plain.At(x, y);
            if (ink(x, y)) {
                want = shadow;
            } else if (ink(x - 1, y - 1)) {
                want = light;
                ++lightSeen;
            }
            if (embossed.At(x, y) != want) ++mismatches;
        }
    }
    EXPECT_EQ(0, mismatches);
    EXPECT_GT(lightSeen, 10);
    // The text colour plays no part.
    EXPECT_EQ(0, embossed.Count(kInk));
}

// The lengths of the effects at the screen's DPI: the tests above run at 96, this one also
// in Wine prefixes at 120, where a quarter more rounds, and 144 (ctest: controls_dpi120_test,
// controls_dpi144_test).
struct DpiCase {
    int dpi;
    int embossShift;  // the highlight copy's offset, right and down
    int etchGap;      // between the block and each etched line, and at the client edge
    int tipMargin;    // the tip window beyond its text, each way
};
const DpiCase kDpiCases[] = {{96, 1, 6, 4}, {120, 1, 8, 5}, {144, 2, 9, 6}};

TEST(ScreenDpi, EffectLengthsScaleWithTheDpi) {
    const DpiCase* c = nullptr;
    for (const DpiCase& each : kDpiCases) {
        if (each.dpi == SystemDpi()) c = &each;
    }
    ASSERT_NE(c, nullptr) << "no case for " << SystemDpi() << " DPI";

    PixelCanvas canvas(200, 60);
    FontScope font(canvas.dc(), -14);
    const SIZE text = Extent(canvas.dc(), "Etch");
    Render(canvas, "Etch", 0, 0, 0, RECT{0, 0, 200, 60}, true);
    const std::vector<std::pair<int, int>> runs{{text.cx + c->etchGap, 200 - c->etchGap}};
    EXPECT_EQ(runs, ShadowRuns(canvas, text.cy / 2)) << c->dpi;

    PixelCanvas plain(120, 40), embossed(120, 40);
    FontScope f1(plain.dc(), -20), f2(embossed.dc(), -20);
    const COLORREF shadow = GetSysColor(COLOR_BTNSHADOW);
    const COLORREF light = GetSysColor(COLOR_BTNHIGHLIGHT);
    {
        plain.Fill(kWhite);
        LabelTextRenderer r(plain.dc(), "Emboss", 0, 0);
        r.SetBackColor(kBlock).SetTextColor(shadow);
        ASSERT_TRUE(r.Build(0));
        ASSERT_TRUE(r.Draw(RECT{0, 0, 120, 40}));
    }
    Render(embossed, "Emboss", 0, 0, 0, RECT{0, 0, 120, 40}, false, true);
    const int d = c->embossShift;
    int mismatches = 0;
    for (int y = 0; y < 40; ++y) {
        for (int x = 0; x < 120; ++x) {
            COLORREF want = plain.At(x, y);
            if (want != shadow && plain.At(x - d, y - d) == shadow) want = light;
            if (embossed.At(x, y) != want) ++mismatches;
        }
    }
    EXPECT_EQ(0, mismatches) << c->dpi;

    ControlToolTip tip;
    tip.SetText("a\nbcd");
    ASSERT_TRUE(tip.Create(nullptr));
    HDC dc = CreateCompatibleDC(nullptr);
    HGDIOBJ old = SelectObject(dc, GetStockObject(DEFAULT_GUI_FONT));
    const SIZE tipText = ControlToolTip::MeasureText(dc, "a\nbcd");
    SelectObject(dc, old);
    DeleteDC(dc);
    const RECT want{0, 0, tipText.cx + c->tipMargin, tipText.cy + c->tipMargin};
    EXPECT_TRUE(SameRect(want, tip.GetTipRect())) << RectText(tip.GetTipRect());
}

}  // namespace
