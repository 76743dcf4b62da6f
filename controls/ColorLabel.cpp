#include "controls/ColorLabel.h"

#include <cstring>

#include "controls/Dpi.h"
#include "controls/GdiTally.h"
#include "controls/LabelAccessible.h"
#include "controls/SystemLook.h"
#include "controls/TextLines.h"

namespace telvio {

namespace {

constexpr UINT kRedrawNow = RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW;

}  // namespace

ColorLabel::ColorLabel()
    : backColor_(GetSysColor(COLOR_BTNFACE)),
      textBackColor_(GetSysColor(COLOR_BTNFACE)),
      textColor_(GetSysColor(COLOR_WINDOWTEXT)),
      highlightColor_(GetSysColor(COLOR_HIGHLIGHT)),
      savedTextColor_(GetSysColor(COLOR_WINDOWTEXT)),
      highContrast_(SystemLook::HighContrastOn() ? 1 : 0) {
    backBrush_ = gdi::NewSolidBrush(backColor_);
    GetObjectA(GetStockObject(DEFAULT_GUI_FONT), sizeof(logFont_), &logFont_);
    font_ = gdi::NewFont(logFont_);
}

ColorLabel::~ColorLabel() {
    // Nothing may paint with the objects freed below.
    Detach();
    gdi::DeleteObject(bitmap_);
    gdi::DeleteObject(font_);
    gdi::DeleteObject(backBrush_);
}

void ColorLabel::Redraw() {
    if (GetHwnd() != nullptr) RedrawWindow(GetHwnd(), nullptr, nullptr, kRedrawNow);
}

void ColorLabel::RebuildFont() {
    gdi::DeleteObject(font_);
    // A height given to SetFontHeight is pixels at 96 DPI, as the dialogs choose them; the
    // record keeps it as given. The default font comes from the system already at its DPI.
    LOGFONTA atDpi = logFont_;
    if (fontHeightAt96_) atDpi.lfHeight = ScaleForDpi(atDpi.lfHeight);
    font_ = gdi::NewFont(atDpi);
    Redraw();
}

void ColorLabel::RebuildBrush() {
    gdi::DeleteObject(backBrush_);
    // The brush is what the standard drawing paints behind the text: in high contrast,
    // the system's own background.
    backBrush_ = gdi::NewSolidBrush(highContrast_ ? GetSysColor(COLOR_BTNFACE) : backColor_);
}

void ColorLabel::OnSystemLookChange() {
    highContrast_ = SystemLook::HighContrastOn() ? 1 : 0;
    if (textIsSystem_) textColor_ = GetSysColor(COLOR_WINDOWTEXT);
    if (backIsSystem_) backColor_ = GetSysColor(COLOR_BTNFACE);
    if (textBackIsDefault_) textBackColor_ = GetSysColor(COLOR_BTNFACE);
    RebuildBrush();
    if (GetHwnd() != nullptr) InvalidateRect(GetHwnd(), nullptr, TRUE);
}

void ColorLabel::SetWindowTextInternally(const std::string& text) {
    if (GetHwnd() == nullptr) return;
    internalTextChange_ = 1;
    SetWindowTextA(GetHwnd(), text.c_str());
    internalTextChange_ = 0;
}

void ColorLabel::ChangeStyle(int index, LONG bits, bool add) {
    if (GetHwnd() == nullptr) return;
    LONG style = GetWindowLongA(GetHwnd(), index);
    style = add ? (style | bits) : (style & ~bits);
    SetWindowLongA(GetHwnd(), index, style);
}

ColorLabel& ColorLabel::SetText(const std::string& text) {
    const bool changed = text != text_;
    text_ = text;
    SetWindowTextInternally(verticalText_ ? StackLetters(text_) : text_);
    Redraw();
    if (changed) AnnounceNameChange(GetHwnd());
    return *this;
}

ColorLabel& ColorLabel::SetTextColor(COLORREF color) {
    textIsSystem_ = 0;
    textColor_ = color;
    Redraw();
    return *this;
}

ColorLabel& ColorLabel::ResetTextColor() {
    textIsSystem_ = 1;
    textColor_ = GetSysColor(COLOR_WINDOWTEXT);
    Redraw();
    return *this;
}

ColorLabel& ColorLabel::SetBkColor(COLORREF color) {
    backIsSystem_ = 0;
    backColor_ = color;
    RebuildBrush();
    Redraw();
    return *this;
}

ColorLabel& ColorLabel::ResetBkColor() {
    backIsSystem_ = 1;
    backColor_ = GetSysColor(COLOR_BTNFACE);
    RebuildBrush();
    Redraw();
    return *this;
}

ColorLabel& ColorLabel::SetTextBkColor(COLORREF color) {
    textBackIsDefault_ = 0;
    textBackColor_ = color;
    Redraw();
    return *this;
}

ColorLabel& ColorLabel::ResetTextBkColor() {
    textBackIsDefault_ = 1;
    textBackColor_ = GetSysColor(COLOR_BTNFACE);
    Redraw();
    return *this;
}

ColorLabel& ColorLabel::SetHighlightColor(COLORREF color) {
    highlightColor_ = color;
    Redraw();
    return *this;
}

ColorLabel& ColorLabel::SetFontBold(int flag) {
    logFont_.lfWeight = flag ? FW_BOLD : FW_NORMAL;
    RebuildFont();
    return *this;
}

ColorLabel& ColorLabel::SetFontItalic(BYTE flag) {
    logFont_.lfItalic = flag;
    RebuildFont();
    return *this;
}

ColorLabel& ColorLabel::SetFontUnderline(BYTE flag) {
    logFont_.lfUnderline = flag;
    RebuildFont();
    return *this;
}

ColorLabel& ColorLabel::SetFontName(const char* name) {
    // The record holds 31 characters and the zero; a longer name is cut, never spilled.
    const size_t capacity = sizeof(logFont_.lfFaceName);
    size_t length = name != nullptr ? strnlen(name, capacity - 1) : 0;
    if (length > 0) std::memcpy(logFont_.lfFaceName, name, length);
    std::memset(logFont_.lfFaceName + length, 0, capacity - length);
    RebuildFont();
    return *this;
}

ColorLabel& ColorLabel::SetFontHeight(int height) {
    logFont_.lfHeight = height;
    fontHeightAt96_ = 1;
    RebuildFont();
    return *this;
}

ColorLabel& ColorLabel::SetAlignment(int bits) {
    // Later tests win: left over centre over right, and bottom over centre over top.
    int horizontal = 0;
    if (bits & kRight) horizontal = kRight;
    if (bits & kCenter) horizontal = kCenter;
    if (bits & kLeft) horizontal = kLeft;
    if (horizontal != 0) {
        alignment_ = horizontal;
        ChangeStyle(GWL_STYLE, SS_RIGHT, horizontal == kRight);
        ChangeStyle(GWL_STYLE, SS_CENTER, horizontal == kCenter);
    }
    int vertical = 0;
    if (bits & kTop) vertical = kTop;
    if (bits & kVCenter) vertical = kVCenter;
    if (bits & kBottom) vertical = kBottom;
    alignment_ |= vertical;
    Redraw();
    return *this;
}

ColorLabel& ColorLabel::SetAngle(int degrees) {
    angle_ = degrees;
    Redraw();
    return *this;
}

ColorLabel& ColorLabel::SetBitmap(int id) {
    gdi::DeleteObject(bitmap_);
    bitmap_ = nullptr;
    if (id != -1) bitmap_ = gdi::LoadBitmapResource(GetModuleHandleA(nullptr), id);
    if (GetHwnd() != nullptr) InvalidateRect(GetHwnd(), nullptr, TRUE);
    return *this;
}

ColorLabel& ColorLabel::SetBitmapStretch(int flag) {
    stretchBitmap_ = flag;
    if (bitmap_ != nullptr) Redraw();
    return *this;
}

ColorLabel& ColorLabel::SetBorder(int flag) {
    ChangeStyle(GWL_STYLE, WS_BORDER, flag != 0);
    if (GetHwnd() != nullptr) {
        SetWindowPos(GetHwnd(), nullptr, 0, 0, 0, 0,
                     SWP_FRAMECHANGED | SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
    Redraw();
    return *this;
}

ColorLabel& ColorLabel::SetSunken(int flag) {
    ChangeStyle(GWL_EXSTYLE, WS_EX_STATICEDGE, flag != 0);
    if (GetHwnd() != nullptr) {
        SetWindowPos(GetHwnd(), nullptr, 0, 0, 0, 0,
                     SWP_FRAMECHANGED | SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
    Redraw();
    return *this;
}

ColorLabel& ColorLabel::SetEmbossed(int flag) {
    // The bit alone, without WM_ENABLE: the look changes, nobody is told of a state change.
    ChangeStyle(GWL_STYLE, WS_DISABLED, flag != 0);
    Redraw();
    return *this;
}

ColorLabel& ColorLabel::SetCursorHandle(HCURSOR cursor) {
    cursor_ = cursor;
    return *this;
}

ColorLabel& ColorLabel::SetCursorResource(int id) {
    cursor_ = LoadCursorA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(LOWORD(id)));
    return *this;
}

ColorLabel& ColorLabel::SetLink(int flag) {
    isLink_ = flag;
    return *this;
}

ColorLabel& ColorLabel::SetLowerCase(int flag) {
    lowerCase_ = flag;
    upperCase_ = 0;
    Redraw();
    return *this;
}

ColorLabel& ColorLabel::SetUpperCase(int flag) {
    upperCase_ = flag;
    lowerCase_ = 0;
    Redraw();
    return *this;
}

ColorLabel& ColorLabel::SetVertical(int flag) {
    if (flag && !verticalText_) {
        SetWindowTextInternally(StackLetters(text_));
    } else if (verticalText_) {
        SetWindowTextInternally(text_);
    }
    verticalText_ = flag;
    Redraw();
    return *this;
}

ColorLabel& ColorLabel::SetEtchedLines(int flag) {
    etchedLines_ = flag;
    Redraw();
    return *this;
}

ColorLabel& ColorLabel::SetHoverHighlight(int flag) {
    hoverHighlight_ = flag;
    if (!flag) SetTextColor(savedTextColor_);
    return *this;
}

ColorLabel& ColorLabel::SetHighlightNeedsTip(int flag) {
    highlightNeedsTip_ = flag;
    return *this;
}

ColorLabel& ColorLabel::SetFlashText(int flag, UINT period) {
    HWND hwnd = GetHwnd();
    if (flashText_) {
        SetWindowTextInternally(text_);
        if (hwnd != nullptr) KillTimer(hwnd, kTextFlashTimer);
    }
    if (hwnd != nullptr) {
        if (flag) {
            SetTimer(hwnd, kTextFlashTimer, period, nullptr);
        } else {
            InvalidateRect(hwnd, nullptr, FALSE);
        }
    }
    flashText_ = flag;
    return *this;
}

ColorLabel& ColorLabel::SetFlashBackground(int flag, UINT period) {
    HWND hwnd = GetHwnd();
    if (flashBack_ && hwnd != nullptr) KillTimer(hwnd, kBackFlashTimer);
    if (hwnd != nullptr) {
        if (flag) {
            SetTimer(hwnd, kBackFlashTimer, period, nullptr);
        } else {
            InvalidateRect(hwnd, nullptr, FALSE);
        }
    }
    flashBack_ = flag;
    return *this;
}

ColorLabel& ColorLabel::SetStandardDrawing(int flag) {
    standardDrawing_ = flag;
    Redraw();
    return *this;
}

ColorLabel& ColorLabel::EnableTip(int flag) {
    tipEnabled_ = flag;
    if (flag) {
        tip_.Create(GetHwnd());
    } else {
        tip_.Destroy();
    }
    return *this;
}

ColorLabel& ColorLabel::SetTipText(const std::string& text) {
    tip_.SetText(text);
    return *this;
}

ColorLabel& ColorLabel::SetTipPosition(int mode) {
    tip_.SetPosition(mode);
    return *this;
}

ColorLabel& ColorLabel::SetTipNeedsButton(int flag) {
    tip_.SetNeedsButton(flag);
    return *this;
}

ColorLabel& ColorLabel::SetTipLeftButton(int flag) {
    tip_.SetLeftButton(flag);
    return *this;
}

bool ColorLabel::HasBorder() const {
    return GetHwnd() != nullptr && (GetWindowLongA(GetHwnd(), GWL_STYLE) & WS_BORDER) != 0;
}

int ColorLabel::GetHorizontalAlignmentBit() const {
    if (alignment_ & kLeft) return kLeft;
    if (alignment_ & kCenter) return kCenter;
    if (alignment_ & kRight) return kRight;
    return 0;
}

int ColorLabel::GetVerticalAlignmentBit() const {
    if (alignment_ & kTop) return kTop;
    if (alignment_ & kVCenter) return kVCenter;
    if (alignment_ & kBottom) return kBottom;
    return 0;
}

int ColorLabel::GetHorizontalAlignment() const {
    switch (GetHorizontalAlignmentBit()) {
        case kCenter:
            return 1;
        case kRight:
            return 2;
        default:
            return 0;
    }
}

int ColorLabel::GetVerticalAlignment() const {
    switch (GetVerticalAlignmentBit()) {
        case kVCenter:
            return 1;
        case kBottom:
            return 2;
        default:
            return 0;
    }
}

void ColorLabel::PreSubclassWindow() {
    StaticControl::PreSubclassWindow();
    HWND hwnd = GetHwnd();
    LONG style = GetWindowLongA(hwnd, GWL_STYLE);
    // A static control sends no mouse messages without it.
    SetWindowLongA(hwnd, GWL_STYLE, style | SS_NOTIFY);
    if (style & SS_CENTER) alignment_ = GetVerticalAlignmentBit() | kCenter;
    if (style & SS_RIGHT) alignment_ = GetVerticalAlignmentBit() | kRight;
    if (style & SS_CENTERIMAGE) alignment_ = GetHorizontalAlignmentBit() | kVCenter;
    internalTextChange_ = 1;
    text_ = Window::GetText();
    internalTextChange_ = 0;
}

}  // namespace telvio
