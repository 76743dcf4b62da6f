// Painting every effect many times leaves no drawing object behind.
#include <windows.h>

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "controls/ColorLabel.h"
#include "controls/ControlToolTip.h"
#include "controls/GdiTally.h"
#include "controls/LabelTextRenderer.h"
#include "controls/Seams.h"
#include "tests/win/controls/LabelHarness.h"

using namespace telvio;
using namespace telvio::testing;

namespace {

constexpr int kRounds = 1000;
constexpr int kBitmapId = 130;

struct Effect {
    const char* name;
    std::function<void(ColorLabel&)> setUp;
    LabelTextRenderer::RotationPath path;
    long minCreatedPerPaint;  // proves the painting went through the counted calls
};

// What the system says, where it answers (Wine gives 0).
DWORD SystemGdiCount() {
    return GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS);
}

TEST(GdiLeaks, PaintingEveryEffectLeavesNothingBehind) {
    using P = LabelTextRenderer::RotationPath;
    const Effect effects[] = {
        {"plain", [](ColorLabel&) {}, P::System, 6},
        {"turned 90, 9x path", [](ColorLabel& l) { l.SetAngle(90); }, P::PixelByPixel, 6},
        {"turned 180, NT path", [](ColorLabel& l) { l.SetAngle(180); }, P::Parallelogram, 6},
        {"turned 270, 9x path", [](ColorLabel& l) { l.SetAngle(270); }, P::PixelByPixel, 6},
        {"embossed", [](ColorLabel& l) { l.SetEmbossed(1); }, P::System, 6},
        {"etched", [](ColorLabel& l) { l.SetEtchedLines(1).SetAlignment(0x12); }, P::System, 6},
        {"stacked", [](ColorLabel& l) { l.SetVertical(1); }, P::System, 6},
        {"bitmap stretched", [](ColorLabel& l) { l.SetBitmap(kBitmapId).SetBitmapStretch(1); },
         P::System, 2},
        {"bitmap centred, renderer",
         [](ColorLabel& l) { l.SetBitmap(kBitmapId).SetText("Two\nlines").SetAlignment(0x11); },
         P::System, 7},
        {"flashing background",
         [](ColorLabel& l) {
             l.SetFlashBackground(1, 60000);
             SendMessageA(l.GetHwnd(), WM_TIMER, ColorLabel::kBackFlashTimer, 0);
         },
         P::System, 6},
        {"colours", [](ColorLabel& l) { l.SetBkColor(RGB(1, 2, 3)).SetTextBkColor(RGB(4, 5, 6)); },
         P::System, 6},
    };
    const DWORD systemBefore = SystemGdiCount();
    for (const Effect& effect : effects) {
        LabelTextRenderer::Seams seams;
        seams.path = effect.path;
        const SeamScope<LabelTextRenderer> scope(seams);
        WithLabel({SS_LEFT, "Leak", 90, 40}, [&](HWND, ColorLabel& label) {
            effect.setUp(label);
            PixelCanvas canvas(90, 40);
            Print(label, canvas);  // anything made once (the transfer probe) is made now
            const gdi::Tally before = gdi::Snapshot();
            for (int i = 0; i < kRounds; ++i) {
                if (i % 2 == 0) {
                    Print(label, canvas);
                } else {
                    RedrawWindow(label.GetHwnd(), nullptr, nullptr,
                                 RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
                }
            }
            const gdi::Tally after = gdi::Snapshot();
            const long created = after.created - before.created;
            const long deleted = after.deleted - before.deleted;
            EXPECT_EQ(created, deleted) << effect.name;
            EXPECT_GE(created, effect.minCreatedPerPaint * kRounds) << effect.name;
            // Still painting: no handle table ran out on the way.
            Print(label, canvas);
            EXPECT_LT(canvas.Count(RGB(255, 255, 255)), 90 * 40) << effect.name;
            label.SetFlashBackground(0, 0);
        });
    }
    if (systemBefore != 0) {
        EXPECT_LE(SystemGdiCount(), systemBefore + 20);
    } else {
        std::printf("the system does not count GDI objects here; the tally stands alone\n");
    }
}

TEST(GdiLeaks, SettersKeepOneFontAndOneBrush) {
    WithLabel({SS_LEFT, "Setters", 90, 40}, [](HWND, ColorLabel& label) {
        const gdi::Tally before = gdi::Snapshot();
        for (int i = 0; i < kRounds; ++i) {
            label.SetFontBold(i % 2).SetFontHeight(-10 - i % 5).SetBkColor(RGB(i % 256, 0, 0));
            label.ResetBkColor().SetBitmap(kBitmapId);
        }
        label.SetBitmap(-1);
        const gdi::Tally after = gdi::Snapshot();
        EXPECT_EQ(after.created - before.created, after.deleted - before.deleted);
        EXPECT_GE(after.created - before.created, 5L * kRounds);
    });
}

TEST(GdiLeaks, TipMeasuringAndPaintingLeaveNothingBehind) {
    WithLabel({SS_LEFT, "owner", 90, 40}, [](HWND, ColorLabel& owner) {
        ControlToolTip tip;
        ASSERT_TRUE(tip.Create(owner.GetHwnd()));
        tip.SetColors(1, RGB(0, 80, 0));
        PixelCanvas canvas(200, 60);
        const gdi::Tally before = gdi::Snapshot();
        for (int i = 0; i < kRounds; ++i) {
            tip.SetText(i % 2 ? "one line" : "two\nlines");
            SendMessageA(tip.GetHwnd(), WM_PRINTCLIENT, reinterpret_cast<WPARAM>(canvas.dc()),
                         PRF_CLIENT);
        }
        const gdi::Tally after = gdi::Snapshot();
        EXPECT_EQ(after.created - before.created, after.deleted - before.deleted);
        EXPECT_GE(after.created - before.created, 2L * kRounds);
    });
}

TEST(GdiLeaks, LabelsComeAndGoCleanly) {
    const gdi::Tally before = gdi::Snapshot();
    for (int i = 0; i < 50; ++i) {
        WithLabel({SS_LEFT, "gone", 60, 20}, [](HWND, ColorLabel& label) {
            label.SetBitmap(kBitmapId).SetFontBold(1).SetBkColor(RGB(9, 9, 9)).EnableTip(1);
        });
    }
    const gdi::Tally after = gdi::Snapshot();
    EXPECT_EQ(after.created - before.created, after.deleted - before.deleted);
    EXPECT_GE(after.created - before.created, 50L * 4);
}

}  // namespace
