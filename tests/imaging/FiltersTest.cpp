#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "ImageTestUtil.h"
#include "imaging/Filters.h"

namespace lumora {
namespace {

using test::Byte;
using test::Mono;
using test::Word;

// Runs one filter variant on a single-row image of `values` and returns the results.
std::vector<int> RunFilter(const FilterVariants& filter, FilterVariant variant, int bits,
                           int setting, const std::vector<int>& values) {
    ImageBuffer image;
    EXPECT_TRUE(image.Create(static_cast<int>(values.size()), 1, bits));
    test::FillMono(image, [&](int x, int) { return values[static_cast<size_t>(x)]; });
    ApplyInPlace(image, filter.For(variant), &setting);
    std::vector<int> out;
    for (int x = 0; x < image.Width(); ++x) out.push_back(Mono(image, x, 0));
    return out;
}

TEST(Filters, VariantsFollowTheColourMode) {
    EXPECT_EQ(FilterVariantFor(0), FilterVariant::kMono8);
    EXPECT_EQ(FilterVariantFor(1), FilterVariant::kMono16);
    EXPECT_EQ(FilterVariantFor(3), FilterVariant::kColor8);
    EXPECT_EQ(FilterVariantFor(5), FilterVariant::kColor16);
    EXPECT_FALSE(FilterVariantFor(6).has_value());
    EXPECT_EQ(kHueSaturationFilter.mono8, nullptr);
}

TEST(Filters, ContrastStretchesAndCompresses) {
    EXPECT_EQ(RunFilter(kContrastFilter, FilterVariant::kMono8, 8, 127, {126, 127, 128, 129}),
              (std::vector<int>{0, 0, 128, 255}));
    EXPECT_EQ(RunFilter(kContrastFilter, FilterVariant::kMono8, 8, -127, {0, 255}),
              (std::vector<int>{63, 191}));
    // 16-bit: c = contrast × 256. With 100: 25599 → 0, 39936 → 65535, 32768 → 32768.
    EXPECT_EQ(RunFilter(kContrastFilter, FilterVariant::kMono16, 16, 100, {25599, 39936, 32768}),
              (std::vector<int>{0, 65535, 32768}));
}

TEST(Filters, GammaTableAndItsEnds) {
    EXPECT_EQ(RunFilter(kGammaFilter, FilterVariant::kMono8, 8, 200, {0, 64, 255}),
              (std::vector<int>{0, 127, 255}));
    EXPECT_EQ(RunFilter(kGammaFilter, FilterVariant::kMono8, 8, 50, {16, 255}),
              (std::vector<int>{1, 255}));  // 255 × (16/255)² = 1.004
    // Gamma 0 (exponent infinite) is a step: everything below the top goes to 0.
    EXPECT_EQ(RunFilter(kGammaFilter, FilterVariant::kMono8, 8, 0, {0, 254, 255}),
              (std::vector<int>{0, 0, 255}));
    EXPECT_EQ(RunFilter(kGammaFilter, FilterVariant::kMono16, 16, 200, {16384, 65535}),
              (std::vector<int>{32767, 65535}));  // trunc(65535 × √(16384/65535))
}

TEST(Filters, BrightnessScalesAndClips) {
    EXPECT_EQ(RunFilter(kBrightnessFilter, FilterVariant::kMono8, 8, 255, {23, 24, 0}),
              (std::vector<int>{253, 255, 0}));
    EXPECT_EQ(RunFilter(kBrightnessFilter, FilterVariant::kMono8, 8, -255, {1, 128, 255}),
              (std::vector<int>{0, 0, 0}));
    EXPECT_EQ(RunFilter(kBrightnessFilter, FilterVariant::kMono16, 16, -255, {65535}),
              (std::vector<int>{0}));
    EXPECT_EQ(RunFilter(kBrightnessFilter, FilterVariant::kMono16, 16, 255, {5957, 5958}),
              (std::vector<int>{65527, 65535}));
    EXPECT_EQ(RunFilter(kBrightnessFilter, FilterVariant::kMono8, 8, -51, {200}),
              (std::vector<int>{159}));  // the single-precision factor lies just below 0.8
}

TEST(Filters, ColourVariantsTouchOnlyTheFirstThreeComponents) {
    ImageBuffer image;
    ASSERT_TRUE(image.Create(3, 2, 32));
    for (int y = 0; y < 2; ++y) {
        for (int x = 0; x < 3; ++x) {
            for (int c = 0; c < 4; ++c) test::SetByte(image, x, y, 128, c);
        }
    }
    int contrast = 127;
    ApplyInPlace(image, kContrastFilter.color8, &contrast);
    EXPECT_EQ(Byte(image, 2, 1, 0), 128);
    int gamma = 200;
    ApplyInPlace(image, kGammaFilter.color8, &gamma);
    EXPECT_EQ(Byte(image, 2, 1, 2), 180);  // trunc(255 × √(128/255))
    EXPECT_EQ(Byte(image, 2, 1, 3), 128);

    ImageBuffer wide;
    ASSERT_TRUE(wide.Create(2, 1, 64));
    for (int c = 0; c < 4; ++c) test::SetWord(wide, 1, 0, 1000, c);
    int brightness = 255;
    ApplyInPlace(wide, kBrightnessFilter.color16, &brightness);
    EXPECT_EQ(Word(wide, 1, 0, 0), 11000);
    EXPECT_EQ(Word(wide, 1, 0, 3), 1000);
}

TEST(Filters, SharpnessIsAnUnsharpMaskOverTheInterior) {
    auto sharpen = [](int bits, int centre, int strength, int size) {
        ImageBuffer src;
        ImageBuffer dst;
        EXPECT_TRUE(src.Create(size, size, bits));
        test::FillMono(src, [&](int x, int y) { return x == 2 && y == 2 ? centre : 100; });
        EXPECT_TRUE(dst.CreateLike(src));
        std::memcpy(dst.Pixels(), src.Pixels(), src.SizeBytes());
        ApplySharpness(dst, src, strength);
        return dst;
    };
    // 5 × 5: only (2, 2) is interior; its 4×4 block covers columns and rows 0..3.
    ImageBuffer r = sharpen(8, 200, 1, 5);
    EXPECT_EQ(Mono(r, 2, 2), 209);  // blur 1700 >> 4 = 106, diff 94, +9
    r = sharpen(8, 200, 10, 5);
    EXPECT_EQ(Mono(r, 2, 2), 255);
    r = sharpen(8, 50, 5, 5);
    EXPECT_EQ(Mono(r, 2, 2), 27);  // blur 96, diff −46, −23 (truncated toward zero)
    r = sharpen(8, 0, 1, 5);
    EXPECT_EQ(Mono(r, 2, 2), 0);  // blur 93, −9 clipped at 0
    EXPECT_EQ(Mono(r, 0, 0), 100);
    r = sharpen(16, 60000, 30, 6);
    EXPECT_EQ(Mono(r, 2, 2), 65535);
    EXPECT_EQ(Mono(r, 3, 3), 0);  // blur 3843, diff −3743 × 3 = −11229 below 0

    r = sharpen(8, 200, 30, 4);  // smaller than 5 × 5: nothing changes
    EXPECT_EQ(Mono(r, 2, 2), 200);
}

TEST(Filters, HueSaturationFromTheSixSectorTable) {
    HueSaturationTables tables;
    tables.Prepare(0, 0);
    EXPECT_EQ(tables.Apply(200, 100, 50), 0xC86432);  // neutral settings reproduce the colour
    tables.Prepare(120, 0);
    EXPECT_EQ(tables.Apply(255, 0, 0), 0x02FF00);  // red turns (almost exactly) green
    tables.Prepare(0, -255);
    EXPECT_EQ(tables.Apply(200, 100, 100), 0x969696);  // d ≤ 127 → gray (mx + mn) >> 1
    EXPECT_EQ(tables.Apply(50, 50, 50), 0x323232);
    EXPECT_EQ(tables.Apply(255, 0, 0), 0x807F7F);  // d = 255 keeps one unit of chroma

    ImageBuffer image;
    ASSERT_TRUE(image.Create(1, 1, 64));
    test::SetWord(image, 0, 0, 0x6400, 0);  // B
    test::SetWord(image, 0, 0, 0x6400, 1);  // G
    test::SetWord(image, 0, 0, 0xC8FF, 2);  // R: the low byte is dropped
    test::SetWord(image, 0, 0, 0x1234, 3);
    ApplyHueSaturation(image, tables);
    EXPECT_EQ(Word(image, 0, 0, 0), 0x9600);
    EXPECT_EQ(Word(image, 0, 0, 2), 0x9600);
    EXPECT_EQ(Word(image, 0, 0, 3), 0);
}

TEST(GrayMode, GainAndOffsetPerBayerSite) {
    // Mode 3: (0,0) G2, (1,0) B, (0,1) R, (1,1) G1.
    EXPECT_EQ(GraySiteAt(3, 0, 0), kGrayG2);
    EXPECT_EQ(GraySiteAt(3, 1, 0), kGrayB);
    EXPECT_EQ(GraySiteAt(3, 0, 1), kGrayR);
    EXPECT_EQ(GraySiteAt(3, 1, 1), kGrayG1);
    EXPECT_EQ(GraySiteAt(0, 0, 0), kGrayG1);

    ImageBuffer image;
    ASSERT_TRUE(image.Create(3, 2, 8));
    test::FillMono(image, [](int, int) { return 100; });
    GrayGainParams p{3, {255, 64, 128, 0}, {0, 10, -20, 5}, 12};
    ApplyInPlace(image, GrayGainOffset, &p);
    EXPECT_EQ(Mono(image, 0, 1), 199);  // R: ⌊255 × 100 / 128⌋
    EXPECT_EQ(Mono(image, 1, 1), 60);   // G1: 10 + 50
    EXPECT_EQ(Mono(image, 0, 0), 80);   // G2: −20 + 100
    EXPECT_EQ(Mono(image, 2, 0), 80);
    EXPECT_EQ(Mono(image, 1, 0), 5);  // B: 5 + 0

    GrayGainParams clip{3, {128, 128, 128, 128}, {-255, -255, -255, -255}, 12};
    test::FillMono(image, [](int, int) { return 10; });
    ApplyInPlace(image, GrayGainOffset, &clip);
    EXPECT_EQ(Mono(image, 1, 1), 0);  // no wrap-around

    ImageBuffer wide;
    ASSERT_TRUE(wide.Create(2, 2, 16));
    test::FillMono(wide, [](int, int) { return 4000; });
    GrayGainParams up{3, {255, 255, 255, 255}, {128, 128, 128, 128}, 12};
    ApplyInPlace(wide, GrayGainOffset, &up);
    EXPECT_EQ(Mono(wide, 0, 0), 4095);  // 12-bit sample width limits the result
    test::FillMono(wide, [](int, int) { return 4000; });
    up.sampleWidth = 16;
    ApplyInPlace(wide, GrayGainOffset, &up);
    EXPECT_EQ(Mono(wide, 0, 0), 128 + 7968);
}

TEST(GrayMode, GainAndOffsetSameAtEveryInstructionSet) {
    for (int bits : {8, 16}) {
        const int maxValue = bits == 8 ? 255 : 4095;
        ImageBuffer source;
        ASSERT_TRUE(source.Create(77, 4, bits));
        test::TestRandom random(static_cast<uint32_t>(bits));
        test::FillMono(source, [&](int, int) { return random.Below(maxValue + 1); });
        const GrayGainParams p{1, {255, 3, 128, 200}, {-40, 90, 0, 7}, bits == 8 ? 8 : 12};
        test::ForEachSimdLevel([&](SimdLevel level) {
            ImageBuffer image;
            ASSERT_TRUE(image.Create(77, 4, bits));
            std::memcpy(image.Pixels(), source.Pixels(), image.SizeBytes());
            ApplyInPlace(image, GrayGainOffset, &p);
            for (int y = 0; y < 4; ++y) {
                for (int x = 0; x < 77; ++x) {
                    const int site = GraySiteAt(1, x, y);
                    const int want = std::clamp(
                        p.offset[site] + ((p.gain[site] * Mono(source, x, y)) >> 7), 0, maxValue);
                    ASSERT_EQ(Mono(image, x, y), want) << SimdLevelName(level) << " " << bits
                                                       << "-bit (" << x << ", " << y << ")";
                }
            }
        });
    }
}

TEST(GrayMode, NeutralTestIncludesOffsetB) {
    GraySettings gray;
    EXPECT_TRUE(GrayGainIsNeutral(gray));
    gray.offset[kGrayB] = 0;
    EXPECT_FALSE(GrayGainIsNeutral(gray));
    gray = GraySettings{};
    gray.gain[kGrayR] = 129;
    EXPECT_FALSE(GrayGainIsNeutral(gray));
}

TEST(Estimates, GrayGainsSkipEmptySitesAndClamp) {
    ImageBuffer raw;
    ASSERT_TRUE(raw.Create(4, 4, 8));
    // Mode 0: (0,0) G1, (1,0) R, (0,1) B, (1,1) G2.
    const int site[4] = {100, 50, 0, 200};  // G1, R, B, G2 by (x & 1) + 2 (y & 1)
    test::FillMono(raw, [&](int x, int y) { return site[(x & 1) + 2 * (y & 1)]; });
    const auto gains = EstimateGrayGains(raw, 0, {11, 22, 33, 44});
    EXPECT_EQ(gains[kGrayG1], 128);
    EXPECT_EQ(gains[kGrayR], 255);  // 100/50 × 128 = 256, clamped
    EXPECT_EQ(gains[kGrayG2], 64);
    EXPECT_EQ(gains[kGrayB], 44);  // mean 0: kept

    test::FillMono(raw, [](int, int) { return 0; });
    EXPECT_EQ(EstimateGrayGains(raw, 0, {1, 2, 3, 4}), (std::array<int, 4>{1, 2, 3, 4}));
}

TEST(Estimates, WhiteBalanceAgainstGreenWithLimits) {
    ImageBuffer raw;
    ASSERT_TRUE(raw.Create(4, 4, 16));
    // Phase 0: (0,0) G, (1,0) B, (0,1) R, (1,1) G.
    auto fill = [&](int r, int g, int b) {
        test::FillMono(raw, [=](int x, int y) {
            const int k = (x & 1) + 2 * (y & 1);
            return k == 1 ? b : k == 2 ? r : g;
        });
    };
    fill(30, 90, 45);
    BayerGains g = EstimateWhiteBalance(raw, 0, {1, 2, 3});
    EXPECT_EQ(g.r, 300);
    EXPECT_EQ(g.g, 100);
    EXPECT_EQ(g.b, 200);
    fill(10, 90, 0);
    g = EstimateWhiteBalance(raw, 0, {1, 2, 3});
    EXPECT_EQ(g.r, 400);  // 900 limited
    EXPECT_EQ(g.b, 3);    // mean 0: kept
    fill(10, 0, 10);
    g = EstimateWhiteBalance(raw, 0, {1, 2, 3});
    EXPECT_EQ(g.r, 1);
    EXPECT_EQ(g.g, 2);
    // The phase decides which samples are red: phase 3 swaps the rows and columns of phase 0.
    fill(30, 90, 45);
    g = EstimateWhiteBalance(raw, 3, {1, 2, 3});
    EXPECT_EQ(g.r, 200);  // red sits at (1, 0) now (mean 45), blue at (0, 1) (mean 30)
    EXPECT_EQ(g.b, 300);
}

}  // namespace
}  // namespace lumora
