#include "system/PlatformCalls.h"

#include "system/SystemEntry.h"

namespace telvio {

PlatformCalls SystemPlatformCalls() {
    // Both modules are in every process on NT; 9x has no ntdll to ask.
    HMODULE kernel = GetModuleHandleA("kernel32.dll");
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return PlatformCalls{
        ::GetVersionExA,
        SystemEntry<LONG(WINAPI*)(OSVERSIONINFOW*)>(ntdll, "RtlGetVersion"),
        SystemEntry<BOOL(WINAPI*)(DWORD)>(kernel, "SetDefaultDllDirectories"),
        SystemEntry<BOOL(WINAPI*)(LPCSTR)>(kernel, "SetDllDirectoryA"),
        LoadSystemLibrary,
    };
}

PlatformCalls& Platform() {
    static PlatformCalls calls = SystemPlatformCalls();
    return calls;
}

WindowsVersion RealWindowsVersion() {
    const PlatformCalls& calls = Platform();
    WindowsVersion version;
    if (calls.rtlGetVersion != nullptr) {
        OSVERSIONINFOW real;
        ZeroMemory(&real, sizeof real);
        real.dwOSVersionInfoSize = sizeof real;
        if (calls.rtlGetVersion(&real) >= 0) {
            version.platformId = real.dwPlatformId;
            version.major = real.dwMajorVersion;
            version.minor = real.dwMinorVersion;
            return version;
        }
    }
    OSVERSIONINFOA info;
    ZeroMemory(&info, sizeof info);
    info.dwOSVersionInfoSize = sizeof info;  // 148
    if (calls.getVersionExA(&info)) {
        version.platformId = info.dwPlatformId;
        version.major = info.dwMajorVersion;
        version.minor = info.dwMinorVersion;
    }
    return version;
}

}  // namespace telvio
