// Unsigned numbers in the simulator's text files (the scenario and the record).
#pragma once

#include <cstdint>
#include <string>

namespace sim {

// The digits of `text` in `base` (10 or 16), no sign and no prefix; false for an empty
// text, a character that is not a digit, or a value above `max`.
inline bool ParseUnsigned(const std::string& text, int base, uint64_t max, uint64_t& value) {
    if (text.empty() || text.size() > 20) return false;
    uint64_t v = 0;
    for (char c : text) {
        int d;
        if (c >= '0' && c <= '9')
            d = c - '0';
        else if (base == 16 && c >= 'a' && c <= 'f')
            d = c - 'a' + 10;
        else if (base == 16 && c >= 'A' && c <= 'F')
            d = c - 'A' + 10;
        else
            return false;
        if (v > (max - uint64_t(d)) / uint64_t(base)) return false;
        v = v * uint64_t(base) + uint64_t(d);
    }
    value = v;
    return true;
}

}  // namespace sim
