// The tip window: class registration, measuring, placement and the polling timer.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "controls/ColorLabel.h"
#include "controls/ControlToolTip.h"
#include "controls/Seams.h"
#include "framework/ResourceException.h"
#include "tests/win/controls/LabelHarness.h"
#include "tests/win/controls/SchemeHarness.h"

using namespace telvio;
using namespace telvio::testing;

namespace {

// The mouse the polling sees.
POINT fakeCursor{0, 0};
SHORT fakeLeft = 0, fakeRight = 0;
int lastKeyAsked = 0;
BOOL WINAPI FakeCursorPos(POINT* p) {
    *p = fakeCursor;
    return TRUE;
}
SHORT WINAPI FakeKeyState(int vk) {
    lastKeyAsked = vk;
    return vk == VK_LBUTTON ? fakeLeft : (vk == VK_RBUTTON ? fakeRight : 0);
}

class FakeMouse {
  public:
    FakeMouse() : seams_(Fake()) {
        fakeCursor = POINT{-1000, -1000};
        fakeLeft = fakeRight = 0;
    }

  private:
    static ControlToolTip::Seams Fake() {
        ControlToolTip::Seams seams;
        seams.getCursorPos = &FakeCursorPos;
        seams.getAsyncKeyState = &FakeKeyState;
        return seams;
    }
    SeamScope<ControlToolTip> seams_;
};

SIZE Extent(HDC dc, const std::string& s) {
    SIZE size{0, 0};
    GetTextExtentPoint32A(dc, s.c_str(), static_cast<int>(s.size()), &size);
    return size;
}

class GuiFontDC {
  public:
    GuiFontDC() : dc_(CreateCompatibleDC(nullptr)) {
        old_ = SelectObject(dc_, GetStockObject(DEFAULT_GUI_FONT));
    }
    ~GuiFontDC() {
        SelectObject(dc_, old_);
        DeleteDC(dc_);
    }
    HDC get() const { return dc_; }

  private:
    HDC dc_;
    HGDIOBJ old_;
};

TEST(ControlToolTip, MeasuresWidestPieceAndEveryLine) {
    GuiFontDC dc;
    const LONG line = Extent(dc.get(), "a").cy;
    const std::string wideTail = "a\n" + std::string(1500, 'W');
    struct Case {
        std::string text;
        SIZE size;
    };
    const Case cases[] = {
        {"a\nbcd", {Extent(dc.get(), "bcd").cx, 2 * line}},
        {"a\n\nb", {std::max(Extent(dc.get(), "a").cx, Extent(dc.get(), "b").cx), 3 * line}},
        {"single", Extent(dc.get(), "single")},
        {"\n", {0, 2 * line}},
        // Beyond any fixed working copy: the widest piece starts after 1023 characters.
        {wideTail, {Extent(dc.get(), std::string(1500, 'W')).cx, 2 * line}},
    };
    for (const Case& c : cases) {
        SIZE got = ControlToolTip::MeasureText(dc.get(), c.text);
        EXPECT_EQ(c.size.cx, got.cx) << c.text.substr(0, 20);
        EXPECT_EQ(c.size.cy, got.cy) << c.text.substr(0, 20);
    }
}

TEST(ControlToolTip, WindowIsFourPixelsLargerAndPlacedByPosition) {
    FakeMouse mouse;
    WithLabel({SS_LEFT, "owner", 80, 20}, [](HWND, ColorLabel& owner) {
        ControlToolTip tip;
        tip.SetText("a\nbcd");
        EXPECT_EQ(0, tip.GetTipRect().right);  // no window yet, nothing measured
        ASSERT_TRUE(tip.Create(owner.GetHwnd()));
        HWND hwnd = tip.GetHwnd();
        EXPECT_EQ(WS_EX_TOPMOST | WS_EX_TOOLWINDOW,
                  GetWindowLongA(hwnd, GWL_EXSTYLE) & (WS_EX_TOPMOST | WS_EX_TOOLWINDOW));
        const LONG kinds = WS_POPUP | WS_CHILD | WS_BORDER | WS_DLGFRAME | WS_VISIBLE;
        EXPECT_EQ(static_cast<LONG>(WS_POPUP | WS_BORDER), GetWindowLongA(hwnd, GWL_STYLE) & kinds);
        EXPECT_FALSE(IsWindowVisible(hwnd));

        GuiFontDC dc;
        SIZE text = ControlToolTip::MeasureText(dc.get(), "a\nbcd");
        RECT tipRect = tip.GetTipRect();
        EXPECT_TRUE(SameRect(RECT{0, 0, text.cx + 4, text.cy + 4}, tipRect)) << RectText(tipRect);

        RECT ownerScreen;
        GetWindowRect(owner.GetHwnd(), &ownerScreen);
        struct Case {
            int position;
            LONG dy;
        };
        const Case cases[] = {{1, 20}, {2, -tipRect.bottom}, {0, 0}, {3, 0}};
        for (const Case& c : cases) {
            tip.SetPosition(c.position);
            tip.Show();
            RECT r;
            GetWindowRect(hwnd, &r);
            EXPECT_TRUE(IsWindowVisible(hwnd));
            EXPECT_EQ(ownerScreen.left, r.left) << c.position;
            EXPECT_EQ(ownerScreen.top + c.dy, r.top) << c.position;
            EXPECT_EQ(tipRect.right, r.right - r.left);
            EXPECT_EQ(tipRect.bottom, r.bottom - r.top);
        }
        // SetPosition(3) changes nothing, not even a shown tip's place.
        tip.SetPosition(1);
        RECT before, after;
        GetWindowRect(hwnd, &before);
        tip.SetPosition(3);
        GetWindowRect(hwnd, &after);
        EXPECT_EQ(1, tip.GetPosition());
        EXPECT_TRUE(SameRect(before, after));
        // A new text resizes a shown tip at once; an empty one hides it.
        tip.SetText("longer text here");
        GetWindowRect(hwnd, &after);
        EXPECT_EQ(tip.GetTipRect().right, after.right - after.left);
        tip.SetText("");
        tip.Show();
        EXPECT_FALSE(IsWindowVisible(hwnd));

        EXPECT_TRUE(tip.Destroy());
        EXPECT_EQ(nullptr, tip.GetHwnd());
        EXPECT_EQ(nullptr, tip.GetOwner());
        EXPECT_FALSE(IsWindow(hwnd));
        EXPECT_TRUE(tip.Destroy());
    });
}

TEST(ControlToolTip, CursorOnEveryEdgeCountsAsOver) {
    FakeMouse mouse;
    WithLabel({SS_LEFT, "owner", 80, 20}, [](HWND, ColorLabel& owner) {
        ControlToolTip tip;
        EXPECT_FALSE(tip.IsCursorOver());  // no owner
        ASSERT_TRUE(tip.Create(owner.GetHwnd()));
        RECT r;
        GetWindowRect(owner.GetHwnd(), &r);
        struct Case {
            POINT p;
            bool over;
        };
        const Case cases[] = {
            {{r.left, r.top}, true},           {{r.right, r.bottom}, true},
            {{r.right, r.top + 5}, true},      {{r.left + 5, r.bottom}, true},
            {{r.right + 1, r.top + 5}, false}, {{r.left + 5, r.bottom + 1}, false},
            {{r.left - 1, r.top}, false},      {{r.left, r.top - 1}, false},
        };
        for (const Case& c : cases) {
            fakeCursor = c.p;
            EXPECT_EQ(c.over, tip.IsCursorOver()) << c.p.x << "," << c.p.y;
        }
    });
}

// A dialog with the owner label and a sibling button that can take the focus.
void WithOwnerAndSibling(const std::function<void(HWND dlg, ColorLabel&, HWND sibling)>& body) {
    DialogTemplate t(WS_POPUP | WS_CAPTION | WS_VISIBLE, 0, 0, 200, 100, "tip");
    t.AddControl("STATIC", "owner", 1016, WS_CHILD | WS_VISIBLE, 5, 5, 60, 12);
    t.AddControl("BUTTON", "sibling", 1015, WS_CHILD | WS_VISIBLE | WS_TABSTOP, 5, 40, 60, 14);
    ColorLabel label;
    RunInDialog(
        t, [&](HarnessDialog& d) { ASSERT_TRUE(d.Bind(label, 1016)); },
        [&](HWND dlg) { body(dlg, label, GetDlgItem(dlg, 1015)); });
}

TEST(ControlToolTip, TimerShowsOnlyWithSiblingFocusButtonAndCursor) {
    FakeMouse mouse;
    WithOwnerAndSibling([](HWND, ColorLabel& owner, HWND sibling) {
        ControlToolTip tip;
        tip.SetText("tip");
        ASSERT_TRUE(tip.Create(owner.GetHwnd()));
        HWND hwnd = tip.GetHwnd();
        RECT r;
        GetWindowRect(owner.GetHwnd(), &r);
        const POINT over{r.left + 2, r.top + 2}, away{r.right + 50, r.bottom + 50};
        auto tick = [&] { SendMessageA(hwnd, WM_TIMER, 1, 0); };

        struct Case {
            const char* what;
            POINT cursor;
            SHORT left, right;
            int needsButton, leftButton;
            bool siblingFocus;
            bool shown;
            int keyAsked;
        };
        const Case cases[] = {
            {"all there", over, SHORT(0x8000), 0, 1, 1, true, true, VK_LBUTTON},
            {"button up", over, 0, 0, 1, 1, true, false, VK_LBUTTON},
            {"cursor away", away, SHORT(0x8000), 0, 1, 1, true, false, VK_LBUTTON},
            {"focus not a sibling", over, SHORT(0x8000), 0, 1, 1, false, false, VK_LBUTTON},
            {"just-pressed bit only", over, 1, 0, 1, 1, true, false, VK_LBUTTON},
            {"right button chosen", over, 0, SHORT(0x8000), 1, 0, true, true, VK_RBUTTON},
            {"right chosen, left down", over, SHORT(0x8000), 0, 1, 0, true, false, VK_RBUTTON},
            {"no button needed", over, 0, 0, 0, 1, true, true, 0},
            {"no button, cursor away", away, 0, 0, 0, 1, true, false, 0},
        };
        for (const Case& c : cases) {
            ShowWindow(hwnd, SW_HIDE);
            fakeCursor = c.cursor;
            fakeLeft = c.left;
            fakeRight = c.right;
            tip.SetNeedsButton(c.needsButton).SetLeftButton(c.leftButton);
            // Without a focus there is no focus parent, which is not the owner's parent.
            SetFocus(c.siblingFocus ? sibling : nullptr);
            ASSERT_EQ(c.siblingFocus ? sibling : nullptr, GetFocus()) << c.what;
            lastKeyAsked = 0;
            tick();
            EXPECT_EQ(c.shown, IsWindowVisible(hwnd) != FALSE) << c.what;
            EXPECT_EQ(c.keyAsked, lastKeyAsked) << c.what;
        }
        // A shown tip hides when the focus leaves the owner's siblings.
        fakeCursor = over;
        tip.SetNeedsButton(0);
        SetFocus(sibling);
        tick();
        ASSERT_TRUE(IsWindowVisible(hwnd));
        SetFocus(nullptr);
        tick();
        EXPECT_FALSE(IsWindowVisible(hwnd));
        // Another timer id does nothing.
        SetFocus(sibling);
        SendMessageA(hwnd, WM_TIMER, 2, 0);
        EXPECT_FALSE(IsWindowVisible(hwnd));
    });
}

TEST(ControlToolTip, RunningTimerShowsAndHidesTheTip) {
    FakeMouse mouse;
    WithOwnerAndSibling([](HWND, ColorLabel& owner, HWND sibling) {
        // Through the label, as a dialog would switch it on.
        owner.SetTipText("from the timer").SetTipNeedsButton(0).SetTipPosition(1).EnableTip(1);
        HWND hwnd = owner.GetTip().GetHwnd();
        ASSERT_NE(nullptr, hwnd);
        EXPECT_EQ(owner.GetHwnd(), owner.GetTip().GetOwner());
        RECT r;
        GetWindowRect(owner.GetHwnd(), &r);
        fakeCursor = POINT{r.left + 1, r.top + 1};
        SetFocus(sibling);
        DWORD start = GetTickCount();
        while (!IsWindowVisible(hwnd) && GetTickCount() - start < 2000) PumpFor(20);
        EXPECT_TRUE(IsWindowVisible(hwnd));
        RECT tipWindow;
        GetWindowRect(hwnd, &tipWindow);
        EXPECT_EQ(r.bottom, tipWindow.top);  // just below the owner
        fakeCursor = POINT{r.right + 40, r.top};
        start = GetTickCount();
        while (IsWindowVisible(hwnd) && GetTickCount() - start < 2000) PumpFor(20);
        EXPECT_FALSE(IsWindowVisible(hwnd));
        owner.EnableTip(0);
        EXPECT_FALSE(IsWindow(hwnd));
    });
}

TEST(ControlToolTip, PaintsCustomColours) {
    FakeMouse mouse;
    WithLabel({SS_LEFT, "owner", 80, 20}, [](HWND, ColorLabel& owner) {
        ControlToolTip tip;
        tip.SetText("Colours");
        ASSERT_TRUE(tip.Create(owner.GetHwnd()));
        RECT r = tip.GetTipRect();
        PixelCanvas canvas(r.right, r.bottom, RGB(255, 255, 255));
        tip.SetColors(1, RGB(0, 90, 0));
        tip.SetTextColor(RGB(250, 250, 0));
        SendMessageA(tip.GetHwnd(), WM_PRINTCLIENT, reinterpret_cast<WPARAM>(canvas.dc()),
                     PRF_CLIENT);
        EXPECT_EQ(RGB(0, 90, 0), canvas.At(r.right - 1, r.bottom - 1));
        EXPECT_GT(canvas.Count(RGB(250, 250, 0)), 0);
        // Without custom colours the text keeps the context's colour and no fill is made.
        tip.SetColors(0, 0);
        canvas.Fill(RGB(255, 255, 255));
        SetTextColor(canvas.dc(), RGB(0, 0, 0));
        SendMessageA(tip.GetHwnd(), WM_PRINTCLIENT, reinterpret_cast<WPARAM>(canvas.dc()),
                     PRF_CLIENT);
        EXPECT_EQ(RGB(255, 255, 255), canvas.At(r.right - 1, r.bottom - 1));
        EXPECT_EQ(0, canvas.Count(RGB(250, 250, 0)));
        EXPECT_GT(canvas.Count(RGB(0, 0, 0)), 0);
    });
}

int registrations = 0;
ATOM WINAPI CountingRegistrar(const WNDCLASSA* wc) {
    ++registrations;
    return RegisterClassA(wc);
}
ATOM WINAPI FailingRegistrar(const WNDCLASSA*) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return 0;
}

class RegistrarScope {
  public:
    explicit RegistrarScope(ATOM(WINAPI* registerClass)(const WNDCLASSA*))
        : seams_(Registering(registerClass)) {
        // Start from an unregistered class; no tip window exists between tests.
        UnregisterClassA(ControlToolTip::kClassName, GetModuleHandleA(nullptr));
    }

  private:
    static ControlToolTip::Seams Registering(ATOM(WINAPI* registerClass)(const WNDCLASSA*)) {
        ControlToolTip::Seams seams;
        seams.registerClass = registerClass;
        return seams;
    }
    SeamScope<ControlToolTip> seams_;
};

TEST(ControlToolTip, ClassIsRegisteredOncePerProcess) {
    RegistrarScope scope(&CountingRegistrar);
    registrations = 0;
    {
        ControlToolTip first;
        ControlToolTip second;
        ColorLabel labelWithTip;
    }
    ControlToolTip third;
    EXPECT_EQ(1, registrations);
    WNDCLASSA wc{};
    ASSERT_TRUE(GetClassInfoA(GetModuleHandleA(nullptr), "ControlToolTip", &wc));
    EXPECT_EQ(static_cast<UINT>(CS_SAVEBITS | CS_DBLCLKS), wc.style);
    EXPECT_EQ(0, wc.cbClsExtra);
    EXPECT_EQ(0, wc.cbWndExtra);
    EXPECT_EQ(reinterpret_cast<HBRUSH>(COLOR_INFOBK + 1), wc.hbrBackground);
    EXPECT_EQ(LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW)), wc.hCursor);
    EXPECT_EQ(nullptr, wc.hIcon);
}

TEST(ControlToolTip, FailedRegistrationRaisesTheResourceException) {
    {
        RegistrarScope scope(&FailingRegistrar);
        bool thrown = false;
        try {
            ControlToolTip tip;
        } catch (const ResourceException& e) {
            thrown = true;
            EXPECT_EQ(static_cast<unsigned long>(ERROR_NOT_ENOUGH_MEMORY), e.LastError());
        }
        EXPECT_TRUE(thrown);
        // The label carries a tip, so it cannot be made either.
        EXPECT_THROW(ColorLabel label, ResourceException);
    }
    // Registration works again once the system lets it.
    EXPECT_NO_THROW(ControlToolTip tip);
}

}  // namespace

namespace {

// Sets the scheme's colours for the whole Wine server: this program runs alone (RUN_SERIAL).
TEST(ControlToolTip, HighContrastPaintsInTheSystemTipColours) {
    FakeMouse mouse;
    const COLORREF yellow = RGB(255, 255, 0), black = RGB(0, 0, 0);
    ColorScheme scheme({COLOR_INFOTEXT, COLOR_INFOBK}, {yellow, black});
    WithLabel({SS_LEFT, "owner", 80, 20}, [&](HWND, ColorLabel& owner) {
        ControlToolTip tip;
        tip.SetText("Contrast");
        ASSERT_TRUE(tip.Create(owner.GetHwnd()));
        tip.SetColors(1, RGB(0, 0, 255));
        tip.SetTextColor(RGB(255, 0, 0));
        const RECT r = tip.GetTipRect();
        PixelCanvas canvas(r.right, r.bottom, RGB(255, 255, 255));
        SetTextColor(canvas.dc(), RGB(255, 255, 255));
        HighContrastOn on;
        SendMessageA(tip.GetHwnd(), WM_SYSCOLORCHANGE, 0, 0);
        SendMessageA(tip.GetHwnd(), WM_PRINTCLIENT, reinterpret_cast<WPARAM>(canvas.dc()),
                     PRF_CLIENT);
        EXPECT_EQ(0, CountOutside(canvas, yellow, black));
        EXPECT_GT(canvas.Count(yellow), 0);
    });
}

}  // namespace
