#include "drive/DeviceCalls.h"

#include "framework/SystemEntry.h"

namespace telvio {
namespace {

HMODULE SetupApi() {
    static const HMODULE module = LoadSystemLibrary("setupapi.dll");
    return module;
}

// Each entry is looked up once, at its first call.
template <typename Function>
Function SetupApiEntry(const char* name) {
    return SystemEntry<Function>(SetupApi(), name);
}

HDEVINFO WINAPI GetClassDevsLazily(const GUID* guid, PCSTR enumerator, HWND parent, DWORD flags) {
    using Call = HDEVINFO(WINAPI*)(const GUID*, PCSTR, HWND, DWORD);
    static const Call call = SetupApiEntry<Call>("SetupDiGetClassDevsA");
    if (call == nullptr) {
        SetLastError(ERROR_PROC_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    return call(guid, enumerator, parent, flags);
}

BOOL WINAPI EnumInterfacesLazily(HDEVINFO set, PSP_DEVINFO_DATA device, const GUID* guid,
                                 DWORD index, PSP_DEVICE_INTERFACE_DATA data) {
    using Call = BOOL(WINAPI*)(HDEVINFO, PSP_DEVINFO_DATA, const GUID*, DWORD,
                               PSP_DEVICE_INTERFACE_DATA);
    static const Call call = SetupApiEntry<Call>("SetupDiEnumDeviceInterfaces");
    if (call == nullptr) {
        SetLastError(ERROR_PROC_NOT_FOUND);
        return FALSE;
    }
    return call(set, device, guid, index, data);
}

BOOL WINAPI InterfaceDetailLazily(HDEVINFO set, PSP_DEVICE_INTERFACE_DATA data,
                                  PSP_DEVICE_INTERFACE_DETAIL_DATA_A detail, DWORD size,
                                  PDWORD required, PSP_DEVINFO_DATA device) {
    using Call = BOOL(WINAPI*)(HDEVINFO, PSP_DEVICE_INTERFACE_DATA,
                               PSP_DEVICE_INTERFACE_DETAIL_DATA_A, DWORD, PDWORD,
                               PSP_DEVINFO_DATA);
    static const Call call = SetupApiEntry<Call>("SetupDiGetDeviceInterfaceDetailA");
    if (call == nullptr) {
        SetLastError(ERROR_PROC_NOT_FOUND);
        return FALSE;
    }
    return call(set, data, detail, size, required, device);
}

BOOL WINAPI DestroyInfoListLazily(HDEVINFO set) {
    using Call = BOOL(WINAPI*)(HDEVINFO);
    static const Call call = SetupApiEntry<Call>("SetupDiDestroyDeviceInfoList");
    if (call == nullptr) {
        SetLastError(ERROR_PROC_NOT_FOUND);
        return FALSE;
    }
    return call(set);
}

BOOL WINAPI VolumeInformationLazily(LPCSTR root, LPSTR name, DWORD nameSize, LPDWORD serial,
                                    LPDWORD component, LPDWORD flags, LPSTR system,
                                    DWORD systemSize) {
    using Call = BOOL(WINAPI*)(LPCSTR, LPSTR, DWORD, LPDWORD, LPDWORD, LPDWORD, LPSTR, DWORD);
    static const Call call = SystemEntry<Call>("kernel32.dll", "GetVolumeInformationA");
    if (call == nullptr) {
        SetLastError(ERROR_PROC_NOT_FOUND);
        return FALSE;
    }
    return call(root, name, nameSize, serial, component, flags, system, systemSize);
}

}  // namespace

DeviceCalls SystemDeviceCalls() {
    return DeviceCalls{::CreateFileA,          ::DeviceIoControl,       ::CloseHandle,
                       ::HeapAlloc,            ::HeapFree,              GetClassDevsLazily,
                       EnumInterfacesLazily,   InterfaceDetailLazily,   DestroyInfoListLazily,
                       VolumeInformationLazily};
}

DeviceCalls& Device() {
    static DeviceCalls calls = SystemDeviceCalls();
    return calls;
}

}  // namespace telvio
