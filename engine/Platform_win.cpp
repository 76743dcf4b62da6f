#include <windows.h>

#include "engine/Platform.h"

namespace telvio::platform {

namespace {

void* Allocate(size_t size) {
    return VirtualAlloc(nullptr, size, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
}

bool Lock(void* base, size_t size) {
    return VirtualLock(base, size) != FALSE;
}

// Fails harmlessly on a region that was never locked; nothing to report either way.
void Unlock(void* base, size_t size) {
    VirtualUnlock(base, size);
}

// MEM_RELEASE wants size 0: the whole reservation goes.
void Release(void* base, size_t) {
    VirtualFree(base, 0, MEM_RELEASE);
}

const ImageMemory systemMemory = {Allocate, Lock, Unlock, Release};

}  // namespace

const ImageMemory& SystemImageMemory() {
    return systemMemory;
}

void SystemSleep(uint32_t milliseconds) {
    ::Sleep(milliseconds);
}

int64_t FileLength(std::FILE* file) {
    if (_fseeki64(file, 0, SEEK_END) != 0) return -1;
    return _ftelli64(file);
}

}  // namespace telvio::platform
