// Every instruction-set variant of the tone lookup and the unsharp mask against the portable
// code: every sample value, rows of any length and alignment, and the one-pass tones and
// sharpness against the stages one after the other.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "ImageTestUtil.h"
#include "imaging/LookupTable.h"
#include "imaging/Sharpness.h"
#include "imaging/ToneTables.h"

namespace lumora {
namespace {

using test::TestRandom;

TEST(LookupKernels, EveryLevelLooksUpEveryValueAtAnyLengthAndAlignment) {
    TestRandom random(21);
    std::vector<uint8_t> bytes(256);
    for (uint8_t& b : bytes) b = static_cast<uint8_t>(random.Below(256));
    std::vector<uint16_t> words(65536);
    for (uint16_t& w : words) w = static_cast<uint16_t>(random.Next());
    // Every value, in order and shuffled.
    std::vector<uint8_t> all8(512);
    for (size_t i = 0; i < all8.size(); ++i)
        all8[i] = static_cast<uint8_t>(i < 256 ? i : random.Below(256));
    const TableSixteenths sixteenths(words.data());
    std::vector<uint16_t> all16(65536 + 300);
    for (size_t i = 0; i < all16.size(); ++i)
        all16[i] = static_cast<uint16_t>(i < 65536 ? i : random.Next());
    // With the packed sixteenths: every value again, and every multiple of 16 in runs that read
    // the packed copy, some broken by one sample that must read the whole table.
    std::vector<uint16_t> wholes(all16);
    for (int v = 0; v < 65536; v += 16) wholes.push_back(static_cast<uint16_t>(v));
    for (int i = 0; i < 4096; ++i) wholes.push_back(static_cast<uint16_t>(random.Below(4096) * 16));
    for (size_t i = 65536 + 300 + 5; i < wholes.size(); i += 37) wholes[i] |= 1 + i % 15;

    auto checkWords = [&](LookupWordsFn words16, const char* name) {
        std::vector<uint16_t> out16(all16.size());
        words16(out16.data(), all16.data(), static_cast<int>(all16.size()), {words.data()});
        for (size_t i = 0; i < all16.size(); ++i) ASSERT_EQ(out16[i], words[all16[i]]) << name;
        out16.assign(wholes.size(), 0);
        words16(out16.data(), wholes.data(), static_cast<int>(wholes.size()),
                {words.data(), sixteenths.Data()});
        for (size_t i = 0; i < wholes.size(); ++i)
            ASSERT_EQ(out16[i], words[wholes[i]]) << name << " at " << i;
        // In place, at odd offsets and lengths, nothing touched outside; the last entry of the
        // table and of the packed copy among them.
        for (int offset = 0; offset < 4; ++offset) {
            for (int n = 0; n < 140; n += 3) {
                std::vector<uint16_t> w(static_cast<size_t>(n + 128), 0x5A5A);
                auto sample = [](int i) {
                    if (i % 13 == 12) return uint16_t{65535};
                    if (i % 17 == 16) return uint16_t{65520};
                    return static_cast<uint16_t>(i % 11 == 10 ? i * 4099 : i * 4096);
                };
                for (int i = 0; i < n; ++i) w[static_cast<size_t>(64 + offset + i)] = sample(i);
                words16(w.data() + 64 + offset, w.data() + 64 + offset, n,
                        {words.data(), sixteenths.Data()});
                for (int i = 0; i < static_cast<int>(w.size()); ++i) {
                    const int at = i - 64 - offset;
                    const bool inside = at >= 0 && at < n;
                    ASSERT_EQ(w[static_cast<size_t>(i)], inside ? words[sample(at)] : 0x5A5A)
                        << name << " n " << n;
                }
            }
        }
    };
    for (SimdLevel level : test::SimdLevels()) {
        const LookupKernels k = LookupKernelsFor(level);
        std::vector<uint8_t> out8(all8.size());
        k.bytes(out8.data(), all8.data(), static_cast<int>(all8.size()), bytes.data());
        for (size_t i = 0; i < all8.size(); ++i)
            ASSERT_EQ(out8[i], bytes[all8[i]]) << SimdLevelName(level);
        for (int offset = 0; offset < 4; ++offset) {
            for (int n = 0; n < 140; n += 3) {
                std::vector<uint8_t> b(static_cast<size_t>(n + 128), 0x5A);
                for (int i = 0; i < n; ++i)
                    b[static_cast<size_t>(64 + offset + i)] = static_cast<uint8_t>(i * 7);
                k.bytes(b.data() + 64 + offset, b.data() + 64 + offset, n, bytes.data());
                for (int i = 0; i < static_cast<int>(b.size()); ++i) {
                    const int at = i - 64 - offset;
                    const bool inside = at >= 0 && at < n;
                    ASSERT_EQ(b[static_cast<size_t>(i)],
                              inside ? bytes[static_cast<uint8_t>(at * 7)] : 0x5A)
                        << SimdLevelName(level) << " n " << n;
                }
            }
        }
        checkWords(k.words, SimdLevelName(level));
        if (HasFatalFailure()) return;
    }
    // The gathering kernel runs only where gathers are fast; it is checked wherever it can run.
    if (const LookupWordsFn gathering = GatheringWordLookup()) checkWords(gathering, "gathers");
}

template <class T>
void CompareSharpenRows(int maxValue) {
    TestRandom random(sizeof(T) == 1 ? 31u : 37u);
    const SharpnessKernels portable = SharpnessKernelsFor(SimdLevel::kScalar);
    auto value = [&] {
        switch (random.Below(3)) {
            case 0:
                return random.Below(4) == 0 ? maxValue : 0;
            default:
                return random.Below(maxValue + 1);
        }
    };
    // The pipeline's strengths, and around the strongest the vector lanes hold (stronger ones
    // take the portable rule).
    std::vector<int> strengths;
    for (int s = 1; s <= 30; ++s) strengths.push_back(s);
    for (int s : {-30, 64, 128, 129, 256, 257, 5000}) strengths.push_back(s);
    for (int width : {5, 6, 7, 18, 19, 34, 35, 36, 37, 50, 67, 100, 2560}) {
        for (size_t at = 0; at<strengths.size(); at += width> 100 ? 4 : 1) {
            const int strength = strengths[at];
            std::vector<T> rows[4];
            for (auto& r : rows) {
                r.resize(static_cast<size_t>(width) + 1);
                for (T& v : r) v = static_cast<T>(value());
            }
            std::vector<int32_t> scratch(static_cast<size_t>(width));
            // One sample off the row start, so no vector load is aligned.
            std::vector<T> expected(static_cast<size_t>(width) + 1, 7);
            std::vector<T> got(expected.size(), 7);
            auto run = [&](const SharpnessKernels& k, std::vector<T>& out) {
                if constexpr (sizeof(T) == 1) {
                    k.row8(rows[0].data() + 1, rows[1].data() + 1, rows[2].data() + 1,
                           rows[3].data() + 1, out.data() + 1, width, strength, scratch.data());
                } else {
                    k.row16(rows[0].data() + 1, rows[1].data() + 1, rows[2].data() + 1,
                            rows[3].data() + 1, out.data() + 1, width, strength, scratch.data());
                }
            };
            run(portable, expected);
            for (SimdLevel level : test::SimdLevels()) {
                std::fill(got.begin(), got.end(), 7);
                run(SharpnessKernelsFor(level), got);
                ASSERT_EQ(got, expected)
                    << SimdLevelName(level) << " width " << width << " strength " << strength;
            }
        }
    }
}

TEST(SharpnessKernels, EveryLevelSharpensRowsAsThePortableCodeDoes) {
    CompareSharpenRows<uint8_t>(255);
    CompareSharpenRows<uint16_t>(4095);
    CompareSharpenRows<uint16_t>(65535);
}

// One pass of tables and mask equals the stages one after the other, at every level, with and
// without either table, on images down to the smallest the mask works on.
TEST(TonesAndSharpness, OnePassEqualsTablesAndMaskOneAfterTheOther) {
    const test::ScopedSimdLevel restore;
    TestRandom random(41);
    for (int bits : {8, 16}) {
        const int maxValue = bits == 8 ? 255 : 65535;
        std::vector<uint16_t> gamma;
        std::vector<uint16_t> brightness;
        BuildGammaTable(140, maxValue, gamma);
        BuildBrightnessTable(-40, maxValue, brightness);
        for (auto [w, h] : {std::pair{5, 5}, {6, 9}, {4, 8}, {33, 17}, {70, 6}}) {
            ImageBuffer input;
            ASSERT_TRUE(input.Create(w, h, bits));
            test::FillMono(input, [&](int, int) { return random.Below(maxValue + 1); });
            for (int tables = 0; tables < 4; ++tables) {
                const std::vector<uint16_t>* before = (tables & 1) != 0 ? &gamma : nullptr;
                const std::vector<uint16_t>* after = (tables & 2) != 0 ? &brightness : nullptr;
                ImageBuffer expected;
                ASSERT_TRUE(expected.CreateLike(input));
                std::memcpy(expected.Pixels(), input.Pixels(), input.SizeBytes());
                SetSimdLevelForTesting(SimdLevel::kScalar);
                if (before != nullptr) ApplyLookupTable(expected, *before);
                ImageBuffer copy;
                ASSERT_TRUE(copy.CreateLike(expected));
                std::memcpy(copy.Pixels(), expected.Pixels(), expected.SizeBytes());
                ApplySharpness(expected, copy, 12);
                if (after != nullptr) ApplyLookupTable(expected, *after);
                test::ForEachSimdLevel([&](SimdLevel level) {
                    ImageBuffer image;
                    ASSERT_TRUE(image.CreateLike(input));
                    std::memcpy(image.Pixels(), input.Pixels(), input.SizeBytes());
                    ApplyTonesAndSharpness(image, before, 12, after);
                    EXPECT_EQ(std::memcmp(image.Pixels(), expected.Pixels(), image.SizeBytes()), 0)
                        << SimdLevelName(level) << " " << bits << "-bit " << w << "x" << h
                        << " tables " << tables;
                });
            }
        }
    }
}

}  // namespace
}  // namespace lumora
