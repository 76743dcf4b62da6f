// Modal dialogs from a template: one small class per dialog derives from Dialog,
// binds its controls by id in DoDataExchange and answers commands in OnCommand.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

#include "framework/Window.h"

namespace telvio {

class Dialog : public Window {
  public:
    explicit Dialog(int templateId = 0) : templateId_(templateId) {}

    // Runs the dialog from the template resource of the program's module; returns what
    // EndDialog was given, or -1 when the dialog could not be created.
    INT_PTR DoModal(HWND parent = nullptr);
    // The same from a template in memory (DialogTemplate builds one).
    INT_PTR DoModalIndirect(const DLGTEMPLATE* dialogTemplate, HWND parent = nullptr);
    BOOL EndDialog(INT_PTR result);

    int GetTemplateId() const { return templateId_; }
    HWND GetItem(int id) const { return GetDlgItem(GetHwnd(), id); }

    // Whether the dialog may end now, asked before a handler's exception ends it. A dialog
    // whose work goes on elsewhere (on another thread) says no until that work is done,
    // and then calls EndIfExceptionPending.
    virtual bool MayEnd() const { return true; }
    // The object of a dialog this layer runs, or null for any other window.
    static Dialog* FromDialogHandle(HWND hwnd);

  protected:
    // Binds the dialog's controls (BindControl) while it initialises; runs before
    // OnInitDialog, so the controls are ours by then.
    virtual void DoDataExchange() {}
    // TRUE lets the system give the focus to the first control.
    virtual BOOL OnInitDialog() { return TRUE; }
    // WM_COMMAND. The default ends the dialog on IDOK and IDCANCEL with that id. Returns
    // whether the command was handled.
    virtual bool OnCommand(WORD id, WORD code, HWND control);
    // Sees every message first. Returns the message's answer (what a window procedure
    // would return) when it handled the message, nothing to leave it to the default
    // handling. The layer hands the answer back the way the message wants it.
    virtual std::optional<LRESULT> OnMessage(UINT msg, WPARAM wParam, LPARAM lParam);
    // WM_DESTROY.
    virtual void OnDestroy() {}

    // Takes over control `id` with `control` (its pre-subclass hook runs).
    bool BindControl(Window& control, int id);
    // Ends the dialog with -1 when a handler's exception is still waiting for it to end.
    void EndIfExceptionPending();

  private:
    static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
    INT_PTR HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam);
    // The dialog procedure's value for a handled message with this answer.
    INT_PTR Answer(UINT msg, LRESULT answer);

    int templateId_;
};

// Builds a dialog template in memory (DLGTEMPLATE with DS_SETFONT, then its items), for
// dialogs that need no resource script: tests, and anything built at run time.
class DialogTemplate {
  public:
    // Sizes and positions are dialog units, as in a resource script.
    DialogTemplate(DWORD style, short x, short y, short cx, short cy, const char* caption,
                   WORD pointSize = 8, const char* fontName = "MS Shell Dlg");
    DialogTemplate& AddControl(const char* className, const char* text, WORD id, DWORD style,
                               short x, short y, short cx, short cy, DWORD exStyle = 0);
    const DLGTEMPLATE* Get() const;

  private:
    void AddWord(WORD value) { words_.push_back(value); }
    void AddString(const char* text);
    void Align();

    std::vector<WORD> words_;
};

}  // namespace telvio
