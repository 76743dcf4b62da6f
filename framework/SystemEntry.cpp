#include "framework/SystemEntry.h"

#include <cstring>

namespace telvio {

namespace {

// SetDefaultDllDirectories' flag, hidden by the headers below Windows 8.
constexpr DWORD kSearchSystem32 = 0x00000800;

}  // namespace

HMODULE LoadSystemLibrary(const char* name) {
    char path[MAX_PATH];
    const UINT length = GetSystemDirectoryA(path, MAX_PATH);
    const size_t nameLength = std::strlen(name);
    // A length of MAX_PATH or more is the size the path would need: it was not written.
    if (length == 0 || length >= MAX_PATH || length + 1 + nameLength >= MAX_PATH) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    // Only a root directory ends in a separator already.
    size_t at = length;
    if (path[at - 1] != '\\') path[at++] = '\\';
    std::memcpy(path + at, name, nameLength + 1);
    return LoadLibraryA(path);
}

void NarrowDllSearch() {
    if ((GetVersion() & 0x80000000u) != 0) return;  // 9x: no elevation to guard
    HMODULE kernel = GetModuleHandleA("kernel32.dll");
    // Windows 8 on, and Vista and 7 with the update that added it: the system directory
    // alone, for every later load that names no directory.
    if (auto setDefault = SystemEntry<BOOL(WINAPI*)(DWORD)>(kernel, "SetDefaultDllDirectories")) {
        if (setDefault(kSearchSystem32)) return;
    }
    // XP SP1 on: an empty string takes the current directory out of the search; the
    // program's folder stays in it, but only names outside KnownDLLs reach it.
    if (auto setDirectory = SystemEntry<BOOL(WINAPI*)(LPCSTR)>(kernel, "SetDllDirectoryA")) {
        setDirectory("");
    }
}

}  // namespace telvio
