// Where the picture sits in its area and which gray each area pixel gets, against a renderer
// written directly from the definition: the image pixel under the centre of each area pixel.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "FrameMaker.h"
#include "PictureRenderer.h"
#include "ViewTransform.h"

namespace lumora_viewer::testing {
namespace {

TEST(ViewTransform, FitScalesToTheTighterSideAndCentres) {
    ViewTransform v;
    v.SetImage(2560, 2048);
    v.SetViewport(1000, 1000);
    EXPECT_DOUBLE_EQ(v.Scale(), 1000.0 / 2560);
    EXPECT_DOUBLE_EQ(v.OriginX(), 0.0);
    EXPECT_DOUBLE_EQ(v.OriginY(), (1000 - 2048 * v.Scale()) / 2);
    EXPECT_EQ(v.PixelAt(0.2, v.OriginY() + 0.2), (PixelPoint{0, 0}));
    EXPECT_EQ(v.PixelAt(0.5, v.OriginY() + 0.5), (PixelPoint{1, 1}));  // 2.56 image pixels each
    EXPECT_EQ(v.PixelAt(999.9, 500), (PixelPoint{2559, 1024}));
}

TEST(ViewTransform, ZoomKeepsThePointUnderThePointerAndPanStopsAtTheEdges) {
    ViewTransform v;
    v.SetImage(2560, 2048);
    v.SetViewport(800, 600);
    const double ix = v.ToImageX(300);
    const double iy = v.ToImageY(200);
    v.ZoomBy(4.0, 300, 200);
    EXPECT_FALSE(v.Fitting());
    EXPECT_NEAR(v.ToImageX(300), ix, 1e-9);
    EXPECT_NEAR(v.ToImageY(200), iy, 1e-9);
    EXPECT_NEAR(v.ToAreaX(v.ToImageX(123.25)), 123.25, 1e-9);

    v.SetScale(1.0, 400, 300);
    v.PanBy(100000, 100000);  // far past the top-left corner
    EXPECT_DOUBLE_EQ(v.OriginX(), 0.0);
    EXPECT_DOUBLE_EQ(v.OriginY(), 0.0);
    v.PanBy(-100000, -100000);
    EXPECT_DOUBLE_EQ(v.ToImageX(800), 2560.0);
    EXPECT_DOUBLE_EQ(v.ToImageY(600), 2048.0);

    v.SetScale(1000.0, 0, 0);  // clamped
    EXPECT_DOUBLE_EQ(v.Scale(), ViewTransform::kMaxScale);
}

TEST(ViewTransform, APictureSmallerThanTheAreaStaysCentred) {
    ViewTransform v;
    v.SetImage(100, 50);
    v.SetViewport(800, 600);
    v.SetScale(1.0, 10, 10);
    v.PanBy(37, -12);
    EXPECT_DOUBLE_EQ(v.OriginX(), 350.0);
    EXPECT_DOUBLE_EQ(v.OriginY(), 275.0);
    // A new picture size keeps the scale and the share of the picture at the centre.
    v.SetImage(1000, 500);
    EXPECT_DOUBLE_EQ(v.Scale(), 1.0);
    EXPECT_DOUBLE_EQ(v.ToImageX(400), 500.0);
}

uint32_t GrayOf(int value, const DisplayLevels& l) {
    const int g =
        value <= l.black ? 0
        : value >= l.white
            ? 255
            : static_cast<int>(std::lround(255.0 * (value - l.black) / (l.white - l.black)));
    return static_cast<uint32_t>(g) * 0x010101u;
}

// The renderer's output against the definition, pixel by pixel.
void ExpectRendered(const Frame& f, const ViewTransform& v, const DisplayLevels& levels) {
    const int w = v.ViewportWidth();
    const int h = v.ViewportHeight();
    std::vector<uint32_t> out(static_cast<size_t>(w) * h + 7, 0xDEADBEEF);
    PictureRenderer r;
    r.Render(f, v, levels, reinterpret_cast<uint8_t*>(out.data()), w * 4, w, h);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            const int ix = static_cast<int>(std::floor(v.ToImageX(x + 0.5)));
            const int iy = static_cast<int>(std::floor(v.ToImageY(y + 0.5)));
            uint32_t want = kBackground;
            if (f.Contains(ix, iy)) {
                const int value = std::min(f.Sample(ix, iy), f.FullScale());
                want = levels.markSaturated && value >= f.FullScale() ? kSaturatedMark
                                                                      : GrayOf(value, levels);
            }
            ASSERT_EQ(out[static_cast<size_t>(y) * w + x], want) << x << ", " << y;
        }
    }
    EXPECT_EQ(out.back(), 0xDEADBEEF) << "wrote past the area";
}

TEST(PictureRenderer, EachAreaPixelShowsTheImagePixelUnderItsCentre) {
    const Frame f = RandomFrame(64, 48, 8, 5);
    ViewTransform v;
    v.SetImage(64, 48);
    v.SetViewport(50, 70);  // fit: scaled down, bands above and below
    DisplayLevels levels;
    ExpectRendered(f, v, levels);
    v.SetViewport(200, 90);
    v.ZoomBy(3.7, 61, 20);  // zoomed in off-centre
    ExpectRendered(f, v, levels);
}

TEST(PictureRenderer, LevelsSaturationMarksAndTwelveBitWords) {
    const Frame f = MakeFrame(
        40, 30, 16, [](int x, int y) { return x * 100 + y; }, 4);
    ViewTransform v;
    v.SetImage(40, 30);
    v.SetViewport(40, 30);
    DisplayLevels levels;
    levels.black = 500;
    levels.white = 3000;
    levels.markSaturated = true;
    ExpectRendered(f, v, levels);
    levels.white = 4095;
    ExpectRendered(f, v, levels);
    PictureRenderer r;
    EXPECT_EQ(r.ColourOf(5000, 4095, levels), kSaturatedMark);
    EXPECT_EQ(r.ColourOf(500, 4095, levels), 0u);
}

TEST(PictureRenderer, NoFrameGivesTheBackground) {
    ViewTransform v;
    v.SetViewport(8, 4);
    std::vector<uint32_t> out(32, 0);
    PictureRenderer().Render(Frame{}, v, DisplayLevels{}, reinterpret_cast<uint8_t*>(out.data()),
                             32, 8, 4);
    for (uint32_t p : out) EXPECT_EQ(p, kBackground);
}

}  // namespace
}  // namespace lumora_viewer::testing
