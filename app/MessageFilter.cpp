#include "app/MessageFilter.h"

#include "system/SystemEntry.h"

namespace telvio {

namespace {

// ChangeWindowMessageFilterEx's action and ChangeWindowMessageFilter's flag (Windows 7
// and Vista), hidden by the headers below those versions.
constexpr DWORD kMessageFilterAllow = 1;
constexpr DWORD kMessageFilterAdd = 1;

}  // namespace

void LetMessageIn(HWND window, UINT message) {
    HMODULE user32 = GetModuleHandleA("user32.dll");
    if (auto allowEx = SystemEntry<BOOL(WINAPI*)(HWND, UINT, DWORD, void*)>(
            user32, "ChangeWindowMessageFilterEx")) {
        allowEx(window, message, kMessageFilterAllow, nullptr);
    } else if (auto allow =
                   SystemEntry<BOOL(WINAPI*)(UINT, DWORD)>(user32, "ChangeWindowMessageFilter")) {
        allow(message, kMessageFilterAdd);
    }
}

}  // namespace telvio
