// The drive box's selection handler, on a real combo box and static.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "drive/Discovery.h"
#include "resources/resource.h"

namespace telvio::test {
namespace {

struct Window {
    HWND parent = nullptr;
    HWND combo = nullptr;
    HWND label = nullptr;
    Window() {
        parent = CreateWindowExA(0, "STATIC", "host", WS_OVERLAPPEDWINDOW, 0, 0, 300, 200, nullptr, nullptr,
                                 GetModuleHandleA(nullptr), nullptr);
        combo = CreateWindowExA(0, "COMBOBOX", "", WS_CHILD | CBS_DROPDOWN | CBS_SORT | WS_VSCROLL,
                                0, 0, 200, 100, parent, HMENU(INT_PTR(IDC_DRIVE_BOX)),
                                GetModuleHandleA(nullptr), nullptr);
        label = CreateWindowExA(0, "STATIC", "Static", WS_CHILD, 0, 120, 100, 20, parent,
                                HMENU(INT_PTR(IDC_REVISION)), GetModuleHandleA(nullptr), nullptr);
    }
    ~Window() { DestroyWindow(parent); }
    std::string Label() const {
        char text[64] = {};
        GetWindowTextA(label, text, sizeof text);
        return text;
    }
    void Add(const char* item) { SendMessageA(combo, CB_ADDSTRING, 0, LPARAM(item)); }
    void Select(const char* item) { SendMessageA(combo, CB_SELECTSTRING, WPARAM(-1), LPARAM(item)); }
};

DriveRecord Record(const char* name, const char* revision) {
    DriveRecord r{};
    std::strcpy(r.displayName, name);
    std::strcpy(r.revision, revision);
    return r;
}

TEST(SelectDrive, ShowsTheRevisionOfTheSelectedName) {
    Window w;
    ASSERT_NE(nullptr, w.combo);
    DriveRecord m = Record("M DRIVE(0)", "1.00"), k = Record("K DRIVE(1)", "2.00"), n = Record("N DRIVE(2)", "3.00");
    DriveTable table{};
    table.records[0] = &m;
    table.records[1] = &k;
    table.records[2] = &n;
    table.driveCount = 3;
    w.Add(m.displayName);
    w.Add(k.displayName);
    w.Add(n.displayName);

    SelectDrive(w.parent, table);
    EXPECT_EQ("    ", w.Label()) << "no selection: four spaces";

    w.Select("K DRIVE(1)");
    SelectDrive(w.parent, table);
    EXPECT_EQ("2.00", w.Label());

    w.Select("N DRIVE(2)");
    SelectDrive(w.parent, table);
    EXPECT_EQ("3.00", w.Label());
}

TEST(SelectDrive, ComparesWholeNamesExactly) {
    Window w;
    DriveRecord a = Record("ABC(0)", "1.00"), b = Record("abc(0)", "2.00"), c = Record("ABC(0) ", "3.00");
    DriveTable table{};
    table.records[0] = &b;
    table.records[1] = &c;
    table.driveCount = 2;
    w.Add(a.displayName);
    w.Select("ABC(0)");
    SelectDrive(w.parent, table);
    EXPECT_EQ("    ", w.Label()) << "case and trailing characters count";

    // Equal names: every match writes, so the last one shows.
    DriveRecord d1 = Record("SAME(0)", "1.11"), d2 = Record("SAME(0)", "2.22");
    table.records[0] = &d1;
    table.records[1] = &d2;
    w.Add("SAME(0)");
    w.Select("SAME(0)");
    SelectDrive(w.parent, table);
    EXPECT_EQ("2.22", w.Label());
}

TEST(SelectDrive, AnItemLongerThanTheBufferIsNotRead) {
    Window w;
    const std::string longItem(600, 'L');
    DriveTable table{};
    w.Add(longItem.c_str());
    w.Select(longItem.c_str());
    SelectDrive(w.parent, table);
    EXPECT_EQ("    ", w.Label());
}

TEST(FindDrive, FirstExactMatch) {
    DriveRecord a = Record("X(0)", "1"), b = Record("X(0)", "2"), c = Record("Y(1)", "3");
    DriveTable table{};
    table.records[0] = &a;
    table.records[1] = &b;
    table.records[2] = &c;
    table.driveCount = 3;
    EXPECT_EQ(&a, FindDrive(table, "X(0)"));
    EXPECT_EQ(&c, FindDrive(table, "Y(1)"));
    EXPECT_EQ(nullptr, FindDrive(table, "Y(1"));
    EXPECT_EQ(nullptr, FindDrive(table, ""));
}

}  // namespace
}  // namespace telvio::test
