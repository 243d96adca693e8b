// Every instruction-set variant of the flat field and of the dot filter's outlier test, against
// the integer rule and the portable code: on every value, on any row length and alignment, and
// through the corrections of whole frames.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "ImageTestUtil.h"
#include "imaging/DefectCorrection.h"
#include "imaging/FlatField.h"

namespace lumora {
namespace {

using test::Mono;
using test::TestRandom;

int Flat8Rule(int v, int lo, int hi) {
    const int span = hi - lo;
    if (span == 0) return v;
    return std::clamp((v - lo) * 256 / span, 0, 255);
}

int Flat16Rule(int v, int lo, int hi) {
    const int span = hi - lo;
    if (span <= 0) return v;
    const long long q = static_cast<long long>(v - lo) * 4096 / span;
    return static_cast<int>(std::clamp(q, 0LL, 4095LL)) << 4;
}

TEST(FlatFieldKernels, EveryLevelGivesTheRuleForEveryEightBitTriple) {
    // Row i holds sample i & 255 with bright reference i >> 8; one row per dark reference.
    constexpr int kN = 65536;
    std::vector<uint8_t> dark(kN), bright(kN), expected(kN), v(kN);
    std::vector<int> mismatches(4, 0);
    for (int lo = 0; lo < 256; ++lo) {
        for (int i = 0; i < kN; ++i) {
            dark[static_cast<size_t>(i)] = static_cast<uint8_t>(lo);
            bright[static_cast<size_t>(i)] = static_cast<uint8_t>(i >> 8);
            expected[static_cast<size_t>(i)] = static_cast<uint8_t>(Flat8Rule(i & 255, lo, i >> 8));
        }
        for (SimdLevel level : test::SimdLevels()) {
            for (int i = 0; i < kN; ++i) v[static_cast<size_t>(i)] = static_cast<uint8_t>(i);
            FlatFieldKernelsFor(level).row8(v.data(), v.data(), dark.data(), bright.data(), kN);
            for (int i = 0; i < kN; ++i) {
                mismatches[static_cast<size_t>(level)] +=
                    v[static_cast<size_t>(i)] != expected[static_cast<size_t>(i)];
            }
        }
    }
    for (SimdLevel level : test::SimdLevels()) {
        EXPECT_EQ(mismatches[static_cast<size_t>(level)], 0) << SimdLevelName(level);
    }
}

TEST(FlatFieldKernels, EveryLevelGivesTheRuleForEveryTwelveBitSampleAndStrayWords) {
    std::vector<int> samples;
    for (int v = 0; v < 4096; ++v) samples.push_back(v);
    for (int v : {4096, 8191, 32767, 32768, 65534, 65535}) samples.push_back(v);
    const int n = static_cast<int>(samples.size());
    // Edge pairs (equal, reversed, spans of 1 and of the whole word) and random ones.
    std::vector<std::pair<int, int>> pairs = {
        {0, 4095}, {0, 1}, {4094, 4095}, {100, 100}, {200, 100},   {0, 65535}, {65534, 65535},
        {4095, 0}, {1, 2}, {0, 3},       {7, 4000},  {2047, 2048}, {0, 65534}};
    TestRandom random(7);
    for (int i = 0; i < 150; ++i) {
        const int lo = random.Below(4096);
        pairs.emplace_back(lo, lo + 1 + random.Below(4096));
    }
    std::vector<uint16_t> dark(static_cast<size_t>(n)), bright(static_cast<size_t>(n)),
        v(static_cast<size_t>(n));
    for (auto [lo, hi] : pairs) {
        std::fill(dark.begin(), dark.end(), static_cast<uint16_t>(lo));
        std::fill(bright.begin(), bright.end(), static_cast<uint16_t>(hi));
        for (SimdLevel level : test::SimdLevels()) {
            for (int i = 0; i < n; ++i)
                v[static_cast<size_t>(i)] = static_cast<uint16_t>(samples[static_cast<size_t>(i)]);
            FlatFieldKernelsFor(level).row16(v.data(), v.data(), dark.data(), bright.data(), n);
            int mismatches = 0;
            for (int i = 0; i < n; ++i) {
                mismatches += v[static_cast<size_t>(i)] !=
                              Flat16Rule(samples[static_cast<size_t>(i)], lo, hi);
            }
            ASSERT_EQ(mismatches, 0) << SimdLevelName(level) << " dark " << lo << " bright " << hi;
        }
    }
}

// Rows of every length up to a few vectors, starting at every small misalignment, corrected into
// a row of their own: the result is the rule's, the source stays as it was and nothing before or
// after the row is touched.
TEST(FlatFieldKernels, EveryLevelHandlesAnyLengthAndAlignmentAndStaysInsideTheRow) {
    constexpr int kGuard = 64;
    TestRandom random(11);
    for (SimdLevel level : test::SimdLevels()) {
        const FlatFieldKernels kernels = FlatFieldKernelsFor(level);
        for (int offset = 0; offset < 4; ++offset) {
            for (int n = 0; n <= 70; ++n) {
                std::vector<uint8_t> v8(static_cast<size_t>(n + 2 * kGuard), 0xA5);
                std::vector<uint8_t> lo8(v8.size()), hi8(v8.size()), src8(v8.size());
                std::vector<uint16_t> v16(v8.size(), 0xA5A5), lo16(v8.size()), hi16(v8.size()),
                    src16(v8.size());
                std::vector<int> in8(static_cast<size_t>(n)), in16(static_cast<size_t>(n));
                for (int i = 0; i < n; ++i) {
                    const size_t at = static_cast<size_t>(kGuard + offset + i);
                    src8[at] =
                        static_cast<uint8_t>(in8[static_cast<size_t>(i)] = random.Below(256));
                    lo8[at] = static_cast<uint8_t>(random.Below(256));
                    hi8[at] = static_cast<uint8_t>(random.Below(256));
                    src16[at] =
                        static_cast<uint16_t>(in16[static_cast<size_t>(i)] = random.Below(4096));
                    lo16[at] = static_cast<uint16_t>(random.Below(4096));
                    hi16[at] = static_cast<uint16_t>(random.Below(4096));
                }
                const size_t start = static_cast<size_t>(kGuard + offset);
                const std::vector<uint8_t> src8Before = src8;
                const std::vector<uint16_t> src16Before = src16;
                kernels.row8(v8.data() + start, src8.data() + start, lo8.data() + start,
                             hi8.data() + start, n);
                kernels.row16(v16.data() + start, src16.data() + start, lo16.data() + start,
                              hi16.data() + start, n);
                ASSERT_EQ(src8, src8Before) << SimdLevelName(level);
                ASSERT_EQ(src16, src16Before) << SimdLevelName(level);
                for (size_t i = 0; i < v8.size(); ++i) {
                    const bool inside = i >= start && i < start + static_cast<size_t>(n);
                    if (inside) {
                        const size_t k = i - start;
                        ASSERT_EQ(v8[i], Flat8Rule(in8[k], lo8[i], hi8[i])) << SimdLevelName(level);
                        ASSERT_EQ(v16[i], Flat16Rule(in16[k], lo16[i], hi16[i]))
                            << SimdLevelName(level);
                    } else {
                        ASSERT_EQ(v8[i], 0xA5) << SimdLevelName(level) << " n " << n;
                        ASSERT_EQ(v16[i], 0xA5A5) << SimdLevelName(level) << " n " << n;
                    }
                }
            }
        }
    }
}

// Samples that favour the extremes, where the arithmetic has its edges.
int EdgyValue(TestRandom& random, int maxValue) {
    switch (random.Below(4)) {
        case 0:
            return random.Below(4);
        case 1:
            return maxValue - random.Below(4);
        default:
            return random.Below(maxValue + 1);
    }
}

template <class T>
void CompareDetection(int maxValue, const std::vector<int>& thresholds) {
    TestRandom random(sizeof(T) == 1 ? 3u : 5u);
    const DefectKernels portable = DefectKernelsFor(SimdLevel::kScalar);
    for (int width : {9, 10, 16, 23, 36, 37, 40, 41, 72, 73, 100, 2560}) {
        for (int round = 0; round < 20; ++round) {
            std::vector<T> up(static_cast<size_t>(width)), row(up.size()), down(up.size());
            for (size_t i = 0; i < up.size(); ++i) {
                up[i] = static_cast<T>(EdgyValue(random, maxValue));
                row[i] = static_cast<T>(EdgyValue(random, maxValue));
                down[i] = static_cast<T>(EdgyValue(random, maxValue));
            }
            for (int threshold : thresholds) {
                std::vector<int32_t> expected(static_cast<size_t>(width)), hits(expected.size());
                int n = 0;
                if constexpr (sizeof(T) == 1) {
                    n = portable.detect8(up.data(), row.data(), down.data(), 4, width - 4,
                                         threshold, expected.data());
                } else {
                    n = portable.detect16(up.data(), row.data(), down.data(), 4, width - 4,
                                          threshold, expected.data());
                }
                expected.resize(static_cast<size_t>(n));
                for (SimdLevel level : test::SimdLevels()) {
                    const DefectKernels kernels = DefectKernelsFor(level);
                    int m = 0;
                    if constexpr (sizeof(T) == 1) {
                        m = kernels.detect8(up.data(), row.data(), down.data(), 4, width - 4,
                                            threshold, hits.data());
                    } else {
                        m = kernels.detect16(up.data(), row.data(), down.data(), 4, width - 4,
                                             threshold, hits.data());
                    }
                    ASSERT_EQ(std::vector<int32_t>(hits.begin(), hits.begin() + m), expected)
                        << SimdLevelName(level) << " width " << width << " threshold " << threshold;
                }
            }
        }
    }
}

TEST(DefectKernels, EveryLevelFlagsWhatThePortableTestFlags) {
    CompareDetection<uint8_t>(255, {1, 2, 30, 128, 254, 255});
    CompareDetection<uint16_t>(4095, {1, 480, 2000, 4095});
    // Left-aligned samples use the whole word; the mean must not overflow.
    CompareDetection<uint16_t>(65535, {1, 480, 7680, 32768, 65535});
}

// Every level against the outlier rule itself on one row set.
template <class T>
void ExpectEveryLevelFollowsTheRule(const std::vector<T>& up, const std::vector<T>& row,
                                    const std::vector<T>& down, int threshold) {
    const int width = static_cast<int>(row.size());
    std::vector<int32_t> expected;
    for (int x = 4; x < width - 4; ++x) {
        const int mean = (row[x - 1] + row[x + 1] + up[x] + down[x]) / 4;
        if (std::abs(row[x] - mean) >= threshold) expected.push_back(x);
    }
    std::vector<int32_t> hits(static_cast<size_t>(width));
    for (SimdLevel level : test::SimdLevels()) {
        const DefectKernels kernels = DefectKernelsFor(level);
        int m = 0;
        if constexpr (sizeof(T) == 1) {
            m = kernels.detect8(up.data(), row.data(), down.data(), 4, width - 4, threshold,
                                hits.data());
        } else {
            m = kernels.detect16(up.data(), row.data(), down.data(), 4, width - 4, threshold,
                                 hits.data());
        }
        ASSERT_EQ(std::vector<int32_t>(hits.begin(), hits.begin() + m), expected)
            << SimdLevelName(level) << " width " << width << " threshold " << threshold;
    }
}

// 16-bit samples below 2^13 take a shorter test than larger ones, step by step: one large
// sample anywhere a step reads (its own columns, the columns just outside it, the row ends)
// must switch that step to the exact mean, and samples just below the limit must not.
TEST(DefectKernels, SamplesAtTheEdgeOfTheShortTestAreFlaggedAsTheRuleSays) {
    TestRandom random(23);
    for (int width : {9, 40, 41, 72, 100}) {
        for (int threshold : {1, 3, 480, 7680, 8191, 8192, 8193, 20000}) {
            // Samples around 8191 .. 8192 and far from them, centres both sides of the mean.
            auto sample = [&] {
                switch (random.Below(4)) {
                    case 0:
                        return 8191 - random.Below(3);
                    case 1:
                        return random.Below(8192);
                    case 2:
                        return 8192 + random.Below(3);
                    default:
                        return random.Below(65536);
                }
            };
            for (int large = -1; large < width; ++large) {
                std::vector<uint16_t> up(static_cast<size_t>(width)), row(up.size()),
                    down(up.size());
                for (size_t i = 0; i < up.size(); ++i) {
                    up[i] = static_cast<uint16_t>(random.Below(8192));
                    row[i] = static_cast<uint16_t>(random.Below(8192));
                    down[i] = static_cast<uint16_t>(random.Below(8192));
                }
                if (large >= 0) {
                    std::vector<uint16_t>& target =
                        large % 3 == 0 ? up : (large % 3 == 1 ? row : down);
                    target[static_cast<size_t>(large)] = static_cast<uint16_t>(sample());
                }
                ExpectEveryLevelFollowsTheRule(up, row, down, threshold);
            }
        }
    }
}

// A lone sample exactly the threshold away from the mean of its neighbours is flagged, one
// closer is not, on either side and for every remainder of the neighbours' sum.
TEST(DefectKernels, OnlySamplesAtLeastTheThresholdAwayAreFlagged) {
    for (int bits : {8, 16}) {
        const int maxValue = bits == 8 ? 255 : 65535;
        for (int threshold : {1, 30, 480, 4000, 8192, 30000}) {
            if (threshold > maxValue) continue;
            for (int base : {0, 1, 100, 4094, 8190, maxValue / 2, maxValue - 1, maxValue}) {
                base = std::min(base, maxValue);
                for (int rest = 0; rest < 4; ++rest) {
                    const int width = 73;
                    std::vector<int> up(width, base), row(width, base), down(width, base);
                    // Neighbour sums base·4 + rest at the odd columns (kept in range).
                    for (int x = 5; x < width - 4; x += 2) {
                        if (base + rest <= maxValue) {
                            up[x] = base + rest;
                        } else {
                            up[x] = base - (4 - rest) % 4;
                        }
                    }
                    for (int x = 4; x < width - 4; ++x) {
                        const int mean = (row[x - 1] + row[x + 1] + up[x] + down[x]) / 4;
                        const int offset = (x / 2) % 4;  // +t, +t − 1, −t, −t + 1
                        const int v = offset == 0   ? mean + threshold
                                      : offset == 1 ? mean + threshold - 1
                                      : offset == 2 ? mean - threshold
                                                    : mean - threshold + 1;
                        if (x % 2 == 0 && v >= 0 && v <= maxValue) row[x] = v;
                    }
                    if (bits == 8) {
                        auto narrow = [](const std::vector<int>& v) {
                            return std::vector<uint8_t>(v.begin(), v.end());
                        };
                        ExpectEveryLevelFollowsTheRule(narrow(up), narrow(row), narrow(down),
                                                       threshold);
                    } else {
                        auto narrow = [](const std::vector<int>& v) {
                            return std::vector<uint16_t>(v.begin(), v.end());
                        };
                        ExpectEveryLevelFollowsTheRule(narrow(up), narrow(row), narrow(down),
                                                       threshold);
                    }
                }
            }
        }
    }
}

// Whole frames at every level against the portable level: windows that are not multiples of
// any vector width, a single row or column, both depths, maps, and the fused pass.
TEST(Corrections, EveryLevelCorrectsFramesAsThePortableCodeDoes) {
    const test::ScopedSimdLevel restore;
    constexpr int kPlane = 80;
    TestRandom random(13);
    for (int bits : {8, 16}) {
        const int maxValue = bits == 8 ? 255 : 4095;
        MaskSet masks;
        ASSERT_TRUE(masks.Create(kPlane, kPlane));
        for (int y = 0; y < kPlane; ++y) {
            for (int x = 0; x < kPlane; ++x) {
                const int lo = random.Below(maxValue / 4);
                const int hi = x == 7 ? lo : maxValue - random.Below(maxValue / 4);  // equal: kept
                if (bits == 8) {
                    test::SetByte(masks.Reference(8, kMaskDark), x, y, static_cast<uint8_t>(lo));
                    test::SetByte(masks.Reference(8, kMaskBright), x, y, static_cast<uint8_t>(hi));
                } else {
                    test::SetWord(masks.Reference(16, kMaskDark), x, y, static_cast<uint16_t>(lo));
                    test::SetWord(masks.Reference(16, kMaskBright), x, y,
                                  static_cast<uint16_t>(hi));
                }
            }
        }
        // A few dark-reference defects for the maps.
        for (int i = 0; i < 40; ++i) {
            const int x = random.Below(kPlane);
            const int y = random.Below(kPlane);
            if (bits == 8) {
                test::SetByte(masks.Reference(8, kMaskDark), x, y, 250);
            } else {
                test::SetWord(masks.Reference(16, kMaskDark), x, y, 4000);
            }
        }
        masks.BuildAllDefectMaps();
        struct Shape {
            int x, y, w, h;
        };
        for (Shape s : {Shape{0, 0, 80, 80}, Shape{3, 5, 61, 47}, Shape{1, 1, 1, 30},
                        Shape{2, 9, 33, 1}, Shape{0, 0, 9, 9}, Shape{5, 0, 17, 12}}) {
            const MaskGeometry geometry{s.x, s.y, s.w, s.h};
            ImageBuffer input;
            ASSERT_TRUE(input.Create(s.w, s.h, bits));
            test::FillMono(input, [&](int, int) { return EdgyValue(random, maxValue); });
            auto run = [&](SimdLevel level, int which) {
                SetSimdLevelForTesting(level);
                ImageBuffer frame;
                frame.Create(s.w, s.h, bits);
                std::memcpy(frame.Pixels(), input.Pixels(), input.SizeBytes());
                const int threshold = bits == 8 ? 30 : 480;
                if (which == 0) FlatFieldCorrect(frame, masks, geometry);
                if (which == 1) DefectCorrect(frame, masks, geometry, threshold);
                if (which == 2)
                    FlatFieldAndDefectCorrect(frame, masks, geometry, threshold * 16, threshold);
                std::vector<int> out;
                for (int y = 0; y < s.h; ++y) {
                    for (int x = 0; x < s.w; ++x) out.push_back(Mono(frame, x, y));
                }
                return out;
            };
            for (int which = 0; which < 3; ++which) {
                const std::vector<int> expected = run(SimdLevel::kScalar, which);
                for (SimdLevel level : test::SimdLevels()) {
                    EXPECT_EQ(run(level, which), expected)
                        << SimdLevelName(level) << " " << bits << "-bit " << s.w << "x" << s.h
                        << " step " << which;
                }
            }
        }
    }
}

// Frames of awkward widths at every level: a flat field of one value (saturated, zero or in
// between) with single hot and cold pixels at the corners of the tested area and next to its
// edges. Each lone outlier takes the field's value; nothing else changes.
TEST(Corrections, LoneOutliersAtTheCornersTakeTheFieldsValueAtEveryLevel) {
    const test::ScopedSimdLevel restore;
    for (int bits : {8, 16}) {
        const int maxValue = bits == 8 ? 255 : 65535;
        const int threshold = bits == 8 ? 30 : 480;
        for (int width : {1, 2, 3, 7, 9, 33, 2560}) {
            const int height = 16;
            MaskSet masks;
            ASSERT_TRUE(masks.Create(width, height));
            const MaskGeometry geometry{0, 0, width, height};
            for (int field : {0, maxValue / 3, maxValue}) {
                const int outlier = field < maxValue / 2 ? maxValue : 0;
                std::vector<std::pair<int, int>> spots;
                // Outliers outside the tested area are placed where no tested pixel sees them.
                if (width >= 9) {
                    spots = {{4, 4}, {width - 5, 4}, {4, height - 5}, {width - 5, height - 5},
                             {1, 8}, {width - 2, 8}, {width / 2, 1},  {width / 2, height - 2}};
                }
                for (SimdLevel level : test::SimdLevels()) {
                    SetSimdLevelForTesting(level);
                    ImageBuffer frame;
                    ASSERT_TRUE(frame.Create(width, height, bits));
                    test::FillMono(frame, [&](int, int) { return field; });
                    for (auto [x, y] : spots) {
                        if (bits == 8) {
                            test::SetByte(frame, x, y, static_cast<uint8_t>(outlier));
                        } else {
                            test::SetWord(frame, x, y, static_cast<uint16_t>(outlier));
                        }
                    }
                    ASSERT_TRUE(DefectCorrect(frame, masks, geometry, threshold));
                    for (int y = 0; y < height; ++y) {
                        for (int x = 0; x < width; ++x) {
                            // Outliers outside the tested area (4 .. size − 5) stay.
                            const bool tested =
                                x >= 4 && x <= width - 5 && y >= 4 && y <= height - 5;
                            const bool spot = std::find(spots.begin(), spots.end(),
                                                        std::make_pair(x, y)) != spots.end();
                            ASSERT_EQ(Mono(frame, x, y), spot && !tested ? outlier : field)
                                << SimdLevelName(level) << " " << bits << "-bit width " << width
                                << " field " << field << " at " << x << "," << y;
                        }
                    }
                }
            }
        }
    }
}

// The flags of a frame are not left behind for the next one: a frame full of defects, then a
// clean frame of the same size (which must come out as it went in), then one of another size,
// in both the dot filter and the one pass with the flat field.
TEST(Corrections, FlagsOfOneFrameAreGoneForTheNext) {
    for (int bits : {8, 16}) {
        const int maxValue = bits == 8 ? 255 : 4095;
        MaskSet masks;
        ASSERT_TRUE(masks.Create(64, 40));
        for (int fused = 0; fused < 2; ++fused) {
            for (auto [w, h] :
                 {std::pair{64, 40}, std::pair{64, 40}, std::pair{37, 21}, std::pair{64, 40}}) {
                const MaskGeometry geometry{0, 0, w, h};
                auto correct = [&](ImageBuffer& frame) {
                    const int t = DefectThresholdFor(bits, 12);
                    if (fused == 1) {
                        return FlatFieldAndDefectCorrect(frame, masks, geometry,
                                                         DefectThresholdFor(bits, 16), t);
                    }
                    return DefectCorrect(frame, masks, geometry, t);
                };
                // Every other pixel an outlier: thousands of flags.
                ImageBuffer noisy;
                ASSERT_TRUE(noisy.Create(w, h, bits));
                test::FillMono(noisy, [&](int x, int y) { return (x + y) % 2 ? maxValue : 0; });
                ASSERT_TRUE(correct(noisy));
                // A faint checkerboard with one hot pixel: its four neighbours are alike and
                // it takes their value, unless a flag left over hid them from the search.
                ImageBuffer clean;
                ASSERT_TRUE(clean.Create(w, h, bits));
                test::FillMono(clean, [&](int x, int y) {
                    if (x == 20 && y == 12) return maxValue;
                    return maxValue / 2 + ((x + y) % 2) * (bits == 8 ? 20 : 400);
                });
                ImageBuffer expected;
                ASSERT_TRUE(expected.CreateLike(clean));
                std::memcpy(expected.Pixels(), clean.Pixels(), clean.SizeBytes());
                if (fused == 1) {
                    ASSERT_TRUE(FlatFieldCorrect(expected, masks, geometry));
                }
                if (bits == 8) {
                    test::SetByte(expected, 20, 12, static_cast<uint8_t>(Mono(expected, 19, 12)));
                } else {
                    test::SetWord(expected, 20, 12, static_cast<uint16_t>(Mono(expected, 19, 12)));
                }
                ASSERT_TRUE(correct(clean));
                EXPECT_EQ(std::memcmp(clean.Pixels(), expected.Pixels(), clean.SizeBytes()), 0)
                    << bits << "-bit " << (fused == 1 ? "one pass " : "") << w << "x" << h;
            }
        }
    }
}

// The one pass gives what the two corrections give one after the other.
TEST(Corrections, OnePassEqualsFlatFieldThenDotFilter) {
    TestRandom random(17);
    for (int bits : {8, 16}) {
        const int maxValue = bits == 8 ? 255 : 4095;
        MaskSet masks;
        ASSERT_TRUE(masks.Create(64, 48));
        test::FillMono(masks.Reference(bits, kMaskDark),
                       [&](int, int) { return random.Below(maxValue / 8); });
        test::FillMono(masks.Reference(bits, kMaskBright),
                       [&](int, int) { return maxValue - random.Below(maxValue / 8); });
        test::SetByte(masks.DefectMap(bits, kMaskBright), 20, 20, 1);
        const MaskGeometry geometry{0, 0, 64, 48};
        ImageBuffer a;
        ImageBuffer b;
        ASSERT_TRUE(a.Create(64, 48, bits));
        test::FillMono(a, [&](int x, int y) {
            return (x * 7 + y * 3) % (maxValue / 2) + (random.Below(40) == 0 ? maxValue / 2 : 0);
        });
        ASSERT_TRUE(b.CreateLike(a));
        std::memcpy(b.Pixels(), a.Pixels(), a.SizeBytes());
        const int raw = DefectThresholdFor(bits, 12);
        const int flat = DefectThresholdFor(bits, 16);
        ASSERT_TRUE(FlatFieldCorrect(a, masks, geometry));
        ASSERT_TRUE(DefectCorrect(a, masks, geometry, bits == 8 ? raw : flat));
        ASSERT_TRUE(FlatFieldAndDefectCorrect(b, masks, geometry, bits == 8 ? raw : flat, raw));
        EXPECT_EQ(std::memcmp(a.Pixels(), b.Pixels(), a.SizeBytes()), 0) << bits;
    }
}

}  // namespace
}  // namespace lumora
