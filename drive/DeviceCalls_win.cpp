#include "drive/DeviceCalls.h"

namespace telvio {

DeviceCalls SystemDeviceCalls() {
    return DeviceCalls{::CreateFileA, ::DeviceIoControl, ::CloseHandle, ::HeapAlloc, ::HeapFree};
}

DeviceCalls& Device() {
    static DeviceCalls calls = SystemDeviceCalls();
    return calls;
}

}  // namespace telvio
