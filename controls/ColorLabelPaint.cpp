// The label's message handling and painting.
#include "controls/ColorLabel.h"

#include <commctrl.h>
#include <shellapi.h>

#include <algorithm>

#include "controls/Dpi.h"
#include "controls/GdiTally.h"
#include "controls/LabelAccessible.h"
#include "controls/LabelTextRenderer.h"
#include "controls/TextLines.h"

namespace telvio {

namespace {

constexpr DWORD kHoverMilliseconds = 50;

ColorLabel::Seams seams;

}  // namespace

ColorLabel::Seams ColorLabel::InstallSeams(const Seams& replacement) {
    const Seams previous = seams;
    seams = replacement;
    return previous;
}

std::string ColorLabel::TextToPaint() const {
    std::string text = verticalText_ ? StackLetters(text_) : text_;
    if (text.empty()) return text;
    // CharLower/CharUpper know the code page's letters, not just ASCII.
    if (lowerCase_) CharLowerBuffA(&text[0], static_cast<DWORD>(text.size()));
    if (upperCase_) CharUpperBuffA(&text[0], static_cast<DWORD>(text.size()));
    return text;
}

void ColorLabel::PaintBitmap(HDC dc, const RECT& client) {
    BITMAP info;
    if (GetObjectA(bitmap_, sizeof(info), &info) == 0) return;
    HDC memoryDC = gdi::NewMemoryDC(dc);
    if (memoryDC == nullptr) return;
    HGDIOBJ old = SelectObject(memoryDC, bitmap_);
    const int cw = client.right - client.left;
    const int ch = client.bottom - client.top;
    if (stretchBitmap_) {
        StretchBlt(dc, 0, 0, cw, ch, memoryDC, 0, 0, info.bmWidth, info.bmHeight, SRCCOPY);
    } else {
        // The picture is drawn for 96 DPI: it takes DPI / 96 times its pixels on screen.
        const int shownWidth = ScaleForDpi(info.bmWidth);
        const int shownHeight = ScaleForDpi(info.bmHeight);
        int x = (cw - shownWidth) / 2;
        int y = (ch - shownHeight) / 2;
        int width = cw;
        int height = ch;
        if (x < 0) {
            x = -x / 2;
            width = cw - x;
        }
        if (y < 0) {
            y = -y / 2;
            height = ch - y;
        }
        if (shownWidth == info.bmWidth && shownHeight == info.bmHeight) {
            BitBlt(dc, x, y, width, height, memoryDC, 0, 0, SRCCOPY);
        } else if (shownWidth > 0 && shownHeight > 0) {
            const int oldMode = SetStretchBltMode(dc, COLORONCOLOR);
            StretchBlt(dc, x, y, width, height, memoryDC, 0, 0, width * info.bmWidth / shownWidth,
                       height * info.bmHeight / shownHeight, SRCCOPY);
            SetStretchBltMode(dc, oldMode);
        }
    }
    SelectObject(memoryDC, old);
    gdi::DeleteMemoryDC(memoryDC);
}

void ColorLabel::PaintTextDirect(HDC dc, const RECT& client, const std::string& text) {
    ::SetTextColor(dc, textIsSystem_ ? GetSysColor(COLOR_WINDOWTEXT) : textColor_);
    UINT format = DT_LEFT | DT_TOP;
    if (alignment_ & kCenter) format |= DT_CENTER;
    if (alignment_ & kRight) format |= DT_RIGHT;
    RECT r = client;
    if (alignment_ & kVCenter) {
        format |= DT_VCENTER | DT_SINGLELINE;
    } else if (alignment_ & kBottom) {
        SIZE extent{0, 0};
        GetTextExtentPoint32A(dc, text.c_str(), static_cast<int>(text.size()), &extent);
        r.top += (r.bottom - r.top) - extent.cy;
    }
    DrawTextA(dc, text.c_str(), static_cast<int>(text.size()), &r, format);
}

void ColorLabel::Paint(HDC dc, const RECT& client) {
    const std::string text = TextToPaint();
    int h = 0;
    if (alignment_ & kCenter) h = 1;
    if (alignment_ & kRight) h = 2;
    int v = 0;
    if (alignment_ & kVCenter) v = 1;
    if (alignment_ & kBottom) v = 2;

    HGDIOBJ oldFont = SelectObject(dc, font_);
    const int oldMode = SetBkMode(dc, TRANSPARENT);
    const COLORREF oldTextColor = GetTextColor(dc);

    const COLORREF face = GetSysColor(COLOR_BTNFACE);
    const bool disabled =
        GetHwnd() != nullptr && (GetWindowLongA(GetHwnd(), GWL_STYLE) & WS_DISABLED) != 0;
    COLORREF blockBack = !textBackIsDefault_ ? textBackColor_ : (backIsSystem_ ? face : backColor_);
    COLORREF brushColor = backIsSystem_ ? face : backColor_;
    if (flashBack_ && backFlashOn_) {
        const COLORREF flash = backIsSystem_ ? (backColor_ >> 1) : face;
        brushColor = flash;
        blockBack = flash;
    }
    // High contrast: the user's text colour on the user's background and nothing else,
    // no picture, no lines, no relief; the words say what the colours said.
    const bool contrast = highContrast_ != 0;
    if (contrast) {
        brushColor = face;
        blockBack = face;
    }
    LabelTextRenderer renderer(dc, text, h, v);
    renderer.SetTextColor(contrast ? GetSysColor(COLOR_WINDOWTEXT) : textColor_)
        .SetEmbossed(disabled && !contrast ? 1 : 0)
        .SetEtchedLines(contrast ? 0 : etchedLines_)
        .SetBackColor(blockBack);

    HBRUSH brush = gdi::NewSolidBrush(brushColor);
    if (brush != nullptr) {
        FillRect(dc, &client, brush);
        gdi::DeleteObject(brush);
    }
    const bool picture = bitmap_ != nullptr && !contrast;
    if (picture) PaintBitmap(dc, client);

    const bool multiLine = text.find('\n') != std::string::npos;
    if (!picture || angle_ != 0 || (multiLine && GetVerticalAlignmentBit() != kTop)) {
        if (renderer.Build(angle_)) renderer.Draw(client);
    } else {
        PaintTextDirect(dc, client, text);
    }

    ::SetTextColor(dc, oldTextColor);
    SetBkMode(dc, oldMode);
    SelectObject(dc, oldFont);
}

HBRUSH ColorLabel::OnReflectedCtlColor(HDC dc, UINT kind) {
    if (!standardDrawing_) return nullptr;
    if (kind == CTLCOLOR_STATIC) {
        SelectObject(dc, font_);
        ::SetTextColor(dc,
                       textIsSystem_ || highContrast_ ? GetSysColor(COLOR_WINDOWTEXT) : textColor_);
        SetBkMode(dc, TRANSPARENT);
    }
    return backBrush_;
}

void ColorLabel::OnTimer(UINT_PTR id) {
    HWND hwnd = GetHwnd();
    if (id == kTextFlashTimer && flashText_) {
        textFlashOn_ = !textFlashOn_;
        if (textFlashOn_) {
            SetWindowTextInternally(std::string());
        } else {
            SetWindowTextInternally(text_);
            InvalidateRect(hwnd, nullptr, FALSE);
        }
        if (!backIsSystem_ && backColor_ != GetSysColor(COLOR_BTNFACE)) {
            InvalidateRect(hwnd, nullptr, FALSE);
        }
    } else if (id == kBackFlashTimer && flashBack_) {
        backFlashOn_ = !backFlashOn_;
        InvalidateRect(hwnd, nullptr, TRUE);
    }
}

void ColorLabel::OnMouseMove() {
    if (trackingMouse_) return;
    trackingMouse_ = 1;
    TRACKMOUSEEVENT track{sizeof(track), TME_HOVER | TME_LEAVE, GetHwnd(), kHoverMilliseconds};
    _TrackMouseEvent(&track);
}

void ColorLabel::OnMouseHover() {
    if (!hoverHighlight_) return;
    savedTextColor_ = textColor_;
    if (!highlightNeedsTip_ || (tipEnabled_ && !tip_.GetText().empty())) {
        SetTextColor(highlightColor_);
    }
}

void ColorLabel::OnMouseLeave() {
    TRACKMOUSEEVENT track{sizeof(track), TME_HOVER, GetHwnd(), kHoverMilliseconds};
    _TrackMouseEvent(&track);
    trackingMouse_ = 0;
    if (hoverHighlight_) SetTextColor(savedTextColor_);
}

LRESULT ColorLabel::OnGetText(WPARAM size, LPARAM buffer) {
    char* out = reinterpret_cast<char*>(buffer);
    // A zero-sized buffer has no room even for the terminator.
    if (out == nullptr || size == 0) return 0;
    const size_t count = std::min(text_.size(), static_cast<size_t>(size) - 1);
    text_.copy(out, count);
    out[count] = '\0';
    return static_cast<LRESULT>(count);
}

LRESULT ColorLabel::WindowProc(UINT msg, WPARAM wParam, LPARAM lParam) {
    HWND hwnd = GetHwnd();
    switch (msg) {
        case WM_ENABLE: {
            // The base would repaint in the standard way first; keep that off screen.
            SendMessageA(hwnd, WM_SETREDRAW, FALSE, 0);
            LRESULT result = DefaultProc(msg, wParam, lParam);
            SendMessageA(hwnd, WM_SETREDRAW, TRUE, 0);
            InvalidateRect(hwnd, nullptr, TRUE);
            return result;
        }
        case WM_LBUTTONDOWN:
            if (isLink_) {
                seams.shellOpen(nullptr, "open", text_.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
            }
            return DefaultProc(msg, wParam, lParam);
        case WM_MOUSEMOVE:
            OnMouseMove();
            return DefaultProc(msg, wParam, lParam);
        case WM_PAINT: {
            if (standardDrawing_) return DefaultProc(msg, wParam, lParam);
            PAINTSTRUCT ps;
            HDC dc = BeginPaint(hwnd, &ps);
            if (dc != nullptr) {
                RECT client;
                GetClientRect(hwnd, &client);
                Paint(dc, client);
            }
            EndPaint(hwnd, &ps);
            return 0;
        }
        case WM_PRINTCLIENT: {
            if (standardDrawing_) return DefaultProc(msg, wParam, lParam);
            RECT client;
            GetClientRect(hwnd, &client);
            Paint(reinterpret_cast<HDC>(wParam), client);
            return 0;
        }
        case WM_SETCURSOR:
            if (cursor_ != nullptr) {
                ::SetCursor(cursor_);
                return TRUE;
            }
            return DefaultProc(msg, wParam, lParam);
        case WM_TIMER:
            OnTimer(wParam);
            return DefaultProc(msg, wParam, lParam);
        case WM_MOUSEHOVER:
            OnMouseHover();
            return DefaultProc(msg, wParam, lParam);
        case WM_MOUSELEAVE:
            OnMouseLeave();
            return DefaultProc(msg, wParam, lParam);
        case WM_SETTEXT: {
            if (internalTextChange_) return DefaultProc(msg, wParam, lParam);
            const char* text = reinterpret_cast<const char*>(lParam);
            const std::string previous = text_;
            text_ = text != nullptr ? text : "";
            const LRESULT result = DefaultProc(msg, wParam, lParam);
            if (text_ != previous) AnnounceNameChange(hwnd);
            return result;
        }
        case WM_GETOBJECT: {
            LRESULT answer = 0;
            if (AnswerLabelObject(hwnd, wParam, lParam, &answer)) return answer;
            return DefaultProc(msg, wParam, lParam);
        }
        case WM_SYSCOLORCHANGE:
        case WM_SETTINGCHANGE:
            OnSystemLookChange();
            return DefaultProc(msg, wParam, lParam);
        case WM_GETTEXT:
            if (!internalTextChange_) return OnGetText(wParam, lParam);
            return DefaultProc(msg, wParam, lParam);
        case WM_GETTEXTLENGTH:
            // Agrees with WM_GETTEXT, also while the window text is emptied or stacked.
            if (!internalTextChange_) return static_cast<LRESULT>(text_.size());
            return DefaultProc(msg, wParam, lParam);
        default:
            return DefaultProc(msg, wParam, lParam);
    }
}

}  // namespace telvio
