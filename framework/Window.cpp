#include "framework/Window.h"

#include <vector>

namespace telvio {

namespace {

// A property rather than GWLP_USERDATA: the standard controls and dialogs we take over
// may use their user data themselves.
constexpr const char* kObjectProp = "TelvioWindowObject";

// Windows live on the one thread that runs the dialogs, so one slot is enough.
std::exception_ptr pendingWindowException;

}  // namespace

void KeepWindowException(std::exception_ptr exception) {
    if (!pendingWindowException) pendingWindowException = exception;
}

std::exception_ptr TakeWindowException() {
    std::exception_ptr taken = pendingWindowException;
    pendingWindowException = nullptr;
    return taken;
}

bool WindowExceptionPending() {
    return pendingWindowException != nullptr;
}

Window::~Window() {
    if (originalProc_ != nullptr) {
        Detach();
    } else if (hwnd_ != nullptr) {
        DetachHandleOnly();
    }
}

Window* Window::FromHandle(HWND hwnd) {
    if (hwnd == nullptr) return nullptr;
    return static_cast<Window*>(GetPropA(hwnd, kObjectProp));
}

bool Window::AttachHandleOnly(HWND hwnd) {
    if (hwnd_ != nullptr || hwnd == nullptr || !IsWindow(hwnd)) return false;
    if (GetPropA(hwnd, kObjectProp) != nullptr) return false;
    if (!SetPropA(hwnd, kObjectProp, this)) return false;
    hwnd_ = hwnd;
    return true;
}

void Window::DetachHandleOnly() {
    if (hwnd_ != nullptr && GetPropA(hwnd_, kObjectProp) == this) RemovePropA(hwnd_, kObjectProp);
    hwnd_ = nullptr;
}

bool Window::Subclass(HWND hwnd) {
    if (!AttachHandleOnly(hwnd)) return false;
    PreSubclassWindow();
    SetLastError(0);
    LONG_PTR old = SetWindowLongPtrA(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&SubclassProc));
    if (old == 0 && GetLastError() != 0) {
        DetachHandleOnly();
        return false;
    }
    originalProc_ = reinterpret_cast<WNDPROC>(old);
    return true;
}

bool Window::SubclassDlgItem(int id, HWND parent) {
    if (parent == nullptr) return false;
    HWND item = GetDlgItem(parent, id);
    return item != nullptr && Subclass(item);
}

bool Window::CreateEx(DWORD exStyle, const char* className, const char* title, DWORD style, int x,
                      int y, int width, int height, HWND parent, HMENU menu) {
    if (hwnd_ != nullptr) return false;
    HWND hwnd = CreateWindowExA(exStyle, className, title, style, x, y, width, height, parent, menu,
                                GetModuleHandleA(nullptr), nullptr);
    if (hwnd == nullptr) return false;
    if (!Subclass(hwnd)) {
        ::DestroyWindow(hwnd);
        return false;
    }
    return true;
}

HWND Window::Detach() {
    HWND hwnd = hwnd_;
    if (hwnd == nullptr || originalProc_ == nullptr) return nullptr;
    LONG_PTR current = GetWindowLongPtrA(hwnd, GWLP_WNDPROC);
    if (current != reinterpret_cast<LONG_PTR>(&SubclassProc)) return nullptr;
    SetWindowLongPtrA(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(originalProc_));
    originalProc_ = nullptr;
    DetachHandleOnly();
    return hwnd;
}

BOOL Window::DestroyWindow() {
    if (hwnd_ == nullptr) return FALSE;
    return ::DestroyWindow(hwnd_);
}

HBRUSH Window::OnReflectedCtlColor(HDC, UINT) {
    return nullptr;
}

std::string Window::GetText() const {
    if (hwnd_ == nullptr) return std::string();
    int length = GetWindowTextLengthA(hwnd_);
    if (length <= 0) return std::string();
    std::vector<char> buffer(static_cast<size_t>(length) + 1, '\0');
    int got = GetWindowTextA(hwnd_, buffer.data(), length + 1);
    if (got < 0) got = 0;
    return std::string(buffer.data(), static_cast<size_t>(got));
}

BOOL Window::SetText(const char* text) {
    if (hwnd_ == nullptr) return FALSE;
    return SetWindowTextA(hwnd_, text != nullptr ? text : "");
}

LRESULT Window::WindowProc(UINT msg, WPARAM wParam, LPARAM lParam) {
    return DefaultProc(msg, wParam, lParam);
}

LRESULT Window::DefaultProc(UINT msg, WPARAM wParam, LPARAM lParam) {
    if (originalProc_ != nullptr) return CallWindowProcA(originalProc_, hwnd_, msg, wParam, lParam);
    return DefWindowProcA(hwnd_, msg, wParam, lParam);
}

LRESULT CALLBACK Window::SubclassProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    Window* self = FromHandle(hwnd);
    if (self == nullptr || self->originalProc_ == nullptr)
        return DefWindowProcA(hwnd, msg, wParam, lParam);
    if (msg == WM_NCDESTROY) {
        WNDPROC original = self->originalProc_;
        // The window is going whatever else sits on its procedure: let go of it fully.
        if (self->Detach() == nullptr) {
            self->originalProc_ = nullptr;
            self->DetachHandleOnly();
        }
        self->OnFinalDetach();
        return CallWindowProcA(original, hwnd, msg, wParam, lParam);
    }
    try {
        return self->WindowProc(msg, wParam, lParam);
    } catch (...) {
        KeepWindowException(std::current_exception());
        EndDialogOf(hwnd);
        return 0;
    }
}

}  // namespace telvio
