// Rectangle statistics and line profiles against computations written the other way round:
// two-pass means and deviations in floating point, profiles read off rows and columns.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <random>

#include "FrameMaker.h"
#include "LineProfile.h"
#include "RegionStatistics.h"

namespace lumora_viewer::testing {
namespace {

struct Expected {
    double mean = 0, deviation = 0;
    int minimum = INT_MAX, maximum = INT_MIN;
};

Expected TwoPass(const Frame& f, const PixelRect& r) {
    Expected e;
    double sum = 0;
    for (int y = r.y; y < r.y + r.height; ++y)
        for (int x = r.x; x < r.x + r.width; ++x) {
            sum += f.Sample(x, y);
            e.minimum = std::min(e.minimum, f.Sample(x, y));
            e.maximum = std::max(e.maximum, f.Sample(x, y));
        }
    const double n = static_cast<double>(r.width) * r.height;
    e.mean = sum / n;
    double squares = 0;
    for (int y = r.y; y < r.y + r.height; ++y)
        for (int x = r.x; x < r.x + r.width; ++x) squares += std::pow(f.Sample(x, y) - e.mean, 2);
    e.deviation = std::sqrt(squares / n);
    return e;
}

TEST(RegionStatistics, MatchATwoPassComputationOnRandomRectangles) {
    for (int bits : {8, 16}) {
        const Frame f = RandomFrame(97, 61, bits, 11u + static_cast<unsigned>(bits));
        std::mt19937 random(3);
        for (int i = 0; i < 50; ++i) {
            const int x0 = std::uniform_int_distribution<int>(0, 96)(random);
            const int y0 = std::uniform_int_distribution<int>(0, 60)(random);
            const int x1 = std::uniform_int_distribution<int>(0, 96)(random);
            const int y1 = std::uniform_int_distribution<int>(0, 60)(random);
            const PixelRect r = PixelRect::Spanning(x0, y0, x1, y1);
            const RegionStatistics s = MeasureRegion(f, r);
            const Expected e = TwoPass(f, r);
            ASSERT_EQ(s.rect, r);
            EXPECT_EQ(s.count, static_cast<uint64_t>(r.width) * r.height);
            EXPECT_NEAR(s.mean, e.mean, 1e-9);
            EXPECT_NEAR(s.standardDeviation, e.deviation, 1e-6);
            EXPECT_EQ(s.minimum, e.minimum);
            EXPECT_EQ(s.maximum, e.maximum);
        }
    }
}

TEST(RegionStatistics, AFullSensorFrameAtFullScaleHasNoSpread) {
    // n x sum of squares overflows 64 bits here: the deviation must still be exactly 0.
    const Frame f = MakeFrame(2560, 2048, 16, [](int, int) { return 4095; });
    const RegionStatistics s = MeasureRegion(f, {0, 0, 2560, 2048});
    EXPECT_EQ(s.mean, 4095.0);
    EXPECT_EQ(s.standardDeviation, 0.0);
    EXPECT_EQ(s.count, 2560u * 2048u);
}

TEST(RegionStatistics, RectanglesReachingOutsideAreClippedToThePicture) {
    const Frame f = MakeFrame(20, 10, 8, [](int x, int y) { return x + y; });
    EXPECT_EQ(MeasureRegion(f, {-5, -5, 10, 10}).rect, (PixelRect{0, 0, 5, 5}));
    EXPECT_EQ(MeasureRegion(f, {15, 8, 100, 100}).rect, (PixelRect{15, 8, 5, 2}));
    EXPECT_EQ(MeasureRegion(f, {30, 0, 5, 5}).count, 0u);
    // Far-off coordinates must not wrap around into the picture.
    EXPECT_EQ(MeasureRegion(f, {INT_MAX - 2, 0, 100, 5}).count, 0u);
    EXPECT_EQ(MeasureRegion(f, {INT_MIN, INT_MIN, 5, 5}).count, 0u);
    EXPECT_EQ(PixelRect::Spanning(7, 9, 2, 3), (PixelRect{2, 3, 6, 7}));
}

TEST(RegionStatistics, TwelveBitValuesAreMeasuredNotTheirWords) {
    const auto value = [](int x, int y) { return (x * 13 + y * 7) % 4096; };
    const RegionStatistics a = MeasureRegion(MakeFrame(30, 30, 16, value), {2, 3, 20, 20});
    const RegionStatistics b = MeasureRegion(MakeFrame(30, 30, 16, value, 4), {2, 3, 20, 20});
    EXPECT_EQ(a.mean, b.mean);
    EXPECT_EQ(a.maximum, b.maximum);
}

TEST(LineProfile, RowsColumnsAndDiagonalsReadTheirPixelsInOrder) {
    const Frame f = MakeFrame(40, 30, 16, [](int x, int y) { return 100 * y + x; });
    const LineProfile row = ProfileAlong(f, {3, 5}, {9, 5});
    ASSERT_EQ(row.values.size(), 7u);
    for (int i = 0; i < 7; ++i) EXPECT_EQ(row.values[i], 500 + 3 + i);
    const LineProfile back = ProfileAlong(f, {9, 5}, {3, 5});
    EXPECT_EQ(back.values, std::vector<int>(row.values.rbegin(), row.values.rend()));
    const LineProfile column = ProfileAlong(f, {4, 20}, {4, 10});
    ASSERT_EQ(column.values.size(), 11u);
    EXPECT_EQ(column.values.front(), 2004);
    EXPECT_EQ(column.values.back(), 1004);
    const LineProfile diagonal = ProfileAlong(f, {0, 0}, {10, 5});
    ASSERT_EQ(diagonal.points.size(), 11u);
    for (size_t i = 0; i < diagonal.points.size(); ++i) {
        const int x = static_cast<int>(i);
        EXPECT_EQ(diagonal.points[i], (PixelPoint{x, (x + 1) / 2})) << i;
        EXPECT_EQ(diagonal.values[i], f.Sample(x, (x + 1) / 2));
    }
}

TEST(LineProfile, TheStretchOffThePictureIsLeftOut) {
    const Frame f = MakeFrame(10, 10, 8, [](int x, int) { return x; });
    const LineProfile p = ProfileAlong(f, {-5, 2}, {14, 2});
    EXPECT_EQ(p.values, (std::vector<int>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9}));
    EXPECT_TRUE(ProfileAlong(f, {20, 20}, {30, 30}).values.empty());
    EXPECT_EQ(ProfileAlong(f, {4, 4}, {4, 4}).values, std::vector<int>{4});
}

}  // namespace
}  // namespace lumora_viewer::testing
