// Windows 95/98 export the wide-character kernel calls only as stubs that fail, and
// IsDBCSLeadByteEx is not documented for them. The C and C++ runtime linked into the
// program calls four such functions: CreateSemaphoreW for its locks (the unwinder's
// among them), GetModuleHandleW and LoadLibraryW to find msvcrt.dll's locale entry and
// the system's random source, and IsDBCSLeadByteEx when it converts multibyte text.
// The 32-bit program fills those import slots itself with the ANSI calls that every
// 32-bit Windows has, so the runtime works the same on 9x as on NT and the exe imports
// nothing outside its floor. What the runtime loads by bare name (msvcrt.dll, and
// advapi32.dll for random numbers) is taken from the system directory: the program runs
// elevated from whatever folder it was unpacked to, and would find a DLL lying there first.
#include <windows.h>

namespace {

// The runtime names only modules and never names its semaphores: ASCII is all it needs.
bool Narrow(LPCWSTR wide, char (&narrow)[MAX_PATH]) {
    for (size_t i = 0; i < MAX_PATH; ++i) {
        if (wide[i] > 0x7F) return false;
        narrow[i] = char(wide[i]);
        if (wide[i] == 0) return true;
    }
    return false;
}

HANDLE WINAPI CreateSemaphoreAnsi(LPSECURITY_ATTRIBUTES attributes, LONG initial, LONG maximum,
                                  LPCWSTR name) {
    char narrow[MAX_PATH];
    if (name == nullptr) return CreateSemaphoreA(attributes, initial, maximum, nullptr);
    if (!Narrow(name, narrow)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    return CreateSemaphoreA(attributes, initial, maximum, narrow);
}

HMODULE WINAPI GetModuleHandleAnsi(LPCWSTR name) {
    char narrow[MAX_PATH];
    if (name == nullptr) return GetModuleHandleA(nullptr);
    if (!Narrow(name, narrow)) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    return GetModuleHandleA(narrow);
}

HMODULE WINAPI LoadLibraryAnsi(LPCWSTR name) {
    char narrow[MAX_PATH];
    if (name == nullptr || !Narrow(name, narrow)) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    bool bare = true;
    for (const char* c = narrow; *c; ++c) {
        if (*c == '\\' || *c == '/' || *c == ':') bare = false;
    }
    if (!bare) return LoadLibraryA(narrow);
    char path[MAX_PATH];
    UINT at = GetSystemDirectoryA(path, MAX_PATH);
    // A length of MAX_PATH or more is the size the path would need: it was not written.
    if (at == 0 || at >= MAX_PATH) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    // Only a root directory ends in a separator already.
    if (path[at - 1] != '\\') path[at++] = '\\';
    for (const char* c = narrow;; ++c) {
        if (at == MAX_PATH) {
            SetLastError(ERROR_MOD_NOT_FOUND);
            return nullptr;
        }
        path[at++] = *c;
        if (*c == 0) break;
    }
    return LoadLibraryA(path);
}

// What IsDBCSLeadByteEx answers, from the code page's lead-byte ranges.
BOOL WINAPI LeadByteInCodePage(UINT codePage, BYTE testChar) {
    CPINFO info;
    if (!GetCPInfo(codePage, &info)) return FALSE;
    for (int i = 0; i + 1 < MAX_LEADBYTES && info.LeadByte[i] != 0; i += 2) {
        if (testChar >= info.LeadByte[i] && testChar <= info.LeadByte[i + 1]) return TRUE;
    }
    return FALSE;
}

}  // namespace

using CreateSemaphoreCall = HANDLE(WINAPI*)(LPSECURITY_ATTRIBUTES, LONG, LONG, LPCWSTR);
using ModuleCall = HMODULE(WINAPI*)(LPCWSTR);
using LeadByteCall = BOOL(WINAPI*)(UINT, BYTE);

// The import slots the runtime's objects call through, under the names the linker gives
// them; defined here, they are never taken from kernel32.
extern "C" {
CreateSemaphoreCall telvioCreateSemaphoreW __asm__("__imp__CreateSemaphoreW@16") =
    &CreateSemaphoreAnsi;
ModuleCall telvioGetModuleHandleW __asm__("__imp__GetModuleHandleW@4") = &GetModuleHandleAnsi;
ModuleCall telvioLoadLibraryW __asm__("__imp__LoadLibraryW@4") = &LoadLibraryAnsi;
LeadByteCall telvioIsDBCSLeadByteEx __asm__("__imp__IsDBCSLeadByteEx@8") = &LeadByteInCodePage;
}
