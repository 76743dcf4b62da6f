#include "drive/DeviceCalls.h"

#include <type_traits>

#include "system/SystemEntry.h"

namespace telvio {
namespace {

HMODULE SetupApi() {
    static const HMODULE module = LoadSystemLibrary("setupapi.dll");
    return module;
}

HMODULE Kernel32() {
    return GetModuleHandleA("kernel32.dll");
}

// `Name` of `Module`, looked up at its first call; where the system lacks it, the call
// fails as the system's own calls fail.
template <HMODULE (*Module)(), const char* Name, typename Result, typename... Args>
Result WINAPI LookedUp(Args... args) {
    using Call = Result(WINAPI*)(Args...);
    static const Call call = SystemEntry<Call>(Module(), Name);
    if (call != nullptr) return call(args...);
    SetLastError(ERROR_PROC_NOT_FOUND);
    if constexpr (std::is_same_v<Result, BOOL>) {
        return FALSE;
    } else {
        return INVALID_HANDLE_VALUE;
    }
}

constexpr char kGetClassDevs[] = "SetupDiGetClassDevsA";
constexpr char kEnumInterfaces[] = "SetupDiEnumDeviceInterfaces";
constexpr char kInterfaceDetail[] = "SetupDiGetDeviceInterfaceDetailA";
constexpr char kDestroyList[] = "SetupDiDestroyDeviceInfoList";
constexpr char kVolumeInformation[] = "GetVolumeInformationA";

}  // namespace

DeviceCalls SystemDeviceCalls() {
    DeviceCalls calls{};
    calls.createFile = ::CreateFileA;
    calls.deviceIoControl = ::DeviceIoControl;
    calls.closeHandle = ::CloseHandle;
    calls.heapAlloc = ::HeapAlloc;
    calls.heapFree = ::HeapFree;
    calls.setupDiGetClassDevsA =
        LookedUp<SetupApi, kGetClassDevs, HDEVINFO, const GUID*, PCSTR, HWND, DWORD>;
    calls.setupDiEnumDeviceInterfaces =
        LookedUp<SetupApi, kEnumInterfaces, BOOL, HDEVINFO, PSP_DEVINFO_DATA, const GUID*, DWORD,
                 PSP_DEVICE_INTERFACE_DATA>;
    calls.setupDiGetDeviceInterfaceDetailA =
        LookedUp<SetupApi, kInterfaceDetail, BOOL, HDEVINFO, PSP_DEVICE_INTERFACE_DATA,
                 PSP_DEVICE_INTERFACE_DETAIL_DATA_A, DWORD, PDWORD, PSP_DEVINFO_DATA>;
    calls.setupDiDestroyDeviceInfoList = LookedUp<SetupApi, kDestroyList, BOOL, HDEVINFO>;
    calls.getVolumeInformationA = LookedUp<Kernel32, kVolumeInformation, BOOL, LPCSTR, LPSTR, DWORD,
                                           LPDWORD, LPDWORD, LPDWORD, LPSTR, DWORD>;
    return calls;
}

DeviceCalls& Device() {
    static DeviceCalls calls = SystemDeviceCalls();
    return calls;
}

}  // namespace telvio
