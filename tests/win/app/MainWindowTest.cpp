// Start-up of the main window: the drive list with its suffixes, the failure of the ASPI
// binding, the about item, the drive choice, browsing, a dropped file, and the end of the
// window.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include "app/StartUp.h"
#include "controls/ControlToolTip.h"
#include "controls/Seams.h"
#include "resources/resource.h"
#include "tests/win/app/AppHarness.h"

using apptest::RunningWindow;
using apptest::TheFakes;

namespace {

std::vector<std::string> ListItems(HWND combo) {
    std::vector<std::string> items;
    int count = int(SendMessageA(combo, CB_GETCOUNT, 0, 0));
    for (int i = 0; i < count; ++i) {
        char text[64] = {};
        SendMessageA(combo, CB_GETLBTEXT, WPARAM(i), reinterpret_cast<LPARAM>(text));
        items.push_back(text);
    }
    return items;
}

struct ListCase {
    const char* what;
    std::vector<apptest::FakeDrive> drives;
    std::vector<std::string> list;  // in the order the box shows them
    std::string field;              // the edit field after start-up
    std::string revision;
};

class DriveListTest : public ::testing::TestWithParam<ListCase> {};

TEST_P(DriveListTest, ListsSuffixedNamesSortedWithTheLastFoundInTheField) {
    const ListCase& c = GetParam();
    apptest::ResetFakes();
    TheFakes().drives = c.drives;
    RunningWindow window;
    EXPECT_EQ(ListItems(window.Item(IDC_DRIVE_BOX)), c.list) << c.what;
    EXPECT_EQ(window.Text(IDC_DRIVE_BOX), c.field) << c.what;
    EXPECT_EQ(window.Text(IDC_REVISION), c.revision) << c.what;
    EXPECT_EQ(SendMessageA(window.Item(IDC_DRIVE_BOX), CB_GETCURSEL, 0, 0), CB_ERR) << c.what;
    EXPECT_EQ(window.Text(IDC_STATUS), "") << c.what;
    EXPECT_EQ(SendMessageA(window.Item(IDC_PROGRESS), PBM_GETPOS, 0, 0), 0) << c.what;
    EXPECT_TRUE(IsWindowEnabled(window.Item(IDC_UPGRADE))) << c.what;
    EXPECT_EQ(TheFakes().classifyCalls, 1) << c.what;
}

INSTANTIATE_TEST_SUITE_P(
    StartUp, DriveListTest,
    ::testing::Values(
        ListCase{"found in the order M, K, N",
                 {{"M", "1.0M"}, {"K", "1.0K"}, {"N", "1.0N"}},
                 {"K(1)", "M(0)", "N(2)"},
                 "N(2)",
                 "1.0N"},
        ListCase{"two drives of one name",
                 {{"SAME DRIVE", "A"}, {"SAME DRIVE", "B"}},
                 {"SAME DRIVE(0)", "SAME DRIVE(1)"},
                 "SAME DRIVE(1)",
                 "B"},
        ListCase{"trailing blanks stay ahead of the suffix",
                 {{"VENDOR  PRODUCT         ", "2.10"}},
                 {"VENDOR  PRODUCT         (0)"},
                 "VENDOR  PRODUCT         (0)",
                 "2.10"},
        ListCase{"no drive", {}, {}, "", ""}));

TEST(MainWindow, FailedAspiBindingDisablesUpgradeAndRevisionAndListsNothing) {
    apptest::ResetFakes();
    TheFakes().usePassThrough = 0;
    TheFakes().bindResult = 0;
    RunningWindow window;
    EXPECT_FALSE(IsWindowEnabled(window.Item(IDC_UPGRADE)));
    EXPECT_FALSE(IsWindowEnabled(window.Item(IDC_REVISION)));
    EXPECT_TRUE(IsWindowEnabled(window.Item(IDCANCEL)));
    EXPECT_TRUE(IsWindowEnabled(window.Item(IDC_BROWSE)));
    EXPECT_EQ(TheFakes().discoverCalls, 0);
    EXPECT_EQ(TheFakes().classifyCalls, 1);
    EXPECT_EQ(SendMessageA(window.Item(IDC_DRIVE_BOX), CB_GETCOUNT, 0, 0), 0);
}

ATOM WINAPI RefuseClass(const WNDCLASSA*) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return 0;
}

TEST(MainWindow, StartUpFailureIsShownAndEndsWithCodeOne) {
    apptest::ResetFakes();
    using telvio::ControlToolTip;
    // Registered afresh, as in a process of its own: no tip window is left from before.
    WNDCLASSA wc;
    if (GetClassInfoA(GetModuleHandleA(nullptr), ControlToolTip::kClassName, &wc)) {
        ASSERT_TRUE(UnregisterClassA(ControlToolTip::kClassName, GetModuleHandleA(nullptr)));
    }
    ControlToolTip::Seams refusing;
    refusing.registerClass = &RefuseClass;
    {
        const telvio::SeamScope<ControlToolTip> scope(refusing);
        EXPECT_EQ(telvio::RunUpgradeApp(apptest::FakeServices()), 1);
    }
    ASSERT_EQ(TheFakes().messages.size(), 1u);
    EXPECT_EQ(TheFakes().messages[0].text,
              "Telvio cannot start: the tip window class \"ControlToolTip\" could not be "
              "registered (error 8).");
    EXPECT_EQ(TheFakes().discoverCalls, 0);

    // What a handler throws inside the window cannot cross the system's code: the window
    // ends and the same box tells why.
    apptest::ResetFakes();
    TheFakes().discoverThrows = true;
    EXPECT_EQ(telvio::RunUpgradeApp(apptest::FakeServices()), 1);
    ASSERT_EQ(TheFakes().messages.size(), 1u);
    EXPECT_EQ(TheFakes().messages[0].text, "Telvio cannot start: std::bad_alloc (error 0).");
    EXPECT_EQ(TheFakes().discoverCalls, 1);
}

TEST(MainWindow, SystemMenuEndsWithSeparatorAndAboutItem) {
    apptest::ResetFakes();
    RunningWindow window;
    HMENU menu = GetSystemMenu(window.Hwnd(), FALSE);
    ASSERT_NE(menu, nullptr);
    int count = GetMenuItemCount(menu);
    ASSERT_GE(count, 2);
    EXPECT_EQ(GetMenuState(menu, UINT(count - 2), MF_BYPOSITION) & MF_SEPARATOR, UINT(MF_SEPARATOR));
    EXPECT_EQ(GetMenuItemID(menu, count - 1), UINT(IDM_ABOUTBOX));
    char text[64] = {};
    GetMenuStringA(menu, UINT(count - 1), text, sizeof text, MF_BYPOSITION);
    EXPECT_STREQ(text, "&About KORVANE...");
}

TEST(MainWindow, AboutItemOpensTheAboutBoxAndOkReturnsToTheWindow) {
    apptest::ResetFakes();
    RunningWindow window;
    // With the low four bits set, as the system may send it.
    PostMessageA(window.Hwnd(), WM_SYSCOMMAND, IDM_ABOUTBOX | 0x3, 0);
    HWND about = nullptr;
    ASSERT_TRUE(
        window.WaitFor([&] { return (about = apptest::FindOwnDialog("KORVANE", window.Hwnd())); }));
    EXPECT_FALSE(IsWindowEnabled(window.Hwnd()));  // modal over the main window
    EXPECT_NE(GetDlgItem(about, IDOK), nullptr);
    PostMessageA(GetDlgItem(about, IDOK), BM_CLICK, 0, 0);
    EXPECT_TRUE(window.WaitFor([&] { return !IsWindow(about); }));
    EXPECT_TRUE(window.WaitFor([&] { return IsWindowEnabled(window.Hwnd()) != 0; }));
}

TEST(MainWindow, ChoosingADriveShowsItsRevision) {
    apptest::ResetFakes();
    TheFakes().drives = {{"FIRST", "1.11"}, {"SECOND", "2.22"}};
    RunningWindow window;
    HWND box = window.Item(IDC_DRIVE_BOX);
    SendMessageA(box, CB_SETCURSEL, 0, 0);  // "FIRST(0)" sorts first
    window.Command(MAKEWPARAM(IDC_DRIVE_BOX, CBN_SELENDOK));
    EXPECT_EQ(window.Text(IDC_REVISION), "1.11");
}

TEST(MainWindow, BrowsingFillsTheFileBoxOrEmptiesItAndArmsTheWarning) {
    apptest::ResetFakes();
    RunningWindow window;
    TheFakes().chosenFile = "D:\\fw\\image.hex";
    EXPECT_EQ(window.Dialog().BrowseUsed(), 0);
    window.Click(IDC_BROWSE);
    EXPECT_EQ(window.Text(IDC_FILE_BOX), "D:\\fw\\image.hex");
    EXPECT_EQ(window.Dialog().BrowseUsed(), 1);

    TheFakes().chosenFile = "";  // cancelled
    window.Click(IDC_BROWSE);
    EXPECT_EQ(window.Text(IDC_FILE_BOX), "");
    EXPECT_EQ(window.Dialog().BrowseUsed(), 1);
    window.Click(IDC_UPGRADE);
    ASSERT_EQ(TheFakes().messages.size(), 1u);
    EXPECT_EQ(TheFakes().messages[0].text, "You must input HEX file");
    EXPECT_EQ(TheFakes().confirmCalls, 0);
}

// Files dragged from Explorer, as a real WM_DROPFILES: a folder is passed over, the first
// file fills the box (whatever its folder is called) and, as Browser... does, arms the
// warning. The drop's memory is freed whatever the window takes.
TEST(MainWindow, DroppedFileFillsTheFileBoxAndArmsTheWarning) {
    apptest::ResetFakes();
    TheFakes().confirmAnswer = IDCANCEL;
    RunningWindow window;
    EXPECT_TRUE(GetWindowLongA(window.Hwnd(), GWL_EXSTYLE) & WS_EX_ACCEPTFILES);
    window.SetText(IDC_FILE_BOX, "typed.hex");
    wchar_t folder[MAX_PATH] = {};
    ASSERT_NE(GetTempPathW(MAX_PATH, folder), 0u);

    HGLOBAL drop = apptest::MakeDrop({folder});
    window.Send(WM_DROPFILES, reinterpret_cast<WPARAM>(drop));
    EXPECT_TRUE(apptest::DropFreed(drop));
    EXPECT_EQ(window.Text(IDC_FILE_BOX), "typed.hex");
    EXPECT_EQ(window.Dialog().BrowseUsed(), 0);

    // Disabled, as under a box of the upgrade command: the command has the path by then.
    EnableWindow(window.Hwnd(), FALSE);
    drop = apptest::MakeDrop({L"D:\\held.bin"});
    window.Send(WM_DROPFILES, reinterpret_cast<WPARAM>(drop));
    EXPECT_TRUE(apptest::DropFreed(drop));
    EXPECT_EQ(window.Text(IDC_FILE_BOX), "typed.hex");
    EnableWindow(window.Hwnd(), TRUE);

    // A folder named in katakana and Greek, beside the folder and before a second file.
    drop = apptest::MakeDrop(
        {folder, L"D:\\\u30D5\u30A1\u30FC\u30E0 \u03A5\u03BB\u03B9\u03BA\u03CC\\fw.hex",
         L"D:\\second.bin"});
    window.Send(WM_DROPFILES, reinterpret_cast<WPARAM>(drop));
    EXPECT_TRUE(apptest::DropFreed(drop));
    EXPECT_EQ(window.Text(IDC_FILE_BOX),
              "D:\\\u30D5\u30A1\u30FC\u30E0 \u03A5\u03BB\u03B9\u03BA\u03CC\\fw.hex");
    EXPECT_EQ(window.Dialog().BrowseUsed(), 1);
    window.Click(IDC_UPGRADE);
    EXPECT_EQ(TheFakes().confirmCalls, 1);
    EXPECT_EQ(TheFakes().engineRuns, 0);
}

TEST(MainWindow, EnterEndsNothingAndCloseEndsTheWindowAndReleasesThePassThrough) {
    for (uint8_t passThrough : {1, 0}) {
        apptest::ResetFakes();
        TheFakes().usePassThrough = passThrough;
        RunningWindow window;
        window.Command(IDOK);
        EXPECT_TRUE(IsWindow(window.Hwnd()));
        const LRESULT icon = window.Send(WM_GETICON, ICON_BIG);
        ASSERT_NE(icon, 0);
        EXPECT_EQ(window.Send(WM_QUERYDRAGICON), icon) << "the icon itself, not a yes";
        PostMessageA(window.Hwnd(), WM_CLOSE, 0, 0);
        EXPECT_EQ(window.WaitEnded(), IDCANCEL);
        EXPECT_EQ(TheFakes().releaseCalls, passThrough == 1 ? 1 : 0);
    }
}

// The keyboard alone, through the window's own loop: Tab in reading order, each access
// key, Enter in either box ends nothing, Esc is Close.
TEST(MainWindow, KeyboardReachesEveryControlInReadingOrder) {
    apptest::ResetFakes();
    TheFakes().chosenFile = "D:\\fw\\image.hex";
    RunningWindow window;
    EXPECT_EQ(window.FocusedId(), IDC_DRIVE_BOX);
    const int order[] = {IDC_DRIVE_BOX, IDC_FILE_BOX, IDC_BROWSE,   IDC_UPGRADE,
                         IDCANCEL,      IDC_LOG,      IDC_DRIVE_BOX};
    for (size_t i = 0; i + 1 < std::size(order); ++i) {
        window.Focus(order[i]);
        window.Press(VK_TAB);
        EXPECT_TRUE(window.WaitFor([&] { return window.FocusedId() == order[i + 1]; }))
            << "after " << order[i] << " came " << window.FocusedId();
    }
    for (auto [key, box] : {std::pair{'F', IDC_FILE_BOX}, std::pair{'d', IDC_DRIVE_BOX}}) {
        window.Focus(IDC_LOG);
        window.Press(key, true);
        EXPECT_TRUE(window.WaitFor([&] { return window.FocusedId() == box; })) << key;
        window.Press(VK_RETURN);
    }
    window.Press('b', true);
    EXPECT_TRUE(window.WaitFor([&] { return window.Dialog().BrowseUsed() == 1; }));
    EXPECT_EQ(window.Text(IDC_FILE_BOX), "D:\\fw\\image.hex");
    EXPECT_EQ(window.WaitEnded(100), -2) << "Enter ended the window";
    window.Press(VK_ESCAPE);
    EXPECT_EQ(window.WaitEnded(), IDCANCEL);
}

}  // namespace
