#include "tests/win/drive/FakeDevice.h"

#include <cstddef>
#include <cstring>

namespace telvio::test {
namespace {
FakeDevice* current = nullptr;

const GUID kCdromInterface = {
    0x53F56308, 0xB6BF, 0x11D0, {0x94, 0xF2, 0x00, 0xA0, 0xC9, 0x1E, 0xFB, 0x8B}};
const HDEVINFO kList = reinterpret_cast<HDEVINFO>(0x7000);

BOOL Fail(DWORD error) {
    SetLastError(error);
    return FALSE;
}

HDEVINFO WINAPI ClassDevs(const GUID* guid, PCSTR enumerator, HWND, DWORD flags) {
    if (!IsEqualGUID(*guid, kCdromInterface) || enumerator ||
        flags != (DIGCF_PRESENT | DIGCF_DEVICEINTERFACE)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    ++current->openLists;
    return kList;
}

BOOL WINAPI EnumInterfaces(HDEVINFO list, PSP_DEVINFO_DATA, const GUID* guid, DWORD index,
                           PSP_DEVICE_INTERFACE_DATA data) {
    if (list != kList || !IsEqualGUID(*guid, kCdromInterface) || data->cbSize != sizeof *data)
        return Fail(ERROR_INVALID_PARAMETER);
    if (index >= current->interfaces.size()) return Fail(ERROR_NO_MORE_ITEMS);
    data->Reserved = index + 1;
    return TRUE;
}

BOOL WINAPI InterfaceDetail(HDEVINFO, PSP_DEVICE_INTERFACE_DATA data,
                            PSP_DEVICE_INTERFACE_DETAIL_DATA_A detail, DWORD size, PDWORD required,
                            PSP_DEVINFO_DATA) {
    const std::string& path = current->interfaces.at(data->Reserved - 1);
    const DWORD needed =
        DWORD(offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath) + path.size() + 1);
    if (required) *required = needed;
    if (detail == nullptr || size < needed) return Fail(ERROR_INSUFFICIENT_BUFFER);
    if (detail->cbSize != sizeof *detail) return Fail(ERROR_INVALID_USER_BUFFER);
    std::memcpy(detail->DevicePath, path.c_str(), path.size() + 1);
    return TRUE;
}

BOOL WINAPI DestroyList(HDEVINFO list) {
    return list == kList && current->openLists-- > 0;
}

BOOL WINAPI VolumeInformation(LPCSTR root, LPSTR, DWORD, LPDWORD, LPDWORD, LPDWORD, LPSTR, DWORD) {
    current->volumeRoots.push_back(root);
    return current->volumeReadable ? TRUE : Fail(ERROR_UNRECOGNIZED_VOLUME);
}
}  // namespace

FakeDevice::FakeDevice() : saved_(Device()) {
    current = this;
    DeviceCalls calls = SystemDeviceCalls();
    calls.createFile = &FakeDevice::Create;
    calls.deviceIoControl = &FakeDevice::Control;
    calls.closeHandle = &FakeDevice::Close;
    calls.setupDiGetClassDevsA = &ClassDevs;
    calls.setupDiEnumDeviceInterfaces = &EnumInterfaces;
    calls.setupDiGetDeviceInterfaceDetailA = &InterfaceDetail;
    calls.setupDiDestroyDeviceInfoList = &DestroyList;
    calls.getVolumeInformationA = &VolumeInformation;
    Device() = calls;
}

FakeDevice::~FakeDevice() {
    Device() = saved_;
    current = nullptr;
}

char FakeDevice::LetterOf(HANDLE h) const {
    auto it = handleLetter_.find(h);
    return it == handleLetter_.end() ? 0 : it->second;
}

HANDLE FakeDevice::HandleFor(char letter) const {
    HANDLE found = INVALID_HANDLE_VALUE;
    for (HANDLE h : handles) {
        if (LetterOf(h) == letter) found = h;
    }
    return found;
}

HANDLE WINAPI FakeDevice::Create(LPCSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES,
                                 DWORD disposition, DWORD flags, HANDLE) {
    FakeDevice& d = *current;
    d.opened.push_back(path);
    d.lastAccess = access;
    d.lastShare = share;
    d.lastDisposition = disposition;
    d.lastFlags = flags;
    const std::string p = path;
    const bool letter =
        p.size() == 6 && p.compare(0, 4, "\\\\.\\") == 0 && p[5] == ':' && d.letters_.count(p[4]);
    if (letter || d.paths_.count(p)) {
        HANDLE h = reinterpret_cast<HANDLE>(d.nextHandle_);
        d.nextHandle_ += 4;
        d.handleLetter_[h] = letter ? p[4] : d.paths_[p];
        d.opens[h] = {p, access};
        d.handles.push_back(h);
        d.steps.push_back({'o', h, access});
        return h;
    }
    SetLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
}

BOOL WINAPI FakeDevice::Control(HANDLE h, DWORD code, LPVOID in, DWORD inSize, LPVOID out,
                                DWORD outSize, LPDWORD returned, LPOVERLAPPED) {
    FakeDevice& d = *current;
    IoCall call{h, code, inSize, outSize, in != nullptr && in == out, {}};
    if (in != nullptr && inSize) {
        const uint8_t* b = static_cast<const uint8_t*>(in);
        call.inBytes.assign(b, b + inSize);
    }
    d.calls.push_back(call);
    d.steps.push_back({'i', h, code});
    if (returned) *returned = 0;
    if (d.LetterOf(h) == 0) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    auto it = d.handlers_.find(code);
    if (it == d.handlers_.end()) {
        SetLastError(ERROR_INVALID_FUNCTION);
        return FALSE;
    }
    const BOOL ok = it->second(call, out, outSize);
    if (ok && returned) *returned = outSize;
    return ok;
}

BOOL WINAPI FakeDevice::Close(HANDLE h) {
    current->closes[h]++;
    current->steps.push_back({'c', h, 0});
    return TRUE;
}

}  // namespace telvio::test
