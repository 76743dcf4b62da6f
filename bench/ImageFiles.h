// Writes the benchmark's images: one 1 MiB image as raw bytes, as HEX with bank-advance
// records, and as standard Intel-HEX with extended linear address records.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace benchimage {

constexpr size_t kImageSize = 0x100000;

// Deterministic, firmware-like bytes: code-like runs with stretches of 0xFF fill, and the
// simulated drive's product identification.
std::vector<uint8_t> MakeImage();

enum class HexFlavour {
    BankAdvance,     // type 55 before each further 0x10000 bytes, as the drive tools write it
    ExtendedLinear,  // type 04 records, as standard tools write it
};

// 16 data bytes per record, "\n" line ends.
std::string HexText(const std::vector<uint8_t>& image, HexFlavour flavour);

bool WriteFile(const std::string& path, const std::string& bytes);

}  // namespace benchimage
