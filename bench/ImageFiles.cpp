#include "bench/ImageFiles.h"

#include <cstdio>
#include <cstring>

namespace benchimage {

std::vector<uint8_t> MakeImage() {
    std::vector<uint8_t> image(kImageSize);
    uint32_t x = 0x2545F491u;
    for (size_t i = 0; i < image.size(); ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        // One 4 KiB page in eight is erased flash.
        image[i] = (i / 4096) % 8 == 7 ? 0xFF : static_cast<uint8_t>(x >> 24);
    }
    // A drive's firmware names its drive: the simulated drive's product identification.
    static const char kProduct[] = "SIM DVD-RW";
    std::memcpy(image.data() + 0x40, kProduct, sizeof kProduct - 1);
    return image;
}

namespace {

const char kDigits[] = "0123456789ABCDEF";

void AppendRecord(std::string& out, uint8_t type, uint16_t address, const uint8_t* data,
                  uint8_t count) {
    uint8_t sum = static_cast<uint8_t>(count + (address >> 8) + (address & 0xFF) + type);
    auto put = [&out](uint8_t b) {
        out += kDigits[b >> 4];
        out += kDigits[b & 15];
    };
    out += ':';
    put(count);
    put(static_cast<uint8_t>(address >> 8));
    put(static_cast<uint8_t>(address));
    put(type);
    for (uint8_t i = 0; i < count; ++i) {
        put(data[i]);
        sum = static_cast<uint8_t>(sum + data[i]);
    }
    put(static_cast<uint8_t>(0x100 - sum));
    out += '\n';
}

}  // namespace

std::string HexText(const std::vector<uint8_t>& image, HexFlavour flavour) {
    std::string out;
    out.reserve(image.size() * 45 / 16 + 1024);
    for (size_t at = 0; at < image.size(); at += 16) {
        if (at % 0x10000 == 0 && at != 0) {
            if (flavour == HexFlavour::BankAdvance) {
                AppendRecord(out, 0x55, 0, nullptr, 0);
            } else {
                const uint8_t upper[2] = {static_cast<uint8_t>(at >> 24),
                                          static_cast<uint8_t>(at >> 16)};
                AppendRecord(out, 0x04, 0, upper, 2);
            }
        }
        const size_t count = image.size() - at < 16 ? image.size() - at : 16;
        AppendRecord(out, 0x00, static_cast<uint16_t>(at & 0xFFFF), image.data() + at,
                     static_cast<uint8_t>(count));
    }
    AppendRecord(out, 0x01, 0, nullptr, 0);
    return out;
}

bool WriteFile(const std::string& path, const std::string& bytes) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) return false;
    const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return std::fclose(f) == 0 && ok;
}

}  // namespace benchimage
