#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "ImageTestUtil.h"
#include "imaging/Demosaic.h"

namespace lumora {
namespace {

using test::Byte;
using test::Word;

// Sample colour at (x, y) for a phase: 'R', 'B' or 'G'.
char ColourAt(int phase, int x, int y) {
    const int rowState = (phase & 1) ^ (y & 1);
    const int colState = ((phase >> 1) & 1) ^ (x & 1);
    if (rowState == 1 && colState == 0) return 'R';
    if (rowState == 0 && colState == 1) return 'B';
    return 'G';
}

// A mosaic whose samples are r, g or b by their colour.
void FillMosaic(ImageBuffer& raw, int phase, int r, int g, int b) {
    test::FillMono(raw, [=](int x, int y) {
        const char c = ColourAt(phase, x, y);
        return c == 'R' ? r : c == 'B' ? b : g;
    });
}

TEST(Demosaic, PhaseTableAndMirrorCorrection) {
    // Top-left 2×2 by mode: 0 → G B / R G, 1 → R G / G B, 2 → B G / G R, 3 → G R / B G.
    const char* expected[4] = {"GBRG", "RGGB", "BGGR", "GRBG"};
    for (int mode = 0; mode < 4; ++mode) {
        const char got[5] = {ColourAt(mode, 0, 0), ColourAt(mode, 1, 0), ColourAt(mode, 0, 1),
                             ColourAt(mode, 1, 1), 0};
        EXPECT_STREQ(got, expected[mode]) << mode;
    }
    EXPECT_EQ(CorrectedBayerPhase(0, false, true), 1);
    EXPECT_EQ(CorrectedBayerPhase(0, true, true), 3);
    EXPECT_EQ(CorrectedBayerPhase(3, true, false), 1);
    EXPECT_EQ(DemosaicGainFactor(100), 128);
    EXPECT_EQ(DemosaicGainFactor(400), 512);
    EXPECT_EQ(DemosaicGainFactor(0), 0);
}

TEST(Demosaic, FlatMosaicKeepsItsColoursEverywhereIncludingTheBorder) {
    for (int phase = 0; phase < 4; ++phase) {
        ImageBuffer raw;
        ImageBuffer color;
        ASSERT_TRUE(raw.Create(9, 7, 8));
        ASSERT_TRUE(color.Create(9, 7, 24));
        FillMosaic(raw, phase, 100, 100, 100);
        const DemosaicParams params{phase, 100, 100, 100};
        ASSERT_EQ(ApplyConverter(color, DemosaicBayer, raw, nullptr, 0, 0, &params), 1);
        for (int y = 0; y < 7; ++y) {
            for (int x = 0; x < 9; ++x) {
                ASSERT_EQ(Byte(color, x, y, 0), 100) << phase << " " << x << "," << y;
                ASSERT_EQ(Byte(color, x, y, 1), 100);
                ASSERT_EQ(Byte(color, x, y, 2), 100);
            }
        }
        // Distinct colours survive too, on every pixel: the border pass keeps Bayer colours.
        FillMosaic(raw, phase, 80, 120, 40);
        ApplyConverter(color, DemosaicBayer, raw, nullptr, 0, 0, &params);
        for (int y = 0; y < 7; ++y) {
            for (int x = 0; x < 9; ++x) {
                ASSERT_EQ(Byte(color, x, y, 0), 40) << phase << " " << x << "," << y;
                ASSERT_EQ(Byte(color, x, y, 1), 120);
                ASSERT_EQ(Byte(color, x, y, 2), 80);
            }
        }
    }
}

TEST(Demosaic, WeightsNineThreeThreeOneWorkedByHand) {
    // Phase 3 (G R / B G). Output (3, 3): cell (2..3, 2..3) holds R at (3, 2) and B at (2, 3).
    ImageBuffer raw;
    ImageBuffer color;
    ASSERT_TRUE(raw.Create(8, 8, 8));
    ASSERT_TRUE(color.Create(8, 8, 32));
    test::FillMono(raw, [](int, int) { return 0; });
    auto set = [&](int x, int y, int v) { test::SetByte(raw, x, y, static_cast<uint8_t>(v)); };
    set(3, 2, 160);  // red, weight 9
    set(1, 2, 16);   // red two columns away, weight 3
    set(3, 4, 32);   // red two rows away, weight 3
    set(1, 4, 64);   // diagonal, weight 1
    set(2, 3, 200);  // blue, weight 9
    set(4, 3, 100);  // blue two columns away, weight 3
    set(2, 2, 50);   // the cell's greens
    set(3, 3, 61);
    const DemosaicParams params{3, 100, 100, 100};
    ApplyConverter(color, DemosaicBayer, raw, nullptr, 0, 0, &params);
    EXPECT_EQ(Byte(color, 3, 3, 2), 103);  // (9·160 + 3·16 + 3·32 + 64) / 16 = 103
    EXPECT_EQ(Byte(color, 3, 3, 0), 131);  // (9·200 + 3·100) / 16 = 131.25
    EXPECT_EQ(Byte(color, 3, 3, 1), 55);   // (50 + 61) >> 1
    EXPECT_EQ(Byte(color, 3, 3, 3), 0);    // X untouched

    const DemosaicParams half{3, 50, 100, 200};  // factors 64 and 256; green gain unused
    ApplyConverter(color, DemosaicBayer, raw, nullptr, 0, 0, &half);
    EXPECT_EQ(Byte(color, 3, 3, 2), 51);   // 1648 × 64 >> 11
    EXPECT_EQ(Byte(color, 3, 3, 0), 255);  // 2100 × 256 >> 11 = 262, saturated
    EXPECT_EQ(Byte(color, 3, 3, 1), 55);
}

TEST(Demosaic, GainSaturatesAtTheTopOfTheRange) {
    ImageBuffer raw8;
    ImageBuffer c24;
    ASSERT_TRUE(raw8.Create(6, 6, 8));
    ASSERT_TRUE(c24.Create(6, 6, 24));
    FillMosaic(raw8, 0, 200, 10, 10);
    const DemosaicParams params{0, 400, 100, 100};
    ApplyConverter(c24, DemosaicBayer, raw8, nullptr, 0, 0, &params);
    EXPECT_EQ(Byte(c24, 3, 3, 2), 255);
    EXPECT_EQ(Byte(c24, 3, 3, 0), 10);

    for (int bits : {48, 64}) {
        ImageBuffer raw16;
        ImageBuffer c;
        ASSERT_TRUE(raw16.Create(6, 6, 16));
        ASSERT_TRUE(c.Create(6, 6, bits));
        FillMosaic(raw16, 0, 20000, 3000, 1000);
        ApplyConverter(c, DemosaicBayer, raw16, nullptr, 0, 0, &params);
        EXPECT_EQ(Word(c, 3, 3, 2), 0xFFFF);
        EXPECT_EQ(Word(c, 3, 3, 1), 3000);
        EXPECT_EQ(Word(c, 3, 3, 0), 1000);
        if (bits == 64) {
            EXPECT_EQ(Word(c, 3, 3, 3), 0);
        }
    }
}

TEST(Demosaic, TinyImagesStayInsideTheirPlanes) {
    // Images with fewer than four rows or columns: every neighbour is clamped into the image.
    for (int w = 1; w <= 5; ++w) {
        for (int h = 1; h <= 5; ++h) {
            ImageBuffer raw;
            ImageBuffer color;
            ASSERT_TRUE(raw.Create(w, h, 16));
            ASSERT_TRUE(color.Create(w, h, 48));
            test::FillMono(raw, [](int, int) { return 500; });
            const DemosaicParams params{1, 100, 100, 100};
            ASSERT_EQ(ApplyConverter(color, DemosaicBayer, raw, nullptr, 0, 0, &params), 1);
            EXPECT_EQ(Word(color, w - 1, h - 1, 1), 500) << w << "x" << h;
        }
    }
}

TEST(LumaFromColor, WeightsThirtyFiftyNineEleven) {
    ImageBuffer color;
    ImageBuffer gray;
    ASSERT_TRUE(color.Create(3, 1, 24));
    ASSERT_TRUE(gray.Create(3, 1, 8));
    const uint8_t bgr[3][3] = {{255, 255, 255}, {0, 0, 255}, {10, 20, 30}};
    for (int x = 0; x < 3; ++x) {
        for (int c = 0; c < 3; ++c) test::SetByte(color, x, 0, bgr[x][c], c);
    }
    ApplyConverter(gray, LumaFromColor, color, nullptr, 0, 0, nullptr);
    EXPECT_EQ(Byte(gray, 0, 0), 255);
    EXPECT_EQ(Byte(gray, 1, 0), 76);
    EXPECT_EQ(Byte(gray, 2, 0), 21);  // (900 + 1180 + 110) / 100
}

}  // namespace
}  // namespace lumora

namespace lumora {
namespace {

// The demosaic rule written out pixel by pixel: locate the cell's red and blue samples and
// their partners two samples further from the cell centre (outside the image: four further
// in, then clamped), weight 9/3/3/1.
int RuleNeighbour(int index, int offset, int n) {
    int i = index + offset;
    if (i < 0 || i >= n) i = index + (offset == -2 ? 2 : offset == -1 ? 3 : -3);
    return std::clamp(i, 0, n - 1);
}

template <class T>
void CompareDemosaicWithTheRule(int width, int height, int phase, uint32_t seed) {
    const int bits = sizeof(T) * 8;
    const int maxValue = bits == 8 ? 255 : 65535;
    ImageBuffer raw;
    ImageBuffer color;
    ASSERT_TRUE(raw.Create(width, height, bits));
    ASSERT_TRUE(color.Create(width, height, bits == 8 ? 24 : 48));
    test::FillMono(raw, [&](int, int) {
        seed = seed * 1664525u + 1013904223u;
        return static_cast<int>((seed >> 8) % static_cast<uint32_t>(maxValue + 1));
    });
    const DemosaicParams params{phase, 170, 100, 60};
    ApplyConverter(color, DemosaicBayer, raw, nullptr, 0, 0, &params);
    const int factorR = static_cast<int>(170 * 1.28);
    const int factorB = static_cast<int>(60 * 1.28);
    int mismatches = 0;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            // Cell positions: offsets -1 and 0 in each direction (remapped at the border).
            const int cellY[2] = {RuleNeighbour(y, -1, height), y};
            const int cellX[2] = {RuleNeighbour(x, -1, width), x};
            int redY = 0, redX = 0, blueY = 0, blueX = 0;
            for (int j = 0; j < 2; ++j) {
                for (int i = 0; i < 2; ++i) {
                    // The colour is that of the unremapped position (x - 1 + i, y - 1 + j).
                    const char c = ColourAt(phase, x - 1 + i, y - 1 + j);
                    if (c == 'R') redY = j, redX = i;
                    if (c == 'B') blueY = j, blueX = i;
                }
            }
            auto sample = [&](int yy, int xx) { return test::Mono(raw, xx, yy); };
            // Partner of cell offset 0 is -2 (the far side), of cell offset -1 is +1.
            auto partner = [](int cellIndex, int pos, int n) {
                return cellIndex == 0 ? RuleNeighbour(pos, 1, n) : RuleNeighbour(pos, -2, n);
            };
            const int ry = cellY[redY], rx = cellX[redX];
            const int ryp = partner(redY, y, height), rxp = partner(redX, x, width);
            const int by = cellY[blueY], bx = cellX[blueX];
            const int byp = partner(blueY, y, height), bxp = partner(blueX, x, width);
            const int red =
                9 * sample(ry, rx) + 3 * sample(ry, rxp) + 3 * sample(ryp, rx) + sample(ryp, rxp);
            const int blue =
                9 * sample(by, bx) + 3 * sample(by, bxp) + 3 * sample(byp, bx) + sample(byp, bxp);
            const int green = (sample(ry, bx) + sample(by, rx)) >> 1;
            const int r = std::min((red * factorR) >> 11, maxValue);
            const int b = std::min((blue * factorB) >> 11, maxValue);
            const int got[3] = {bits == 8 ? Byte(color, x, y, 0) : Word(color, x, y, 0),
                                bits == 8 ? Byte(color, x, y, 1) : Word(color, x, y, 1),
                                bits == 8 ? Byte(color, x, y, 2) : Word(color, x, y, 2)};
            mismatches += got[0] != b || got[1] != std::min(green, maxValue) || got[2] != r;
        }
    }
    EXPECT_EQ(mismatches, 0) << width << "x" << height << " phase " << phase;
}

TEST(Demosaic, MatchesThePixelRuleOnRandomMosaicsAtEveryInstructionSet) {
    // 101 columns: several full vector widths plus a tail at every level.
    test::ForEachSimdLevel([](SimdLevel) {
        for (int phase = 0; phase < 4; ++phase) {
            CompareDemosaicWithTheRule<uint8_t>(37, 23, phase, 5u + phase);
            CompareDemosaicWithTheRule<uint16_t>(37, 23, phase, 9u + phase);
            CompareDemosaicWithTheRule<uint8_t>(101, 9, phase, 3u + phase);
            CompareDemosaicWithTheRule<uint16_t>(101, 9, phase, 7u + phase);
            CompareDemosaicWithTheRule<uint8_t>(6, 5, phase, 1u);
        }
    });
}

TEST(LumaFromColor, SameResultAtEveryInstructionSet) {
    for (int bits : {24, 32}) {
        ImageBuffer color;
        ASSERT_TRUE(color.Create(83, 5, bits));
        test::TestRandom random(static_cast<uint32_t>(bits));
        for (int y = 0; y < 5; ++y) {
            uint8_t* row = color.Row(y);
            for (int i = 0; i < 83 * bits / 8; ++i) row[i] = static_cast<uint8_t>(random.Below(256));
        }
        test::ForEachSimdLevel([&](SimdLevel level) {
            ImageBuffer gray;
            ASSERT_TRUE(gray.Create(83, 5, 8));
            ApplyConverter(gray, LumaFromColor, color, nullptr, 0, 0, nullptr);
            for (int y = 0; y < 5; ++y) {
                for (int x = 0; x < 83; ++x) {
                    const int b = color.Row(y)[x * bits / 8];
                    const int g = color.Row(y)[x * bits / 8 + 1];
                    const int r = color.Row(y)[x * bits / 8 + 2];
                    ASSERT_EQ(Byte(gray, x, y), (30 * r + 59 * g + 11 * b) / 100)
                        << SimdLevelName(level) << " " << bits << "-bit x " << x;
                }
            }
        });
    }
}

}  // namespace
}  // namespace lumora
