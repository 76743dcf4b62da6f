// A small popup beside one control (its owner) that shows a text, possibly of several
// lines, while the mouse is over the owner. It polls the mouse with a timer rather than
// relying on the owner's mouse messages.
#pragma once

#include <windows.h>

#include <string>

#include "framework/Window.h"

namespace telvio {

class ControlToolTip : public Window {
  public:
    static constexpr const char* kClassName = "ControlToolTip";

    // Registers the window class on the first construction in the process; throws
    // ResourceException when that fails.
    ControlToolTip();
    ~ControlToolTip() override;

    bool Create(HWND owner);
    bool Destroy();

    void SetText(const std::string& text);
    const std::string& GetText() const { return text_; }
    // 0: over the owner's top-left corner; 1: just below it; 2: just above it.
    void SetPosition(int mode);
    int GetPosition() const { return position_; }
    void SetColors(int flag, COLORREF color);
    void SetTextColor(COLORREF color);
    ControlToolTip& SetNeedsButton(int flag);
    ControlToolTip& SetLeftButton(int flag);
    void Show();

    HWND GetOwner() const { return owner_; }
    RECT GetTipRect() const { return tipRect_; }
    bool IsCursorOver() const;

    // Size of `text` in `dc`: the widest line and the line height times the line count.
    static SIZE MeasureText(HDC dc, const std::string& text);

    // What a test may replace, all in one place (see controls/Seams.h); the defaults
    // are the program's.
    struct Seams {
        // What the polling reads: a test plays the mouse with its own.
        BOOL(WINAPI* getCursorPos)(POINT*) = &::GetCursorPos;
        SHORT(WINAPI* getAsyncKeyState)(int) = &::GetAsyncKeyState;
        // How the window class gets registered.
        ATOM(WINAPI* registerClass)(const WNDCLASSA*) = &::RegisterClassA;
    };
    // Puts `seams` in place of the installed set, which it returns.
    static Seams InstallSeams(const Seams& seams);

  protected:
    LRESULT WindowProc(UINT msg, WPARAM wParam, LPARAM lParam) override;

  private:
    static void RegisterWindowClass();
    void OnTimer(UINT_PTR id);
    void Paint(HDC dc);
    bool IsShown() const;

    HWND owner_ = nullptr;
    std::string text_;
    RECT tipRect_{0, 0, 0, 0};
    int position_ = 0;
    COLORREF textColor_;
    COLORREF backColor_;
    int customColors_ = 0;
    int needsButton_ = 1;
    int leftButton_ = 1;
    // High contrast as last heard: the tip is then in the system's tip colours alone.
    int highContrast_ = 0;
};

}  // namespace telvio
