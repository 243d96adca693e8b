// Every instruction-set variant of the depth reductions, the gray-to-colour expansion and the
// row reversal of the mirror, against the portable code and the plain rule: every sample value
// and shift, any row length and alignment, nothing written outside the row.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "ImageTestUtil.h"
#include "imaging/RawFrame.h"
#include "imaging/SampleRows.h"

namespace lumora {
namespace {

using test::Mono;
using test::TestRandom;

TEST(SampleRowKernels, EveryLevelReducesEveryWordAtEveryShift) {
    std::vector<uint16_t> words(65536 + 77);
    for (size_t i = 0; i < words.size(); ++i) words[i] = static_cast<uint16_t>(i * 40503u);
    for (size_t i = 0; i < 65536; ++i) words[i] = static_cast<uint16_t>(i);
    const int n = static_cast<int>(words.size());
    for (SimdLevel level : test::SimdLevels()) {
        const SampleRowKernels k = SampleRowKernelsFor(level);
        for (int shift = 0; shift <= 8; ++shift) {
            std::vector<uint8_t> top(words.size());
            std::vector<uint8_t> low(words.size());
            // One byte in, so no store is aligned.
            k.topBytes(top.data(), words.data(), n, shift);
            k.lowBytes(low.data(), words.data(), n, shift);
            for (size_t i = 0; i < words.size(); ++i) {
                const unsigned shifted = words[i] >> shift;
                ASSERT_EQ(top[i], std::min(shifted, 255u))
                    << SimdLevelName(level) << " shift " << shift << " word " << words[i];
                ASSERT_EQ(low[i], shifted & 0xFF)
                    << SimdLevelName(level) << " shift " << shift << " word " << words[i];
            }
        }
    }
}

TEST(SampleRowKernels, EveryLevelStaysInsideRowsOfAnyLengthAndOffset) {
    TestRandom random(51);
    for (SimdLevel level : test::SimdLevels()) {
        const SampleRowKernels k = SampleRowKernelsFor(level);
        for (int offset = 0; offset < 3; ++offset) {
            for (int n = 0; n <= 150; ++n) {
                std::vector<uint16_t> in(static_cast<size_t>(n + offset));
                std::vector<uint8_t> gray(static_cast<size_t>(n + offset));
                for (auto& v : in) v = static_cast<uint16_t>(random.Next());
                for (auto& v : gray) v = static_cast<uint8_t>(random.Next());
                std::vector<uint8_t> top(static_cast<size_t>(n + 2 * offset + 64), 0xC3);
                std::vector<uint8_t> bgr(static_cast<size_t>(3 * n + 2 * offset + 64), 0xC3);
                k.topBytes(top.data() + offset, in.data() + offset, n, 4);
                k.grayToBgr(bgr.data() + offset, gray.data() + offset, n);
                for (int i = 0; i < static_cast<int>(top.size()); ++i) {
                    const int at = i - offset;
                    const int expected =
                        at >= 0 && at < n ? std::min(in[static_cast<size_t>(i)] >> 4, 255) : 0xC3;
                    ASSERT_EQ(top[static_cast<size_t>(i)], expected) << SimdLevelName(level);
                }
                for (int i = 0; i < static_cast<int>(bgr.size()); ++i) {
                    const int at = i - offset;
                    const int expected =
                        at >= 0 && at < 3 * n ? gray[static_cast<size_t>(offset + at / 3)] : 0xC3;
                    ASSERT_EQ(bgr[static_cast<size_t>(i)], expected)
                        << SimdLevelName(level) << " n " << n;
                }
            }
        }
    }
}

// The streamed kernels write plainly up to a cache line boundary and stream from there: every
// start within a line, rows shorter and longer than the plain head, any sample value.
TEST(SampleRowKernels, StreamedKernelsGiveThePlainResultsFromEveryStartInALine) {
    TestRandom random(53);
    for (SimdLevel level : test::SimdLevels()) {
        const SampleRowKernels k = SampleRowKernelsFor(level);
        for (int offset = 0; offset < 64; ++offset) {
            for (int n : {0, 1, 15, 16, 31, 33, 63, 64, 65, 127, 129, 200, 2560 + offset}) {
                const auto size = static_cast<size_t>(n);
                std::vector<uint16_t> in(size);
                std::vector<uint8_t> gray(size);
                for (auto& v : in) v = static_cast<uint16_t>(random.Next());
                for (auto& v : gray) v = static_cast<uint8_t>(random.Next());
                const int shift = static_cast<int>(random.Next() % 9);
                // 64-byte aligned storage, written from `offset` on, guards after the row.
                std::vector<uint8_t> low(3 * size + 256, 0xC3);
                std::vector<uint8_t> bgr(low.size(), 0xC3);
                std::vector<uint8_t> topBgr(low.size(), 0xC3);
                auto line = [offset](std::vector<uint8_t>& v) {
                    const auto at = reinterpret_cast<uintptr_t>(v.data());
                    return v.data() + ((64 - at % 64) % 64) + static_cast<size_t>(offset);
                };
                const uint8_t* lowOut = line(low);
                const uint8_t* bgrOut = line(bgr);
                const uint8_t* topBgrOut = line(topBgr);
                k.lowBytesStreamed(line(low), in.data(), n, shift);
                k.grayToBgrStreamed(line(bgr), gray.data(), n);
                k.topBytesToBgrStreamed(line(topBgr), in.data(), n, shift);
                FenceStreamedStores();
                for (size_t i = 0; i < 3 * size + 64; ++i) {
                    const size_t px = i / 3;
                    const unsigned shifted = px < size ? in[px] >> shift : 0;
                    ASSERT_EQ(lowOut[i], i < size ? (in[i] >> shift) & 0xFF : 0xC3)
                        << SimdLevelName(level) << " n " << n << " offset " << offset;
                    ASSERT_EQ(bgrOut[i], px < size ? gray[px] : 0xC3)
                        << SimdLevelName(level) << " n " << n << " offset " << offset;
                    ASSERT_EQ(topBgrOut[i], px < size ? std::min(shifted, 255u) : 0xC3)
                        << SimdLevelName(level) << " n " << n << " offset " << offset;
                }
            }
        }
    }
}

template <class T>
void CompareReversals(bool pair) {
    TestRandom random(sizeof(T) == 1 ? 61u : 67u);
    for (SimdLevel level : test::SimdLevels()) {
        const MirrorKernels k = MirrorKernelsFor(level);
        for (int offset = 0; offset < 3; ++offset) {
            for (int n = 0; n <= 300; n += n < 140 ? 1 : 37) {
                std::vector<T> a(static_cast<size_t>(n + 2 * offset + 8));
                std::vector<T> b(a.size());
                for (auto& v : a) v = static_cast<T>(random.Next());
                for (auto& v : b) v = static_cast<T>(random.Next());
                std::vector<T> expectA = a;
                std::vector<T> expectB = b;
                T* pa = a.data() + offset;
                T* pb = b.data() + offset;
                if (pair) {
                    std::reverse_copy(b.begin() + offset, b.begin() + offset + n,
                                      expectA.begin() + offset);
                    std::reverse_copy(a.begin() + offset, a.begin() + offset + n,
                                      expectB.begin() + offset);
                    if constexpr (sizeof(T) == 1) {
                        k.pair8(pa, pb, n);
                    } else {
                        k.pair16(pa, pb, n);
                    }
                } else {
                    std::reverse(expectA.begin() + offset, expectA.begin() + offset + n);
                    if constexpr (sizeof(T) == 1) {
                        k.reverse8(pa, n);
                    } else {
                        k.reverse16(pa, n);
                    }
                }
                ASSERT_EQ(a, expectA) << SimdLevelName(level) << " n " << n << " pair " << pair;
                ASSERT_EQ(b, expectB) << SimdLevelName(level) << " n " << n << " pair " << pair;
            }
        }
    }
}

TEST(MirrorKernels, EveryLevelReversesRowsAndPairsOfAnyLength) {
    CompareReversals<uint8_t>(false);
    CompareReversals<uint8_t>(true);
    CompareReversals<uint16_t>(false);
    CompareReversals<uint16_t>(true);
}

TEST(MirrorOnHost, EveryLevelMirrorsOddShapesInEveryDirection) {
    const test::ScopedSimdLevel restore;
    for (int bits : {8, 16}) {
        for (auto [w, h] : {std::pair{1, 1}, {1, 9}, {9, 1}, {33, 17}, {64, 64}, {130, 3}}) {
            for (int dirs = 1; dirs < 4; ++dirs) {
                MirrorState m;
                m.horizontal = (dirs & 1) != 0;
                m.vertical = (dirs & 2) != 0;
                test::ForEachSimdLevel([&](SimdLevel level) {
                    ImageBuffer image;
                    ASSERT_TRUE(image.Create(w, h, bits));
                    auto value = [bits](int x, int y) {
                        return (x * 131 + y * 7) % (bits == 8 ? 256 : 65536);
                    };
                    test::FillMono(image, value);
                    MirrorOnHost(image, m);
                    for (int y = 0; y < h; ++y) {
                        for (int x = 0; x < w; ++x) {
                            const int sx = m.horizontal ? w - 1 - x : x;
                            const int sy = m.vertical ? h - 1 - y : y;
                            ASSERT_EQ(Mono(image, x, y), value(sx, sy))
                                << SimdLevelName(level) << " " << bits << "-bit " << w << "x" << h
                                << " directions " << dirs;
                        }
                    }
                });
            }
        }
    }
}

}  // namespace
}  // namespace lumora
