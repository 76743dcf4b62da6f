#include <sys/mman.h>
#include <sys/types.h>
#include <time.h>

#include <cerrno>

#include "engine/Platform.h"

namespace telvio::platform {

namespace {

// Committed memory, as on Windows: the pages are made present in one call rather than one
// fault at a time.
void* Allocate(size_t size) {
    int flags = MAP_PRIVATE | MAP_ANONYMOUS;
#ifdef MAP_POPULATE
    flags |= MAP_POPULATE;
#endif
    void* base = mmap(nullptr, size, PROT_READ | PROT_WRITE, flags, -1, 0);
    return base == MAP_FAILED ? nullptr : base;
}

bool Lock(void* base, size_t size) {
    return mlock(base, size) == 0;
}

void Unlock(void* base, size_t size) {
    munlock(base, size);
}

void Release(void* base, size_t size) {
    munmap(base, size);
}

const ImageMemory systemMemory = {Allocate, Lock, Unlock, Release};

}  // namespace

const ImageMemory& SystemImageMemory() {
    return systemMemory;
}

void SystemSleep(uint32_t milliseconds) {
    timespec wait{static_cast<time_t>(milliseconds / 1000),
                  static_cast<long>(milliseconds % 1000) * 1000000L};
    while (nanosleep(&wait, &wait) != 0 && errno == EINTR) {
    }
}

int64_t FileLength(std::FILE* file) {
    if (fseeko(file, 0, SEEK_END) != 0) return -1;
    return static_cast<int64_t>(ftello(file));
}

}  // namespace telvio::platform
