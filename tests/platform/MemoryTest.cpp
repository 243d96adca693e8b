#include "platform/Memory.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace lumora::platform {
namespace {

std::vector<unsigned char> Pattern(size_t bytes) {
    std::vector<unsigned char> v(bytes);
    uint32_t x = 12345;
    for (auto& b : v) {
        x = x * 1103515245u + 12345u;
        b = static_cast<unsigned char>(x >> 24);
    }
    return v;
}

// The streaming copy has a head up to an aligned target, a body of 64-byte blocks and a tail:
// every split of those, at every misalignment of either side, must give memcpy's bytes and touch
// nothing around the target.
TEST(CopyBypassingCache, MatchesMemcpyAtEveryAlignmentAndLength) {
    const std::vector<unsigned char> source = Pattern(5000);
    for (size_t length : {size_t{0}, size_t{1}, size_t{15}, size_t{63}, size_t{64}, size_t{79},
                          size_t{80}, size_t{127}, size_t{128}, size_t{1000}, size_t{4093}}) {
        for (size_t from = 0; from < 17; ++from) {
            for (size_t to = 0; to < 17; ++to) {
                std::vector<unsigned char> target(length + 40, 0xA5);
                CopyBypassingCache(target.data() + 20 + to, source.data() + from, length);
                for (size_t i = 0; i < target.size(); ++i) {
                    const bool inside = i >= 20 + to && i < 20 + to + length;
                    const unsigned char want = inside ? source[from + i - 20 - to] : 0xA5;
                    ASSERT_EQ(target[i], want) << "length " << length << " from " << from
                                               << " to " << to << " at " << i;
                }
            }
        }
    }
}

TEST(CopyBypassingCache, RowsTurnedUpsideDownLandBackToBack) {
    constexpr size_t kRowBytes = 2560 * 2 + 6;  // rows that leave the target unaligned
    constexpr size_t kRows = 37;
    const std::vector<unsigned char> source = Pattern(kRowBytes * kRows);
    std::vector<unsigned char> target(kRowBytes * kRows + 2, 0);
    CopyRowsBypassingCache(target.data() + 1, source.data() + kRowBytes * (kRows - 1),
                           -static_cast<ptrdiff_t>(kRowBytes), kRowBytes, kRows);
    for (size_t row = 0; row < kRows; ++row) {
        ASSERT_TRUE(std::equal(source.begin() + static_cast<ptrdiff_t>(kRowBytes * row),
                               source.begin() + static_cast<ptrdiff_t>(kRowBytes * (row + 1)),
                               target.begin() + 1 +
                                   static_cast<ptrdiff_t>(kRowBytes * (kRows - 1 - row))))
            << "row " << row;
    }
    EXPECT_EQ(target.front(), 0);
    EXPECT_EQ(target.back(), 0);

    // Forward rows with a gap between them in the source.
    std::vector<unsigned char> packed(100 * 3);
    CopyRowsBypassingCache(packed.data(), source.data(), 150, 100, 3);
    for (size_t row = 0; row < 3; ++row) {
        EXPECT_TRUE(std::equal(packed.begin() + static_cast<ptrdiff_t>(100 * row),
                               packed.begin() + static_cast<ptrdiff_t>(100 * (row + 1)),
                               source.begin() + static_cast<ptrdiff_t>(150 * row)));
    }
}

}  // namespace
}  // namespace lumora::platform
