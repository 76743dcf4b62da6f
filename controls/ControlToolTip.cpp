#include "controls/ControlToolTip.h"

#include <algorithm>
#include <string_view>

#include "controls/Dpi.h"
#include "controls/GdiTally.h"
#include "controls/SystemLook.h"
#include "controls/TextLines.h"
#include "framework/ResourceException.h"

namespace telvio {

namespace {

constexpr UINT_PTR kPollTimer = 1;
constexpr UINT kPollMilliseconds = 100;
constexpr UINT kRedrawNow = RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW;

ControlToolTip::Seams seams;

}  // namespace

ControlToolTip::Seams ControlToolTip::InstallSeams(const Seams& replacement) {
    const Seams previous = seams;
    seams = replacement;
    return previous;
}

void ControlToolTip::RegisterWindowClass() {
    HINSTANCE module = GetModuleHandleA(nullptr);
    WNDCLASSA existing;
    if (GetClassInfoA(module, kClassName, &existing)) return;
    WNDCLASSA wc{};
    wc.style = CS_SAVEBITS | CS_DBLCLKS;
    // Each tip window is subclassed when it is made, so the class needs no procedure
    // of its own.
    wc.lpfnWndProc = &DefWindowProcA;
    wc.hInstance = module;
    wc.hCursor = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
    wc.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_INFOBK + 1));
    wc.lpszClassName = kClassName;
    if (seams.registerClass(&wc) == 0) {
        throw ResourceException(GetLastError(),
                                "the tip window class \"ControlToolTip\" could not be registered");
    }
}

ControlToolTip::ControlToolTip()
    : textColor_(GetSysColor(COLOR_INFOTEXT)),
      backColor_(GetSysColor(COLOR_INFOBK)),
      highContrast_(SystemLook::HighContrastOn() ? 1 : 0) {
    RegisterWindowClass();
}

ControlToolTip::~ControlToolTip() {
    Destroy();
}

bool ControlToolTip::Create(HWND owner) {
    if (GetHwnd() != nullptr && !Destroy()) return false;
    owner_ = owner;
    if (!CreateEx(WS_EX_TOPMOST | WS_EX_TOOLWINDOW, kClassName, nullptr, WS_POPUP | WS_BORDER, 0, 0,
                  0, 0, nullptr, nullptr)) {
        return false;
    }
    SetText(text_);
    SetTimer(GetHwnd(), kPollTimer, kPollMilliseconds, nullptr);
    return true;
}

bool ControlToolTip::Destroy() {
    HWND hwnd = GetHwnd();
    if (hwnd == nullptr) return true;
    ShowWindow(hwnd, SW_HIDE);
    KillTimer(hwnd, kPollTimer);
    owner_ = nullptr;
    return DestroyWindow() != FALSE;
}

bool ControlToolTip::IsShown() const {
    return GetHwnd() != nullptr && IsWindowVisible(GetHwnd());
}

SIZE ControlToolTip::MeasureText(HDC dc, const std::string& text) {
    SIZE whole{0, 0};
    GetTextExtentPoint32A(dc, text.c_str(), static_cast<int>(text.size()), &whole);
    const int lines = CountLines(text);
    if (lines == 1) return whole;
    // The pieces are measured in place, so a text of any length is measured whole.
    SIZE size{0, whole.cy * lines};
    std::string_view rest(text);
    while (!rest.empty()) {
        size_t end = rest.find('\n');
        std::string_view piece = rest.substr(0, end);
        if (!piece.empty()) {
            SIZE extent;
            if (GetTextExtentPoint32A(dc, piece.data(), static_cast<int>(piece.size()), &extent)) {
                size.cx = std::max(size.cx, extent.cx);
            }
        }
        if (end == std::string_view::npos) break;
        rest.remove_prefix(end + 1);
    }
    return size;
}

void ControlToolTip::SetText(const std::string& text) {
    text_ = text;
    HWND hwnd = GetHwnd();
    if (hwnd == nullptr) return;
    HDC dc = gdi::GetClientDC(hwnd);
    if (dc == nullptr) return;
    int saved = SaveDC(dc);
    SelectObject(dc, GetStockObject(DEFAULT_GUI_FONT));
    SIZE size = MeasureText(dc, text_);
    RestoreDC(dc, saved);
    gdi::ReleaseClientDC(hwnd, dc);
    // Room for the border on each side; the stock font is at the screen's DPI already, the
    // margin is scaled to match it.
    const int margin = ScaleForDpi(4);
    tipRect_ = RECT{0, 0, size.cx + margin, size.cy + margin};
    if (IsShown()) Show();
}

void ControlToolTip::SetPosition(int mode) {
    if (mode < 0 || mode > 2) return;
    position_ = mode;
    if (IsShown()) Show();
}

void ControlToolTip::SetColors(int flag, COLORREF color) {
    customColors_ = flag;
    if (flag) backColor_ = color;
    if (IsShown()) RedrawWindow(GetHwnd(), nullptr, nullptr, kRedrawNow);
}

void ControlToolTip::SetTextColor(COLORREF color) {
    textColor_ = color;
    if (customColors_ && IsShown()) RedrawWindow(GetHwnd(), nullptr, nullptr, kRedrawNow);
}

ControlToolTip& ControlToolTip::SetNeedsButton(int flag) {
    needsButton_ = flag;
    return *this;
}

ControlToolTip& ControlToolTip::SetLeftButton(int flag) {
    leftButton_ = flag;
    return *this;
}

void ControlToolTip::Show() {
    HWND hwnd = GetHwnd();
    if (hwnd == nullptr) return;
    if (text_.empty()) {
        ShowWindow(hwnd, SW_HIDE);
        return;
    }
    if (owner_ == nullptr) return;
    RECT ownerClient;
    GetClientRect(owner_, &ownerClient);
    POINT p{0, 0};
    if (position_ == 1) p.y = ownerClient.bottom;
    if (position_ == 2) p.y = -tipRect_.bottom;
    ClientToScreen(owner_, &p);
    SetWindowPos(hwnd, HWND_TOP, p.x, p.y, tipRect_.right, tipRect_.bottom,
                 SWP_NOACTIVATE | SWP_SHOWWINDOW);
    RedrawWindow(hwnd, nullptr, nullptr, kRedrawNow);
}

bool ControlToolTip::IsCursorOver() const {
    if (owner_ == nullptr) return false;
    RECT r;
    POINT cursor;
    if (!GetWindowRect(owner_, &r) || !seams.getCursorPos(&cursor)) return false;
    // Every edge counts as inside, the right and bottom ones too.
    return r.left <= cursor.x && cursor.x <= r.right && r.top <= cursor.y && cursor.y <= r.bottom;
}

void ControlToolTip::OnTimer(UINT_PTR id) {
    if (id != kPollTimer || owner_ == nullptr) return;
    HWND focus = GetFocus();
    HWND focusParent = focus != nullptr ? GetParent(focus) : nullptr;
    HWND ownerParent = GetParent(owner_);
    bool buttonOK = true;
    if (needsButton_) {
        SHORT state = seams.getAsyncKeyState(leftButton_ ? VK_LBUTTON : VK_RBUTTON);
        buttonOK = (state >> 1) != 0;
    }
    if (IsCursorOver() && buttonOK) {
        if (!IsShown() && focusParent == ownerParent) Show();
        if (IsShown() && focusParent != ownerParent) ShowWindow(GetHwnd(), SW_HIDE);
    } else if (IsShown()) {
        ShowWindow(GetHwnd(), SW_HIDE);
    }
}

void ControlToolTip::Paint(HDC dc) {
    HGDIOBJ oldFont = SelectObject(dc, GetStockObject(DEFAULT_GUI_FONT));
    int oldMode = SetBkMode(dc, TRANSPARENT);
    COLORREF oldColor = GetTextColor(dc);
    // In high contrast the user's tip colours win over any chosen here.
    if (customColors_ || highContrast_) {
        HBRUSH brush = gdi::NewSolidBrush(highContrast_ ? GetSysColor(COLOR_INFOBK) : backColor_);
        if (brush != nullptr) {
            FillRect(dc, &tipRect_, brush);
            gdi::DeleteObject(brush);
        }
        ::SetTextColor(dc, highContrast_ ? GetSysColor(COLOR_INFOTEXT) : textColor_);
    }
    RECT r = tipRect_;
    DrawTextA(dc, text_.c_str(), static_cast<int>(text_.size()), &r, 0);
    ::SetTextColor(dc, oldColor);
    SetBkMode(dc, oldMode);
    SelectObject(dc, oldFont);
}

LRESULT ControlToolTip::WindowProc(UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
        case WM_TIMER:
            OnTimer(wParam);
            return DefaultProc(msg, wParam, lParam);
        case WM_PAINT: {
            PAINTSTRUCT ps;
            HDC dc = BeginPaint(GetHwnd(), &ps);
            if (dc != nullptr) Paint(dc);
            EndPaint(GetHwnd(), &ps);
            return 0;
        }
        case WM_PRINTCLIENT:
            // Lets tests render the tip into a memory context.
            Paint(reinterpret_cast<HDC>(wParam));
            return 0;
        case WM_SYSCOLORCHANGE:
        case WM_SETTINGCHANGE:
            // A top-level window: the system tells the tip itself.
            highContrast_ = SystemLook::HighContrastOn() ? 1 : 0;
            InvalidateRect(GetHwnd(), nullptr, TRUE);
            return DefaultProc(msg, wParam, lParam);
        default:
            return DefaultProc(msg, wParam, lParam);
    }
}

}  // namespace telvio
