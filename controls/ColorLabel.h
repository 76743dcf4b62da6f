// The static-text control of the dialogs that paints its own copy of the text with its
// own font, colours and alignment, plus optional effects (turned or stacked text, etched
// lines, embossed look, background bitmap, flashing, hover highlight, shell link, tip).
// Every effect is off until its setter switches it on.
#pragma once

#include <windows.h>
#include <shellapi.h>

#include <string>

#include "controls/ControlToolTip.h"
#include "framework/Window.h"

namespace telvio {

class ColorLabel : public StaticControl {
  public:
    // Alignment bits.
    static constexpr int kLeft = 0x01;
    static constexpr int kCenter = 0x02;
    static constexpr int kRight = 0x04;
    static constexpr int kTop = 0x08;
    static constexpr int kVCenter = 0x10;
    static constexpr int kBottom = 0x20;

    static constexpr UINT_PTR kTextFlashTimer = 1;
    static constexpr UINT_PTR kBackFlashTimer = 2;

    ColorLabel();
    ~ColorLabel() override;

    ColorLabel& SetText(const std::string& text);
    std::string GetText() const { return text_; }
    ColorLabel& SetTextColor(COLORREF color);
    ColorLabel& ResetTextColor();
    ColorLabel& SetBkColor(COLORREF color);
    ColorLabel& ResetBkColor();
    ColorLabel& SetTextBkColor(COLORREF color);
    ColorLabel& ResetTextBkColor();
    ColorLabel& SetHighlightColor(COLORREF color);
    ColorLabel& SetFontBold(int flag);
    ColorLabel& SetFontItalic(BYTE flag);
    ColorLabel& SetFontUnderline(BYTE flag);
    // Names longer than the record's 31 characters are cut.
    ColorLabel& SetFontName(const char* name);
    ColorLabel& SetFontHeight(int height);
    ColorLabel& SetAlignment(int bits);
    ColorLabel& SetAngle(int degrees);
    // A bitmap resource of the program's module, or -1 for none.
    ColorLabel& SetBitmap(int id);
    ColorLabel& SetBitmapStretch(int flag);
    ColorLabel& SetBorder(int flag);
    ColorLabel& SetSunken(int flag);
    ColorLabel& SetEmbossed(int flag);
    ColorLabel& SetCursorHandle(HCURSOR cursor);
    ColorLabel& SetCursorResource(int id);
    ColorLabel& SetLink(int flag);
    ColorLabel& SetLowerCase(int flag);
    ColorLabel& SetUpperCase(int flag);
    ColorLabel& SetVertical(int flag);
    ColorLabel& SetEtchedLines(int flag);
    ColorLabel& SetHoverHighlight(int flag);
    ColorLabel& SetHighlightNeedsTip(int flag);
    ColorLabel& SetFlashText(int flag, UINT period);
    ColorLabel& SetFlashBackground(int flag, UINT period);
    ColorLabel& SetStandardDrawing(int flag);
    ColorLabel& EnableTip(int flag);
    ColorLabel& SetTipText(const std::string& text);
    ColorLabel& SetTipPosition(int mode);
    ColorLabel& SetTipNeedsButton(int flag);
    ColorLabel& SetTipLeftButton(int flag);

    bool HasBorder() const;
    int GetHorizontalAlignmentBit() const;
    int GetVerticalAlignmentBit() const;
    int GetHorizontalAlignment() const;
    int GetVerticalAlignment() const;
    int GetAlignment() const { return alignment_; }
    // The record as set: a height from SetFontHeight stays in pixels at 96 DPI.
    const LOGFONTA& GetLogFont() const { return logFont_; }
    // The font the label paints with, at the screen's DPI.
    HFONT GetFont() const { return font_; }
    ControlToolTip& GetTip() { return tip_; }

    // Paints the whole control into `dc` (WM_PAINT and WM_PRINTCLIENT both come here).
    // Font heights set here, offsets and the background bitmap are scaled by the screen's
    // DPI / 96; at 96 DPI nothing changes.
    void Paint(HDC dc, const RECT& client);

    HBRUSH OnReflectedCtlColor(HDC dc, UINT kind) override;

    using ShellOpen = HINSTANCE(WINAPI*)(HWND, LPCSTR, LPCSTR, LPCSTR, LPCSTR, INT);
    // What a test may replace, all in one place (see controls/Seams.h); the defaults
    // are the program's.
    struct Seams {
        // How a link click reaches the shell.
        ShellOpen shellOpen = &::ShellExecuteA;
    };
    // Puts `seams` in place of the installed set, which it returns.
    static Seams InstallSeams(const Seams& seams);

  protected:
    void PreSubclassWindow() override;
    LRESULT WindowProc(UINT msg, WPARAM wParam, LPARAM lParam) override;

  private:
    void Redraw();
    void RebuildFont();
    void RebuildBrush();
    void SetWindowTextInternally(const std::string& text);
    void ChangeStyle(int index, LONG bits, bool add);
    std::string TextToPaint() const;
    void PaintBitmap(HDC dc, const RECT& client);
    void PaintTextDirect(HDC dc, const RECT& client, const std::string& text);
    void OnTimer(UINT_PTR id);
    void OnMouseHover();
    void OnMouseLeave();
    void OnMouseMove();
    LRESULT OnGetText(WPARAM size, LPARAM buffer);
    // The system's colours or high contrast changed: take them up again and repaint.
    void OnSystemLookChange();

    COLORREF backColor_;
    COLORREF textBackColor_;
    COLORREF textColor_;
    COLORREF highlightColor_;
    COLORREF savedTextColor_;
    HBRUSH backBrush_ = nullptr;
    int standardDrawing_ = 0;
    int backIsSystem_ = 1;
    int textBackIsDefault_ = 1;
    int textIsSystem_ = 1;
    int isLink_ = 0;
    int etchedLines_ = 0;
    int hoverHighlight_ = 0;
    int verticalText_ = 0;
    int trackingMouse_ = 0;
    int flashText_ = 0;
    int flashBack_ = 0;
    int textFlashOn_ = 0;
    int backFlashOn_ = 0;
    int tipEnabled_ = 0;
    int highlightNeedsTip_ = 0;
    int internalTextChange_ = 0;
    int lowerCase_ = 0;
    int upperCase_ = 0;
    int stretchBitmap_ = 0;
    // High contrast as last heard: text and background are then the system's pair alone.
    int highContrast_ = 0;
    LOGFONTA logFont_{};
    int fontHeightAt96_ = 0;  // lfHeight came from SetFontHeight: scaled when the font is made
    HFONT font_ = nullptr;
    HCURSOR cursor_ = nullptr;
    HBITMAP bitmap_ = nullptr;
    int alignment_ = kLeft | kTop;
    int angle_ = 0;
    std::string text_;
    ControlToolTip tip_;
};

}  // namespace telvio
