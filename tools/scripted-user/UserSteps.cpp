#include "tools/scripted-user/UserSteps.h"

#include <commctrl.h>
#include <oleacc.h>

#include <cstdio>
#include <cstdlib>
#include <functional>

#include "resources/resource.h"

namespace user {
namespace {

constexpr int kDefaultWaitMs = 15000;
constexpr int kPollMs = 20;
constexpr DWORD kSendTimeoutMs = 10000;
constexpr char kMainCaption[] = "KORVANE";

std::string ClassOf(HWND window) {
    char name[64] = {};
    GetClassNameA(window, name, sizeof name);
    return name;
}

std::string CaptionOf(HWND window) {
    char text[512] = {};
    GetWindowTextA(window, text, sizeof text);
    return text;
}

struct Walk {
    DWORD pid;
    const std::function<bool(HWND)>* match;
    std::vector<HWND> found;
};

BOOL CALLBACK CollectTopLevel(HWND h, LPARAM p) {
    auto* w = reinterpret_cast<Walk*>(p);
    DWORD owner = 0;
    GetWindowThreadProcessId(h, &owner);
    if ((w->pid == 0 || owner == w->pid) && IsWindowVisible(h) && (*w->match)(h)) {
        w->found.push_back(h);
    }
    return TRUE;
}

// Top-level windows of the program that satisfy `match`, in z-order.
std::vector<HWND> TopLevels(DWORD pid, const std::function<bool(HWND)>& match) {
    Walk walk{pid, &match, {}};
    EnumWindows(&CollectTopLevel, reinterpret_cast<LPARAM>(&walk));
    return walk.found;
}

double MsSince(const LARGE_INTEGER& start) {
    LARGE_INTEGER now, freq;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&freq);
    return double(now.QuadPart - start.QuadPart) * 1000.0 / double(freq.QuadPart);
}

// Polls `done` until it holds or `ms` pass.
bool WaitFor(int ms, const std::function<bool()>& done) {
    DWORD start = GetTickCount();
    for (;;) {
        if (done()) return true;
        if (int(GetTickCount() - start) >= ms) return false;
        Sleep(kPollMs);
    }
}

int ToInt(const std::vector<std::string>& words, size_t i, int fallback) {
    return i < words.size() ? std::atoi(words[i].c_str()) : fallback;
}

bool IsMain(HWND h) {
    return ClassOf(h) == "#32770" && CaptionOf(h) == kMainCaption && GetDlgItem(h, IDC_UPGRADE);
}

HWND FindDialog(const Session& s, const std::string& caption) {
    auto found = TopLevels(s.pid, [&](HWND h) {
        return ClassOf(h) == "#32770" && CaptionOf(h) == caption && h != s.main;
    });
    return found.empty() ? nullptr : found.front();
}

LRESULT Send(HWND h, UINT msg, WPARAM w, LPARAM l) {
    DWORD_PTR result = 0;
    SendMessageTimeoutA(h, msg, w, l, SMTO_ABORTIFHUNG, kSendTimeoutMs, &result);
    return LRESULT(result);
}

HWND Control(const Session& s, HWND parent, const std::string& id, std::string& error) {
    HWND owner = parent ? parent : s.main;
    HWND h = owner ? GetDlgItem(owner, std::atoi(id.c_str())) : nullptr;
    if (!h) error = "no control " + id;
    return h;
}

// Keys go where the user's keyboard would: the focused control of the window's thread.
HWND FocusOf(HWND window) {
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    if (GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &info) && info.hwndFocus) {
        return info.hwndFocus;
    }
    return window;
}

void PressKey(HWND window, UINT vk) {
    HWND focus = FocusOf(window);
    UINT scan = MapVirtualKeyA(vk, 0);
    PostMessageA(focus, WM_KEYDOWN, vk, 1 | (scan << 16));
    PostMessageA(focus, WM_KEYUP, vk, 1 | (scan << 16) | 0xC0000000u);
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    for (;;) {
        size_t end = text.find("\r\n", start);
        lines.push_back(text.substr(start, end == std::string::npos ? end : end - start));
        if (end == std::string::npos) break;
        start = end + 2;
    }
    return lines;
}

// A message box's text: the static that is not its icon.
std::string MessageText(HWND box) {
    std::string text;
    for (HWND c = GetWindow(box, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
        if (ClassOf(c) == "Static" && (GetWindowLongA(c, GWL_STYLE) & SS_TYPEMASK) != SS_ICON) {
            std::string t = TextOf(c);
            if (t.size() > text.size()) text = t;
        }
    }
    return text;
}

std::string ButtonsOf(HWND box) {
    std::string names;
    for (HWND c = GetWindow(box, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
        if (ClassOf(c) != "Button" || !IsWindowVisible(c)) continue;
        std::string t;
        for (char ch : TextOf(c)) {
            if (ch != '&') t += ch;
        }
        names += (names.empty() ? "" : ",") + t;
    }
    return names;
}

bool WaitGone(HWND window, int ms) {
    return WaitFor(ms, [&] { return !IsWindow(window) || !IsWindowVisible(window); });
}

bool Answer(HWND dialog, const std::string& how, std::string& error) {
    if (how == "ok") {
        PostMessageA(GetDlgItem(dialog, IDOK), BM_CLICK, 0, 0);
    } else if (how == "cancel") {
        PostMessageA(GetDlgItem(dialog, IDCANCEL), BM_CLICK, 0, 0);
    } else if (how == "yes" || how == "no") {
        PostMessageA(GetDlgItem(dialog, how == "yes" ? IDYES : IDNO), BM_CLICK, 0, 0);
    } else if (how == "esc") {
        PressKey(dialog, VK_ESCAPE);
    } else if (how == "enter") {
        PressKey(dialog, VK_RETURN);
    } else if (how == "close") {
        PostMessageA(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
    } else {
        error = "unknown answer " + how;
        return false;
    }
    if (!WaitGone(dialog, kDefaultWaitMs)) {
        error = "the dialog did not close after " + how;
        return false;
    }
    return true;
}

bool ReadWholeFile(const std::string& path, std::string& text) {
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return false;
    text.clear();
    char buffer[512];
    for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, f)) != 0;) text.append(buffer, n);
    std::fclose(f);
    return true;
}

bool TypeInto(HWND edit, const std::string& text) {
    Send(edit, EM_SETSEL, 0, -1);
    Send(edit, WM_CLEAR, 0, 0);
    // As the keyboard gives them: UTF-16 characters. A byte of a UTF-8 sequence (the code
    // page here) is no character of its own.
    int length = MultiByteToWideChar(CP_ACP, 0, text.data(), int(text.size()), nullptr, 0);
    std::wstring wide(size_t(length), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text.data(), int(text.size()), &wide[0], length);
    for (wchar_t ch : wide) {
        DWORD_PTR result = 0;
        SendMessageTimeoutW(edit, WM_CHAR, ch, 1, SMTO_ABORTIFHUNG, kSendTimeoutMs, &result);
    }
    return TextOf(edit) == text;
}

// A copy at least as new as the program. The copy keeps the program's write time, so a
// rebuilt program shows as newer and is copied again instead of an old build being tested.
bool IsCurrentCopy(const std::string& path, const std::string& copy) {
    WIN32_FILE_ATTRIBUTE_DATA program, made;
    return GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &program) &&
           GetFileAttributesExA(copy.c_str(), GetFileExInfoStandard, &made) &&
           CompareFileTime(&made.ftLastWriteTime, &program.ftLastWriteTime) >= 0;
}

// Makes PATH's copy for VERSION (when missing or older than the program) and tells Wine
// which version that copy sees; the path is changed to the copy's.
bool PrepareVersionCopy(std::string& path, const std::string& version, std::string& error) {
    size_t slash = path.find_last_of("\\/");
    std::string name = path.substr(slash == std::string::npos ? 0 : slash + 1);
    std::string stem = name.size() > 4 ? name.substr(0, name.size() - 4) : name;
    std::string copyName = stem + "." + version + ".exe";
    std::string copy = path.substr(0, path.size() - name.size()) + copyName;
    if (!IsCurrentCopy(path, copy)) {
        std::string temporary = copy + ".tmp" + std::to_string(GetCurrentProcessId());
        if (CopyFileA(path.c_str(), temporary.c_str(), FALSE)) {
            MoveFileExA(temporary.c_str(), copy.c_str(), MOVEFILE_REPLACE_EXISTING);
        }
        DeleteFileA(temporary.c_str());
        // A test running beside this one may have made the copy meanwhile.
        if (!IsCurrentCopy(path, copy)) {
            error = "cannot make " + copy;
            return false;
        }
    }
    std::string key = "Software\\Wine\\AppDefaults\\" + copyName;
    HKEY handle = nullptr;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, key.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                        &handle, nullptr) != ERROR_SUCCESS ||
        RegSetValueExA(handle, "Version", 0, REG_SZ,
                       reinterpret_cast<const BYTE*>(version.c_str()),
                       DWORD(version.size() + 1)) != ERROR_SUCCESS) {
        if (handle) RegCloseKey(handle);
        error = "cannot set the Windows version of " + copyName;
        return false;
    }
    RegCloseKey(handle);
    path = copy;
    return true;
}

}  // namespace

std::string TextOf(HWND window) {
    LRESULT length = Send(window, WM_GETTEXTLENGTH, 0, 0);
    std::string text(size_t(length) + 1, '\0');
    LRESULT got = Send(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(&text[0]));
    text.resize(size_t(got));
    return text;
}

std::vector<std::string> Tokenize(const std::string& line) {
    std::vector<std::string> words;
    size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && line[i] == ' ') ++i;
        if (i >= line.size()) break;
        std::string word;
        if (line[i] == '"') {
            size_t end = line.find('"', i + 1);
            if (end == std::string::npos) end = line.size();
            word = line.substr(i + 1, end - i - 1);
            i = end + 1;
        } else {
            size_t end = line.find(' ', i);
            if (end == std::string::npos) end = line.size();
            word = line.substr(i, end - i);
            i = end;
        }
        words.push_back(word);
    }
    return words;
}

bool RunStep(Session& s, const std::string& line, std::string& error) {
    std::vector<std::string> w = Tokenize(line);
    if (w.empty()) return true;
    const std::string& verb = w[0];
    auto need = [&](size_t n) {
        if (w.size() < n + 1) {
            error = "needs " + std::to_string(n) + " argument(s)";
            return false;
        }
        return true;
    };
    auto needMain = [&] {
        if (!s.main || !IsWindow(s.main)) {
            error = "no main window (attach first)";
            return false;
        }
        return true;
    };

    if (verb == "launch" || verb == "launch-as") {
        // launch-as VERSION PATH: Wine reports VERSION to the program, whose copy
        // NAME.VERSION.exe carries the setting, so other runs of the program keep theirs.
        bool as = verb == "launch-as";
        if (!need(as ? 2 : 1)) return false;
        std::string path = as ? w[2] : w[1];
        if (as && !PrepareVersionCopy(path, w[1], error)) return false;
        STARTUPINFOA si{};
        si.cb = sizeof si;
        PROCESS_INFORMATION pi{};
        std::string command = "\"" + path + "\"";
        QueryPerformanceCounter(&s.launchedAt);
        if (!CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                            &si, &pi)) {
            error = "cannot start " + path + " (error " + std::to_string(GetLastError()) + ")";
            return false;
        }
        CloseHandle(pi.hThread);
        if (s.process) s.earlier.push_back(s.process);
        s.process = pi.hProcess;
        s.pid = pi.dwProcessId;
        // The steps that follow are the new program's: its window, once attached.
        s.main = nullptr;
        return true;
    }
    if (verb == "attach") {
        int ms = ToInt(w, 1, kDefaultWaitMs);
        if (!WaitFor(ms, [&] {
                auto found = TopLevels(s.pid, IsMain);
                if (found.empty()) return false;
                s.main = found.front();
                GetWindowThreadProcessId(s.main, &s.pid);
                return true;
            })) {
            error = "no main window within " + std::to_string(ms) + " ms";
            return false;
        }
        std::printf("attached main window\n");
        return true;
    }
    if (verb == "wait-drives") {
        if (!need(1)) return false;
        int count = ToInt(w, 1, 1), ms = ToInt(w, 2, kDefaultWaitMs);
        if (!WaitFor(ms, [&] {
                if (!s.main) {
                    auto found = TopLevels(s.pid, IsMain);
                    if (!found.empty()) s.main = found.front();
                }
                return s.main &&
                       Send(GetDlgItem(s.main, IDC_DRIVE_BOX), CB_GETCOUNT, 0, 0) >= count;
            })) {
            error = "the drive box did not list " + w[1] + " drive(s)";
            return false;
        }
        if (s.process) std::printf("drives-listed-after-ms %.1f\n", MsSince(s.launchedAt));
        return true;
    }
    if (verb == "wait-window") {
        if (!need(1)) return false;
        HWND found = nullptr;
        if (!WaitFor(ToInt(w, 2, kDefaultWaitMs), [&] {
                auto all = TopLevels(s.pid, [&](HWND h) { return CaptionOf(h) == w[1]; });
                found = all.empty() ? nullptr : all.front();
                return found != nullptr;
            })) {
            error = "no window \"" + w[1] + "\"";
            return false;
        }
        s.dialog = found;
        if (s.process) std::printf("window-shown-after-ms %.1f\n", MsSince(s.launchedAt));
        return true;
    }
    if (verb == "type") {
        if (!need(2) || !needMain()) return false;
        HWND c = Control(s, nullptr, w[1], error);
        if (!c) return false;
        if (ClassOf(c) == "ComboBox") c = FindWindowExA(c, nullptr, "Edit", nullptr);
        if (!c || !TypeInto(c, w[2])) {
            error = "the control did not take the typed text";
            return false;
        }
        return true;
    }
    if (verb == "pick") {
        if (!need(2) || !needMain()) return false;
        HWND c = Control(s, nullptr, w[1], error);
        if (!c) return false;
        LRESULT index = Send(c, CB_FINDSTRINGEXACT, WPARAM(-1), LPARAM(w[2].c_str()));
        if (index == CB_ERR) {
            error = "no entry \"" + w[2] + "\" in the list";
            return false;
        }
        // What a mouse pick in the open list amounts to: the selection, then the
        // selection-accepted notification to the dialog.
        Send(c, CB_SETCURSEL, WPARAM(index), 0);
        int id = GetDlgCtrlID(c);
        Send(s.main, WM_COMMAND, MAKEWPARAM(id, CBN_SELENDOK), LPARAM(c));
        return true;
    }
    if (verb == "click" || verb == "force-click") {
        if (!need(1) || !needMain()) return false;
        HWND c = Control(s, nullptr, w[1], error);
        if (!c) return false;
        if (verb == "click" && !IsWindowEnabled(c)) {
            error = "button " + w[1] + " is disabled";
            return false;
        }
        PostMessageA(c, BM_CLICK, 0, 0);
        return true;
    }
    if (verb == "key") {
        if (!need(1) || !needMain()) return false;
        if (w[1] == "esc") {
            PressKey(s.main, VK_ESCAPE);
        } else if (w[1] == "enter") {
            PressKey(s.main, VK_RETURN);
        } else if (w[1] == "altf4") {
            UINT scan = MapVirtualKeyA(VK_F4, 0);
            PostMessageA(s.main, WM_SYSKEYDOWN, VK_F4, 1 | (scan << 16) | (1u << 29));
            PostMessageA(s.main, WM_SYSKEYUP, VK_F4, 1 | (scan << 16) | (1u << 29) | 0xC0000000u);
        } else {
            error = "unknown key " + w[1];
            return false;
        }
        return true;
    }
    if (verb == "syscommand") {
        if (!need(1) || !needMain()) return false;
        WPARAM command = w[1] == "close" ? SC_CLOSE : w[1] == "about" ? IDM_ABOUTBOX : 0;
        if (!command) {
            error = "unknown system command " + w[1];
            return false;
        }
        PostMessageA(s.main, WM_SYSCOMMAND, command, 0);
        return true;
    }
    if (verb == "close-message") {
        if (!needMain()) return false;
        PostMessageA(s.main, WM_CLOSE, 0, 0);
        return true;
    }
    if (verb == "query-end-session" || verb == "query-suspend") {
        // Asked as Windows asks before a log-off, or before a suspend (98 to XP); 1 expects
        // the window to let it happen, 0 to refuse.
        if (!need(1) || !needMain()) return false;
        const bool suspend = verb == "query-suspend";
        const UINT msg = suspend ? WM_POWERBROADCAST : WM_QUERYENDSESSION;
        const WPARAM wParam = suspend ? PBT_APMQUERYSUSPEND : 0;
        const LPARAM lParam = suspend ? 1 : ENDSESSION_LOGOFF;  // 1: the user may be asked
        DWORD_PTR answer = 0;
        if (!SendMessageTimeoutA(s.main, msg, wParam, lParam, SMTO_ABORTIFHUNG, kSendTimeoutMs,
                                 &answer)) {
            error = "no answer to " + verb;
            return false;
        }
        const bool allowed = suspend ? answer != BROADCAST_QUERY_DENY : answer != 0;
        std::printf("%s answer %d\n", verb.c_str(), allowed ? 1 : 0);
        if (allowed != (w[1] == "1")) {
            error = "expected the answer " + w[1];
            return false;
        }
        return true;
    }
    if (verb == "expect-enabled" || verb == "wait-enabled") {
        if (!need(2) || !needMain()) return false;
        HWND c = Control(s, nullptr, w[1], error);
        if (!c) return false;
        bool want = w[2] == "1";
        int ms = verb == "wait-enabled" ? ToInt(w, 3, kDefaultWaitMs) : 0;
        if (!WaitFor(ms, [&] { return (IsWindowEnabled(c) != 0) == want; })) {
            error = "control " + w[1] + (want ? " is disabled" : " is enabled");
            return false;
        }
        return true;
    }
    if (verb == "expect-text" || verb == "wait-text") {
        if (!need(2) || !needMain()) return false;
        HWND c = Control(s, nullptr, w[1], error);
        if (!c) return false;
        bool exact = verb == "expect-text";
        int ms = exact ? 0 : ToInt(w, 3, kDefaultWaitMs);
        std::string got;
        if (!WaitFor(ms, [&] {
                got = TextOf(c);
                return exact ? got == w[2] : got.find(w[2]) != std::string::npos;
            })) {
            error = "control " + w[1] + " reads \"" + got + "\"";
            return false;
        }
        return true;
    }
    if (verb == "wait-run") {
        // The end of a run: its verdict in the log and Close given back.
        if (!needMain()) return false;
        int ms = ToInt(w, 1, 120000);
        HWND log = GetDlgItem(s.main, IDC_LOG), close = GetDlgItem(s.main, IDCANCEL);
        if (!WaitFor(ms, [&] {
                std::string text = TextOf(log);
                return IsWindowEnabled(close) &&
                       (text.find("Please Restart Your Computer.") != std::string::npos ||
                        text.find("Flashing is incorrect!!") != std::string::npos);
            })) {
            error = "the run did not end within " + std::to_string(ms) + " ms";
            return false;
        }
        return true;
    }
    if (verb == "read") {
        if (!need(1) || !needMain()) return false;
        HWND c = Control(s, nullptr, w[1], error);
        if (!c) return false;
        std::printf("[%s] %s\n", w[1].c_str(), TextOf(c).c_str());
        return true;
    }
    if (verb == "read-list") {
        if (!need(1) || !needMain()) return false;
        HWND c = Control(s, nullptr, w[1], error);
        if (!c) return false;
        LRESULT count = Send(c, CB_GETCOUNT, 0, 0);
        for (LRESULT i = 0; i < count; ++i) {
            // Wide, because Wine hands list texts across processes in Unicode.
            wchar_t wide[256] = {};
            DWORD_PTR got = 0;
            if (Send(c, CB_GETLBTEXTLEN, WPARAM(i), 0) < LRESULT(256)) {
                SendMessageTimeoutW(c, CB_GETLBTEXT, WPARAM(i), LPARAM(wide), SMTO_ABORTIFHUNG,
                                    kSendTimeoutMs, &got);
            }
            char item[512] = {};
            WideCharToMultiByte(CP_ACP, 0, wide, -1, item, sizeof item, nullptr, nullptr);
            std::printf("[%s:%d] %s\n", w[1].c_str(), int(i), item);
        }
        std::printf("[%s:selected] %d\n", w[1].c_str(), int(Send(c, CB_GETCURSEL, 0, 0)));
        return true;
    }
    if (verb == "read-log") {
        if (!needMain()) return false;
        HWND log = GetDlgItem(s.main, IDC_LOG);
        std::string text = TextOf(log);
        for (const std::string& l : Lines(text)) std::printf("log| %s\n", l.c_str());
        // Whether the view shows the last line: where the last character sits.
        RECT client;
        GetClientRect(log, &client);
        LRESULT pos = Send(log, EM_POSFROMCHAR, text.empty() ? 0 : text.size() - 1, 0);
        int y = short(HIWORD(pos));
        std::printf("log-lines %d\nlog-last-line-visible %d\n",
                    int(Send(log, EM_GETLINECOUNT, 0, 0)),
                    pos != -1 && y >= 0 && y < client.bottom ? 1 : 0);
        return true;
    }
    if (verb == "dump") {
        if (!needMain()) return false;
        for (int id :
             {IDC_DRIVE_BOX, IDC_STATUS, IDC_REVISION, IDC_FILE_BOX, IDC_UPGRADE, IDCANCEL}) {
            HWND c = GetDlgItem(s.main, id);
            std::printf("[%d] enabled=%d text=%s\n", id, IsWindowEnabled(c) ? 1 : 0,
                        TextOf(c).c_str());
        }
        std::printf("[%d] position=%d\n", IDC_PROGRESS,
                    int(Send(GetDlgItem(s.main, IDC_PROGRESS), PBM_GETPOS, 0, 0)));
        return true;
    }
    if (verb == "msgbox") {
        if (!need(3)) return false;
        HWND box = nullptr;
        if (!WaitFor(ToInt(w, 4, kDefaultWaitMs), [&] { return (box = FindDialog(s, w[1])); })) {
            error = "no message box \"" + w[1] + "\"";
            return false;
        }
        std::string text = MessageText(box);
        bool topmost = (GetWindowLongA(box, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0;
        // The main window of the box's own program, shown or not: a copy that ends at
        // start-up shows its box before its window.
        const HWND owner = GetWindow(box, GW_OWNER);
        DWORD boxPid = 0, ownerPid = 0;
        GetWindowThreadProcessId(box, &boxPid);
        if (owner) GetWindowThreadProcessId(owner, &ownerPid);
        bool ownedByMain =
            owner && ((s.main && owner == s.main) || (ownerPid == boxPid && IsMain(owner)));
        std::printf("msgbox caption=%s text=%s buttons=%s topmost=%d owner-main=%d\n",
                    w[1].c_str(), text.c_str(), ButtonsOf(box).c_str(), topmost ? 1 : 0,
                    ownedByMain ? 1 : 0);
        // "@FILE": the text is FILE's, for texts with line breaks or double quotes.
        std::string expected = w[2];
        if (!expected.empty() && expected[0] == '@' &&
            !ReadWholeFile(expected.substr(1), expected)) {
            error = "cannot read " + w[2].substr(1);
            return false;
        }
        if (text != expected) {
            error = "the message box says \"" + text + "\"";
            return false;
        }
        return Answer(box, w[3], error);
    }
    if (verb == "no-window") {
        if (!need(1)) return false;
        int ms = ToInt(w, 2, 2000);
        if (WaitFor(ms, [&] { return FindDialog(s, w[1]) != nullptr; })) {
            error = "a window \"" + w[1] + "\" appeared";
            return false;
        }
        return true;
    }
    if (verb == "dialog") {
        if (!need(1)) return false;
        if (!WaitFor(ToInt(w, 2, kDefaultWaitMs), [&] { return (s.dialog = FindDialog(s, w[1])); })) {
            error = "no dialog \"" + w[1] + "\"";
            return false;
        }
        return true;
    }
    if (verb == "dialog-read") {
        if (!need(1)) return false;
        HWND c = s.dialog ? Control(s, s.dialog, w[1], error) : nullptr;
        if (!c) {
            if (error.empty()) error = "no current dialog";
            return false;
        }
        std::printf("[dialog:%s] %s\n", w[1].c_str(), TextOf(c).c_str());
        return true;
    }
    if (verb == "dialog-answer") {
        if (!need(1)) return false;
        if (!s.dialog || !IsWindow(s.dialog)) {
            error = "no current dialog";
            return false;
        }
        return Answer(s.dialog, w[1], error);
    }
    if (verb == "browse") {
        if (!need(1) || !needMain()) return false;
        PostMessageA(GetDlgItem(s.main, IDC_BROWSE), BM_CLICK, 0, 0);
        HWND open = nullptr;
        if (!WaitFor(kDefaultWaitMs, [&] { return (open = FindDialog(s, "Open")); })) {
            error = "the file dialog did not open";
            return false;
        }
        if (w[1] == "cancel") return Answer(open, "cancel", error);
        // The explorer-style dialog's name box is a combo box (0x47C); the old style
        // has a plain edit (0x480).
        HWND name = GetDlgItem(open, 0x47C);
        if (!name) name = GetDlgItem(open, 0x480);
        if (!name) {
            error = "the file dialog has no name box";
            return false;
        }
        Send(name, WM_SETTEXT, 0, LPARAM(w[1].c_str()));
        return Answer(open, "ok", error);
    }
    if (verb == "reader") {
        if (!need(1) || !needMain()) return false;
        // "reader dialog ID": a control of the current dialog.
        const bool inDialog = w[1] == "dialog";
        if (inDialog && !need(2)) return false;
        if (inDialog && (!s.dialog || !IsWindow(s.dialog))) {
            error = "no current dialog";
            return false;
        }
        const std::string id = inDialog ? "dialog:" + w[2] : w[1];
        HWND c = Control(s, inDialog ? s.dialog : nullptr, inDialog ? w[2] : w[1], error);
        if (!c) return false;
        // From another process, as readers ask: the object comes back marshalled.
        if (FAILED(CoInitialize(nullptr))) {
            error = "COM did not start";
            return false;
        }
        IAccessible* object = nullptr;
        const HRESULT got = AccessibleObjectFromWindow(c, OBJID_CLIENT, __uuidof(IAccessible),
                                                       reinterpret_cast<void**>(&object));
        std::string name;
        VARIANT self{}, role{};
        self.vt = VT_I4;
        self.lVal = CHILDID_SELF;
        BSTR text = nullptr;
        if (SUCCEEDED(got) && object) {
            if (object->get_accName(self, &text) == S_OK && text) {
                char narrow[512] = {};
                WideCharToMultiByte(CP_ACP, 0, text, -1, narrow, sizeof narrow, nullptr, nullptr);
                name = narrow;
            }
            object->get_accRole(self, &role);
        }
        SysFreeString(text);
        if (object) object->Release();
        CoUninitialize();
        // The role tells the control's own object from the one the system makes up.
        std::printf("[reader:%s] role=%ld %s\n", id.c_str(),
                    role.vt == VT_I4 ? long(role.lVal) : -1L, name.c_str());
        return true;
    }
    if (verb == "taskbar-created") {
        if (!needMain()) return false;
        Send(s.main, RegisterWindowMessageA("TaskbarButtonCreated"), 0, 0);
        return true;
    }
    if (verb == "screenshot") {
        if (!need(2)) return false;
        HWND target = w[1] == "dialog" ? s.dialog : s.main;
        if (!target || !IsWindow(target)) {
            error = "nothing to capture";
            return false;
        }
        return SaveWindowBitmap(target, w[2], error);
    }
    if (verb == "sleep") {
        Sleep(DWORD(ToInt(w, 1, 100)));
        return true;
    }
    if (verb == "wait-exit") {
        int ms = ToInt(w, 1, kDefaultWaitMs);
        bool gone = s.main ? WaitGone(s.main, ms) : true;
        if (gone && s.process) gone = WaitForSingleObject(s.process, DWORD(ms)) == WAIT_OBJECT_0;
        if (!gone) {
            error = "the program is still running";
            return false;
        }
        return true;
    }
    if (verb == "end-program") {
        // Ends every program the steps started that still runs, as the task manager would:
        // a window that refuses to close is not waited out.
        if (s.process) s.earlier.push_back(s.process);
        s.process = nullptr;
        int ended = 0;
        for (HANDLE p : s.earlier) {
            if (WaitForSingleObject(p, 0) == WAIT_TIMEOUT && TerminateProcess(p, 1)) ++ended;
            WaitForSingleObject(p, DWORD(kDefaultWaitMs));
            CloseHandle(p);
        }
        s.earlier.clear();
        std::printf("programs ended %d\n", ended);
        return true;
    }
    error = "unknown step";
    return false;
}

}  // namespace user
