// Answers the next message box a test expects: a thread that waits for a dialog owned by
// the given window, reads what it shows, and presses a button.
#pragma once

#include <windows.h>

#include "tests/win/TestThread.h"

#include <string>

namespace telvio::test {

struct SeenBox {
    bool appeared = false;
    std::string caption;
    std::string text;
    bool hasOk = false;
    bool hasCancel = false;
    bool hasIcon = false;
};

class MessageBoxWatcher {
public:
    // Watches for a box owned by `owner` (null: any box of this process) for up to
    // `timeoutMs`, then presses `button`.
    MessageBoxWatcher(HWND owner, int button, DWORD timeoutMs = 20000) {
        thread_ = telvio::test::TestThread([this, owner, button, timeoutMs] { Watch(owner, button, timeoutMs); });
    }
    ~MessageBoxWatcher() { Join(); }
    const SeenBox& Join() {
        if (thread_.joinable()) thread_.join();
        return seen_;
    }

private:
    struct Search {
        HWND owner;
        HWND found;
    };

    static BOOL CALLBACK Find(HWND hwnd, LPARAM param) {
        Search* s = reinterpret_cast<Search*>(param);
        char cls[32] = {};
        GetClassNameA(hwnd, cls, sizeof cls);
        DWORD pid = 0;
        GetWindowThreadProcessId(hwnd, &pid);
        if (pid != GetCurrentProcessId() || std::string(cls) != "#32770" || !IsWindowVisible(hwnd)) return TRUE;
        if (s->owner != nullptr && GetWindow(hwnd, GW_OWNER) != s->owner) return TRUE;
        s->found = hwnd;
        return FALSE;
    }

    static BOOL CALLBACK FindIcon(HWND child, LPARAM param) {
        char cls[16] = {};
        GetClassNameA(child, cls, sizeof cls);
        const LONG style = GetWindowLongA(child, GWL_STYLE);
        if (lstrcmpiA(cls, "Static") == 0 && (style & SS_TYPEMASK) == SS_ICON && IsWindowVisible(child) &&
            SendMessageA(child, STM_GETICON, 0, 0) != 0) {
            *reinterpret_cast<bool*>(param) = true;
            return FALSE;
        }
        return TRUE;
    }

    static bool Shown(HWND box, int id) {
        HWND item = GetDlgItem(box, id);
        return item != nullptr && IsWindowVisible(item);
    }

    void Watch(HWND owner, int button, DWORD timeoutMs) {
        const DWORD start = GetTickCount();
        Search s{owner, nullptr};
        while (GetTickCount() - start < timeoutMs) {
            s.found = nullptr;
            EnumWindows(&Find, reinterpret_cast<LPARAM>(&s));
            if (s.found) break;
            Sleep(20);
        }
        if (!s.found) return;
        HWND box = s.found;
        char buf[512] = {};
        GetWindowTextA(box, buf, sizeof buf);
        seen_.caption = buf;
        buf[0] = 0;
        GetDlgItemTextA(box, 0xFFFF, buf, sizeof buf);
        seen_.text = buf;
        seen_.hasOk = Shown(box, IDOK);
        seen_.hasCancel = Shown(box, IDCANCEL);
        // The icon is a visible icon static holding an icon (its id differs by system).
        EnumChildWindows(box, &FindIcon, reinterpret_cast<LPARAM>(&seen_.hasIcon));
        seen_.appeared = true;
        PostMessageA(box, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), 0);
    }

    telvio::test::TestThread thread_;
    SeenBox seen_;
};

}  // namespace telvio::test
