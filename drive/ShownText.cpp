#include "drive/ShownText.h"

#include <cstring>

namespace telvio {

void CopyTrimmedField(char* dst, const char* field, size_t size) {
    size_t n = 0;
    while (n + 1 < size && field[n] != '\0') ++n;
    while (n > 0 && field[n - 1] == ' ') --n;
    std::memmove(dst, field, n);
    dst[n] = '\0';
}

void CopyShownText(char* dst, const char* src, size_t size) {
    size_t n = 0;
    for (; n + 1 < size && src[n] != '\0'; ++n) {
        const unsigned char c = static_cast<unsigned char>(src[n]);
        dst[n] = c < 0x20 || c > 0x7E ? '?' : char(c);
    }
    dst[n] = '\0';
}

}  // namespace telvio
