// Feeds arbitrary bytes to the reader of the NT 4 inquiry reply (ReadInquiryChains), as
// a buffer of exactly the input's size, so the sanitizer sees any read past it, and again
// inside the zeroed 2048 bytes that discovery hands the platform. The reader must keep
// every entry inside the buffer, list each place in it at most once, and end however
// the offsets point.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <set>
#include <vector>

#include "drive/InquiryChain.h"

namespace {

[[noreturn]] void Fail(const char* what) {
    std::fprintf(stderr, "invariant broken: %s\n", what);
    std::abort();
}

uint32_t ReadLe32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

void Check(const uint8_t* buffer, size_t size) {
    const std::vector<telvio::InquiryEntry> entries = telvio::ReadInquiryChains(buffer, size);
    if (size < 4 && !entries.empty()) Fail("entries from a buffer without a header");

    // Where each chain may start: the offsets of the buses the header holds.
    std::set<size_t> busStarts;
    if (size >= 4) {
        for (unsigned bus = 0; bus < buffer[0] && 4 + size_t(bus) * 8 + 8 <= size; ++bus) {
            busStarts.insert(ReadLe32(buffer + 4 + bus * 8 + 4));
        }
    }

    std::set<size_t> places;
    size_t previousNext = 0;
    for (size_t i = 0; i < entries.size(); ++i) {
        const telvio::InquiryEntry& e = entries[i];
        if (e.inquiry < buffer + telvio::kInquiryEntryHeader || e.inquiry > buffer + size)
            Fail("inquiry data outside the buffer");
        const size_t at = size_t(e.inquiry - buffer) - telvio::kInquiryEntryHeader;
        if (at == 0) Fail("an entry at offset 0, which ends a chain");
        if (e.available != size - at - telvio::kInquiryEntryHeader)
            Fail("available is not the rest of the buffer");
        if (e.pathId != buffer[at] || e.targetId != buffer[at + 1] || e.lun != buffer[at + 2])
            Fail("address not the entry's own bytes");
        if (!places.insert(at).second) Fail("one entry listed twice: a loop was followed");
        // Each entry is the head of a bus or the link of the entry before it.
        if (busStarts.count(at) == 0 && (i == 0 || previousNext != at))
            Fail("an entry nothing points at");
        previousNext = ReadLe32(buffer + at + 8);

        char text[25];
        telvio::CopyInquiryText(text, e.inquiry, e.available, 24);
        if (std::strlen(text) > 24 || std::strlen(text) > e.available)
            Fail("text longer than its source");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* input, size_t size) {
    // A heap block of the input's own size: one byte past it is a sanitizer report.
    std::unique_ptr<uint8_t[]> exact(new uint8_t[size == 0 ? 1 : size]);
    if (size != 0) std::memcpy(exact.get(), input, size);
    Check(exact.get(), size);

    // As discovery reads it: what the platform wrote, then zeros to 2048 bytes.
    constexpr size_t kReplySize = 2048;
    std::unique_ptr<uint8_t[]> reply(new uint8_t[kReplySize]());
    std::memcpy(reply.get(), input, size < kReplySize ? size : kReplySize);
    Check(reply.get(), kReplySize);
    return 0;
}
