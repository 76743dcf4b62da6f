// The window wrapper and the modal dialog base, exercised on real windows.
#include <windows.h>

#include <gtest/gtest.h>

#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "framework/Dialog.h"
#include "framework/Window.h"
#include "tests/win/framework/DialogHarness.h"

using namespace telvio;
using telvio::testing::HarnessDialog;
using telvio::testing::RunInDialog;

namespace {

constexpr WORD kStaticId = 1016;
constexpr WORD kButtonId = 1015;

DialogTemplate TwoControlTemplate() {
    DialogTemplate t(WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME, 10, 10, 200, 100,
                     "framework");
    t.AddControl("STATIC", "hello", kStaticId, WS_CHILD | WS_VISIBLE | SS_LEFT, 5, 5, 100, 12);
    t.AddControl("BUTTON", "Go", kButtonId, WS_CHILD | WS_VISIBLE | BS_PUSHBUTTON, 5, 30, 50, 14);
    return t;
}

// Records what reaches it and answers one private message itself.
class Recorder : public StaticControl {
  public:
    static constexpr UINT kPing = WM_APP + 7;
    std::vector<UINT> seen;
    bool hookRan = false;
    bool hookSawHandle = false;
    bool hookSawOriginalProc = false;
    bool finalDetachRan = false;
    HBRUSH brush = nullptr;
    UINT lastKind = 0xFFFF;

    HBRUSH OnReflectedCtlColor(HDC, UINT kind) override {
        lastKind = kind;
        return brush;
    }

  protected:
    void PreSubclassWindow() override {
        hookRan = true;
        hookSawHandle = GetHwnd() != nullptr;
        // The hook runs before our procedure goes in.
        hookSawOriginalProc = GetWindowLongPtrA(GetHwnd(), GWLP_WNDPROC) != 0 &&
                              Window::FromHandle(GetHwnd()) == this;
    }
    LRESULT WindowProc(UINT msg, WPARAM wParam, LPARAM lParam) override {
        seen.push_back(msg);
        if (msg == kPing) return 4321;
        return DefaultProc(msg, wParam, lParam);
    }
    void OnFinalDetach() override { finalDetachRan = true; }
};

TEST(Window, SubclassDlgItemRunsHookAndRoutesMessages) {
    Recorder label;
    bool bound = false;
    LONG_PTR procBefore = 0, procAfter = 0;
    LRESULT ping = 0;
    std::string text;
    INT_PTR rc = RunInDialog(
        TwoControlTemplate(),
        [&](HarnessDialog& d) {
            procBefore = GetWindowLongPtrA(d.GetItem(kStaticId), GWLP_WNDPROC);
            bound = d.Bind(label, kStaticId);
            procAfter = GetWindowLongPtrA(d.GetItem(kStaticId), GWLP_WNDPROC);
        },
        [&](HWND dlg) {
            ping = SendMessageA(GetDlgItem(dlg, kStaticId), Recorder::kPing, 0, 0);
            text = label.GetText();
            EXPECT_EQ(&label, Window::FromHandle(GetDlgItem(dlg, kStaticId)));
        });
    EXPECT_EQ(IDOK, rc);
    EXPECT_TRUE(bound);
    EXPECT_TRUE(label.hookRan);
    EXPECT_TRUE(label.hookSawHandle);
    EXPECT_TRUE(label.hookSawOriginalProc);
    EXPECT_NE(procBefore, procAfter);
    EXPECT_EQ(4321, ping);
    // Unhandled messages still reach the static control's own procedure.
    EXPECT_EQ("hello", text);
    // The dialog is gone: the object let go of its window on WM_NCDESTROY.
    EXPECT_TRUE(label.finalDetachRan);
    EXPECT_EQ(nullptr, label.GetHwnd());
}

TEST(Window, RefusesSecondOwnerAndMissingItem) {
    Recorder first, second, missing;
    bool firstBound = false, secondBound = true, missingBound = true;
    RunInDialog(
        TwoControlTemplate(),
        [&](HarnessDialog& d) {
            firstBound = d.Bind(first, kStaticId);
            secondBound = d.Bind(second, kStaticId);
            missingBound = d.Bind(missing, 4242);
        },
        [&](HWND) {});
    EXPECT_TRUE(firstBound);
    EXPECT_FALSE(secondBound);
    EXPECT_FALSE(missingBound);
    EXPECT_FALSE(second.hookRan);
    EXPECT_FALSE(missing.hookRan);
}

TEST(Window, DetachRestoresOriginalProcedure) {
    HWND parent = CreateWindowExA(0, "STATIC", "p", WS_POPUP, 0, 0, 100, 100, nullptr, nullptr,
                                  GetModuleHandleA(nullptr), nullptr);
    ASSERT_NE(nullptr, parent);
    HWND child = CreateWindowExA(0, "STATIC", "c", WS_CHILD, 0, 0, 50, 20, parent,
                                 reinterpret_cast<HMENU>(7), GetModuleHandleA(nullptr), nullptr);
    ASSERT_NE(nullptr, child);
    LONG_PTR original = GetWindowLongPtrA(child, GWLP_WNDPROC);
    {
        Recorder r;
        ASSERT_TRUE(r.SubclassDlgItem(7, parent));
        EXPECT_NE(original, GetWindowLongPtrA(child, GWLP_WNDPROC));
        EXPECT_EQ(child, r.Detach());
        EXPECT_EQ(original, GetWindowLongPtrA(child, GWLP_WNDPROC));
        EXPECT_EQ(nullptr, Window::FromHandle(child));
        EXPECT_EQ(nullptr, r.Detach());
        // A detached object can take a window again.
        EXPECT_TRUE(r.Subclass(child));
    }
    // The destructor gave the window back.
    EXPECT_EQ(original, GetWindowLongPtrA(child, GWLP_WNDPROC));
    EXPECT_EQ(nullptr, Window::FromHandle(child));
    DestroyWindow(parent);
}

TEST(Window, CreateExSubclassesNewWindow) {
    Recorder r;
    ASSERT_TRUE(r.CreateEx(0, "STATIC", "made", WS_POPUP, 0, 0, 30, 30, nullptr, nullptr));
    EXPECT_EQ(4321, SendMessageA(r.GetHwnd(), Recorder::kPing, 0, 0));
    EXPECT_FALSE(r.CreateEx(0, "STATIC", "again", WS_POPUP, 0, 0, 30, 30, nullptr, nullptr));
    EXPECT_TRUE(r.DestroyWindow());
    EXPECT_EQ(nullptr, r.GetHwnd());
    EXPECT_TRUE(r.finalDetachRan);
    EXPECT_FALSE(r.CreateEx(0, "NoSuchClassAnywhere", "x", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr));
    EXPECT_EQ(nullptr, r.GetHwnd());
}

// A dialog that records the order of its steps and ends itself from a command.
class StepDialog : public Dialog {
  public:
    std::vector<std::string> steps;
    Recorder label;

  protected:
    void DoDataExchange() override {
        steps.push_back("exchange");
        BindControl(label, kStaticId);
    }
    BOOL OnInitDialog() override {
        steps.push_back(label.GetHwnd() != nullptr ? "init-bound" : "init-unbound");
        PostMessageA(GetHwnd(), WM_COMMAND, MAKEWPARAM(kButtonId, BN_CLICKED),
                     reinterpret_cast<LPARAM>(GetItem(kButtonId)));
        return TRUE;
    }
    bool OnCommand(WORD id, WORD code, HWND control) override {
        if (id == kButtonId && code == BN_CLICKED && control == GetItem(kButtonId)) {
            steps.push_back("command");
            EndDialog(77);
            return true;
        }
        return Dialog::OnCommand(id, code, control);
    }
    void OnDestroy() override { steps.push_back("destroy"); }
};

TEST(Dialog, StepsRunInOrderAndEndDialogResultReturns) {
    StepDialog dialog;
    DialogTemplate t = TwoControlTemplate();
    EXPECT_EQ(77, dialog.DoModalIndirect(t.Get()));
    std::vector<std::string> expected = {"exchange", "init-bound", "command", "destroy"};
    EXPECT_EQ(expected, dialog.steps);
    EXPECT_EQ(nullptr, dialog.GetHwnd());
    // The object can run again once the first run is over.
    dialog.steps.clear();
    EXPECT_EQ(77, dialog.DoModalIndirect(t.Get()));
}

TEST(Dialog, CancelEndsWithItsId) {
    class Cancelled : public Dialog {
        BOOL OnInitDialog() override {
            PostMessageA(GetHwnd(), WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
            return TRUE;
        }
    } dialog;
    EXPECT_EQ(IDCANCEL, dialog.DoModalIndirect(TwoControlTemplate().Get()));
}

// An exception cannot cross the system's window code: thrown in a dialog's handler, in a
// bound control's procedure or in a popup the dialog owns (as the tip window is), it ends
// the dialog (which is destroyed as usual) and comes out of DoModal.
TEST(Dialog, ExceptionInAHandlerEndsTheDialogAndLeavesDoModal) {
    constexpr UINT kThrow = WM_APP + 9;
    class ThrowingLabel : public StaticControl {
      protected:
        LRESULT WindowProc(UINT msg, WPARAM wParam, LPARAM lParam) override {
            if (msg == kThrow) throw std::runtime_error("label");
            return DefaultProc(msg, wParam, lParam);
        }
    };
    enum Source { kInit, kLabel, kPopup };
    class Throwing : public Dialog {
      public:
        Source source = kInit;
        bool destroyed = false;
        bool timedOut = false;
        ThrowingLabel label, popup;

      protected:
        void DoDataExchange() override { BindControl(label, kStaticId); }
        BOOL OnInitDialog() override {
            if (source == kInit) throw std::bad_alloc();
            if (source == kPopup) {
                popup.CreateEx(0, "STATIC", "tip", WS_POPUP, 0, 0, 20, 20, GetHwnd(), nullptr);
            }
            PostMessageA((source == kLabel ? label : popup).GetHwnd(), kThrow, 0, 0);
            SetTimer(GetHwnd(), 1, 3000, nullptr);  // so that a dialog left running fails
            return TRUE;
        }
        std::optional<LRESULT> OnMessage(UINT msg, WPARAM, LPARAM) override {
            if (msg != WM_TIMER) return std::nullopt;
            timedOut = true;
            EndDialog(IDOK);
            return 0;
        }
        void OnDestroy() override { destroyed = true; }
    };
    for (Source source : {kInit, kLabel, kPopup}) {
        Throwing dialog;
        dialog.source = source;
        if (source == kInit) {
            EXPECT_THROW(dialog.DoModalIndirect(TwoControlTemplate().Get()), std::bad_alloc);
        } else {
            EXPECT_THROW(dialog.DoModalIndirect(TwoControlTemplate().Get()), std::runtime_error);
        }
        EXPECT_FALSE(dialog.timedOut) << source;
        EXPECT_TRUE(dialog.destroyed) << source;
        EXPECT_EQ(nullptr, dialog.GetHwnd()) << source;
        EXPECT_FALSE(TakeWindowException()) << "handed on once";
    }
}

TEST(Dialog, MissingTemplateResourceFails) {
    Dialog dialog(31999);
    EXPECT_EQ(-1, dialog.DoModal());
    EXPECT_EQ(nullptr, dialog.GetHwnd());
}

TEST(Dialog, CtlColorIsReflectedToBoundControl) {
    struct Case {
        UINT msg;
        UINT kind;
    };
    const Case cases[] = {{WM_CTLCOLORSTATIC, CTLCOLOR_STATIC},
                          {WM_CTLCOLORBTN, CTLCOLOR_BTN},
                          {WM_CTLCOLOREDIT, CTLCOLOR_EDIT}};
    HBRUSH mine = CreateSolidBrush(RGB(1, 2, 3));
    Recorder label;
    label.brush = mine;
    RunInDialog(
        TwoControlTemplate(), [&](HarnessDialog& d) { ASSERT_TRUE(d.Bind(label, kStaticId)); },
        [&](HWND dlg) {
            HDC dc = GetDC(dlg);
            for (const Case& c : cases) {
                label.lastKind = 0xFFFF;
                INT_PTR got = SendMessageA(dlg, c.msg, reinterpret_cast<WPARAM>(dc),
                                           reinterpret_cast<LPARAM>(GetDlgItem(dlg, kStaticId)));
                EXPECT_EQ(reinterpret_cast<INT_PTR>(mine), got) << "message " << c.msg;
                EXPECT_EQ(c.kind, label.lastKind) << "message " << c.msg;
            }
            // A control nobody bound is left to the default: no brush from us.
            label.lastKind = 0xFFFF;
            SetLastError(0xdeadbeef);
            INT_PTR other = SendMessageA(dlg, WM_CTLCOLORBTN, reinterpret_cast<WPARAM>(dc),
                                         reinterpret_cast<LPARAM>(GetDlgItem(dlg, kButtonId)));
            EXPECT_NE(reinterpret_cast<INT_PTR>(mine), other);
            EXPECT_EQ(0xFFFFu, label.lastKind);
            // The control declining gives the default too.
            label.brush = nullptr;
            INT_PTR declined = SendMessageA(dlg, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc),
                                            reinterpret_cast<LPARAM>(GetDlgItem(dlg, kStaticId)));
            EXPECT_EQ(CTLCOLOR_STATIC, label.lastKind);
            EXPECT_NE(reinterpret_cast<INT_PTR>(mine), declined);
            ReleaseDC(dlg, dc);
        });
    DeleteObject(mine);
}

TEST(DialogTemplate, ItemsComeOutAsWritten) {
    DialogTemplate t(WS_POPUP | WS_CAPTION, 0, 0, 120, 60, "Caption text");
    t.AddControl("STATIC", "odd", 11, WS_CHILD | SS_RIGHT, 1, 2, 30, 8)
        .AddControl("EDIT", "even text", 12, WS_CHILD | ES_AUTOHSCROLL, 1, 20, 40, 12,
                    WS_EX_CLIENTEDGE);
    EXPECT_EQ(2, t.Get()->cdit);
    std::string caption, item11, item12;
    LONG style11 = 0, exStyle12 = 0;
    RunInDialog(t, nullptr, [&](HWND dlg) {
        char buf[64];
        GetWindowTextA(dlg, buf, sizeof buf);
        caption = buf;
        GetDlgItemTextA(dlg, 11, buf, sizeof buf);
        item11 = buf;
        GetDlgItemTextA(dlg, 12, buf, sizeof buf);
        item12 = buf;
        style11 = GetWindowLongA(GetDlgItem(dlg, 11), GWL_STYLE);
        exStyle12 = GetWindowLongA(GetDlgItem(dlg, 12), GWL_EXSTYLE);
    });
    EXPECT_EQ("Caption text", caption);
    EXPECT_EQ("odd", item11);
    EXPECT_EQ("even text", item12);
    EXPECT_EQ(SS_RIGHT, style11 & SS_TYPEMASK);
    EXPECT_TRUE(exStyle12 & WS_EX_CLIENTEDGE);
}

}  // namespace
