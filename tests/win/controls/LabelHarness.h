// Binds ColorLabels to the statics of a live dialog, as the program's dialogs do, and
// paints them into memory canvases.
#pragma once

#include <windows.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "controls/ColorLabel.h"
#include "tests/win/controls/PixelCanvas.h"
#include "tests/win/framework/DialogHarness.h"

namespace telvio::testing {

struct LabelSetup {
    DWORD style;  // static styles beyond WS_CHILD | WS_VISIBLE
    const char* text;
    int width;  // client size in pixels
    int height;
};

constexpr WORD kFirstLabelId = 1016;

// Runs `body` with one bound label per setup, each sized to its pixels.
inline void WithLabels(const std::vector<LabelSetup>& setups,
                       const std::function<void(HWND, std::vector<ColorLabel*>&)>& body) {
    DialogTemplate t(WS_POPUP | WS_CAPTION | WS_VISIBLE, 0, 0, 320, 240, "labels");
    for (size_t i = 0; i < setups.size(); ++i) {
        t.AddControl("STATIC", setups[i].text, static_cast<WORD>(kFirstLabelId + i),
                     WS_CHILD | WS_VISIBLE | setups[i].style, 0, static_cast<short>(30 * i), 100,
                     20);
    }
    std::vector<std::unique_ptr<ColorLabel>> owned;
    std::vector<ColorLabel*> labels;
    for (size_t i = 0; i < setups.size(); ++i) {
        owned.push_back(std::make_unique<ColorLabel>());
        labels.push_back(owned.back().get());
    }
    RunInDialog(
        t,
        [&](HarnessDialog& d) {
            for (size_t i = 0; i < labels.size(); ++i) {
                EXPECT_TRUE(d.Bind(*labels[i], static_cast<int>(kFirstLabelId + i)));
            }
        },
        [&](HWND dlg) {
            for (size_t i = 0; i < labels.size(); ++i) {
                SetWindowPos(labels[i]->GetHwnd(), nullptr, 0, static_cast<int>(60 * i),
                             setups[i].width, setups[i].height, SWP_NOZORDER | SWP_NOACTIVATE);
            }
            body(dlg, labels);
        });
}

inline void WithLabel(const LabelSetup& setup, const std::function<void(HWND, ColorLabel&)>& body) {
    WithLabels({setup}, [&](HWND dlg, std::vector<ColorLabel*>& l) { body(dlg, *l[0]); });
}

// The label's painting, through WM_PRINTCLIENT, onto a white canvas of its client size.
inline void Print(ColorLabel& label, PixelCanvas& canvas) {
    canvas.Fill(RGB(255, 255, 255));
    SendMessageA(label.GetHwnd(), WM_PRINTCLIENT, reinterpret_cast<WPARAM>(canvas.dc()),
                 PRF_CLIENT);
}

inline SIZE ClientSize(const ColorLabel& label) {
    RECT r;
    GetClientRect(label.GetHwnd(), &r);
    return SIZE{r.right, r.bottom};
}

// The window text itself, bypassing the label's own answer to WM_GETTEXT.
inline std::string RawWindowText(HWND hwnd) {
    wchar_t buffer[256] = {};
    int n = InternalGetWindowText(hwnd, buffer, 256);
    std::string out;
    for (int i = 0; i < n; ++i) out.push_back(static_cast<char>(buffer[i]));
    return out;
}

}  // namespace telvio::testing
