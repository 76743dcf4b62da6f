// The peak resident memory of a stretch of this process, from Linux's high-water mark.
#pragma once

#include <malloc.h>

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
        // The first reading sets up stdio's own buffers; they are not the stretch's. Free
        // heap goes back first, so that no trim inside the stretch hides what it took.
        StatusKib("VmRSS");
        malloc_trim(0);
        if (FILE* f = std::fopen("/proc/self/clear_refs", "w")) {
            resetOk_ = std::fputs("5", f) >= 0;
            resetOk_ = (std::fclose(f) == 0) && resetOk_;
        }
        base_ = StatusKib("VmRSS");
    }
    // Notes what is resident now. The kernel keeps its high-water mark from counters it
    // sums only now and then, so a reading taken where the stretch holds the most keeps
    // the figure honest.
    void Sample() {
        const long rss = StatusKib("VmRSS");
        if (rss > sampled_) sampled_ = rss;
    }
    // KiB the stretch added at its peak; -1 when the system cannot tell.
    long PeakKib() const {
        const long hwm = StatusKib("VmHWM");
        if (!resetOk_ || hwm < 0 || base_ < 0) return -1;
        return (hwm > sampled_ ? hwm : sampled_) - base_;
    }

  private:
    bool resetOk_ = false;
    long base_ = -1;
    long sampled_ = -1;
};

}  // namespace benchimage
