#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

#include "ImageTestUtil.h"
#include "imaging/DefectCorrection.h"
#include "imaging/FlatField.h"
#include "imaging/MaskSet.h"

namespace lumora {
namespace {

using test::Mono;

// Small planes keep the tests fast; the geometry rules are the same as at 2560 × 2048.
constexpr int kPlane = 12;

MaskGeometry Whole(int w = kPlane, int h = kPlane) {
    return MaskGeometry{0, 0, w, h};
}

TEST(MaskSet, CreatesPlanesWithTheirInitialContent) {
    MaskSet masks;
    EXPECT_FALSE(masks.IsComplete());
    ASSERT_TRUE(masks.Create(kPlane, kPlane));
    EXPECT_TRUE(masks.IsComplete());
    EXPECT_EQ(Mono(masks.Reference(8, kMaskDark), 5, 5), 0);
    EXPECT_EQ(Mono(masks.Reference(8, kMaskBright), 5, 5), 255);
    EXPECT_EQ(Mono(masks.Reference(16, kMaskBright), 11, 11), 4095);
    EXPECT_EQ(masks.DefectMap(16, kMaskDark).BitCount(), 16);
    masks.Reset();
    EXPECT_FALSE(masks.IsComplete());
}

TEST(MaskSet, DefectMapsMarkOutliersInsideATwoPixelMargin) {
    MaskSet masks;
    ASSERT_TRUE(masks.Create(kPlane, kPlane));
    ImageBuffer& dark8 = masks.Reference(8, kMaskDark);
    test::SetByte(dark8, 2, 2, 193);
    test::SetByte(dark8, 3, 2, 192);
    test::SetByte(dark8, 1, 5, 255);  // inside the margin: never marked
    ImageBuffer& bright16 = masks.Reference(16, kMaskBright);
    test::SetWord(bright16, 9, 9, 1023);
    test::SetWord(bright16, 8, 9, 1024);
    masks.BuildAllDefectMaps();
    EXPECT_EQ(Mono(masks.DefectMap(8, kMaskDark), 2, 2), 1);
    EXPECT_EQ(Mono(masks.DefectMap(8, kMaskDark), 3, 2), 0);
    EXPECT_EQ(Mono(masks.DefectMap(8, kMaskDark), 1, 5), 0);
    EXPECT_EQ(Mono(masks.DefectMap(16, kMaskBright), 9, 9), 1);
    EXPECT_EQ(Mono(masks.DefectMap(16, kMaskBright), 8, 9), 0);
    EXPECT_EQ(Mono(masks.DefectMap(8, kMaskBright), 5, 5), 0);  // 255 is no defect
}

TEST(FlatField, EightBitBetweenDarkAndBright) {
    MaskSet masks;
    ASSERT_TRUE(masks.Create(kPlane, kPlane));
    ImageBuffer frame;
    ASSERT_TRUE(frame.Create(kPlane, kPlane, 8));
    test::FillMono(frame, [](int x, int) { return x == 0 ? 255 : x == 1 ? 128 : 60; });
    // Pixel (2, 0): dark 40, bright 140 → (60 − 40) × 256 / 100 = 51.
    test::SetByte(masks.Reference(8, kMaskDark), 2, 0, 40);
    test::SetByte(masks.Reference(8, kMaskBright), 2, 0, 140);
    // Pixel (3, 0): dark = bright → unchanged. Pixel (4, 0): below dark → 0 (−25.6 truncated).
    test::SetByte(masks.Reference(8, kMaskDark), 3, 0, 90);
    test::SetByte(masks.Reference(8, kMaskBright), 3, 0, 90);
    test::SetByte(masks.Reference(8, kMaskDark), 4, 0, 70);
    test::SetByte(masks.Reference(8, kMaskBright), 4, 0, 170);
    // Pixel (5, 0): inverted references still divide (signed): (60 − 200) × 256 / −100 = 358.
    test::SetByte(masks.Reference(8, kMaskDark), 5, 0, 200);
    test::SetByte(masks.Reference(8, kMaskBright), 5, 0, 100);
    ASSERT_TRUE(FlatFieldCorrect(frame, masks, Whole()));
    EXPECT_EQ(Mono(frame, 0, 0), 255);
    EXPECT_EQ(Mono(frame, 1, 0), 128);
    EXPECT_EQ(Mono(frame, 2, 0), 51);
    EXPECT_EQ(Mono(frame, 3, 0), 60);
    EXPECT_EQ(Mono(frame, 4, 0), 0);
    EXPECT_EQ(Mono(frame, 5, 0), 255);
}

TEST(FlatField, SixteenBitUsesTheTopTwelveBits) {
    MaskSet masks;
    ASSERT_TRUE(masks.Create(kPlane, kPlane));
    ImageBuffer frame;
    ASSERT_TRUE(frame.Create(kPlane, kPlane, 16));
    test::FillMono(frame, [](int x, int) {
        return x == 0 ? 4095 : x == 1 ? 5000 : x == 2 ? 0 : 2048;
    });
    test::SetWord(masks.Reference(16, kMaskDark), 2, 0, 100);
    test::SetWord(masks.Reference(16, kMaskDark), 3, 0, 2000);  // hi < lo: unchanged
    test::SetWord(masks.Reference(16, kMaskBright), 3, 0, 1000);
    ASSERT_TRUE(FlatFieldCorrect(frame, masks, Whole()));
    EXPECT_EQ(Mono(frame, 0, 0), 0xFFF0);  // at bright
    EXPECT_EQ(Mono(frame, 1, 0), 0xFFF0);  // above bright
    EXPECT_EQ(Mono(frame, 2, 0), 0);       // below dark
    EXPECT_EQ(Mono(frame, 3, 0), 2048);
    EXPECT_EQ(Mono(frame, 4, 0), 2048 << 4);  // 2048 × 4096 / 4095 = 2048.5
}

TEST(FlatField, ReadsTheReferencesAtTheWindowAndSkipsMismatches) {
    MaskSet masks;
    ASSERT_TRUE(masks.Create(kPlane, kPlane));
    test::SetByte(masks.Reference(8, kMaskBright), 7, 5, 128);  // window (4, 3) → frame (3, 2)
    ImageBuffer frame;
    ASSERT_TRUE(frame.Create(6, 4, 8));
    test::FillMono(frame, [](int, int) { return 64; });
    ASSERT_TRUE(FlatFieldCorrect(frame, masks, MaskGeometry{4, 3, 6, 4}));
    EXPECT_EQ(Mono(frame, 3, 2), 128);  // 64 × 256 / 128
    EXPECT_EQ(Mono(frame, 2, 2), 64);

    test::FillMono(frame, [](int, int) { return 64; });
    // A window reaching past the planes, or a frame that is not the prepared size, is skipped.
    EXPECT_FALSE(FlatFieldCorrect(frame, masks, MaskGeometry{7, 3, 6, 4}));
    EXPECT_FALSE(FlatFieldCorrect(frame, masks, MaskGeometry{0, 9, 6, 4}));
    EXPECT_FALSE(FlatFieldCorrect(frame, masks, MaskGeometry{0, 0, 12, 12}));
    EXPECT_FALSE(FlatFieldCorrect(frame, masks, MaskGeometry{-1, 0, 6, 4}));
    EXPECT_EQ(Mono(frame, 3, 2), 64);

    MaskSet missing;  // a session whose initialisation stopped early
    EXPECT_FALSE(FlatFieldCorrect(frame, missing, MaskGeometry{0, 0, 6, 4}));
    EXPECT_FALSE(DefectCorrect(frame, missing, MaskGeometry{0, 0, 6, 4}, 30));
}

TEST(DotFilter, IsolatedOutliersAreReplacedAtTheThreshold) {
    MaskSet masks;
    ASSERT_TRUE(masks.Create(kPlane, kPlane));
    ImageBuffer frame;
    ASSERT_TRUE(frame.Create(kPlane, kPlane, 8));
    test::FillMono(frame, [](int x, int y) {
        if (x == 5 && y == 5) return 140;  // 40 above its neighbours: replaced
        if (x == 7 && y == 7) return 129;  // 29 above: kept
        if (x == 2 && y == 2) return 250;  // outside the four-pixel margin: never examined
        return 100;
    });
    ASSERT_TRUE(DefectCorrect(frame, masks, Whole(), kDefectThreshold8));
    EXPECT_EQ(Mono(frame, 5, 5), 100);
    EXPECT_EQ(Mono(frame, 7, 7), 129);
    EXPECT_EQ(Mono(frame, 2, 2), 250);

    ImageBuffer wide;
    ASSERT_TRUE(wide.Create(kPlane, kPlane, 16));
    test::FillMono(wide, [](int x, int y) { return x == 6 && y == 4 ? 1000 - 480 : 1000; });
    ASSERT_TRUE(DefectCorrect(wide, masks, Whole(), kDefectThreshold16));
    EXPECT_EQ(Mono(wide, 6, 4), 1000);  // a dark outlier at exactly the threshold
}

TEST(DotFilter, MappedRunsTakeTheMeanOfTheNearestGoodPixels) {
    MaskSet masks;
    ASSERT_TRUE(masks.Create(kPlane, kPlane));
    // Three pixels of row 6 are hot in the dark reference.
    for (int x = 4; x <= 6; ++x) test::SetByte(masks.Reference(8, kMaskDark), x, 6, 255);
    masks.BuildDefectMap(8, kMaskDark);
    ImageBuffer frame;
    ASSERT_TRUE(frame.Create(kPlane, kPlane, 8));
    test::FillMono(frame, [](int x, int y) {
        if (y == 6 && x == 3) return 40;
        if (y == 6 && x == 7) return 125;
        if (y == 5 && x == 5) return 75;
        if (y == 7 && x == 5) return 120;
        return 100;
    });
    ASSERT_TRUE(DefectCorrect(frame, masks, Whole(), kDefectThreshold8));
    // (5, 6): the flagged neighbours are skipped: (40 + 125 + 75 + 120) / 4.
    EXPECT_EQ(Mono(frame, 5, 6), 90);
    EXPECT_EQ(Mono(frame, 4, 6), 91);  // (40 + 125 + 100 + 100) / 4
    EXPECT_EQ(Mono(frame, 6, 6), 91);
    EXPECT_EQ(Mono(frame, 7, 6), 125);

    // A windowed frame reads the maps at its window position; one that does not line up
    // with the planes runs the outlier test only.
    ImageBuffer window;
    ASSERT_TRUE(window.Create(10, 10, 8));
    test::FillMono(window, [](int, int) { return 100; });
    ASSERT_TRUE(DefectCorrect(window, masks, MaskGeometry{1, 2, 10, 10}, kDefectThreshold8));
    EXPECT_EQ(Mono(window, 4, 4), 100);  // map (5, 6) lands on (4, 4): replaced by equal value
    test::SetByte(window, 4, 4, 107);
    test::SetByte(window, 3, 4, 90);
    ASSERT_TRUE(DefectCorrect(window, masks, MaskGeometry{1, 2, 10, 10}, kDefectThreshold8));
    EXPECT_NE(Mono(window, 4, 4), 107);  // flagged by the map although no outlier
    test::SetByte(window, 4, 4, 107);
    ASSERT_TRUE(DefectCorrect(window, masks, MaskGeometry{0, 0, 12, 12}, kDefectThreshold8));
    EXPECT_EQ(Mono(window, 4, 4), 107);
}

TEST(MaskUpdate, StoresFullSizeFramesUnderTheMaskLock) {
    MaskSet masks;
    platform::CriticalSection lock;
    ImageBuffer raw;
    ASSERT_TRUE(raw.Create(kPlane, kPlane, 16));
    EXPECT_EQ(UpdateMaskReference(masks, lock, raw, kMaskDark), MaskUpdate::kNoMasks);
    ASSERT_TRUE(masks.Create(kPlane, kPlane));

    test::FillMono(raw, [](int x, int y) { return x == 5 && y == 5 ? 3073 : 10; });
    EXPECT_EQ(UpdateMaskReference(masks, lock, raw, kMaskDark), MaskUpdate::kStored);
    EXPECT_EQ(Mono(masks.Reference(16, kMaskDark), 5, 5), 3073);
    EXPECT_EQ(Mono(masks.DefectMap(16, kMaskDark), 5, 5), 1);
    EXPECT_EQ(Mono(masks.Reference(8, kMaskDark), 5, 5), 0);  // the other depth is untouched

    EXPECT_EQ(UpdateMaskReference(masks, lock, raw, 2), MaskUpdate::kBadSelector);
    EXPECT_EQ(Mono(masks.Reference(16, kMaskBright), 5, 5), 4095);

    // A mask file load replaces references and maps in one step under the lock.
    EXPECT_TRUE(LoadMaskReferences(masks, lock, [&](MaskSet& m) {
        bool held = false;  // another thread cannot take the lock meanwhile
        std::thread probe([&] {
            held = !lock.TryEnter();
            if (!held) lock.Leave();
        });
        probe.join();
        EXPECT_TRUE(held);
        test::SetByte(m.Reference(8, kMaskBright), 3, 3, 10);
        return true;
    }));
    EXPECT_EQ(Mono(masks.DefectMap(8, kMaskBright), 3, 3), 1);
    EXPECT_FALSE(LoadMaskReferences(masks, lock, [](MaskSet& m) {
        test::SetByte(m.Reference(8, kMaskBright), 4, 4, 10);
        return false;  // a damaged file: the maps stay as they were
    }));
    EXPECT_EQ(Mono(masks.DefectMap(8, kMaskBright), 4, 4), 0);
    test::SetByte(masks.Reference(8, kMaskBright), 4, 4, 255);

    ImageBuffer small;
    ASSERT_TRUE(small.Create(6, 6, 8));
    test::FillMono(small, [](int, int) { return 9; });
    EXPECT_EQ(UpdateMaskReference(masks, lock, small, kMaskBright), MaskUpdate::kNotFullSize);
    EXPECT_EQ(Mono(masks.Reference(8, kMaskBright), 0, 0), 255);
}

}  // namespace
}  // namespace lumora

namespace lumora {
namespace {

// The correction avoids a division per pixel; these compare it with the plain integer rule.
TEST(FlatField, EightBitMatchesTheIntegerRuleForEveryTriple) {
    MaskSet masks;
    ASSERT_TRUE(masks.Create(256, 256));
    // dark = x, bright = y: every (lo, hi) pair once per frame, every v over the frames.
    test::FillMono(masks.Reference(8, kMaskDark), [](int x, int) { return x; });
    test::FillMono(masks.Reference(8, kMaskBright), [](int, int y) { return y; });
    ImageBuffer frame;
    ASSERT_TRUE(frame.Create(256, 256, 8));
    int mismatches = 0;
    for (int v = 0; v < 256; ++v) {
        test::FillMono(frame, [v](int, int) { return v; });
        ASSERT_TRUE(FlatFieldCorrect(frame, masks, MaskGeometry{0, 0, 256, 256}));
        for (int hi = 0; hi < 256; ++hi) {
            for (int lo = 0; lo < 256; ++lo) {
                int expected = v;
                if (hi != lo) expected = std::clamp((v - lo) * 256 / (hi - lo), 0, 255);
                mismatches += Mono(frame, lo, hi) != expected;
            }
        }
    }
    EXPECT_EQ(mismatches, 0);
}

TEST(FlatField, SixteenBitMatchesTheIntegerRuleOnRandomAndBoundaryTriples) {
    constexpr int kSide = 512;
    MaskSet masks;
    ASSERT_TRUE(masks.Create(kSide, kSide));
    ImageBuffer frame;
    ASSERT_TRUE(frame.Create(kSide, kSide, 16));
    ImageBuffer& dark = masks.Reference(16, kMaskDark);
    ImageBuffer& bright = masks.Reference(16, kMaskBright);
    uint32_t seed = 12345;
    auto next = [&seed] {
        seed = seed * 1664525u + 1013904223u;
        return seed >> 8;
    };
    for (int y = 0; y < kSide; ++y) {
        for (int x = 0; x < kSide; ++x) {
            const int lo = static_cast<int>(next() % 65536) >> (next() % 5 * 3);
            const int span = 1 + (static_cast<int>(next() % 65535) >> (next() % 12));
            const int hi = std::min(lo + span, 65535);
            // Half of the samples sit where the quotient is (almost) a whole number.
            int v;
            if (next() % 2 == 0) {
                v = static_cast<int>(next() % 65536);
            } else {
                const long long k = next() % 4097;
                v = static_cast<int>(
                    std::min<long long>(65535, lo + (k * (hi - lo) + 4095) / 4096 - next() % 2));
            }
            test::SetWord(dark, x, y, static_cast<uint16_t>(lo));
            test::SetWord(bright, x, y, static_cast<uint16_t>(hi));
            test::SetWord(frame, x, y, static_cast<uint16_t>(std::max(v, 0)));
        }
    }
    ImageBuffer original;
    ASSERT_TRUE(original.CreateLike(frame));
    std::memcpy(original.Pixels(), frame.Pixels(), frame.SizeBytes());
    ASSERT_TRUE(FlatFieldCorrect(frame, masks, MaskGeometry{0, 0, kSide, kSide}));
    int mismatches = 0;
    for (int y = 0; y < kSide; ++y) {
        for (int x = 0; x < kSide; ++x) {
            const long long v = Mono(original, x, y);
            const long long lo = Mono(dark, x, y);
            const long long hi = Mono(bright, x, y);
            long long expected = v;
            if (hi > lo) expected = std::clamp((v - lo) * 4096 / (hi - lo), 0LL, 4095LL) << 4;
            mismatches += Mono(frame, x, y) != expected;
        }
    }
    EXPECT_EQ(mismatches, 0);
}

}  // namespace
}  // namespace lumora

namespace lumora {
namespace {

// The dot filter as the rule states it, searched pixel by pixel, as an oracle for the
// run-remembering implementation.
template <class T>
std::vector<int> DotFilterByTheRule(const std::vector<int>& v, const std::vector<int>& dark,
                                    const std::vector<int>& bright, int w, int h, int threshold) {
    std::vector<uint8_t> flag(v.size(), 0);
    for (int y = 4; y <= h - 5; ++y) {
        for (int x = 4; x <= w - 5; ++x) {
            const size_t i = static_cast<size_t>(y * w + x);
            const int mean = (v[i - 1] + v[i + 1] + v[i - static_cast<size_t>(w)] +
                              v[i + static_cast<size_t>(w)]) /
                             4;
            flag[i] = dark[i] != 0 || bright[i] != 0 || std::abs(v[i] - mean) >= threshold;
        }
    }
    std::vector<int> out = v;
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            const size_t i = static_cast<size_t>(y * w + x);
            if (!flag[i]) continue;
            int sum = 0;
            int count = 0;
            auto take = [&](int xx, int yy) {
                const size_t j = static_cast<size_t>(yy * w + xx);
                if (flag[j]) return false;
                sum += v[j];
                ++count;
                return true;
            };
            for (int xx = x - 1; xx >= 0 && !take(xx, y); --xx) {
            }
            for (int xx = x + 1; xx < w && !take(xx, y); ++xx) {
            }
            for (int yy = y - 1; yy >= 0 && !take(x, yy); --yy) {
            }
            for (int yy = y + 1; yy < h && !take(x, yy); ++yy) {
            }
            if (count > 0) out[i] = sum / count;
        }
    }
    return out;
}

template <class T>
void CompareWithTheRule(int bits, uint32_t seed) {
    constexpr int kW = 61;  // odd: stride padding on both depths
    constexpr int kH = 47;
    auto next = [&seed] {
        seed = seed * 1664525u + 1013904223u;
        return seed >> 8;
    };
    const int maxValue = bits == 8 ? 255 : 4095;
    const int threshold = bits == 8 ? kDefectThreshold8 : kDefectThreshold16;
    MaskSet masks;
    ASSERT_TRUE(masks.Create(kW, kH));
    ImageBuffer frame;
    ASSERT_TRUE(frame.Create(kW, kH, bits));
    std::vector<int> v(kW * kH);
    std::vector<int> dark(kW * kH, 0);
    std::vector<int> bright(kW * kH, 0);
    for (int y = 0; y < kH; ++y) {
        for (int x = 0; x < kW; ++x) {
            const size_t i = static_cast<size_t>(y * kW + x);
            // A smooth ramp with sparse spikes, whole defective rows/columns and blocks.
            int value = (x * 3 + y * 2) % (maxValue / 2) + maxValue / 8;
            if (next() % 23 == 0)
                value = static_cast<int>(next() % static_cast<uint32_t>(maxValue + 1));
            v[i] = value;
            const bool column = x == 17 && y > 6;
            const bool rowRun = y == 30 && x > 10 && x < 50;
            const bool block = x >= 40 && x < 44 && y >= 8 && y < 13;
            if (x >= 2 && x < kW - 2 && y >= 2 && y < kH - 2) {
                dark[i] = column || block || next() % 97 == 0;
                bright[i] = rowRun || next() % 89 == 0;
            }
            test::SetByte(masks.DefectMap(bits, kMaskDark), x, y, 0);
            if (bits == 8) {
                test::SetByte(frame, x, y, static_cast<uint8_t>(value));
                test::SetByte(masks.DefectMap(8, kMaskDark), x, y, static_cast<uint8_t>(dark[i]));
                test::SetByte(masks.DefectMap(8, kMaskBright), x, y,
                              static_cast<uint8_t>(bright[i]));
            } else {
                test::SetWord(frame, x, y, static_cast<uint16_t>(value));
                test::SetWord(masks.DefectMap(16, kMaskDark), x, y, static_cast<uint16_t>(dark[i]));
                test::SetWord(masks.DefectMap(16, kMaskBright), x, y,
                              static_cast<uint16_t>(bright[i]));
            }
        }
    }
    const std::vector<int> expected = DotFilterByTheRule<T>(v, dark, bright, kW, kH, threshold);
    ImageBuffer fused;
    ASSERT_TRUE(fused.CreateLike(frame));
    std::memcpy(fused.Pixels(), frame.Pixels(), frame.SizeBytes());
    ASSERT_TRUE(DefectCorrect(frame, masks, MaskGeometry{0, 0, kW, kH}, threshold));
    int mismatches = 0;
    for (int y = 0; y < kH; ++y) {
        for (int x = 0; x < kW; ++x) {
            mismatches += Mono(frame, x, y) != expected[static_cast<size_t>(y * kW + x)];
        }
    }
    EXPECT_EQ(mismatches, 0) << bits << "-bit, seed " << seed;

    // The same defects in the one pass with the flat field, with references that map every
    // sample to itself (8 bits) or to itself in the top twelve bits (16 bits), where the
    // flattened threshold applies.
    const int shift = bits == 8 ? 0 : 4;
    test::FillMono(masks.Reference(bits, kMaskDark), [](int, int) { return 0; });
    test::FillMono(masks.Reference(bits, kMaskBright),
                   [bits](int, int) { return bits == 8 ? 255 : 4096; });
    std::vector<int> shifted = v;
    for (int& value : shifted) value <<= shift;
    const std::vector<int> expectedFused =
        DotFilterByTheRule<T>(shifted, dark, bright, kW, kH, threshold << shift);
    ASSERT_TRUE(FlatFieldAndDefectCorrect(fused, masks, MaskGeometry{0, 0, kW, kH},
                                          threshold << shift, threshold));
    mismatches = 0;
    for (int y = 0; y < kH; ++y) {
        for (int x = 0; x < kW; ++x) {
            mismatches += Mono(fused, x, y) != expectedFused[static_cast<size_t>(y * kW + x)];
        }
    }
    EXPECT_EQ(mismatches, 0) << bits << "-bit in one pass, seed " << seed;
}

TEST(DotFilter, MatchesThePixelByPixelRuleOnDenseDefects) {
    for (uint32_t seed : {1u, 2u, 3u, 99u}) {
        CompareWithTheRule<uint8_t>(8, seed);
        CompareWithTheRule<uint16_t>(16, seed);
    }
}

// A correction after an update, a load or a write through a reference uses the new references.
TEST(FlatField, FollowsEveryWayTheReferencesChange) {
    MaskSet masks;
    ASSERT_TRUE(masks.Create(8, 8));
    platform::CriticalSection lock;
    ImageBuffer frame;
    ASSERT_TRUE(frame.Create(8, 8, 8));
    auto correct = [&](int v) {
        test::FillMono(frame, [v](int, int) { return v; });
        EXPECT_TRUE(FlatFieldCorrect(frame, masks, MaskGeometry{0, 0, 8, 8}));
        return Mono(frame, 3, 3);
    };
    EXPECT_EQ(correct(100), 100);  // dark 0, bright 255

    ImageBuffer raw;
    ASSERT_TRUE(raw.Create(8, 8, 8));
    test::FillMono(raw, [](int, int) { return 200; });
    ASSERT_EQ(UpdateMaskReference(masks, lock, raw, kMaskBright), MaskUpdate::kStored);
    EXPECT_EQ(correct(100), 128);  // 100 × 256 / 200

    ASSERT_TRUE(LoadMaskReferences(masks, lock, [](MaskSet& m) {
        test::FillMono(m.Reference(8, kMaskDark), [](int, int) { return 50; });
        return true;
    }));
    EXPECT_EQ(correct(100), 85);  // 50 × 256 / 150

    ImageBuffer& dark = masks.Reference(8, kMaskDark);
    EXPECT_EQ(correct(100), 85);
    test::FillMono(dark, [](int, int) { return 100; });
    EXPECT_EQ(correct(150), 128);  // 50 × 256 / 100
}

}  // namespace
}  // namespace lumora
