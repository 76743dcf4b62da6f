// Runs a piece of test code inside a live modal dialog built from an in-memory template:
// the body runs once the modal loop is going (so the dialog is shown and painting), then
// the dialog ends with the body's result.
#pragma once

#include <windows.h>

#include <functional>

#include "framework/Dialog.h"

namespace telvio::testing {

constexpr UINT kRunBody = WM_APP + 0x100;

class HarnessDialog : public Dialog {
  public:
    using Binder = std::function<void(HarnessDialog&)>;
    using Body = std::function<void(HWND)>;

    HarnessDialog(Binder bind, Body body) : bind_(std::move(bind)), body_(std::move(body)) {}

    // Hands the binding step to the test, which reaches BindControl through this.
    bool Bind(Window& control, int id) { return BindControl(control, id); }

  protected:
    void DoDataExchange() override {
        if (bind_) bind_(*this);
    }
    BOOL OnInitDialog() override {
        PostMessageA(GetHwnd(), kRunBody, 0, 0);
        return TRUE;
    }
    std::optional<LRESULT> OnMessage(UINT msg, WPARAM, LPARAM) override {
        if (msg != kRunBody) return std::nullopt;
        if (body_) body_(GetHwnd());
        EndDialog(IDOK);
        return TRUE;
    }

  private:
    Binder bind_;
    Body body_;
};

// Runs `body` in a shown dialog of the given template; `bind` runs during the dialog's
// control binding and receives the dialog (cast to HarnessDialog to bind).
inline INT_PTR RunInDialog(const DialogTemplate& dialogTemplate, HarnessDialog::Binder bind,
                           HarnessDialog::Body body) {
    HarnessDialog dialog(std::move(bind), std::move(body));
    return dialog.DoModalIndirect(dialogTemplate.Get());
}

// Pumps pending messages (timers included) for about `milliseconds`.
inline void PumpFor(DWORD milliseconds) {
    DWORD start = GetTickCount();
    MSG msg;
    while (GetTickCount() - start < milliseconds) {
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        Sleep(5);
    }
}

}  // namespace telvio::testing
