// The warning dialog as the upgrade command shows it: its texts and looks, and each way
// of answering it.
#include <gtest/gtest.h>

#include "controls/ColorLabel.h"
#include "resources/resource.h"
#include "tests/win/app/AppHarness.h"

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

}  // namespace
