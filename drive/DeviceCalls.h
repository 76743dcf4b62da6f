// The Windows calls that reach a device, and the heap that pass-through transfer buffers
// come from. Production code goes through this table so a test can see the exact bytes of
// a request block (fields Wine translates before they reach a drive), hand back a crafted
// reply, or give out memory that still holds an earlier user's bytes. Tests restore it
// when done.
#pragma once

#include <windows.h>

namespace telvio {

struct DeviceCalls {
    HANDLE(WINAPI* createFile)(LPCSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE);
    BOOL(WINAPI* deviceIoControl)(HANDLE, DWORD, LPVOID, DWORD, LPVOID, DWORD, LPDWORD,
                                  LPOVERLAPPED);
    BOOL(WINAPI* closeHandle)(HANDLE);
    LPVOID(WINAPI* heapAlloc)(HANDLE, DWORD, SIZE_T);
    BOOL(WINAPI* heapFree)(HANDLE, DWORD, LPVOID);
};

// The table in use; starts out with the system's own functions.
DeviceCalls& Device();

// The system's own functions, for a test to restore or to pass calls on to.
DeviceCalls SystemDeviceCalls();

}  // namespace telvio
