// Builds the replies a drive or the platform gives during discovery: standard INQUIRY
// data and the NT 4 SCSI_ADAPTER_BUS_INFO with its chains.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace telvio::test {

inline std::vector<uint8_t> Inquiry(uint8_t peripheral, const std::string& vendor,
                                    const std::string& product, const std::string& revision) {
    std::vector<uint8_t> d(36, ' ');
    d[0] = peripheral;
    d[1] = 0x80;
    d[2] = 0x00;
    d[3] = 0x32;
    d[4] = 31;
    d[5] = d[6] = d[7] = 0;
    std::memcpy(&d[8], vendor.data(), vendor.size() < 8 ? vendor.size() : 8);
    std::memcpy(&d[16], product.data(), product.size() < 16 ? product.size() : 16);
    std::memcpy(&d[32], revision.data(), revision.size() < 4 ? revision.size() : 4);
    return d;
}

// SCSI_ADAPTER_BUS_INFO in a 2048-byte buffer, entries placed where the test says.
class BusInfo {
public:
    explicit BusInfo(uint8_t buses) : bytes_(2048, 0) { bytes_[0] = buses; }

    void SetBusOffset(unsigned bus, uint32_t offset) { Put32(4 + bus * 8 + 4, offset); }

    // Writes an entry at `at`: path, target, lun, claimed, length, next, data.
    void Entry(uint32_t at, uint8_t path, uint8_t target, uint32_t next, const std::vector<uint8_t>& data,
               uint32_t lengthField = 0xFFFFFFFF) {
        bytes_[at] = path;
        bytes_[at + 1] = target;
        bytes_[at + 2] = 0;
        bytes_[at + 3] = 0;
        Put32(at + 4, lengthField == 0xFFFFFFFF ? uint32_t(data.size()) : lengthField);
        Put32(at + 8, next);
        for (size_t i = 0; i < data.size() && at + 12 + i < bytes_.size(); ++i) bytes_[at + 12 + i] = data[i];
    }

    std::vector<uint8_t>& Bytes() { return bytes_; }

    void Put32(size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i) bytes_[at + i] = uint8_t(v >> (8 * i));
    }

private:
    std::vector<uint8_t> bytes_;
};

}  // namespace telvio::test
