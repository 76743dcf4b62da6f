#include "tests/win/drive/FakeDevice.h"

#include <cstring>

namespace telvio::test {
namespace {
FakeDevice* current = nullptr;
}

FakeDevice::FakeDevice() : saved_(Device()) {
    current = this;
    DeviceCalls calls = SystemDeviceCalls();
    calls.createFile = &FakeDevice::Create;
    calls.deviceIoControl = &FakeDevice::Control;
    calls.closeHandle = &FakeDevice::Close;
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
    if (p.size() == 6 && p.compare(0, 4, "\\\\.\\") == 0 && p[5] == ':' && d.letters_.count(p[4])) {
        HANDLE h = reinterpret_cast<HANDLE>(d.nextHandle_);
        d.nextHandle_ += 4;
        d.handleLetter_[h] = p[4];
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
