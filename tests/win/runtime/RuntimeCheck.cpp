// The runtime of runtime/ as the shipped i686 exe has it: built in the shipped build's
// tree and linked through the same target, so the start-up object, the exception
// machinery compiled for the Pentium, operator new and snprintf on msvcrt are the ones
// the program runs, under the program's manifest. tools/release/check.sh runs it under
// 32-bit Wine; it prints every failed check and exits with their number.
#include <windows.h>

#include <cctype>
#include <cstdio>
#include <cstring>
#include <exception>
#include <new>
#include <stdexcept>
#include <string>

#include "framework/Window.h"

namespace {

int checks = 0;
int failures = 0;

void Print(const std::string& text) {
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), text.data(), DWORD(text.size()), &written, nullptr);
}

void Check(bool ok, const char* what) {
    ++checks;
    if (ok) return;
    ++failures;
    Print(std::string("runtime: FAIL: ") + what + "\n");
}

// Keeps the compiler from working out a call's answer itself, so msvcrt gives it.
template <typename T>
T Opaque(T value) {
    asm volatile("" : "+r"(value));
    return value;
}

int unwound = 0;

struct CountsUnwinding {
    ~CountsUnwinding() { ++unwound; }
};

__attribute__((noinline)) int ThrowFrom(int depth) {
    CountsUnwinding guard;
    if (depth == 0) throw std::runtime_error(std::string("thrown ") + "deep");
    return ThrowFrom(depth - 1) + 1;
}

void ThrowsAcrossFunctions() {
    unwound = 0;
    bool caught = false;
    try {
        ThrowFrom(Opaque(4));
    } catch (const std::runtime_error& error) {
        caught = std::strcmp(error.what(), "thrown deep") == 0;
    }
    Check(caught, "a runtime_error thrown four calls down is caught with its text");
    Check(unwound == 5, "every frame's destructor runs while unwinding");
    // Not a std::exception: the start-up code's last catch. (A fundamental type's type
    // information would bring the library's pointer catching, built for the P6.)
    struct Plain {
        int value;
    };
    caught = false;
    try {
        throw Plain{Opaque(42)};
    } catch (const std::exception&) {
    } catch (...) {
        caught = true;
    }
    Check(caught, "a plain struct is caught by catch (...)");
}

DWORD WINAPI ThrowOnThread(void* caught) {
    try {
        ThrowFrom(Opaque(2));
    } catch (const std::runtime_error&) {
        *static_cast<bool*>(caught) = true;
    }
    return 0;
}

// The upgrade's worker catches what its run throws: on a thread of CreateThread's own,
// whose exception state the emulated TLS makes when it is first asked.
void ThrowsOnAWorkerThread() {
    bool caught = false;
    DWORD id = 0;
    HANDLE thread = CreateThread(nullptr, 0, &ThrowOnThread, &caught, 0, &id);
    Check(thread != nullptr, "the thread starts");
    if (thread == nullptr) return;
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    Check(caught, "an exception thrown on a worker thread is caught there");
}

// The window layer's own door: a handler's exception is kept by the window procedure
// and thrown again once the system's frames are left.
class ThrowingWindow : public telvio::Window {
  protected:
    LRESULT WindowProc(UINT msg, WPARAM wParam, LPARAM lParam) override {
        if (msg == WM_APP) throw std::runtime_error("from a handler");
        return Window::WindowProc(msg, wParam, lParam);
    }
};

void ThrowsAcrossWindowProcedure() {
    ThrowingWindow window;
    if (!window.CreateEx(0, "STATIC", "", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr)) {
        Check(false, "the window is created");
        return;
    }
    SendMessageA(window.GetHwnd(), WM_APP, 0, 0);
    std::exception_ptr kept = telvio::TakeWindowException();
    Check(kept != nullptr, "the handler's exception is kept");
    bool caught = false;
    try {
        if (kept) std::rethrow_exception(kept);
    } catch (const std::runtime_error& error) {
        caught = std::strcmp(error.what(), "from a handler") == 0;
    }
    Check(caught, "the kept exception is thrown again with its text");
    window.DestroyWindow();
}

int handlerCalls = 0;

void GiveUp() {
    ++handlerCalls;
    std::set_new_handler(nullptr);
}

void NewRunsOut() {
    // A 32-bit process has 2 GiB: this many blocks of 256 MiB cannot all be had.
    const std::size_t kBlock = std::size_t(256) << 20;
    char* blocks[16] = {};
    int taken = 0;
    bool threw = false;
    try {
        for (; taken < 16; ++taken) blocks[taken] = new char[Opaque(kBlock)];
    } catch (const std::bad_alloc&) {
        threw = true;
    }
    for (int i = 0; i < taken; ++i) delete[] blocks[i];
    Check(threw, "operator new throws std::bad_alloc when memory runs out");

    std::set_new_handler(GiveUp);
    threw = false;
    try {
        delete[] new char[Opaque(std::size_t(0xFFFFFFF0))];
    } catch (const std::bad_alloc&) {
        threw = true;
    }
    Check(threw && handlerCalls == 1, "the new-handler is asked once, then std::bad_alloc");
    Check(new (std::nothrow) char[Opaque(std::size_t(0xFFFFFFF0))] == nullptr,
          "nothrow new answers null");
}

struct Formatted {
    int length;
    char text[16];
};

// Into 16 bytes filled with '#', with room for `size`.
Formatted Format(std::size_t size, const char* format, int number, const char* string) {
    Formatted out;
    std::memset(out.text, '#', sizeof out.text);
    out.length = std::snprintf(Opaque(size) == 0 ? nullptr : out.text, Opaque(size), Opaque(format),
                               number, string);
    return out;
}

bool Holds(const Formatted& out, int length, const char* text) {
    std::size_t n = std::strlen(text);
    return out.length == length && std::memcmp(out.text, text, n + 1) == 0 &&
           out.text[n + 1] == '#';
}

void SnprintfKeepsItsContract() {
    Check(Holds(Format(8, "%d-%s", 12, "abcd"), 7, "12-abcd"), "snprintf: exact fit");
    Check(Holds(Format(7, "%d-%s", 12, "abcd"), 7, "12-abc"),
          "snprintf: one short (msvcrt leaves no terminator)");
    Check(Holds(Format(4, "%d-%s", 12, "abcd"), 7, "12-"), "snprintf: truncated");
    Check(Holds(Format(1, "%d-%s", 12, "abcd"), 7, ""), "snprintf: size 1");
    Formatted none = Format(0, "%d-%s", 12, "abcd");
    Check(none.length == 7 && none.text[0] == '#', "snprintf: size 0 measures only");
    Check(Holds(Format(16, "%04X:%-3s|", 10, "a"), 9, "000A:a  |"), "snprintf: widths");
    // Longer than the first scratch buffer.
    Check(Holds(Format(6, "%0600d%s", 7, ""), 600, "00000"), "snprintf: 600 bytes measured");
}

// The program's manifest, linked here too, makes UTF-8 the code page: msvcrt's file calls
// must open a path in it, as the engine does with the file box's path, and its byte calls
// must leave the bytes of a character alone, as the extension check does.
void Utf8PathsReachTheFile() {
    Check(GetACP() == CP_UTF8, "the manifest makes UTF-8 the code page");
    // Katakana and Greek, outside every Western code page. (No std::wstring: the library's
    // is built for the P6.)
    wchar_t folder[MAX_PATH] = {}, file[MAX_PATH] = {};
    GetTempPathW(MAX_PATH - 32, folder);
    lstrcatW(folder, L"telvio \u30D5\u30A1\u30FC\u30E0 \u03A5\u03BB\u03B9\u03BA\u03CC");
    lstrcpyW(file, folder);
    lstrcatW(file, L"\\FW.BIN");
    CreateDirectoryW(folder, nullptr);
    char path[1024] = {};
    WideCharToMultiByte(CP_UTF8, 0, file, -1, path, sizeof path, nullptr, nullptr);

    FILE* out = std::fopen(path, "wb");
    Check(out != nullptr, "fopen creates a file under a UTF-8 path");
    if (out) {
        std::fputs("firmware", out);
        std::fclose(out);
    }
    char back[16] = {};
    HANDLE wide =
        CreateFileW(file, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    DWORD got = 0;
    if (wide != INVALID_HANDLE_VALUE) {
        ReadFile(wide, back, sizeof back - 1, &got, nullptr);
        CloseHandle(wide);
    }
    Check(std::strcmp(back, "firmware") == 0, "the file fopen made bears the name's characters");
    std::memset(back, 0, sizeof back);
    FILE* in = std::fopen(path, "r");
    Check(in != nullptr && std::fgets(back, sizeof back, in) != nullptr &&
              std::strcmp(back, "firmware") == 0,
          "fopen reads it back through the UTF-8 path");
    if (in) std::fclose(in);

    std::string lowered(path), expected(path);
    for (char& c : lowered) c = char(std::tolower(static_cast<unsigned char>(c)));
    for (char& c : expected) c = c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
    Check(lowered == expected, "tolower changes ASCII letters only, never a byte of a character");
    DeleteFileW(file);
    RemoveDirectoryW(folder);
}

// The runtime loads DLLs by bare name through the LoadLibraryW slot that runtime/ fills:
// such a name is looked for in the system directory only. This program's own file lies
// beside it, where a search that looks in the program's folder finds it first.
void BareNamesComeFromTheSystemDirectory() {
    char self[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    const char* name = std::strrchr(self, '\\');
    name = name ? name + 1 : self;
    wchar_t wide[MAX_PATH] = {};
    for (size_t i = 0; name[i] && i + 1 < MAX_PATH; ++i) wide[i] = wchar_t(name[i]);
    HMODULE beside = LoadLibraryW(wide);
    Check(beside == nullptr, "a bare name is not looked for beside the program");
    if (beside) FreeLibrary(beside);
    HMODULE system = LoadLibraryW(L"version.dll");
    Check(system != nullptr, "a bare name of the system directory loads");
    if (system) FreeLibrary(system);
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    ThrowsAcrossFunctions();
    ThrowsOnAWorkerThread();
    ThrowsAcrossWindowProcedure();
    NewRunsOut();
    SnprintfKeepsItsContract();
    Utf8PathsReachTheFile();
    BareNamesComeFromTheSystemDirectory();
    Print("runtime: " + std::to_string(checks - failures) + " of " + std::to_string(checks) +
          " checks passed\n");
    return failures;
}
