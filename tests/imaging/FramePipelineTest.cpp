#include <gtest/gtest.h>

#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "ImageTestUtil.h"
#include "imaging/AutoIris.h"
#include "imaging/FramePipeline.h"

namespace lumora {
namespace {

using test::Byte;
using test::Mono;

// Stands in for the session: hands out settings and masks, and records the callbacks.
class FakeHost : public FramePipelineHost {
public:
    FrameSettings settings;
    MaskSet masks;
    bool provideMasks = true;
    platform::CriticalSection maskLock;
    bool maskLockHeldDuringCorrection = false;

    std::vector<std::pair<int, double>> irisCalls;
    std::vector<std::array<int, 4>> grayGains;
    std::vector<std::pair<BayerGains, bool>> whiteBalances;
    int refreshes = 0;

    FrameSettings CurrentSettings() override { return settings; }
    MaskSet* Masks() override {
        // Called with the mask lock held: another thread cannot take it meanwhile.
        std::thread probe([this] {
            maskLockHeldDuringCorrection = !maskLock.TryEnter();
            if (!maskLockHeldDuringCorrection) maskLock.Leave();
        });
        probe.join();
        return provideMasks ? &masks : nullptr;
    }
    platform::CriticalSection& MaskLock() override { return maskLock; }
    void AdjustIris(int mode, double factor) override { irisCalls.emplace_back(mode, factor); }
    void StoreGrayGains(const std::array<int, 4>& gains) override { grayGains.push_back(gains); }
    void StoreWhiteBalance(const BayerGains& gains, bool oneShotDone) override {
        whiteBalances.emplace_back(gains, oneShotDone);
    }
    void RefreshFilterDialog() override { ++refreshes; }
};

class FramePipelineTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(images.rawImage8.Create(8, 8, 8));
        ASSERT_TRUE(images.rawImage16.Create(8, 8, 16));
        ASSERT_TRUE(images.colorImage24.Create(8, 8, 24));
        ASSERT_TRUE(images.colorImage32.Create(8, 8, 32));
        host.settings.geometry = MaskGeometry{0, 0, 8, 8};
    }
    void Run() { pipeline.ProcessFrame(images, host); }

    PipelineImages images;
    FakeHost host;
    FramePipeline pipeline;
};

TEST_F(FramePipelineTest, DefaultSettingsLeaveTheFrameAlone) {
    test::FillMono(images.rawImage8, [](int x, int y) { return x * 8 + y; });
    Run();
    for (int i = 0; i < 64; ++i)
        ASSERT_EQ(Mono(images.rawImage8, i % 8, i / 8), (i % 8) * 8 + i / 8);
    EXPECT_TRUE(host.irisCalls.empty());
    EXPECT_EQ(host.refreshes, 0);
}

TEST_F(FramePipelineTest, AutoIrisReportsTheFactorOutsideTheDeadBand) {
    host.settings.autoIris = 2;
    test::FillMono(images.rawImage8, [](int, int) { return 255; });
    Run();
    ASSERT_EQ(host.irisCalls.size(), 1u);
    EXPECT_EQ(host.irisCalls[0].first, 2);
    EXPECT_DOUBLE_EQ(host.irisCalls[0].second, 0.25);

    host.settings.autoIris = 1;
    host.settings.colorMode = 1;
    test::FillMono(images.rawImage16, [](int, int) { return 10 << 4; });  // level 10
    Run();
    ASSERT_EQ(host.irisCalls.size(), 2u);
    EXPECT_DOUBLE_EQ(host.irisCalls[1].second, 1.5);

    test::FillMono(images.rawImage16, [](int, int) { return 70 << 4; });  // 1.25
    Run();
    EXPECT_DOUBLE_EQ(host.irisCalls.back().second, 1.25);
    test::FillMono(images.rawImage16, [](int, int) { return 120 << 4; });  // 1.0: nothing
    Run();
    EXPECT_EQ(host.irisCalls.size(), 3u);
}

TEST_F(FramePipelineTest, AutoIrisSkipsRegionsEmptiedByTruncation) {
    ImageBuffer& raw = images.rawImage8;
    ASSERT_TRUE(raw.Create(3, 3, 8));  // every region is empty after truncation
    test::FillMono(raw, [](int, int) { return 0; });
    host.settings.autoIris = 1;
    Run();
    EXPECT_TRUE(host.irisCalls.empty());
    ASSERT_TRUE(raw.Create(5, 5, 8));  // only region 0 (0..1) keeps a pixel
    test::FillMono(raw, [](int, int) { return 0; });
    const auto levels = AutoIrisLevels(raw);
    EXPECT_FALSE(levels[2].has_value());
    ASSERT_TRUE(levels[0].has_value());
    EXPECT_FALSE(levels[4].has_value());
    EXPECT_DOUBLE_EQ(AutoIrisFactor(raw), 1.1);
}

TEST_F(FramePipelineTest, CorrectionsRunUnderTheMaskLockAndNeedPlanes) {
    // The dot filter needs more than eight rows and columns to examine any pixel.
    ASSERT_TRUE(images.rawImage8.Create(12, 12, 8));
    host.settings.geometry = MaskGeometry{0, 0, 12, 12};
    ASSERT_TRUE(host.masks.Create(12, 12));
    host.settings.maskFilter = true;
    host.settings.dotFilter = true;
    test::FillMono(images.rawImage8, [](int x, int y) { return x == 4 && y == 4 ? 200 : 100; });
    test::SetByte(host.masks.Reference(8, kMaskBright), 0, 0, 200);  // 100 → 128
    Run();
    EXPECT_TRUE(host.maskLockHeldDuringCorrection);
    EXPECT_EQ(Mono(images.rawImage8, 0, 0), 128);
    EXPECT_EQ(Mono(images.rawImage8, 4, 4),
              100);  // flat field keeps 200, the dot filter replaces it

    host.provideMasks = false;  // initialisation stopped before the planes existed
    test::FillMono(images.rawImage8, [](int, int) { return 100; });
    Run();
    EXPECT_EQ(Mono(images.rawImage8, 0, 0), 100);

    host.provideMasks = true;
    host.masks.Reset();
    Run();
    EXPECT_EQ(Mono(images.rawImage8, 0, 0), 100);
}

TEST_F(FramePipelineTest, GrayGainRunsBeforeHostMirroring) {
    // Mode 3: the R site is (0, 1). A gain of 0 on R with zero offsets blanks the R sites,
    // then the horizontal mirror moves the blank to column 7.
    host.settings.gray.grayMode = 1;
    host.settings.gray.gain[kGrayR] = 0;
    for (int& o : host.settings.gray.offset) o = 0;
    host.settings.mirrors = MirrorState{true, false, false, false};
    test::FillMono(images.rawImage8, [](int, int) { return 100; });
    Run();
    EXPECT_EQ(Mono(images.rawImage8, 7, 1), 0);
    EXPECT_EQ(Mono(images.rawImage8, 0, 1), 100);

    // The hardware already mirrors: the host leaves the order alone.
    host.settings.mirrors.hardwareHorizontal = true;
    test::FillMono(images.rawImage8, [](int, int) { return 100; });
    Run();
    EXPECT_EQ(Mono(images.rawImage8, 0, 1), 0);
}

TEST_F(FramePipelineTest, GrayModeSkipsOnlyWhenOffsetBIsNeutralToo) {
    host.settings.gray.grayMode = 1;
    test::FillMono(images.rawImage8, [](int, int) { return 50; });
    Run();
    EXPECT_EQ(Mono(images.rawImage8, 0, 0), 50);  // all 128: skipped
    host.settings.gray.offset[kGrayB] = 0;
    Run();
    EXPECT_EQ(Mono(images.rawImage8, 0, 0), 178);  // G2 site: 128 + 50
    EXPECT_EQ(Mono(images.rawImage8, 1, 0), 50);   // B site: 0 + 50
}

TEST_F(FramePipelineTest, GrayGainEstimateIsStoredAndUsedForTheSameFrame) {
    host.settings.gray.grayMode = 1;
    host.settings.gray.autoGainCounter = 1;
    host.settings.filter.bayerMode = 0;  // (0,0) G1, (1,0) R, (0,1) B, (1,1) G2
    for (int& o : host.settings.gray.offset) o = 0;
    test::FillMono(images.rawImage8, [](int x, int y) { return (x & 1) && !(y & 1) ? 50 : 100; });
    Run();
    ASSERT_EQ(host.grayGains.size(), 1u);
    EXPECT_EQ(host.grayGains[0], (std::array<int, 4>{255, 128, 128, 128}));
    EXPECT_EQ(host.refreshes, 1);
    EXPECT_EQ(Mono(images.rawImage8, 1, 0), 99);  // ⌊255 × 50 / 128⌋
}

TEST_F(FramePipelineTest, GrayModeTwoIsLuminanceOfTheDemosaic) {
    host.settings.gray.grayMode = 2;
    host.settings.filter.bayerMode = 0;
    host.settings.filter.bayerGainAuto = 1;
    host.settings.filter.oneShotMarker[0] = host.settings.filter.oneShotMarker[1] = 1;
    // R 200, G 100, B 50 with white balance → gains R 50, B 200 → every colour 100.
    test::FillMono(images.rawImage8, [](int x, int y) {
        const int k = (x & 1) + 2 * (y & 1);
        return k == 1 ? 50 : k == 2 ? 200 : 100;
    });
    Run();
    ASSERT_EQ(host.whiteBalances.size(), 1u);
    EXPECT_EQ(host.whiteBalances[0].first.r, 50);
    EXPECT_EQ(host.whiteBalances[0].first.b, 200);
    EXPECT_TRUE(host.whiteBalances[0].second);
    EXPECT_EQ(Mono(images.rawImage8, 4, 4), 100);
}

TEST_F(FramePipelineTest, ColourModeDemosaicsAfterMirroringWithTheCorrectedPhase) {
    host.settings.colorMode = 3;
    host.settings.filter.bayerMode = 0;                            // G B / R G
    host.settings.mirrors = MirrorState{false, true, true, true};  // hardware mirrors V
    // The data arrives vertically mirrored: phase 1 (R G / G B).
    test::FillMono(images.rawImage8, [](int x, int y) {
        const int rowState = 1 ^ (y & 1);
        const int colState = x & 1;
        return rowState == 1 && colState == 0 ? 200 : rowState == 0 && colState == 1 ? 20 : 90;
    });
    Run();
    EXPECT_EQ(Byte(images.colorImage32, 4, 4, 2), 200);
    EXPECT_EQ(Byte(images.colorImage32, 4, 4, 1), 90);
    EXPECT_EQ(Byte(images.colorImage32, 4, 4, 0), 20);
    EXPECT_TRUE(host.whiteBalances.empty());
}

TEST_F(FramePipelineTest, FiltersRunInTheirFixedOrder) {
    // Gamma before contrast: 100 → 159 → 255. The other order would give 0.
    host.settings.filter.gamma = 200;
    host.settings.filter.contrast = 127;
    test::FillMono(images.rawImage8, [](int, int) { return 100; });
    Run();
    EXPECT_EQ(Mono(images.rawImage8, 3, 3), 255);

    // Brightness comes last, after the sharpness read its work copy.
    host.settings.filter = FilterSettings{};
    host.settings.filter.sharpness = 10;
    host.settings.filter.brightness = -51;
    test::FillMono(images.rawImage8, [](int x, int y) { return x == 3 && y == 3 ? 150 : 100; });
    Run();
    // Sharpen: blur of (3, 3) is (15 × 100 + 150) >> 4 = 103, out = 150 + 47 = 197; ×0.8 → 157.
    EXPECT_EQ(Mono(images.rawImage8, 3, 3), 157);
    EXPECT_EQ(Mono(images.rawImage8, 0, 0), 79);  // border: only brightness
    EXPECT_FALSE(images.workImage.IsValid());     // in place: no work copy of the frame
}

TEST_F(FramePipelineTest, HueSaturationOnlyInColourModes) {
    host.settings.colorMode = 2;
    host.settings.filter.saturation = -255;
    host.settings.filter.bayerMode = 0;
    test::FillMono(images.rawImage8, [](int x, int y) {
        const int k = (x & 1) + 2 * (y & 1);
        return k == 1 ? 100 : k == 2 ? 200 : 100;
    });
    Run();
    EXPECT_EQ(Byte(images.colorImage24, 4, 4, 0), 150);
    EXPECT_EQ(Byte(images.colorImage24, 4, 4, 2), 150);

    host.settings.colorMode = 0;  // mono: no hue/saturation even with the setting on
    test::FillMono(images.rawImage8, [](int, int) { return 77; });
    Run();
    EXPECT_EQ(Mono(images.rawImage8, 4, 4), 77);
}

TEST_F(FramePipelineTest, UnknownModeOrMissingImagesChangeNothing) {
    host.settings.colorMode = 9;
    host.settings.filter.gamma = 50;
    test::FillMono(images.rawImage8, [](int, int) { return 77; });
    Run();
    EXPECT_EQ(Mono(images.rawImage8, 4, 4), 77);

    host.settings.colorMode = 4;  // no 48-bit image was created
    Run();
    EXPECT_EQ(Mono(images.rawImage16, 4, 4), 0);

    EXPECT_EQ(SubsampleDivisor(17), 2);
    EXPECT_EQ(SubsampleDivisor(3), 8);
    EXPECT_EQ(SubsampleDivisor(4), 1);
}

// The pipeline keeps its composed table from frame to frame: every change to what it composes
// (one filter, brightness moving in or out beside sharpness, the sample depth) must rebuild it.
TEST_F(FramePipelineTest, AKeptTableFollowsEveryChangeOfTheFiltersItComposes) {
    struct Step {
        int mode, gamma, contrast, brightness, sharpness;
    };
    const Step steps[] = {{0, 130, -40, 0, 0}, {0, 130, -40, 0, 0}, {0, 150, -40, 0, 0},
                          {0, 150, 25, 0, 0},  {0, 150, 25, 60, 0}, {0, 150, 25, 60, 9},
                          {0, 150, 25, 60, 0}, {0, 100, 0, 60, 0},  {0, 100, 0, 0, 9},
                          {1, 100, 0, 0, 9},   {1, 150, 25, 60, 0}, {0, 150, 25, 60, 0},
                          {1, 150, 25, 60, 0}, {1, 130, 25, 60, 9}};
    for (const Step& step : steps) {
        host.settings.colorMode = step.mode;
        host.settings.filter.gamma = step.gamma;
        host.settings.filter.contrast = step.contrast;
        host.settings.filter.brightness = step.brightness;
        host.settings.filter.sharpness = step.sharpness;
        ImageBuffer& raw = images.RawSource(step.mode);
        const int maxValue = step.mode == 0 ? 255 : 65535;
        auto fill = [&] {
            test::FillMono(raw, [&](int x, int y) { return (x * 41 + y * 997) % (maxValue + 1); });
        };
        fill();
        FramePipeline fresh;
        fresh.ProcessFrame(images, host);
        ImageBuffer expected;
        ASSERT_TRUE(expected.CreateLike(raw));
        std::memcpy(expected.Pixels(), raw.Pixels(), raw.SizeBytes());
        fill();
        Run();
        EXPECT_EQ(std::memcmp(raw.Pixels(), expected.Pixels(), raw.SizeBytes()), 0)
            << "mode " << step.mode << " gamma " << step.gamma << " contrast " << step.contrast
            << " brightness " << step.brightness << " sharpness " << step.sharpness;
    }
}

}  // namespace
}  // namespace lumora

namespace lumora {
namespace {

// The pipeline composes adjacent table filters; the result must equal running them one by
// one.
// The tables around the sharpness run in one pass with it; the result is the filters' one by one.
TEST_F(FramePipelineTest, ComposedTableFiltersEqualTheFiltersOneByOne) {
    test::ForEachSimdLevel([&](SimdLevel) {
        for (int mode : {0, 1}) {
            for (int sharpness : {0, 9}) {
                host.settings.colorMode = mode;
                host.settings.filter.gamma = 130;
                host.settings.filter.contrast = -40;
                host.settings.filter.sharpness = sharpness;
                host.settings.filter.brightness = 77;
                ImageBuffer& raw = images.RawSource(mode);
                const int maxValue = mode == 0 ? 255 : 65535;
                test::FillMono(raw,
                               [&](int x, int y) { return (x * 37 + y * 1031) % (maxValue + 1); });
                ImageBuffer expected;
                ASSERT_TRUE(expected.CreateLike(raw));
                std::memcpy(expected.Pixels(), raw.Pixels(), raw.SizeBytes());
                const FilterVariant v = mode == 0 ? FilterVariant::kMono8 : FilterVariant::kMono16;
                int gamma = 130, contrast = -40, brightness = 77;
                ApplyInPlace(expected, kGammaFilter.For(v), &gamma);
                ApplyInPlace(expected, kContrastFilter.For(v), &contrast);
                if (sharpness != 0) {
                    ImageBuffer work;
                    ASSERT_TRUE(work.CreateLike(expected));
                    std::memcpy(work.Pixels(), expected.Pixels(), expected.SizeBytes());
                    ApplyConverter(expected, kSharpnessFilter.For(v), work, nullptr, 0, 0,
                                   &sharpness);
                }
                ApplyInPlace(expected, kBrightnessFilter.For(v), &brightness);
                Run();
                EXPECT_EQ(std::memcmp(raw.Pixels(), expected.Pixels(), raw.SizeBytes()), 0)
                    << mode << " sharpness " << sharpness;
            }
        }
    });
}

}  // namespace
}  // namespace lumora
