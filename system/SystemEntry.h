// Calls newer than the oldest Windows the program loads on are looked up, never imported:
// an import the system lacks stops the program before it starts. The DLLs the program
// loads itself come from the system directory by full path: it runs elevated from
// wherever it was unpacked, and a bare name would take a DLL lying beside it first.
#pragma once

#include <windows.h>

namespace telvio {

// `name` of `module` (a DLL the process has loaded), as `Function`; null where either is
// missing.
template <typename Function>
Function SystemEntry(HMODULE module, const char* name) {
    return module ? reinterpret_cast<Function>(
                        reinterpret_cast<void (*)()>(GetProcAddress(module, name)))
                  : nullptr;
}

template <typename Function>
Function SystemEntry(const char* loadedModule, const char* name) {
    return SystemEntry<Function>(GetModuleHandleA(loadedModule), name);
}

// The system's own copy of the DLL `name` (a file name such as "ole32.dll"), loaded from
// the system directory by its full path; null when it is not there or the path would not
// fit.
HMODULE LoadSystemLibrary(const char* name);

// Takes the program's folder and the current directory out of the search for the DLLs
// that system code loads on the program's behalf later on; where Windows cannot narrow
// the search that far (below 7 with its update, and Vista), loads those DLLs from the
// system directory first. Called once, before any window. On the real NT family only: 9x
// has no elevation, and its ASPI library is found by that search.
void NarrowDllSearch();

}  // namespace telvio
