// The program's resources as linked: every dialog template item by item, the about
// string, the icon's two images, the chip picture and the manifest.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <string>
#include <vector>

#include "resources/resource.h"

namespace {

struct Item {
    DWORD style = 0, exStyle = 0;
    short x = 0, y = 0, cx = 0, cy = 0;
    int id = 0;
    std::string cls;   // a name, or "#n" for a class ordinal
    std::string text;  // a text, or "#n" for a resource ordinal
};

struct Template {
    DWORD style = 0, exStyle = 0;
    short cx = 0, cy = 0;
    std::string caption, font;
    WORD pointSize = 0;
    std::vector<Item> items;
};

// Reads the extended template within its resource's bounds.
class Reader {
  public:
    Reader(const BYTE* data, size_t size) : p_(data), end_(data + size), begin_(data) {}
    bool ok() const { return ok_; }
    template <typename T>
    T Get() {
        T value{};
        if (size_t(end_ - p_) < sizeof(T)) {
            ok_ = false;
            return value;
        }
        std::memcpy(&value, p_, sizeof(T));
        p_ += sizeof(T);
        return value;
    }
    std::string SzOrOrd() {
        WORD first = Get<WORD>();
        if (first == 0xFFFF) return "#" + std::to_string(Get<WORD>());
        std::string text;
        for (WORD c = first; ok_ && c != 0; c = Get<WORD>()) text += char(c);
        return text;
    }
    void AlignDword() {
        while ((p_ - begin_) % 4 != 0 && p_ < end_) ++p_;
    }
    void Skip(size_t n) { p_ = n <= size_t(end_ - p_) ? p_ + n : (ok_ = false, end_); }

  private:
    const BYTE* p_;
    const BYTE* end_;
    const BYTE* begin_;
    bool ok_ = true;
};

bool LoadTemplate(int id, Template& t) {
    HRSRC found = FindResourceA(nullptr, MAKEINTRESOURCEA(id), MAKEINTRESOURCEA(5));
    if (!found) return false;
    auto* data = static_cast<const BYTE*>(LockResource(LoadResource(nullptr, found)));
    Reader r(data, SizeofResource(nullptr, found));
    if (r.Get<WORD>() != 1 || r.Get<WORD>() != 0xFFFF) return false;
    r.Get<DWORD>();  // help id
    t.exStyle = r.Get<DWORD>();
    t.style = r.Get<DWORD>();
    WORD count = r.Get<WORD>();
    r.Get<short>();
    r.Get<short>();
    t.cx = r.Get<short>();
    t.cy = r.Get<short>();
    r.SzOrOrd();  // menu
    r.SzOrOrd();  // class
    t.caption = r.SzOrOrd();
    if (t.style & DS_SETFONT) {
        t.pointSize = r.Get<WORD>();
        r.Get<WORD>();
        r.Get<BYTE>();
        r.Get<BYTE>();
        t.font = r.SzOrOrd();
    }
    for (WORD i = 0; i < count && r.ok(); ++i) {
        r.AlignDword();
        Item item;
        r.Get<DWORD>();
        item.exStyle = r.Get<DWORD>();
        item.style = r.Get<DWORD>();
        item.x = r.Get<short>();
        item.y = r.Get<short>();
        item.cx = r.Get<short>();
        item.cy = r.Get<short>();
        item.id = int(r.Get<DWORD>());
        item.cls = r.SzOrOrd();
        // A predefined class may be named or given by its ordinal; both mean the same.
        static const char* const kOrdinals[][2] = {
            {"BUTTON", "#128"}, {"EDIT", "#129"}, {"STATIC", "#130"}, {"COMBOBOX", "#133"}};
        for (const auto& pair : kOrdinals) {
            if (_stricmp(item.cls.c_str(), pair[0]) == 0) item.cls = pair[1];
        }
        item.text = r.SzOrOrd();
        r.Skip(r.Get<WORD>());
        t.items.push_back(item);
    }
    return r.ok();
}

constexpr DWORD kNone = 0xFFFFFFFF;

struct Expected {
    int id;
    const char* cls;
    const char* text;
    short x, y, cx, cy;
    DWORD typeMask, type;  // the control's kind within its class
    DWORD styles;          // bits that must be set
    DWORD absent;          // bits that must be clear
    DWORD exStyles;
};

constexpr int kStatic = -1;
constexpr DWORD kStaticType = SS_TYPEMASK;
constexpr DWORD kButtonType = 0x0F;

// Tab order in reading order; each access key's label just before its box.
const Expected kMain[] = {
    {kStatic, "#130", "Target &Drive At", 7, 10, 48, 8, kStaticType, SS_LEFT, 0, 0, 0},
    {IDC_DRIVE_BOX, "#133", "", 55, 7, 125, 65, 0x3, CBS_DROPDOWN,
     CBS_SORT | WS_VSCROLL | WS_TABSTOP, 0, 0},
    {kStatic, "#130", "Target&File:", 7, 36, 36, 8, kStaticType, SS_LEFT, 0, 0, 0},
    {IDC_FILE_BOX, "#129", "", 44, 33, 88, 14, 0, 0, ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP,
     ES_MULTILINE, 0},
    {IDC_BROWSE, "#128", "&Browser...", 138, 33, 50, 14, kButtonType, BS_PUSHBUTTON, WS_TABSTOP, 0,
     0},
    {IDC_UPGRADE, "#128", "&Upgrade", 202, 122, 60, 20, kButtonType, BS_PUSHBUTTON, WS_TABSTOP, 0,
     0},
    {IDCANCEL, "#128", "Close", 202, 149, 60, 20, kButtonType, BS_PUSHBUTTON, WS_TABSTOP, 0, 0},
    {IDC_LOG, "#129", "", 7, 114, 180, 64, 0, 0,
     ES_MULTILINE | ES_AUTOVSCROLL | ES_READONLY | WS_VSCROLL | WS_BORDER | WS_TABSTOP, 0, 0},
    {kStatic, "#130", "Status:", 7, 73, 26, 8, kStaticType, SS_LEFT, 0, 0, 0},
    {IDC_PROGRESS, "msctls_progress32", "Progress1", 7, 91, 180, 14, 0, 0, WS_BORDER, 0, 0},
    {IDC_STATUS, "#130", "Static", 37, 73, 144, 8, kStaticType, SS_LEFT, SS_NOPREFIX, 0, 0},
    {kStatic, "#130", "Telvio", 209, 51, 37, 8, kStaticType, SS_LEFT, 0, 0, 0},
    {kStatic, "#128", "", 194, 7, 65, 88, kButtonType, BS_GROUPBOX, 0, 0, WS_EX_TRANSPARENT},
    {kStatic, "#130", "Version  " TELVIO_PROJECT_VERSION "  ", 205, 62, 49, 18, kStaticType,
     SS_LEFT, 0, 0, 0},
    {kStatic, "#130", "Device Revision:", 7, 56, 63, 8, kStaticType, SS_LEFT, 0, 0, 0},
    {IDC_REVISION, "#130", "Static", 71, 56, 57, 8, kStaticType, SS_LEFT,
     SS_CENTERIMAGE | SS_NOPREFIX, 0, 0},
    {kStatic, "#130", "#130", 201, 14, 49, 34, kStaticType, SS_BITMAP, 0, 0, 0},
};

const Expected kWarning[] = {
    {IDOK, "#128", "OK", 82, 188, 50, 14, kButtonType, BS_DEFPUSHBUTTON, WS_TABSTOP, 0, 0},
    {IDCANCEL, "#128", "Cancel", 159, 188, 50, 14, kButtonType, BS_PUSHBUTTON, WS_TABSTOP, 0, 0},
    {IDC_GREETING, "#130", "Static", 21, 12, 245, 26, kStaticType, SS_LEFT, 0, 0, 0},
    {IDC_VERSION_WORDS, "#130", "The current version of your", 21, 38, 91, 9, kStaticType, SS_LEFT, 0, 0, 0},
    {IDC_MODEL_TEXT, "#130", "xxxxxxxxxxxxxxxxxxxxxxxx", 112, 40, 98, 8, kStaticType, SS_LEFT, 0, 0, 0},
    {IDC_FIRMWARE_WORDS, "#130", "firmware is", 217, 38, 37, 8, kStaticType, SS_LEFT, 0, 0, 0},
    {IDC_REVISION_TEXT, "#130", "V.xxx", 259, 40, 22, 8, kStaticType, SS_LEFT, 0, 0, 0},
    {kStatic, "#128", "Warning !!", 7, 52, 300, 115, kButtonType, BS_GROUPBOX, 0, 0, 0},
    {IDC_WARNING_LIST, "#130", "Static", 13, 62, 290, 46, kStaticType, SS_LEFT, 0, 0, 0},
    {IDC_ATTENTION, "#130", "ATTENTION !!", 138, 111, 45, 8, kStaticType, SS_LEFT, 0, 0, 0},
    {IDC_WARNING_NOTE, "#130", "Static", 21, 121, 262, 33, kStaticType, SS_LEFT, SS_SUNKEN, 0,
     WS_EX_CLIENTEDGE},
    {IDC_QUESTION, "#130", "Static", 21, 172, 275, 9, kStaticType, SS_LEFT, 0, 0, 0},
};

const Expected kAbout[] = {
    {kStatic, "#130", "#128", 11, 17, 20, 20, kStaticType, SS_ICON, 0, 0, 0},
    {kStatic, "#130", "Telvio Version " TELVIO_PROJECT_VERSION, 40, 17, 119, 8, kStaticType,
     SS_LEFT, 0, 0, 0},
    {IDOK, "#128", "OK", 178, 7, 50, 14, kButtonType, BS_DEFPUSHBUTTON, WS_TABSTOP | WS_GROUP, 0, 0},
};

struct TemplateCase {
    int id;
    const char* caption;
    const char* font;
    WORD pointSize;
    short cx, cy;
    DWORD exStyle;
    const Expected* items;
    size_t count;
};

class TemplateTest : public ::testing::TestWithParam<TemplateCase> {};

TEST_P(TemplateTest, MatchesItemByItemInTabOrder) {
    const TemplateCase& c = GetParam();
    Template t;
    ASSERT_TRUE(LoadTemplate(c.id, t)) << c.id;
    EXPECT_EQ(t.caption, c.caption);
    EXPECT_EQ(t.font, c.font);
    EXPECT_EQ(t.pointSize, c.pointSize);
    EXPECT_EQ(t.cx, c.cx);
    EXPECT_EQ(t.cy, c.cy);
    EXPECT_EQ(t.style & (DS_MODALFRAME | WS_POPUP | WS_CAPTION | WS_SYSMENU),
              DWORD(DS_MODALFRAME | WS_POPUP | WS_CAPTION | WS_SYSMENU));
    EXPECT_EQ(t.style & (WS_MINIMIZEBOX | WS_MAXIMIZEBOX), 0u);
    EXPECT_EQ(t.exStyle & WS_EX_APPWINDOW, c.exStyle);
    ASSERT_EQ(t.items.size(), c.count);
    std::string accessKeys;  // no two controls of a dialog answer one key
    for (const Item& item : t.items) {
        size_t amp = item.text.find('&');
        if (amp != std::string::npos) accessKeys += char(toupper(item.text.at(amp + 1)));
    }
    std::string sorted = accessKeys;
    std::sort(sorted.begin(), sorted.end());
    EXPECT_TRUE(std::adjacent_find(sorted.begin(), sorted.end()) == sorted.end()) << accessKeys;
    for (size_t i = 0; i < c.count; ++i) {
        const Expected& e = c.items[i];
        const Item& got = t.items[i];
        SCOPED_TRACE("template " + std::to_string(c.id) + " item " + std::to_string(i));
        EXPECT_EQ(short(got.id), short(e.id));
        EXPECT_EQ(_stricmp(got.cls.c_str(), e.cls), 0) << got.cls;
        if (e.text) {
            EXPECT_EQ(got.text, e.text);
        }
        EXPECT_EQ(got.x, e.x);
        EXPECT_EQ(got.y, e.y);
        EXPECT_EQ(got.cx, e.cx);
        EXPECT_EQ(got.cy, e.cy);
        EXPECT_EQ(got.style & e.typeMask, e.type);
        EXPECT_EQ(got.style & e.styles, e.styles);
        EXPECT_EQ(got.style & e.absent, 0u);
        EXPECT_EQ(got.exStyle & e.exStyles, e.exStyles);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Dialogs, TemplateTest,
    ::testing::Values(
        TemplateCase{IDD_TELVIO_DIALOG, "KORVANE", "System", 12, 269, 185, WS_EX_APPWINDOW,
                     kMain, std::size(kMain)},
        TemplateCase{IDD_WARNING, "Welcome To The Upgrade Program", "System", 10, 314, 213, 0,
                     kWarning, std::size(kWarning)},
        TemplateCase{IDD_ABOUTBOX, "KORVANE", "MS Sans Serif", 8, 235, 55, 0, kAbout,
                     std::size(kAbout)}));

TEST(Resources, AboutStringIconPictureAndManifest) {
    char text[64] = {};
    LoadStringA(GetModuleHandleA(nullptr), IDS_ABOUTBOX, text, sizeof text);
    EXPECT_STREQ(text, "&About KORVANE...");

    HRSRC group = FindResourceA(nullptr, MAKEINTRESOURCEA(IDR_MAINFRAME), MAKEINTRESOURCEA(14));
    ASSERT_NE(group, nullptr);
    auto* directory = static_cast<BYTE*>(LockResource(LoadResource(nullptr, group)));
    for (int size : {16, 32}) {
        int id = LookupIconIdFromDirectoryEx(directory, TRUE, size, size, LR_DEFAULTCOLOR);
        HRSRC image = FindResourceA(nullptr, MAKEINTRESOURCEA(id), MAKEINTRESOURCEA(3));
        ASSERT_NE(image, nullptr) << size;
        BITMAPINFOHEADER header;
        std::memcpy(&header, LockResource(LoadResource(nullptr, image)), sizeof header);
        EXPECT_EQ(header.biWidth, size);
        EXPECT_EQ(header.biHeight, 2 * size);  // colour and mask
        EXPECT_EQ(header.biBitCount, 4) << "16 colours";
    }

    HRSRC picture = FindResourceA(nullptr, MAKEINTRESOURCEA(IDB_CHIP), MAKEINTRESOURCEA(2));
    ASSERT_NE(picture, nullptr);
    BITMAPINFOHEADER header;
    std::memcpy(&header, LockResource(LoadResource(nullptr, picture)), sizeof header);
    EXPECT_EQ(header.biWidth, 97);
    EXPECT_EQ(header.biHeight, 67);
    EXPECT_EQ(header.biBitCount, 8);

    HRSRC manifest = FindResourceA(nullptr, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24));
    ASSERT_NE(manifest, nullptr);
    std::string xml(static_cast<const char*>(LockResource(LoadResource(nullptr, manifest))),
                    SizeofResource(nullptr, manifest));
    for (const char* needed : {"Microsoft.Windows.Common-Controls", "version=\"6.0.0.0\"",
                               "requireAdministrator", "<dpiAware>true</dpiAware>"}) {
        EXPECT_NE(xml.find(needed), std::string::npos) << needed;
    }
    // The same manifest starts this test: its code page took effect.
    EXPECT_EQ(GetACP(), UINT(CP_UTF8));
}

}  // namespace
