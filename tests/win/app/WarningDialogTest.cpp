// The warning dialog as the upgrade command shows it: its texts and looks, and each way
// of answering it; and every dialog's texts and pictures at the screen's DPI.
#include <windows.h>
#include <oleacc.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "controls/ColorLabel.h"
#include "controls/Dpi.h"
#include "resources/resource.h"
#include "tests/win/app/AppHarness.h"
#include "tests/win/controls/SchemeHarness.h"

using apptest::RunningWindow;
using apptest::TheFakes;

namespace {

constexpr char kCaption[] = "Welcome To The Upgrade Program";

HWND OpenWarning(RunningWindow& window) {
    TheFakes().realWarning = true;
    TheFakes().chosenFile = "D:\\fw\\image.hex";
    window.Click(IDC_BROWSE);
    // Posted: the command waits in the warning's modal loop until it is answered.
    PostMessageA(window.Hwnd(), WM_COMMAND, MAKEWPARAM(IDC_UPGRADE, BN_CLICKED), 0);
    HWND warning = nullptr;
    window.WaitFor([&] { return (warning = apptest::FindOwnDialog(kCaption)) != nullptr; });
    return warning;
}

telvio::ColorLabel* Label(HWND dialog, int id) {
    return dynamic_cast<telvio::ColorLabel*>(telvio::Window::FromHandle(GetDlgItem(dialog, id)));
}

// Whether the label's own painting uses `color` anywhere.
bool PaintsInColor(telvio::ColorLabel& label, COLORREF color) {
    RECT r;
    GetClientRect(label.GetHwnd(), &r);
    HDC screen = GetDC(nullptr);
    HDC dc = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, r.right, r.bottom);
    HGDIOBJ old = SelectObject(dc, bitmap);
    label.Paint(dc, r);
    bool found = false;
    for (int y = 0; y < r.bottom && !found; ++y) {
        for (int x = 0; x < r.right && !found; ++x) found = GetPixel(dc, x, y) == color;
    }
    SelectObject(dc, old);
    DeleteObject(bitmap);
    DeleteDC(dc);
    ReleaseDC(nullptr, screen);
    return found;
}

struct LookCase {
    int id;
    const char* text;  // null: checked separately
    LONG height;
    LONG weight;       // 0: the label's default
};

const LookCase kLooks[] = {
    {IDC_GREETING, "Dear customer,\n \nThank you for choosing this products!", 16, 0},
    {IDC_VERSION_WORDS, "The current version of your", 16, 0},
    {IDC_MODEL_TEXT, "VENDOR MODEL(0)", 12, 700},
    {IDC_FIRMWARE_WORDS, "firmware is", 16, 0},
    {IDC_REVISION_TEXT, "1.00", 12, 700},
    {IDC_WARNING_LIST,
     "1. We advises to close any programs you are using before running this upgraded "
     "program.\n2. Please do not upgrade firmware unless you have been specifically "
     "instructed to do so!\n3. Failed firmware updates may render your drive inoperable.\n"
     "4. Korvane tools are exclusive to the single firmware which is not compatible with\n"
     "    miltiple F/W versions.",
     16, 0},
    {IDC_WARNING_NOTE,
     "Do not upgrade firmware if the drive works normally!\nDo not install other versions "
     "of the firmware with this utility program!\nDo not use other versions of the upgraded "
     "program to install this\nversion of the firmware!",
     14, 700},
    {IDC_QUESTION, "Despite the above warning, do you still want to update your firmware ?", 16,
     0},
};

TEST(WarningDialog, NamesTheDriveAndRevisionWithTheLooksOfEachLabel) {
    apptest::ResetFakes();
    TheFakes().drives = {{"VENDOR MODEL", "1.00"}};
    RunningWindow window;
    HWND warning = OpenWarning(window);
    ASSERT_NE(warning, nullptr);
    for (const LookCase& c : kLooks) {
        telvio::ColorLabel* label = Label(warning, c.id);
        ASSERT_NE(label, nullptr) << c.id;
        EXPECT_EQ(label->GetText(), c.text) << c.id;
        const LOGFONTA& font = label->GetLogFont();
        EXPECT_STREQ(font.lfFaceName, "Times New Roman") << c.id;
        EXPECT_EQ(font.lfHeight, c.height) << c.id;
        if (c.weight) {
            EXPECT_EQ(font.lfWeight, c.weight) << c.id;
        } else {
            EXPECT_NE(font.lfWeight, 700) << c.id;
        }
    }
    EXPECT_TRUE(PaintsInColor(*Label(warning, IDC_MODEL_TEXT), RGB(0, 0, 255)));
    EXPECT_TRUE(PaintsInColor(*Label(warning, IDC_REVISION_TEXT), RGB(0, 0, 255)));
    EXPECT_TRUE(PaintsInColor(*Label(warning, IDC_WARNING_NOTE), RGB(255, 0, 0)));
    EXPECT_FALSE(PaintsInColor(*Label(warning, IDC_QUESTION), RGB(0, 0, 255)));
    char attention[32] = {};
    GetDlgItemTextA(warning, IDC_ATTENTION, attention, sizeof attention);
    EXPECT_STREQ(attention, "ATTENTION !!");
    EXPECT_EQ(GetWindow(warning, GW_OWNER), window.Hwnd());
    PostMessageA(GetDlgItem(warning, IDCANCEL), BM_CLICK, 0, 0);
    EXPECT_TRUE(window.WaitFor([&] { return !IsWindow(warning); }));
}

// What a screen reader learns of a label, asking through oleacc as readers do.
struct ReaderView {
    std::string name;
    LONG role = 0, state = 0;
    HRESULT shortcut = E_FAIL;
};
ReaderView AskReader(HWND label) {
    ReaderView view;
    IAccessible* object = nullptr;
    if (AccessibleObjectFromWindow(label, OBJID_CLIENT, __uuidof(IAccessible),
                                   reinterpret_cast<void**>(&object)) != S_OK) {
        return view;
    }
    VARIANT self{}, role{}, state{};
    self.vt = VT_I4;
    self.lVal = CHILDID_SELF;
    if (object->get_accRole(self, &role) == S_OK) view.role = role.lVal;
    if (object->get_accState(self, &state) == S_OK) view.state = state.lVal;
    BSTR name = nullptr, shortcut = nullptr;
    if (object->get_accName(self, &name) == S_OK) {
        for (const wchar_t* c = name; *c; ++c) view.name.push_back(static_cast<char>(*c));
    }
    view.shortcut = object->get_accKeyboardShortcut(self, &shortcut);
    SysFreeString(name);
    SysFreeString(shortcut);
    object->Release();
    return view;
}

// A screen reader, asking from outside the window's thread as a reader does, finds every
// text the user must check as read-only static text; and high contrast reaches every label
// at once. The case sets the colours of the whole Wine server: it runs alone (ctest:
// telvio_app_high_contrast_test, RUN_SERIAL).
TEST(HighContrast, ReadersGetEachTextAndEveryLabelTakesTheSchemeAtOnce) {
    apptest::ResetFakes();
    TheFakes().drives = {{"VENDOR MODEL", "1.00"}};
    RunningWindow window;
    HWND warning = OpenWarning(window);
    ASSERT_NE(warning, nullptr);
    std::vector<std::pair<HWND, std::string>> labels{{window.Item(IDC_REVISION), "1.00"}};
    for (const LookCase& c : kLooks) labels.emplace_back(GetDlgItem(warning, c.id), c.text);

    ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
    for (const auto& [hwnd, text] : labels) {
        const ReaderView view = AskReader(hwnd);
        EXPECT_EQ(view.name, text) << GetDlgCtrlID(hwnd);
        EXPECT_EQ(view.role, ROLE_SYSTEM_STATICTEXT) << GetDlgCtrlID(hwnd);
        EXPECT_EQ(view.state & (STATE_SYSTEM_READONLY | STATE_SYSTEM_FOCUSABLE),
                  STATE_SYSTEM_READONLY)
            << GetDlgCtrlID(hwnd);
        EXPECT_EQ(view.shortcut, S_FALSE) << GetDlgCtrlID(hwnd);
    }
    CoUninitialize();

    const COLORREF white = RGB(255, 255, 255), black = RGB(0, 0, 0);
    telvio::testing::HighContrastOn on;
    telvio::testing::ColorScheme scheme({COLOR_WINDOWTEXT, COLOR_BTNFACE}, {white, black});
    // As the system tells every top-level window when the user switches.
    SendMessageA(warning, WM_SETTINGCHANGE, SPI_SETHIGHCONTRAST, 0);
    window.Send(WM_SETTINGCHANGE, SPI_SETHIGHCONTRAST, 0);
    for (const auto& [hwnd, text] : labels) {
        RECT r;
        GetClientRect(hwnd, &r);
        telvio::testing::PixelCanvas canvas(r.right, r.bottom, RGB(255, 0, 0));
        SendMessageA(hwnd, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(canvas.dc()), PRF_CLIENT);
        EXPECT_EQ(telvio::testing::CountOutside(canvas, white, black), 0) << GetDlgCtrlID(hwnd);
        EXPECT_GT(canvas.Count(white), 0) << GetDlgCtrlID(hwnd);
    }
    PostMessageA(GetDlgItem(warning, IDCANCEL), BM_CLICK, 0, 0);
    EXPECT_TRUE(window.WaitFor([&] { return !IsWindow(warning); }));
}

// A reader holds the label's object while the taskbar list, opened on the window's thread
// before the reader asked, is closed and opened again (Explorer started again): COM stays
// started on the window's thread, since the label's start lasts as long as the thread.
// (Windows ends the apartment, and with it the objects handed out, when the count of
// starts falls to 0; Wine keeps it while objects are out, so the count is what is checked.)
TEST(Reader, ObjectOutlivesTheTaskbarList) {
    apptest::ResetFakes();
    TheFakes().drives = {{"VENDOR MODEL", "1.00"}};
    TheFakes().realTaskbar = true;
    RunningWindow window;
    ASSERT_NE(TheFakes().taskbarMessage, 0u);
    window.Send(TheFakes().taskbarMessage);
    ASSERT_EQ(TheFakes().taskbarOpens, 1);

    ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
    IAccessible* object = nullptr;
    ASSERT_EQ(AccessibleObjectFromWindow(window.Item(IDC_REVISION), OBJID_CLIENT,
                                         __uuidof(IAccessible), reinterpret_cast<void**>(&object)),
              S_OK);
    window.Send(TheFakes().taskbarMessage);
    EXPECT_EQ(TheFakes().taskbarCloses, 1);
    ASSERT_EQ(TheFakes().comBeforeOpen.size(), 2u);
    EXPECT_EQ(TheFakes().comBeforeOpen[0], S_OK) << "nothing started COM before the list";
    EXPECT_EQ(TheFakes().comBeforeOpen[1], S_FALSE) << "COM ended under the reader's object";
    VARIANT self{};
    self.vt = VT_I4;
    self.lVal = CHILDID_SELF;
    BSTR name = nullptr;
    const HRESULT got = object->get_accName(self, &name);
    EXPECT_EQ(got, S_OK) << std::hex << got;
    EXPECT_EQ(got == S_OK && name ? std::wstring(name) : std::wstring(), L"1.00");
    SysFreeString(name);
    object->Release();
    CoUninitialize();
}

struct AnswerCase {
    const char* route;
    INT_PTR result;
};

class WarningAnswerTest : public ::testing::TestWithParam<AnswerCase> {};

TEST_P(WarningAnswerTest, OnlyOkLetsTheRunStart) {
    const AnswerCase& c = GetParam();
    apptest::ResetFakes();
    RunningWindow window;
    HWND warning = OpenWarning(window);
    ASSERT_NE(warning, nullptr);
    std::string route = c.route;
    HWND focus = GetDlgItem(warning, IDOK);  // the default button has the focus
    if (route == "ok") PostMessageA(GetDlgItem(warning, IDOK), BM_CLICK, 0, 0);
    if (route == "cancel") PostMessageA(GetDlgItem(warning, IDCANCEL), BM_CLICK, 0, 0);
    if (route == "enter") PostMessageA(focus, WM_KEYDOWN, VK_RETURN, 1);
    if (route == "esc") PostMessageA(focus, WM_KEYDOWN, VK_ESCAPE, 1);
    if (route == "close box") PostMessageA(warning, WM_SYSCOMMAND, SC_CLOSE, 0);
    ASSERT_TRUE(window.WaitFor([&] { return !IsWindow(warning); })) << c.route;
    // The window goes before DoModal returns the answer on the window's thread.
    ASSERT_TRUE(window.WaitFor([&] { return TheFakes().warningResult != 0; })) << c.route;
    EXPECT_EQ(TheFakes().warningResult, c.result) << c.route;
    bool runs = c.result == IDOK;
    ASSERT_TRUE(window.WaitFor([&] { return TheFakes().engineRuns == (runs ? 1 : 0); }));
    ASSERT_TRUE(window.WaitFor([&] { return IsWindowEnabled(window.Item(IDCANCEL)) != 0; }));
    EXPECT_EQ(IsWindowEnabled(window.Item(IDC_UPGRADE)) != 0, !runs) << c.route;
}

INSTANTIATE_TEST_SUITE_P(Routes, WarningAnswerTest,
                         ::testing::Values(AnswerCase{"ok", IDOK}, AnswerCase{"enter", IDOK},
                                           AnswerCase{"cancel", IDCANCEL},
                                           AnswerCase{"esc", IDCANCEL},
                                           AnswerCase{"close box", IDCANCEL}));

// At the screen's DPI: the tests below run at 96 with the others, and again in Wine
// prefixes at 120 and 144 (ctest: telvio_app_window_dpi120_test, _dpi144_test).

// Where `paint` leaves other pixels than the button face in a canvas of w x h that it fills
// first: the labels paint their background in that colour.
template <typename Paint>
RECT InkBox(int w, int h, Paint paint) {
    HDC screen = GetDC(nullptr);
    HDC dc = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, w, h);
    HGDIOBJ old = SelectObject(dc, bitmap);
    RECT all{0, 0, w, h};
    FillRect(dc, &all, GetSysColorBrush(COLOR_BTNFACE));
    paint(dc, all);
    const COLORREF face = GetSysColor(COLOR_BTNFACE);
    RECT box{w, h, 0, 0};
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            if (GetPixel(dc, x, y) == face) continue;
            box = RECT{std::min<LONG>(box.left, x), std::min<LONG>(box.top, y),
                       std::max<LONG>(box.right, x + 1), std::max<LONG>(box.bottom, y + 1)};
        }
    }
    SelectObject(dc, old);
    DeleteObject(bitmap);
    DeleteDC(dc);
    ReleaseDC(nullptr, screen);
    return box;
}

TEST(ScreenDpi, DriveNameGrowsWithTheDpiAndEveryLabelShowsItsWholeText) {
    apptest::ResetFakes();
    TheFakes().drives = {{"VENDOR MODEL", "1.00"}};
    RunningWindow window;
    HWND warning = OpenWarning(window);
    ASSERT_NE(warning, nullptr);
    for (const LookCase& c : kLooks) {
        telvio::ColorLabel* label = Label(warning, c.id);
        ASSERT_NE(label, nullptr) << c.id;
        RECT client;
        GetClientRect(label->GetHwnd(), &client);
        // Painted unclipped, into more room than the control has: the labels align
        // top-left, so the text stands where the control shows it.
        const RECT reach = InkBox(client.right + 200, client.bottom + 100,
                                  [&](HDC dc, const RECT& r) { label->Paint(dc, r); });
        EXPECT_LE(reach.right, client.right) << c.id << " at " << telvio::SystemDpi() << " DPI";
        EXPECT_LE(reach.bottom, client.bottom) << c.id << " at " << telvio::SystemDpi() << " DPI";
    }

    // The name as painted, against the same text in the font the label had at 96 DPI.
    telvio::ColorLabel& model = *Label(warning, IDC_MODEL_TEXT);
    const COLORREF blue = RGB(0, 0, 255);
    RECT client;
    GetClientRect(model.GetHwnd(), &client);
    const RECT shownBox =
        InkBox(client.right, client.bottom, [&](HDC dc, const RECT& r) { model.Paint(dc, r); });
    HFONT at96 = CreateFontIndirectA(&model.GetLogFont());
    const RECT beforeBox = InkBox(400, 100, [&](HDC dc, RECT r) {
        HGDIOBJ old = SelectObject(dc, at96);
        SetTextColor(dc, blue);
        SetBkMode(dc, TRANSPARENT);
        DrawTextA(dc, "VENDOR MODEL(0)", -1, &r, DT_SINGLELINE | DT_NOPREFIX);
        SelectObject(dc, old);
    });
    DeleteObject(at96);
    const LONG shown = shownBox.bottom - shownBox.top, before = beforeBox.bottom - beforeBox.top;
    ASSERT_GT(before, 0);
    // At 144 DPI at least 1.4 times as tall; at 96 DPI the very same.
    const double ratio = double(shown) / before;
    const double scale = telvio::SystemDpi() / 96.0;
    EXPECT_GE(ratio, 0.94 * scale) << shown << " rows against " << before;
    EXPECT_LE(ratio, 1.06 * scale) << shown << " rows against " << before;
    PostMessageA(GetDlgItem(warning, IDCANCEL), BM_CLICK, 0, 0);
    EXPECT_TRUE(window.WaitFor([&] { return !IsWindow(warning); }));
}

// Every static text of `dialog` that the program leaves as the template has it (the colour
// labels paint their own) fits its control as the static lays it out: words wrapped at the
// control's width, no line below its bottom, no word beyond its right edge.
void ExpectWholeStaticTexts(HWND dialog, const char* which) {
    int checked = 0;
    for (HWND child = GetWindow(dialog, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        char cls[16] = {};
        GetClassNameA(child, cls, sizeof cls);
        const LONG style = GetWindowLongA(child, GWL_STYLE);
        const LONG type = style & SS_TYPEMASK;
        if (_stricmp(cls, "Static") != 0 ||
            (type != SS_LEFT && type != SS_CENTER && type != SS_RIGHT))
            continue;
        if (dynamic_cast<telvio::ColorLabel*>(telvio::Window::FromHandle(child)) != nullptr)
            continue;
        char text[256] = {};
        GetWindowTextA(child, text, sizeof text);
        if (text[0] == '\0') continue;
        RECT client;
        GetClientRect(child, &client);
        HDC dc = CreateCompatibleDC(nullptr);
        HGDIOBJ old =
            SelectObject(dc, reinterpret_cast<HFONT>(SendMessageA(child, WM_GETFONT, 0, 0)));
        RECT laid{0, 0, client.right, 0};
        UINT format = DT_CALCRECT | DT_WORDBREAK | DT_EXPANDTABS;
        if (style & SS_NOPREFIX) format |= DT_NOPREFIX;
        DrawTextA(dc, text, -1, &laid, format);
        SelectObject(dc, old);
        DeleteDC(dc);
        EXPECT_LE(laid.bottom, client.bottom)
            << which << " \"" << text << "\" at " << telvio::SystemDpi() << " DPI";
        EXPECT_LE(laid.right, client.right)
            << which << " \"" << text << "\" at " << telvio::SystemDpi() << " DPI";
        ++checked;
    }
    EXPECT_GT(checked, 0) << which;
}

// The chip picture as shown, by DPI: drawn 97 x 67 for 96.
struct PictureCase {
    int dpi;
    LONG width, height;
};
const PictureCase kPictures[] = {{96, 97, 67}, {120, 121, 84}, {144, 146, 101}};

TEST(ScreenDpi, TemplateTextsShowWholeAndTheChipPictureScales) {
    apptest::ResetFakes();
    RunningWindow window;
    ExpectWholeStaticTexts(window.Hwnd(), "main window");

    HWND chip = nullptr;
    for (HWND child = GetWindow(window.Hwnd(), GW_CHILD); child;
         child = GetWindow(child, GW_HWNDNEXT)) {
        if ((GetWindowLongA(child, GWL_STYLE) & SS_TYPEMASK) == SS_BITMAP) chip = child;
    }
    ASSERT_NE(chip, nullptr);
    BITMAP picture{};
    GetObjectA(reinterpret_cast<HBITMAP>(SendMessageA(chip, STM_GETIMAGE, IMAGE_BITMAP, 0)),
               sizeof picture, &picture);
    RECT shown;
    GetClientRect(chip, &shown);
    bool known = false;
    for (const PictureCase& c : kPictures) {
        if (c.dpi != telvio::SystemDpi()) continue;
        known = true;
        EXPECT_EQ(picture.bmWidth, c.width) << c.dpi;
        EXPECT_EQ(picture.bmHeight, c.height) << c.dpi;
        EXPECT_EQ(shown.right, c.width) << c.dpi;
        EXPECT_EQ(shown.bottom, c.height) << c.dpi;
    }
    EXPECT_TRUE(known) << "no case for " << telvio::SystemDpi() << " DPI";

    PostMessageA(window.Hwnd(), WM_SYSCOMMAND, IDM_ABOUTBOX, 0);
    HWND about = nullptr;
    ASSERT_TRUE(
        window.WaitFor([&] { return (about = apptest::FindOwnDialog("KORVANE", window.Hwnd())); }));
    ExpectWholeStaticTexts(about, "about box");
    PostMessageA(GetDlgItem(about, IDOK), BM_CLICK, 0, 0);
    ASSERT_TRUE(window.WaitFor([&] { return !IsWindow(about); }));

    HWND warning = OpenWarning(window);
    ASSERT_NE(warning, nullptr);
    ExpectWholeStaticTexts(warning, "warning");
    PostMessageA(GetDlgItem(warning, IDCANCEL), BM_CLICK, 0, 0);
    EXPECT_TRUE(window.WaitFor([&] { return !IsWindow(warning); }));
}

}  // namespace
