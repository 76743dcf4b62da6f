// Calls newer than the oldest Windows the program loads on are looked up, never imported:
// an import the system lacks stops the program before it starts.
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

}  // namespace telvio
