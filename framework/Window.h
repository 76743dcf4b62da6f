// The window wrapper every dialog and custom control stands on: one C++ object per
// window, kept with the window in a property so the shared procedure finds it again.
#pragma once

#include <windows.h>

#include <exception>
#include <string>

namespace telvio {

// An exception cannot travel through the system's window code (on i686 the unwinder stops
// at the first frame without DWARF data, and the process aborts). The procedures of this
// layer catch it, keep the first one here, and end the dialog they run in; Dialog::DoModal
// throws it again once the modal loop has returned.
void KeepWindowException(std::exception_ptr exception);
std::exception_ptr TakeWindowException();
bool WindowExceptionPending();
// Ends the modal loop of the dialog that `hwnd` is, or belongs to, with -1: up through a
// control's parents, and from a popup to its owner. A dialog that may not end yet
// (Dialog::MayEnd) is left running with the exception pending, and ends itself once it
// may. Defined with Dialog, which knows the layer's own dialogs.
void EndDialogOf(HWND hwnd);

class Window {
  public:
    Window() = default;
    // A window still attached gets its own procedure back; it is not destroyed.
    virtual ~Window();
    Window(const Window&) = delete;
    Window& operator=(const Window&) = delete;

    HWND GetHwnd() const { return hwnd_; }

    // Takes over an existing window: the pre-subclass hook runs with GetHwnd() already
    // set, then the window procedure is replaced. Fails when this object or the window
    // is already taken.
    bool Subclass(HWND hwnd);
    // The control with `id` among the children of `parent` (a dialog's control binding).
    bool SubclassDlgItem(int id, HWND parent);
    // Creates a window of a class whose procedure is the default one and subclasses it
    // at once. Messages sent during creation reach only the class procedure.
    bool CreateEx(DWORD exStyle, const char* className, const char* title, DWORD style, int x,
                  int y, int width, int height, HWND parent, HMENU menu);
    // Hands the window its original procedure back; returns the window (null when none
    // was attached or another procedure was put on top of ours since).
    HWND Detach();
    virtual BOOL DestroyWindow();

    // The object kept with `hwnd`, or null.
    static Window* FromHandle(HWND hwnd);

    // A WM_CTLCOLOR* request the parent dialog passes on to the control it concerns.
    // `kind` is the request's CTLCOLOR_* index (CTLCOLOR_STATIC is 6). A null result
    // leaves the request to the dialog's default handling.
    virtual HBRUSH OnReflectedCtlColor(HDC dc, UINT kind);

    std::string GetText() const;
    BOOL SetText(const char* text);

  protected:
    virtual void PreSubclassWindow() {}
    // Every message of a subclassed window passes here; the default forwards it to the
    // window's original procedure.
    virtual LRESULT WindowProc(UINT msg, WPARAM wParam, LPARAM lParam);
    LRESULT DefaultProc(UINT msg, WPARAM wParam, LPARAM lParam);
    // Runs after WM_NCDESTROY has detached the object, before the original procedure
    // sees that message.
    virtual void OnFinalDetach() {}

    // Dialogs keep `this` with their window without subclassing it.
    bool AttachHandleOnly(HWND hwnd);
    void DetachHandleOnly();

  private:
    static LRESULT CALLBACK SubclassProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

    HWND hwnd_ = nullptr;
    WNDPROC originalProc_ = nullptr;
};

// The static-text control; custom labels derive from it.
class StaticControl : public Window {};

}  // namespace telvio
