// The NT 4 inquiry reply reader on malformed input, natively under ASan: every read must
// stay inside the buffer it was given, however the offsets point.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "drive/InquiryChain.h"

namespace telvio {
namespace {

void Put32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = uint8_t(v >> (8 * i));
}

TEST(InquiryChain, ReadsBusesAndChainsInOrder) {
    std::vector<uint8_t> b(256, 0);
    b[0] = 2;
    Put32(b, 4 + 4, 40);
    Put32(b, 12 + 4, 120);
    b[40] = 1; b[41] = 2; b[42] = 3; Put32(b, 44, 36); Put32(b, 48, 80);
    b[80] = 1; b[81] = 4; Put32(b, 84, 36); Put32(b, 88, 0);
    b[120] = 7; b[121] = 9; Put32(b, 124, 36); Put32(b, 128, 0);
    const auto entries = ReadInquiryChains(b.data(), b.size());
    ASSERT_EQ(3u, entries.size());
    EXPECT_EQ(2, entries[0].targetId);
    EXPECT_EQ(3, entries[0].lun);
    EXPECT_EQ(b.data() + 52, entries[0].inquiry);
    EXPECT_EQ(256u - 52, entries[0].available) << "bounded by the buffer, not the entry's length";
    EXPECT_EQ(4, entries[1].targetId);
    EXPECT_EQ(7, entries[2].pathId);
}

TEST(InquiryChain, DataIsCutAtTheBufferEnd) {
    // The buffer is exactly as large as its bytes, so ASan sees any read past it.
    std::vector<uint8_t> b(64, 0);
    b[0] = 1;
    Put32(b, 8, 40);
    Put32(b, 44, 0xFFFFFFFF);
    const auto entries = ReadInquiryChains(b.data(), b.size());
    ASSERT_EQ(1u, entries.size());
    EXPECT_EQ(64u - 40 - 12, entries[0].available);
}

TEST(InquiryChain, TinyAndNullBuffers) {
    EXPECT_TRUE(ReadInquiryChains(nullptr, 2048).empty());
    const uint8_t one[1] = {5};
    EXPECT_TRUE(ReadInquiryChains(one, sizeof one).empty());
    const uint8_t four[4] = {1, 0, 0, 0};  // one bus whose record lies past the end
    EXPECT_TRUE(ReadInquiryChains(four, sizeof four).empty());
}

TEST(InquiryChain, RandomBuffersNeverReadOutside) {
    std::mt19937 rng(12345);
    for (int round = 0; round < 2000; ++round) {
        const size_t size = 4 + rng() % 300;
        std::vector<uint8_t> b(size);
        for (auto& x : b) x = uint8_t(rng());
        // Offsets that land inside the buffer more often than chance would.
        for (size_t at = 8; at + 4 <= size; at += 4) {
            if (rng() % 3 == 0) Put32(b, at, rng() % (size + 16));
        }
        const auto entries = ReadInquiryChains(b.data(), b.size());
        EXPECT_LE(entries.size(), size);
        for (const auto& e : entries) {
            ASSERT_GE(e.inquiry, b.data() + kInquiryEntryHeader);
            ASSERT_EQ(e.inquiry + e.available, b.data() + size);
            volatile uint8_t sink = 0;
            for (uint32_t i = 0; i < e.available; ++i) sink = sink + e.inquiry[i];
        }
    }
}

TEST(InquiryChain, CopyTextStopsAtNulCountAndAvailable) {
    char out[32];
    const uint8_t text[] = {'A', 'B', 'C', ' ', ' ', 0, 'X'};
    CopyInquiryText(out, text, sizeof text, 24);
    EXPECT_STREQ("ABC  ", out);
    CopyInquiryText(out, text, sizeof text, 2);
    EXPECT_STREQ("AB", out);
    CopyInquiryText(out, text, 3, 24);
    EXPECT_STREQ("ABC", out);
    CopyInquiryText(out, text, 0, 24);
    EXPECT_STREQ("", out);
}

}  // namespace
}  // namespace telvio
