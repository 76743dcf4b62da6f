#include "framework/Dialog.h"

namespace telvio {

namespace {

// What a handler threw while the loop ran goes on from here, outside the system's code.
INT_PTR AfterModalLoop(INT_PTR result) {
    if (std::exception_ptr thrown = TakeWindowException()) std::rethrow_exception(thrown);
    return result;
}

}  // namespace

void EndDialogOf(HWND hwnd) {
    // A control's parents lead to its dialog; a popup (the tip window) has no parent, and
    // belongs to the window that owns it.
    Dialog* dialog = nullptr;
    while (hwnd != nullptr && (dialog = Dialog::FromDialogHandle(hwnd)) == nullptr) {
        hwnd = (GetWindowLongPtrA(hwnd, GWL_STYLE) & WS_CHILD) != 0 ? GetParent(hwnd)
                                                                    : GetWindow(hwnd, GW_OWNER);
    }
    if (dialog != nullptr && dialog->MayEnd()) dialog->EndDialog(-1);
}

Dialog* Dialog::FromDialogHandle(HWND hwnd) {
    // Of the layer's windows, only a dialog runs our dialog procedure.
    Window* object = FromHandle(hwnd);
    if (object == nullptr ||
        GetWindowLongPtrA(hwnd, DWLP_DLGPROC) != reinterpret_cast<LONG_PTR>(&DialogProc)) {
        return nullptr;
    }
    return static_cast<Dialog*>(object);
}

void Dialog::EndIfExceptionPending() {
    if (WindowExceptionPending() && MayEnd()) EndDialog(-1);
}

INT_PTR Dialog::DoModal(HWND parent) {
    if (GetHwnd() != nullptr) return -1;
    return AfterModalLoop(DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(templateId_),
                                          parent, &DialogProc, reinterpret_cast<LPARAM>(this)));
}

INT_PTR Dialog::DoModalIndirect(const DLGTEMPLATE* dialogTemplate, HWND parent) {
    if (GetHwnd() != nullptr || dialogTemplate == nullptr) return -1;
    return AfterModalLoop(DialogBoxIndirectParamA(GetModuleHandleA(nullptr), dialogTemplate,
                                                  parent, &DialogProc,
                                                  reinterpret_cast<LPARAM>(this)));
}

BOOL Dialog::EndDialog(INT_PTR result) {
    if (GetHwnd() == nullptr) return FALSE;
    return ::EndDialog(GetHwnd(), result);
}

bool Dialog::OnCommand(WORD id, WORD, HWND) {
    if (id == IDOK || id == IDCANCEL) {
        EndDialog(id);
        return true;
    }
    return false;
}

std::optional<LRESULT> Dialog::OnMessage(UINT, WPARAM, LPARAM) {
    return std::nullopt;
}

bool Dialog::BindControl(Window& control, int id) {
    return control.SubclassDlgItem(id, GetHwnd());
}

INT_PTR Dialog::Answer(UINT msg, LRESULT answer) {
    // The WM_CTLCOLOR* messages (WM_CTLCOLORMSGBOX to WM_CTLCOLORSTATIC) and a few more
    // answer with the dialog procedure's own value.
    if (msg >= WM_CTLCOLORMSGBOX && msg <= WM_CTLCOLORSTATIC) return answer;
    switch (msg) {
        case WM_CHARTOITEM:
        case WM_COMPAREITEM:
        case WM_INITDIALOG:
        case WM_QUERYDRAGICON:
        case WM_VKEYTOITEM:
            return answer;
        default:
            // Every other answer goes through DWLP_MSGRESULT, and TRUE says "handled".
            SetWindowLongPtrA(GetHwnd(), DWLP_MSGRESULT, answer);
            return TRUE;
    }
}

INT_PTR CALLBACK Dialog::DialogProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    Dialog* self = nullptr;
    if (msg == WM_INITDIALOG) {
        self = reinterpret_cast<Dialog*>(lParam);
        if (self == nullptr || !self->AttachHandleOnly(hwnd)) return FALSE;
    } else {
        self = static_cast<Dialog*>(FromHandle(hwnd));
        // Messages before WM_INITDIALOG (WM_SETFONT and the like) have no object yet.
        if (self == nullptr) return FALSE;
    }
    INT_PTR result = FALSE;
    try {
        result = self->HandleMessage(msg, wParam, lParam);
    } catch (...) {
        KeepWindowException(std::current_exception());
        EndDialogOf(hwnd);
    }
    if (msg == WM_NCDESTROY) self->DetachHandleOnly();
    return result;
}

INT_PTR Dialog::HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam) {
    if (const std::optional<LRESULT> answer = OnMessage(msg, wParam, lParam)) {
        return Answer(msg, *answer);
    }
    switch (msg) {
        case WM_INITDIALOG:
            DoDataExchange();
            return OnInitDialog();
        case WM_COMMAND:
            return OnCommand(LOWORD(wParam), HIWORD(wParam), reinterpret_cast<HWND>(lParam))
                       ? TRUE
                       : FALSE;
        case WM_CTLCOLORMSGBOX:
        case WM_CTLCOLOREDIT:
        case WM_CTLCOLORLISTBOX:
        case WM_CTLCOLORBTN:
        case WM_CTLCOLORDLG:
        case WM_CTLCOLORSCROLLBAR:
        case WM_CTLCOLORSTATIC: {
            // Custom controls choose their own colours; a null brush means "not mine".
            Window* control = FromHandle(reinterpret_cast<HWND>(lParam));
            if (control == nullptr || control == this) return FALSE;
            HBRUSH brush = control->OnReflectedCtlColor(reinterpret_cast<HDC>(wParam),
                                                        msg - WM_CTLCOLORMSGBOX);
            return reinterpret_cast<INT_PTR>(brush);
        }
        case WM_DESTROY:
            OnDestroy();
            return FALSE;
        default:
            return FALSE;
    }
}

DialogTemplate::DialogTemplate(DWORD style, short x, short y, short cx, short cy,
                               const char* caption, WORD pointSize, const char* fontName) {
    style |= DS_SETFONT;
    AddWord(LOWORD(style));
    AddWord(HIWORD(style));
    AddWord(0);  // extended style
    AddWord(0);
    AddWord(0);  // item count, raised by AddControl
    AddWord(static_cast<WORD>(x));
    AddWord(static_cast<WORD>(y));
    AddWord(static_cast<WORD>(cx));
    AddWord(static_cast<WORD>(cy));
    AddWord(0);  // no menu
    AddWord(0);  // the standard dialog class
    AddString(caption);
    AddWord(pointSize);
    AddString(fontName);
}

DialogTemplate& DialogTemplate::AddControl(const char* className, const char* text, WORD id,
                                           DWORD style, short x, short y, short cx, short cy,
                                           DWORD exStyle) {
    Align();  // each item starts on a DWORD boundary
    AddWord(LOWORD(style));
    AddWord(HIWORD(style));
    AddWord(LOWORD(exStyle));
    AddWord(HIWORD(exStyle));
    AddWord(static_cast<WORD>(x));
    AddWord(static_cast<WORD>(y));
    AddWord(static_cast<WORD>(cx));
    AddWord(static_cast<WORD>(cy));
    AddWord(id);
    AddString(className);
    AddString(text);
    AddWord(0);  // no creation data
    words_[4] = static_cast<WORD>(words_[4] + 1);
    return *this;
}

const DLGTEMPLATE* DialogTemplate::Get() const {
    return reinterpret_cast<const DLGTEMPLATE*>(words_.data());
}

void DialogTemplate::AddString(const char* text) {
    if (text == nullptr) text = "";
    int count = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
    if (count <= 0) {
        AddWord(0);
        return;
    }
    // A vector, not a wstring: the program has no other wide string, and the library's
    // wide-string code would weigh a tenth of the exe.
    std::vector<wchar_t> wide(static_cast<size_t>(count));
    MultiByteToWideChar(CP_ACP, 0, text, -1, wide.data(), count);
    for (wchar_t c : wide) AddWord(static_cast<WORD>(c));  // includes the terminator
}

void DialogTemplate::Align() {
    if (words_.size() % 2 != 0) AddWord(0);
}

}  // namespace telvio
