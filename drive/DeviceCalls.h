// The Windows calls that reach a device, and the heap that pass-through transfer buffers
// come from. Production code goes through this table so a test can see the exact bytes of
// a request block (fields Wine translates before they reach a drive), hand back a crafted
// reply, or give out memory that still holds an earlier user's bytes. Tests restore it
// when done.
#pragma once

#include <windows.h>
#include <setupapi.h>

namespace telvio {

struct DeviceCalls {
    HANDLE(WINAPI* createFile)(LPCSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE);
    BOOL(WINAPI* deviceIoControl)(HANDLE, DWORD, LPVOID, DWORD, LPVOID, DWORD, LPDWORD,
                                  LPOVERLAPPED);
    BOOL(WINAPI* closeHandle)(HANDLE);
    LPVOID(WINAPI* heapAlloc)(HANDLE, DWORD, SIZE_T);
    BOOL(WINAPI* heapFree)(HANDLE, DWORD, LPVOID);
    // Finding a drive's CD-ROM device interface, and whether a file system can read the
    // disc in it. Looked up at the first call (setupapi from the system directory): the
    // oldest systems lack the interface calls, and an import would stop the program
    // there. A call the system lacks fails with ERROR_PROC_NOT_FOUND.
    HDEVINFO(WINAPI* setupDiGetClassDevsA)(const GUID*, PCSTR, HWND, DWORD);
    BOOL(WINAPI* setupDiEnumDeviceInterfaces)(HDEVINFO, PSP_DEVINFO_DATA, const GUID*, DWORD,
                                              PSP_DEVICE_INTERFACE_DATA);
    BOOL(WINAPI* setupDiGetDeviceInterfaceDetailA)(HDEVINFO, PSP_DEVICE_INTERFACE_DATA,
                                                   PSP_DEVICE_INTERFACE_DETAIL_DATA_A, DWORD,
                                                   PDWORD, PSP_DEVINFO_DATA);
    BOOL(WINAPI* setupDiDestroyDeviceInfoList)(HDEVINFO);
    BOOL(WINAPI* getVolumeInformationA)(LPCSTR, LPSTR, DWORD, LPDWORD, LPDWORD, LPDWORD, LPSTR,
                                        DWORD);
};

// The table in use; starts out with the system's own functions.
DeviceCalls& Device();

// The system's own functions, for a test to restore or to pass calls on to.
DeviceCalls SystemDeviceCalls();

}  // namespace telvio
