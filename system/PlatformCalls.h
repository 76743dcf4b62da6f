// Which Windows the program runs on, and the calls that narrow its DLL search at start-up.
// A compatibility mode of "Windows 95" or "Windows 98 / Me" makes GetVersionExA and
// GetVersion report the 9x family on NT, yet the program is still elevated there: the
// transport, the DLL search and the drive hold follow the real family, which ntdll's
// RtlGetVersion tells (the layers leave it alone). Production code goes through one table
// so a test can give any system's answers and see which calls a start-up makes without
// making them. Tests restore it when done.
#pragma once

#include <windows.h>

namespace telvio {

struct WindowsVersion {
    DWORD platformId = 0;  // VER_PLATFORM_WIN32_NT, VER_PLATFORM_WIN32_WINDOWS, ...
    DWORD major = 0;
    DWORD minor = 0;
};

struct PlatformCalls {
    BOOL(WINAPI* getVersionExA)(OSVERSIONINFOA*);
    // ntdll's RtlGetVersion, an NTSTATUS; null where ntdll lacks it (9x, NT 4).
    LONG(WINAPI* rtlGetVersion)(OSVERSIONINFOW*);
    // Null where kernel32 lacks them: SetDefaultDllDirectories below Windows 8 without
    // the update that adds it, SetDllDirectoryA below XP SP1.
    BOOL(WINAPI* setDefaultDllDirectories)(DWORD);
    BOOL(WINAPI* setDllDirectoryA)(LPCSTR);
    HMODULE (*loadSystemLibrary)(const char* name);
};

// The table in use; starts out with the system's own functions.
PlatformCalls& Platform();

// The system's own functions (those it lacks as null), for a test to restore.
PlatformCalls SystemPlatformCalls();

// The real family and version: RtlGetVersion's answer where ntdll has it, GetVersionExA's
// elsewhere; all zero when neither answers.
WindowsVersion RealWindowsVersion();

}  // namespace telvio
