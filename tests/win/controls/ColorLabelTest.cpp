// The colour label bound to dialog statics: binding, text messages, setters and painting.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "controls/ColorLabel.h"
#include "controls/LabelTextRenderer.h"
#include "controls/Seams.h"
#include "tests/win/controls/LabelHarness.h"
#include "tests/win/controls/SchemeHarness.h"

using namespace telvio;
using namespace telvio::testing;

namespace {

constexpr COLORREF kWhite = RGB(255, 255, 255);

TEST(ColorLabel, BindingDerivesAlignmentFromStaticStyles) {
    struct Case {
        DWORD style;
        int alignment;
    };
    const Case cases[] = {
        {SS_LEFT, 0x09},   {SS_LEFT | SS_CENTERIMAGE, 0x11},   {SS_RIGHT, 0x0C},
        {SS_CENTER, 0x0A}, {SS_CENTER | SS_CENTERIMAGE, 0x12}, {SS_RIGHT | SS_CENTERIMAGE, 0x14},
    };
    std::vector<LabelSetup> setups;
    for (const Case& c : cases) setups.push_back({c.style, "bound text", 80, 20});
    WithLabels(setups, [&](HWND, std::vector<ColorLabel*>& labels) {
        for (size_t i = 0; i < labels.size(); ++i) {
            EXPECT_EQ(cases[i].alignment, labels[i]->GetAlignment())
                << "style 0x" << std::hex << cases[i].style;
            LONG style = GetWindowLongA(labels[i]->GetHwnd(), GWL_STYLE);
            EXPECT_TRUE(style & SS_NOTIFY) << i;
            EXPECT_EQ("bound text", labels[i]->GetText()) << i;
        }
    });
}

TEST(ColorLabel, OutsideSetTextIsPaintedAndReadBackFromStoredText) {
    WithLabels({{SS_LEFT, "before", 120, 24}, {SS_LEFT, "", 120, 24}},
               [](HWND, std::vector<ColorLabel*>& l) {
                   SetWindowTextA(l[0]->GetHwnd(), "Changed from outside");
                   l[1]->SetText("Changed from outside");
                   EXPECT_EQ("Changed from outside", l[0]->GetText());
                   PixelCanvas a(120, 24), b(120, 24);
                   Print(*l[0], a);
                   Print(*l[1], b);
                   EXPECT_EQ("", a.Diff(b));
                   EXPECT_GT(a.Count(GetSysColor(COLOR_WINDOWTEXT)), 0);

                   // At most size - 1 characters and a zero; nothing past the size given.
                   char buffer[16];
                   std::memset(buffer, '#', sizeof buffer);
                   LRESULT n = SendMessageA(l[0]->GetHwnd(), WM_GETTEXT, 8,
                                            reinterpret_cast<LPARAM>(buffer));
                   EXPECT_EQ(7, n);
                   EXPECT_STREQ("Changed", buffer);
                   EXPECT_EQ('#', buffer[8]);
                   std::memset(buffer, '#', sizeof buffer);
                   EXPECT_EQ(0, SendMessageA(l[0]->GetHwnd(), WM_GETTEXT, 0,
                                             reinterpret_cast<LPARAM>(buffer)));
                   EXPECT_EQ('#', buffer[0]);
                   EXPECT_EQ(20, GetWindowTextLengthA(l[0]->GetHwnd()));
               });
}

TEST(ColorLabel, InternalTextChangesAreNotMirroredBack) {
    WithLabel({SS_LEFT, "ABC", 80, 60}, [](HWND, ColorLabel& label) {
        HWND hwnd = label.GetHwnd();
        label.SetVertical(1);
        EXPECT_EQ("A\nB\nC", RawWindowText(hwnd));
        EXPECT_EQ("ABC", label.GetText());
        char buffer[16] = {};
        GetWindowTextA(hwnd, buffer, sizeof buffer);
        EXPECT_STREQ("ABC", buffer);

        PixelCanvas stacked(80, 60), again(80, 60);
        Print(label, stacked);
        // A second SetVertical(1) puts the plain text back into the window text, while
        // the painting stays stacked.
        label.SetVertical(1);
        EXPECT_EQ("ABC", RawWindowText(hwnd));
        EXPECT_EQ("ABC", label.GetText());
        Print(label, again);
        EXPECT_EQ("", stacked.Diff(again));

        // The text flash empties the window text only.
        label.SetVertical(0).SetText("Flash");
        label.SetFlashText(1, 60000);
        SendMessageA(hwnd, WM_TIMER, ColorLabel::kTextFlashTimer, 0);
        EXPECT_EQ("", RawWindowText(hwnd));
        EXPECT_EQ("Flash", label.GetText());
        GetWindowTextA(hwnd, buffer, sizeof buffer);
        EXPECT_STREQ("Flash", buffer);
        SendMessageA(hwnd, WM_TIMER, ColorLabel::kTextFlashTimer, 0);
        EXPECT_EQ("Flash", RawWindowText(hwnd));
        label.SetFlashText(0, 0);
    });
}

TEST(ColorLabel, StackedLettersPaintOnePerLine) {
    WithLabels({{SS_LEFT, "", 60, 80}, {SS_LEFT, "", 60, 80}},
               [](HWND, std::vector<ColorLabel*>& l) {
                   l[0]->SetText("AB").SetVertical(1);
                   l[1]->SetText("A\nB");
                   PixelCanvas stacked(60, 80), lines(60, 80), flat(60, 80);
                   Print(*l[0], stacked);
                   Print(*l[1], lines);
                   EXPECT_EQ("", stacked.Diff(lines));
                   l[0]->SetVertical(0);
                   Print(*l[0], flat);
                   const COLORREF face = GetSysColor(COLOR_BTNFACE);
                   RECT tall = stacked.InkBox(face), wide = flat.InkBox(face);
                   EXPECT_GT(tall.bottom - tall.top, wide.bottom - wide.top);
                   EXPECT_LT(tall.right - tall.left, wide.right - wide.left);
               });
}

TEST(ColorLabel, SetAlignmentKeepsAndReplacesBits) {
    struct Case {
        int start;  // applied first through SetAlignment, or 0 for the bound 0x09
        int bits;
        int alignment;
        LONG styleBits;  // SS_CENTER / SS_RIGHT afterwards
    };
    const Case cases[] = {
        {0, 0x10, 0x19, 0},           {0, 0x04, 0x04, SS_RIGHT},    {0, 0x06, 0x02, SS_CENTER},
        {0, 0x07 | 0x28, 0x21, 0},    {0x04, 0x20, 0x24, SS_RIGHT}, {0x02, 0x30, 0x22, SS_CENTER},
        {0x02, 0x04, 0x04, SS_RIGHT}, {0x04, 0x00, 0x04, SS_RIGHT},
    };
    for (const Case& c : cases) {
        WithLabel({SS_LEFT, "x", 40, 20}, [&](HWND, ColorLabel& label) {
            if (c.start != 0) label.SetAlignment(c.start);
            label.SetAlignment(c.bits);
            EXPECT_EQ(c.alignment, label.GetAlignment()) << c.start << " then " << c.bits;
            LONG style = GetWindowLongA(label.GetHwnd(), GWL_STYLE);
            EXPECT_EQ(c.styleBits, style & (SS_CENTER | SS_RIGHT)) << c.start << " then " << c.bits;
        });
    }
}

TEST(ColorLabel, VerticalCentreWinsOverTopWhenPainting) {
    WithLabels({{SS_LEFT, "Mid", 80, 60}, {SS_LEFT, "Mid", 80, 60}},
               [](HWND, std::vector<ColorLabel*>& l) {
                   l[0]->SetAlignment(0x10);
                   ASSERT_EQ(0x19, l[0]->GetAlignment());
                   EXPECT_EQ(ColorLabel::kTop, l[0]->GetVerticalAlignmentBit());
                   PixelCanvas centred(80, 60), top(80, 60);
                   Print(*l[0], centred);
                   Print(*l[1], top);
                   const COLORREF face = GetSysColor(COLOR_BTNFACE);
                   RECT c = centred.InkBox(face), t = top.InkBox(face);
                   EXPECT_LE(t.top, 3) << RectText(t);
                   EXPECT_NEAR(30, (c.top + c.bottom) / 2, 3) << RectText(c);
               });
}

TEST(ColorLabel, QueriesFollowTheBits) {
    struct Case {
        int bits;
        int hBit, vBit, h, v;
    };
    const Case cases[] = {{0x09, 0x01, 0x08, 0, 0},
                          {0x12, 0x02, 0x10, 1, 1},
                          {0x24, 0x04, 0x20, 2, 2},
                          {0x0A, 0x02, 0x08, 1, 0}};
    for (const Case& c : cases) {
        WithLabel({SS_LEFT, "q", 40, 20}, [&](HWND, ColorLabel& label) {
            label.SetAlignment(c.bits);
            EXPECT_EQ(c.hBit, label.GetHorizontalAlignmentBit()) << c.bits;
            EXPECT_EQ(c.vBit, label.GetVerticalAlignmentBit()) << c.bits;
            EXPECT_EQ(c.h, label.GetHorizontalAlignment()) << c.bits;
            EXPECT_EQ(c.v, label.GetVerticalAlignment()) << c.bits;
        });
    }
}

// What the renderer makes of the label's text and font, for comparison.
void RenderLike(ColorLabel& label, PixelCanvas& canvas, const std::string& text, bool embossed,
                COLORREF back, COLORREF ink) {
    canvas.Fill(back);
    HFONT font = CreateFontIndirectA(&label.GetLogFont());
    HGDIOBJ old = SelectObject(canvas.dc(), font);
    {
        LabelTextRenderer r(canvas.dc(), text, 0, 0);
        r.SetEmbossed(embossed).SetBackColor(back).SetTextColor(ink);
        ASSERT_TRUE(r.Build(0));
        r.Draw(RECT{0, 0, canvas.width(), canvas.height()});
    }
    SelectObject(canvas.dc(), old);
    DeleteObject(font);
}

TEST(ColorLabel, DisabledLabelLooksEmbossed) {
    WithLabel({SS_LEFT, "Disabled", 120, 30}, [](HWND, ColorLabel& label) {
        label.SetFontHeight(-20).SetFontBold(1).SetTextColor(RGB(200, 0, 0));
        const COLORREF face = GetSysColor(COLOR_BTNFACE);
        PixelCanvas painted(120, 30), expected(120, 30);
        EnableWindow(label.GetHwnd(), FALSE);
        Print(label, painted);
        RenderLike(label, expected, "Disabled", true, face, RGB(200, 0, 0));
        EXPECT_EQ("", painted.Diff(expected));
        EXPECT_GT(painted.Count(GetSysColor(COLOR_BTNHIGHLIGHT)), 0);
        EXPECT_GT(painted.Count(GetSysColor(COLOR_BTNSHADOW)), 0);
        EXPECT_EQ(0, painted.Count(RGB(200, 0, 0)));

        // Enabled again: the text colour, no highlight.
        EnableWindow(label.GetHwnd(), TRUE);
        Print(label, painted);
        RenderLike(label, expected, "Disabled", false, face, RGB(200, 0, 0));
        EXPECT_EQ("", painted.Diff(expected));

        // SetEmbossed sets the style bit alone.
        label.SetEmbossed(1);
        EXPECT_TRUE(GetWindowLongA(label.GetHwnd(), GWL_STYLE) & WS_DISABLED);
        Print(label, painted);
        RenderLike(label, expected, "Disabled", true, face, RGB(200, 0, 0));
        EXPECT_EQ("", painted.Diff(expected));
        label.SetEmbossed(0);
        EXPECT_FALSE(GetWindowLongA(label.GetHwnd(), GWL_STYLE) & WS_DISABLED);
    });
}

constexpr COLORREF kRed = RGB(255, 0, 0);
constexpr COLORREF kBlue = RGB(0, 0, 255);
constexpr COLORREF kGreen = RGB(0, 255, 0);
constexpr int kBitmapId = 130;  // 40 x 30, left half red, right half blue, (0,0) green

TEST(ColorLabel, BitmapStretchedAndCentred) {
    struct Case {
        int width, height;
        int stretch;
        POINT green;
        POINT red, blue;
        POINT bare;  // background showing
    };
    const Case cases[] = {
        // Stretched twice over: every source pixel covers 2 x 2.
        {80, 60, 1, {1, 1}, {39, 59}, {40, 0}, {-1, -1}},
        // Centred at (30, 10).
        {100, 50, 0, {30, 10}, {49, 39}, {50, 10}, {29, 10}},
        // 20 wider than the client: at x = 5, the copy width cut to 15.
        {20, 50, 0, {5, 10}, {19, 10}, {-1, -1}, {4, 10}},
    };
    for (const Case& c : cases) {
        WithLabel({SS_LEFT, "", c.width, c.height}, [&](HWND, ColorLabel& label) {
            label.SetBitmap(kBitmapId).SetBitmapStretch(c.stretch);
            PixelCanvas canvas(c.width, c.height);
            Print(label, canvas);
            EXPECT_EQ(kGreen, canvas.At(c.green.x, c.green.y)) << c.width;
            EXPECT_EQ(kRed, canvas.At(c.red.x, c.red.y)) << c.width;
            if (c.blue.x >= 0) {
                EXPECT_EQ(kBlue, canvas.At(c.blue.x, c.blue.y)) << c.width;
            }
            if (c.bare.x >= 0) {
                EXPECT_EQ(GetSysColor(COLOR_BTNFACE), canvas.At(c.bare.x, c.bare.y)) << c.width;
            } else {
                EXPECT_EQ(0, canvas.Count(GetSysColor(COLOR_BTNFACE))) << c.width;
            }
        });
    }
}

TEST(ColorLabel, TextOverBitmapDirectOrThroughRenderer) {
    const COLORREF yellow = RGB(255, 255, 0);
    WithLabel({SS_LEFT, "", 80, 60}, [&](HWND, ColorLabel& label) {
        label.SetBitmap(kBitmapId).SetBitmapStretch(1).SetTextBkColor(yellow);
        label.SetFontHeight(-16).SetTextColor(RGB(0, 0, 1));
        PixelCanvas canvas(80, 60);
        struct Case {
            const char* text;
            int alignment;
            bool direct;
        };
        const Case cases[] = {
            {"One", 0x09, true},       {"One\nTwo", 0x09, true}, {"One", 0x11, true},
            {"One\nTwo", 0x11, false}, {"One", 0x21, true},      {"One\nTwo", 0x21, false},
        };
        for (const Case& c : cases) {
            // A horizontal bit replaces the whole value, so each case starts afresh.
            label.SetText(c.text).SetAlignment(c.alignment);
            ASSERT_EQ(c.alignment, label.GetAlignment());
            Print(label, canvas);
            // The renderer covers the bitmap with its text block; the direct path draws
            // the letters alone, transparent over the bitmap.
            EXPECT_EQ(!c.direct, canvas.Count(yellow) > 0) << c.text << " " << c.alignment;
            EXPECT_GT(canvas.Count(kRed) + canvas.Count(kBlue), 40 * 30) << c.text;
        }
        // Turned text always goes through the renderer.
        label.SetText("One").SetAlignment(0x09).SetAngle(90);
        Print(label, canvas);
        EXPECT_GT(canvas.Count(yellow), 0);
        // Bottom alignment on the direct path puts the letters at the bottom.
        label.SetAngle(0).SetAlignment(0x21);
        Print(label, canvas);
        RECT ink{};
        bool found = false;
        for (int y = 0; y < 60 && !found; ++y) {
            for (int x = 0; x < 80; ++x) {
                if (canvas.At(x, y) == RGB(0, 0, 1)) {
                    found = true;
                    ink.top = y;
                    break;
                }
            }
        }
        ASSERT_TRUE(found);
        EXPECT_GT(ink.top, 30);
    });
}

TEST(ColorLabel, MissingBitmapPaintsAsWithout) {
    WithLabels({{SS_LEFT, "Same", 80, 30}, {SS_LEFT, "Same", 80, 30}},
               [](HWND, std::vector<ColorLabel*>& l) {
                   l[0]->SetBitmap(31555);
                   PixelCanvas a(80, 30), b(80, 30);
                   Print(*l[0], a);
                   Print(*l[1], b);
                   EXPECT_EQ("", a.Diff(b));
                   // -1 drops a loaded bitmap again.
                   l[0]->SetBitmap(kBitmapId).SetBitmap(-1);
                   Print(*l[0], a);
                   EXPECT_EQ("", a.Diff(b));
               });
}

TEST(ColorLabel, BackgroundFlashAlternates) {
    WithLabel({SS_LEFT, "", 30, 20}, [](HWND, ColorLabel& label) {
        const COLORREF face = GetSysColor(COLOR_BTNFACE);
        const COLORREF shifted = face >> 1;
        PixelCanvas canvas(30, 20);
        label.SetFlashBackground(1, 60000);
        const COLORREF expected[] = {shifted, face, shifted};
        for (COLORREF want : expected) {
            SendMessageA(label.GetHwnd(), WM_TIMER, ColorLabel::kBackFlashTimer, 0);
            Print(label, canvas);
            EXPECT_EQ(want, canvas.At(15, 10));
        }
        // With a background of its own the flash shows the button face.
        label.SetBkColor(RGB(10, 20, 30));
        Print(label, canvas);
        EXPECT_EQ(face, canvas.At(15, 10));
        SendMessageA(label.GetHwnd(), WM_TIMER, ColorLabel::kBackFlashTimer, 0);
        Print(label, canvas);
        EXPECT_EQ(RGB(10, 20, 30), canvas.At(15, 10));
        // Another timer id changes nothing.
        SendMessageA(label.GetHwnd(), WM_TIMER, 7, 0);
        Print(label, canvas);
        EXPECT_EQ(RGB(10, 20, 30), canvas.At(15, 10));
        label.SetFlashBackground(0, 0);
    });
}

TEST(ColorLabel, FlashTimersRunAndStop) {
    WithLabel({SS_LEFT, "Blink", 60, 20}, [](HWND, ColorLabel& label) {
        HWND hwnd = label.GetHwnd();
        PixelCanvas canvas(60, 20);
        label.SetFlashText(1, 15).SetFlashBackground(1, 15);
        bool sawEmpty = false, sawText = false;
        bool sawFace = false, sawFlash = false;
        const COLORREF face = GetSysColor(COLOR_BTNFACE);
        DWORD start = GetTickCount();
        while (GetTickCount() - start < 1500 && !(sawEmpty && sawText && sawFace && sawFlash)) {
            PumpFor(10);
            std::string raw = RawWindowText(hwnd);
            sawEmpty |= raw.empty();
            sawText |= raw == "Blink";
            Print(label, canvas);
            sawFace |= canvas.At(59, 19) == face;
            sawFlash |= canvas.At(59, 19) == (face >> 1);
        }
        EXPECT_TRUE(sawEmpty && sawText) << sawEmpty << sawText;
        EXPECT_TRUE(sawFace && sawFlash) << sawFace << sawFlash;
        label.SetFlashText(0, 0).SetFlashBackground(0, 0);
        EXPECT_EQ("Blink", RawWindowText(hwnd));
        // Both timers are gone.
        EXPECT_FALSE(KillTimer(hwnd, ColorLabel::kTextFlashTimer));
        EXPECT_FALSE(KillTimer(hwnd, ColorLabel::kBackFlashTimer));
    });
}

TEST(ColorLabel, HoverHighlightAndItsTipCondition) {
    const COLORREF red = RGB(230, 0, 0);
    const COLORREF ink = RGB(0, 0, 90);
    WithLabel({SS_LEFT, "Hover", 80, 24}, [&](HWND, ColorLabel& label) {
        HWND hwnd = label.GetHwnd();
        label.SetFontHeight(-18).SetFontBold(1).SetTextColor(ink).SetHighlightColor(red);
        label.SetHoverHighlight(1);
        PixelCanvas before(80, 24), during(80, 24), after(80, 24);
        Print(label, before);
        SendMessageA(hwnd, WM_MOUSEHOVER, 0, 0);
        Print(label, during);
        EXPECT_GT(during.Count(red), 0);
        EXPECT_EQ(0, during.Count(ink));
        SendMessageA(hwnd, WM_MOUSELEAVE, 0, 0);
        Print(label, after);
        EXPECT_EQ("", before.Diff(after));

        // Needing the tip: no highlight while the tip is off or empty.
        label.SetHighlightNeedsTip(1);
        SendMessageA(hwnd, WM_MOUSEHOVER, 0, 0);
        Print(label, during);
        EXPECT_EQ(0, during.Count(red));
        label.EnableTip(1);
        SendMessageA(hwnd, WM_MOUSEHOVER, 0, 0);
        Print(label, during);
        EXPECT_EQ(0, during.Count(red));
        label.SetTipText("tip text");
        SendMessageA(hwnd, WM_MOUSEHOVER, 0, 0);
        Print(label, during);
        EXPECT_GT(during.Count(red), 0);
        SendMessageA(hwnd, WM_MOUSELEAVE, 0, 0);
        label.EnableTip(0);
        EXPECT_EQ(nullptr, label.GetTip().GetHwnd());

        // Switching the highlight off puts the saved colour back.
        SendMessageA(hwnd, WM_MOUSEHOVER, 0, 0);
        label.SetHoverHighlight(0);
        Print(label, after);
        EXPECT_EQ(0, after.Count(red));
    });
}

HWND linkOwner = reinterpret_cast<HWND>(1);
std::string linkVerb, linkFile;
const char* linkParams = "unset";
const char* linkDir = "unset";
INT linkShow = -1;
int linkCalls = 0;
HINSTANCE WINAPI RecordShellOpen(HWND owner, LPCSTR verb, LPCSTR file, LPCSTR params, LPCSTR dir,
                                 INT show) {
    ++linkCalls;
    linkOwner = owner;
    linkVerb = verb != nullptr ? verb : "(null)";
    linkFile = file != nullptr ? file : "(null)";
    linkParams = params;
    linkDir = dir;
    linkShow = show;
    return reinterpret_cast<HINSTANCE>(2);  // a failure, which the label ignores
}

TEST(ColorLabel, LinkHandsTheTextToTheShell) {
    ColorLabel::Seams seams;
    seams.shellOpen = &RecordShellOpen;
    const SeamScope<ColorLabel> scope(seams);
    WithLabel({SS_LEFT, "https://example.invalid/firmware", 200, 20}, [](HWND, ColorLabel& label) {
        linkCalls = 0;
        SendMessageA(label.GetHwnd(), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(3, 3));
        EXPECT_EQ(0, linkCalls);
        label.SetLink(1);
        SendMessageA(label.GetHwnd(), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(3, 3));
        ASSERT_EQ(1, linkCalls);
        EXPECT_EQ(nullptr, linkOwner);
        EXPECT_EQ("open", linkVerb);
        EXPECT_EQ("https://example.invalid/firmware", linkFile);
        EXPECT_EQ(nullptr, linkParams);
        EXPECT_EQ(nullptr, linkDir);
        EXPECT_EQ(SW_SHOWNORMAL, linkShow);
    });
}

TEST(ColorLabel, CursorOverTheLabel) {
    WithLabel({SS_LEFT, "c", 40, 20}, [](HWND dlg, ColorLabel& label) {
        HWND hwnd = label.GetHwnd();
        HCURSOR hand = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_HAND));
        HCURSOR arrow = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
        SetCursor(arrow);
        label.SetCursorHandle(hand);
        EXPECT_EQ(TRUE, SendMessageA(hwnd, WM_SETCURSOR, reinterpret_cast<WPARAM>(hwnd),
                                     MAKELPARAM(HTCLIENT, WM_MOUSEMOVE)));
        EXPECT_EQ(hand, GetCursor());
        // A cursor resource the program lacks leaves no cursor: default handling again.
        label.SetCursorResource(31777);
        SetCursor(arrow);
        SendMessageA(hwnd, WM_SETCURSOR, reinterpret_cast<WPARAM>(hwnd),
                     MAKELPARAM(HTCLIENT, WM_MOUSEMOVE));
        EXPECT_NE(hand, GetCursor());
        (void)dlg;
    });
}

TEST(ColorLabel, StandardDrawingTakesColoursFromTheReflectedRequest) {
    WithLabel({SS_LEFT, "std", 40, 20}, [](HWND dlg, ColorLabel& label) {
        HWND hwnd = label.GetHwnd();
        label.SetBkColor(RGB(0, 128, 0)).SetTextColor(RGB(1, 2, 3));
        HDC dc = GetDC(dlg);
        auto brushColor = [&]() -> COLORREF {
            HBRUSH b = reinterpret_cast<HBRUSH>(SendMessageA(dlg, WM_CTLCOLORSTATIC,
                                                             reinterpret_cast<WPARAM>(dc),
                                                             reinterpret_cast<LPARAM>(hwnd)));
            LOGBRUSH lb{};
            if (b == nullptr || GetObjectA(b, sizeof lb, &lb) == 0) return CLR_INVALID;
            return lb.lbColor;
        };
        // Own painting: the request is not the label's.
        EXPECT_NE(RGB(0, 128, 0), brushColor());
        label.SetStandardDrawing(1);
        SetTextColor(dc, RGB(9, 9, 9));
        SetBkMode(dc, OPAQUE);
        EXPECT_EQ(RGB(0, 128, 0), brushColor());
        EXPECT_EQ(RGB(1, 2, 3), GetTextColor(dc));
        EXPECT_EQ(TRANSPARENT, GetBkMode(dc));
        // The static control now paints itself, with our brush.
        PixelCanvas canvas(40, 20);
        Print(label, canvas);
        EXPECT_EQ(RGB(0, 128, 0), canvas.At(39, 19));
        ReleaseDC(dlg, dc);
    });
}

TEST(ColorLabel, LongFaceNameIsCut) {
    WithLabel({SS_LEFT, "f", 40, 20}, [](HWND, ColorLabel& label) {
        const std::string longName(45, 'N');
        label.SetFontName(longName.c_str());
        const LOGFONTA& lf = label.GetLogFont();
        EXPECT_EQ(std::string(31, 'N'), std::string(lf.lfFaceName));
        label.SetFontName("Tahoma");
        EXPECT_STREQ("Tahoma", label.GetLogFont().lfFaceName);
        // The fields around the name are untouched.
        EXPECT_EQ(0, label.GetLogFont().lfItalic);
        label.SetFontItalic(1).SetFontUnderline(1).SetFontBold(1).SetFontHeight(-30);
        EXPECT_EQ(1, label.GetLogFont().lfItalic);
        EXPECT_EQ(1, label.GetLogFont().lfUnderline);
        EXPECT_EQ(FW_BOLD, label.GetLogFont().lfWeight);
        EXPECT_EQ(-30, label.GetLogFont().lfHeight);
        EXPECT_STREQ("Tahoma", label.GetLogFont().lfFaceName);
    });
}

TEST(ColorLabel, CaseConversionOfThePaintedText) {
    WithLabels({{SS_LEFT, "MiXed", 80, 20}, {SS_LEFT, "", 80, 20}},
               [](HWND, std::vector<ColorLabel*>& l) {
                   PixelCanvas a(80, 20), b(80, 20);
                   l[0]->SetUpperCase(1);
                   l[1]->SetText("MIXED");
                   Print(*l[0], a);
                   Print(*l[1], b);
                   EXPECT_EQ("", a.Diff(b));
                   EXPECT_EQ("MiXed", l[0]->GetText());
                   // Lower case clears upper case.
                   l[0]->SetLowerCase(1);
                   l[1]->SetText("mixed");
                   Print(*l[0], a);
                   Print(*l[1], b);
                   EXPECT_EQ("", a.Diff(b));
               });
}

TEST(ColorLabel, BorderAndSunkenStyles) {
    WithLabel({SS_LEFT, "b", 40, 20}, [](HWND, ColorLabel& label) {
        HWND hwnd = label.GetHwnd();
        EXPECT_FALSE(label.HasBorder());
        label.SetBorder(1);
        EXPECT_TRUE(label.HasBorder());
        EXPECT_EQ(38, ClientSize(label).cx);  // the frame was recalculated
        label.SetBorder(0).SetSunken(1);
        EXPECT_FALSE(label.HasBorder());
        EXPECT_TRUE(GetWindowLongA(hwnd, GWL_EXSTYLE) & WS_EX_STATICEDGE);
        label.SetSunken(0);
        EXPECT_FALSE(GetWindowLongA(hwnd, GWL_EXSTYLE) & WS_EX_STATICEDGE);
        EXPECT_EQ(40, ClientSize(label).cx);
    });
}

}  // namespace

namespace {

std::vector<HWND> renamed;
void CALLBACK Renamed(HWINEVENTHOOK, DWORD, HWND hwnd, LONG object, LONG, DWORD, DWORD) {
    if (object == OBJID_CLIENT) renamed.push_back(hwnd);
}

// A screen reader hears of each new text: the dialog's and the worker's (the window-text
// message), and of nothing else.
TEST(ColorLabel, EachNewTextIsAnnounced) {
    WithLabel({SS_LEFT, "1.00", 120, 24}, [](HWND, ColorLabel& label) {
        renamed.clear();
        HWINEVENTHOOK hook =
            SetWinEventHook(EVENT_OBJECT_NAMECHANGE, EVENT_OBJECT_NAMECHANGE, nullptr, &Renamed,
                            GetCurrentProcessId(), 0, WINEVENT_OUTOFCONTEXT);
        label.SetText("2.00");
        SetWindowTextA(label.GetHwnd(), "3.00");
        label.SetText("3.00");
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
        UnhookWinEvent(hook);
        EXPECT_EQ(std::vector<HWND>(2, label.GetHwnd()), renamed);
    });
}

// Every effect that adds a colour, and what high contrast leaves of them: the system's
// text colour on the system's background.
TEST(ColorLabel, HighContrastLeavesOnlyTheSystemPair) {
    WithLabel({SS_LEFT | SS_CENTER, "Contrast", 120, 40}, [](HWND, ColorLabel& label) {
        label.SetBitmap(kBitmapId).SetBitmapStretch(1).SetEtchedLines(1).SetEmbossed(1);
        label.SetTextColor(RGB(255, 0, 0)).SetBkColor(RGB(0, 0, 255)).SetFontHeight(20);
        const COLORREF text = GetSysColor(COLOR_WINDOWTEXT), face = GetSysColor(COLOR_BTNFACE);
        PixelCanvas canvas(120, 40);
        Print(label, canvas);
        EXPECT_GT(CountOutside(canvas, text, face), 0);  // the effects, until told

        HighContrastOn on;
        SendMessageA(label.GetHwnd(), WM_SETTINGCHANGE, SPI_SETHIGHCONTRAST, 0);
        Print(label, canvas);
        EXPECT_EQ(0, CountOutside(canvas, text, face));
        EXPECT_GT(canvas.Count(text), 0);
        EXPECT_GT(canvas.Count(face), 0);
    });
}

}  // namespace
