// The peak resident memory of a stretch of this process, from Linux's high-water mark.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstring>

namespace benchimage {

inline long StatusKib(const char* field) {
    FILE* f = std::fopen("/proc/self/status", "r");
    if (f == nullptr) return -1;
    char line[256];
    long value = -1;
    const size_t n = std::strlen(field);
    while (std::fgets(line, sizeof line, f) != nullptr) {
        if (std::strncmp(line, field, n) == 0 && line[n] == ':') {
            std::sscanf(line + n + 1, "%ld", &value);
            break;
        }
    }
    std::fclose(f);
    return value;
}

// Starts a stretch: resets the high-water mark to what is resident now.
class PeakMeter {
  public:
    PeakMeter() {
        // The first reading sets up stdio's own buffers; they are not the stretch's.
        StatusKib("VmRSS");
        if (FILE* f = std::fopen("/proc/self/clear_refs", "w")) {
            resetOk_ = std::fputs("5", f) >= 0;
            resetOk_ = (std::fclose(f) == 0) && resetOk_;
        }
        base_ = StatusKib("VmRSS");
    }
    // KiB the stretch added at its peak; -1 when the system cannot tell.
    long PeakKib() const {
        const long hwm = StatusKib("VmHWM");
        if (!resetOk_ || hwm < 0 || base_ < 0) return -1;
        return hwm - base_;
    }

  private:
    bool resetOk_ = false;
    long base_ = -1;
};

}  // namespace benchimage
