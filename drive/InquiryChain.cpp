#include "drive/InquiryChain.h"

#include <cstring>

#include "drive/ShownText.h"

namespace telvio {
namespace {

uint32_t ReadLe32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

}  // namespace

std::vector<InquiryEntry> ReadInquiryChains(const uint8_t* buffer, size_t size) {
    std::vector<InquiryEntry> entries;
    if (buffer == nullptr || size < 4) return entries;
    // One mark per byte offset: an entry reached twice (a chain that loops, or two
    // buses that share entries) is listed once and ends the chain that came back to it.
    std::vector<bool> seen(size, false);
    const unsigned buses = buffer[0];
    for (unsigned bus = 0; bus < buses; ++bus) {
        const size_t busAt = 4 + size_t(bus) * 8;
        if (busAt + 8 > size) break;
        uint32_t offset = ReadLe32(buffer + busAt + 4);
        while (offset != 0) {
            if (offset > size || size - offset < kInquiryEntryHeader || seen[offset]) break;
            seen[offset] = true;
            const uint8_t* e = buffer + offset;
            InquiryEntry entry;
            entry.pathId = e[0];
            entry.targetId = e[1];
            entry.lun = e[2];
            entry.inquiry = e + kInquiryEntryHeader;
            entry.available = uint32_t(size - offset - kInquiryEntryHeader);
            entries.push_back(entry);
            offset = ReadLe32(e + 8);
        }
    }
    return entries;
}

void CopyInquiryText(char* dst, const uint8_t* src, size_t available, size_t count) {
    size_t i = 0;
    for (; i < count && i < available && src[i] != 0; ++i) dst[i] = char(src[i]);
    dst[i] = '\0';
}

void CopyInquiryField(char* dst, const uint8_t* reply, size_t returned, size_t offset,
                      size_t count) {
    auto byteAt = [&](size_t i) -> uint8_t {
        return offset + i < returned ? reply[offset + i] : uint8_t(' ');
    };
    size_t text = 0;  // the field's bytes up to its last one that is neither blank nor NUL
    for (size_t i = 0; i < count; ++i) {
        if (byteAt(i) != ' ' && byteAt(i) != 0) text = i + 1;
    }
    size_t n = 0;
    for (; n < count; ++n) {
        const uint8_t c = byteAt(n);
        if (c == 0 && n < text) break;
        dst[n] = c == 0 ? ' ' : char(c);
    }
    dst[n] = '\0';
}

void ReadInquiryNames(const uint8_t* reply, size_t returned, InquiryNames& names) {
    char vendor[9];
    CopyInquiryField(vendor, reply, returned, 8, 8);
    CopyInquiryField(names.product, reply, returned, 16, 16);
    CopyInquiryField(names.revision, reply, returned, 32, 4);
    // Both fields as one text, which a NUL inside the vendor ends.
    const size_t vendorLength = std::strlen(vendor);
    std::memcpy(names.identification, vendor, vendorLength);
    size_t productLength = vendorLength == 8 ? std::strlen(names.product) : 0;
    std::memcpy(names.identification + vendorLength, names.product, productLength);
    names.identification[vendorLength + productLength] = '\0';
    CopyShownText(names.name, names.identification, sizeof names.name);
}

}  // namespace telvio
