#include "system/SystemEntry.h"

#include <cstring>

#include "system/PlatformCalls.h"

namespace telvio {

namespace {

// SetDefaultDllDirectories' flag, hidden by the headers below Windows 8.
constexpr DWORD kSearchSystem32 = 0x00000800;

// The DLLs outside KnownDLLs that system code loads by bare name on the program's behalf:
// uxtheme for the version 6 common controls, propsys, dwmapi and cryptbase for the file
// dialog, the rest for the shell, COM and accessibility. Once loaded from the system
// directory, a later load by that name takes the loaded one.
constexpr const char* kPreloaded[] = {
    "uxtheme.dll", "userenv.dll",   "setupapi.dll", "apphelp.dll", "propsys.dll",
    "dwmapi.dll",  "cryptbase.dll", "oleacc.dll",   "clbcatq.dll", "version.dll",
};

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
    // The DLL's own imports are looked for beside it, in the system directory, before the
    // program's folder.
    return LoadLibraryExA(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

void NarrowDllSearch() {
    const WindowsVersion version = RealWindowsVersion();
    if (version.platformId != VER_PLATFORM_WIN32_NT) return;  // 9x: no elevation to guard
    const PlatformCalls& calls = Platform();
    // Windows 8 on, and 7 with the update that added it: the system directory alone, for
    // every later load that names no directory. Not on Vista, where CoCreateInstance of
    // the shell link object fails afterwards, and the file dialog needs that object.
    const bool vista = version.major == 6 && version.minor == 0;
    if (!vista && calls.setDefaultDllDirectories != nullptr &&
        calls.setDefaultDllDirectories(kSearchSystem32)) {
        return;
    }
    // XP SP1 on: an empty string takes the current directory out of the search. The
    // program's folder stays first in it, so what system code will load by name is
    // loaded now from the system directory; a DLL this system lacks is passed over.
    if (calls.setDllDirectoryA != nullptr) calls.setDllDirectoryA("");
    for (const char* name : kPreloaded) calls.loadSystemLibrary(name);
}

}  // namespace telvio
