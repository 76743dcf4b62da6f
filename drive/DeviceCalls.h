// The three Windows calls that reach a device. Production code goes through this table so
// a test can see the exact bytes of a request block (fields Wine translates before they
// reach a drive) or hand back a crafted reply. Tests restore it when done.
#pragma once

#include <windows.h>

namespace telvio {

struct DeviceCalls {
    HANDLE(WINAPI* createFile)(LPCSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE);
    BOOL(WINAPI* deviceIoControl)(HANDLE, DWORD, LPVOID, DWORD, LPVOID, DWORD, LPDWORD,
                                  LPOVERLAPPED);
    BOOL(WINAPI* closeHandle)(HANDLE);
};

// The table in use; starts out with the system's own functions.
DeviceCalls& Device();

// The system's own functions, for a test to restore or to pass calls on to.
DeviceCalls SystemDeviceCalls();

}  // namespace telvio
