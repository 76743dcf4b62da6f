#include "engine/Platform.h"

namespace telvio::platform {

namespace {
const ImageMemory* installedMemory = nullptr;
Sleeper installedSleeper = nullptr;
}  // namespace

const ImageMemory* SetImageMemory(const ImageMemory* memory) {
    const ImageMemory* previous = installedMemory;
    installedMemory = memory;
    return previous;
}

Sleeper SetSleeper(Sleeper sleeper) {
    Sleeper previous = installedSleeper;
    installedSleeper = sleeper;
    return previous;
}

const ImageMemory& CurrentImageMemory() {
    return installedMemory != nullptr ? *installedMemory : SystemImageMemory();
}

void SleepFor(uint32_t milliseconds) {
    if (installedSleeper != nullptr) {
        installedSleeper(milliseconds);
    } else {
        SystemSleep(milliseconds);
    }
}

}  // namespace telvio::platform
