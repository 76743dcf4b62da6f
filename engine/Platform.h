// The few operating-system services the engine needs, behind one seam: the image
// buffer's memory and the fixed waits. Windows and POSIX each implement the System*
// functions; tests swap in recorders so no test sleeps or depends on locked memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace telvio::platform {

// Committed read-write memory for the image buffer, in one piece.
struct ImageMemory {
    void* (*Allocate)(size_t size);  // null when the system refuses
    bool (*Lock)(void* base, size_t size);
    void (*Unlock)(void* base, size_t size);
    void (*Release)(void* base, size_t size);
};

using Sleeper = void (*)(uint32_t milliseconds);

// The system's implementations (Platform_win.cpp or Platform_posix.cpp).
const ImageMemory& SystemImageMemory();
void SystemSleep(uint32_t milliseconds);

// The engine goes through these; a null argument restores the system's own. Both
// return what was installed before, so a test can put it back.
const ImageMemory* SetImageMemory(const ImageMemory* memory);
Sleeper SetSleeper(Sleeper sleeper);

const ImageMemory& CurrentImageMemory();
void SleepFor(uint32_t milliseconds);

// Length of an open file in bytes, or -1 when it cannot be measured. Leaves the
// position at the end of the file.
int64_t FileLength(std::FILE* file);

}  // namespace telvio::platform
