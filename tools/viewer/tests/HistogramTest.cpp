// The histogram against counts made pixel by pixel, on both depths and with the layouts the
// camera delivers (padded rows, 12-bit values in the top bits of the word).
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "FrameMaker.h"
#include "Histogram.h"

namespace lumora_viewer::testing {
namespace {

std::vector<uint64_t> CountByHand(const Frame& f) {
    std::vector<uint64_t> counts(static_cast<size_t>(f.FullScale()) + 1, 0);
    for (int y = 0; y < f.geometry.height; ++y) {
        for (int x = 0; x < f.geometry.width; ++x)
            ++counts[static_cast<size_t>(std::min(f.Sample(x, y), f.FullScale()))];
    }
    return counts;
}

TEST(Histogram, CountsEveryPixelOnceAtBothDepthsWhateverTheRowPadding) {
    // Odd widths leave padding at each row's end and an unpaired last pixel.
    for (int bits : {8, 16}) {
        for (int width : {1, 7, 64, 321}) {
            const Frame f = RandomFrame(width, 13, bits, static_cast<unsigned>(width * bits));
            const Histogram h = Histogram::Of(f);
            EXPECT_EQ(h.Counts(), CountByHand(f)) << bits << " bits, width " << width;
            EXPECT_EQ(h.Total(), static_cast<uint64_t>(width) * 13u);
        }
    }
}

TEST(Histogram, TwelveBitValuesInTheTopOfTheWordCountAsTheirValue) {
    const auto value = [](int x, int y) { return (x * 37 + y * 101) % 4096; };
    const Histogram plain = Histogram::Of(MakeFrame(100, 40, 16, value));
    const Histogram shifted = Histogram::Of(MakeFrame(100, 40, 16, value, 4));
    EXPECT_EQ(shifted.Counts(), plain.Counts());
    EXPECT_EQ(shifted.FullScale(), 4095);
}

TEST(Histogram, SharesOfSaturatedAndZeroPixelsAndValuesBeyondFullScale) {
    // 16-bit words beyond 4095 (a gamma filter writes them) count as saturated.
    const Frame f = MakeFrame(10, 10, 16, [](int x, int) {
        if (x == 0) return 0;
        if (x == 1) return 4095;
        if (x == 2) return 9000;
        return 2000;
    });
    const Histogram h = Histogram::Of(f);
    EXPECT_DOUBLE_EQ(h.ZeroShare(), 0.1);
    EXPECT_DOUBLE_EQ(h.SaturatedShare(), 0.2);
    EXPECT_EQ(h.Counts()[2000], 70u);
    const Histogram empty = Histogram::Of(Frame{});
    EXPECT_EQ(empty.Total(), 0u);
    EXPECT_EQ(empty.SaturatedShare(), 0.0);
}

TEST(Histogram, MeanDeviationAndPercentilesAgreeWithThePixels) {
    const Frame f = RandomFrame(123, 45, 16, 7);
    const Histogram h = Histogram::Of(f);
    double sum = 0;
    for (int y = 0; y < 45; ++y)
        for (int x = 0; x < 123; ++x) sum += f.Sample(x, y);
    const double mean = sum / (123 * 45);
    double squares = 0;
    for (int y = 0; y < 45; ++y)
        for (int x = 0; x < 123; ++x) squares += std::pow(f.Sample(x, y) - mean, 2);
    EXPECT_NEAR(h.Mean(), mean, 1e-9);
    EXPECT_NEAR(h.StandardDeviation(), std::sqrt(squares / (123 * 45)), 1e-9);

    const Frame ramp = MakeFrame(100, 1, 8, [](int x, int) { return x; });
    const Histogram r = Histogram::Of(ramp);
    EXPECT_EQ(r.Percentile(0.0), 0);
    EXPECT_EQ(r.Percentile(0.5), 49);
    EXPECT_EQ(r.Percentile(1.0), 99);
}

TEST(Histogram, PlotColumnsKeepLoneSpikesAndNeverLeaveGaps) {
    // 4096 bins on 100 columns: a single value still reaches its column.
    const Frame f = MakeFrame(50, 2, 16, [](int x, int y) { return x == 0 && y == 0 ? 1234 : 0; });
    const std::vector<uint64_t> columns = Histogram::Of(f).Columns(100);
    ASSERT_EQ(columns.size(), 100u);
    EXPECT_EQ(columns[1234 * 100 / 4096], 1u);
    // 256 bins on 512 columns: every column shows the bin under it.
    const Frame flat = MakeFrame(256, 1, 8, [](int x, int) { return x; });
    for (uint64_t c : Histogram::Of(flat).Columns(512)) EXPECT_EQ(c, 1u);
}

TEST(Histogram, PlotHeightsLinearLogarithmicAndClippedToTheScale) {
    const std::vector<uint64_t> columns = {0, 10, 100, 1000};
    const std::vector<double> lin = PlotHeights(columns, false);
    EXPECT_DOUBLE_EQ(lin[3], 1.0);
    EXPECT_DOUBLE_EQ(lin[2], 0.1);
    const std::vector<double> log = PlotHeights(columns, true);
    EXPECT_NEAR(log[2], std::log1p(100.0) / std::log1p(1000.0), 1e-12);
    EXPECT_GT(log[1], lin[1]);
    // Scaled to the inside of the range, the pile at one end is drawn at full height, no more.
    const std::vector<double> scaled = PlotHeights(columns, false, 100);
    EXPECT_DOUBLE_EQ(scaled[2], 1.0);
    EXPECT_DOUBLE_EQ(scaled[3], 1.0);
    EXPECT_EQ(PlotHeights({0, 0}, true), (std::vector<double>{0, 0}));
}

TEST(Histogram, APlotScaleIgnoresTheEndsAndAFewSpikes) {
    // A broad spread of about 100 per column, one uniform patch and a pile at each end.
    std::vector<uint64_t> columns(200, 100);
    columns[57] = 50000;
    columns.front() = 90000;
    columns.back() = 80000;
    for (size_t i = 1; i < 100; ++i) columns[i] = 50 + i / 2;
    EXPECT_EQ(PlotScale(columns), 100u);
    // Mostly empty columns (a narrow spread): the highest inner column, not zero.
    std::vector<uint64_t> narrow(200, 0);
    narrow[100] = 7;
    EXPECT_EQ(PlotScale(narrow), 7u);
}

}  // namespace
}  // namespace lumora_viewer::testing
