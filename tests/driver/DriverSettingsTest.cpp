#include <cmath>
#include <limits>

#include "driver/SimCameraFixture.h"
#include "sim/SimScene.h"

namespace lumora {
namespace {

using test::SimCameraTest;

// Settings changes whose effect shows in the picture. Static scene: no noise, nothing moves, so
// the delivered samples can be predicted from the registers.
class PictureTest : public SimCameraTest {
protected:
    void SetUp() override {
        SimCameraTest::SetUp();
        LumoraSim_SetStaticScene(1);
    }
    // What the camera's registers say now, as the scene sees it.
    sim::SceneSettings Settings() {
        auto camera = Camera();
        std::lock_guard lock(camera->Lock());
        return Model(*camera).Settings(*camera, camera->Model().Geometry(*camera));
    }
    // Mean of a 64 x 64 block of 16-bit samples at (x, y), away from the moving square.
    static double Mean16(const std::vector<uint8_t>& frame, int width, int x, int y) {
        double sum = 0;
        for (int r = y; r < y + 64; ++r)
            for (int c = x; c < x + 64; ++c) {
                const size_t i = (static_cast<size_t>(r) * width + c) * 2;
                sum += frame[i] | (frame[i + 1] << 8);
            }
        return sum / (64.0 * 64.0);
    }
    sim::SimScene scene{0x5EED0000u};  // camera 0's scene
};

TEST_F(PictureTest, ExposureDoublesTheSignal) {
    CLumoraV3U2Base& driver = Open();
    ASSERT_EQ(driver.SetTransferBitDepth(1), 1);
    ASSERT_EQ(driver.SetExposureTimeEx(0.004), 1);
    EXPECT_NEAR(driver.GetExposureTimeEx(), 0.004, 1e-12);
    EXPECT_EQ(driver.GetExposureTime(), 40);
    const auto shorter = Snap(driver);
    const double dark = Settings().blackLevel;
    ASSERT_EQ(driver.SetExposureTimeEx(0.008), 1);
    const auto longer = Snap(driver);
    const double a = Mean16(shorter, 2560, 1500, 1200) - dark;
    const double b = Mean16(longer, 2560, 1500, 1200) - dark;
    EXPECT_NEAR(b / a, 2.0, 0.02);
    // Every sample is the scene's value for these registers.
    const auto s = Settings();
    for (int x : {0, 700, 2559})
        EXPECT_EQ(longer[(1200 * 2560 + x) * 2] | (longer[(1200 * 2560 + x) * 2 + 1] << 8),
                  scene.SensorValue(s, x, 1200));
}

TEST_F(PictureTest, GainAndGainModeBrightenBlackLevelOffsets) {
    CLumoraV3U2Base& driver = Open();
    ASSERT_EQ(driver.SetTransferBitDepth(1), 1);
    ASSERT_EQ(driver.SetExposureTimeEx(0.002), 1);
    ASSERT_EQ(driver.SetBlackLevel(100), 1);
    const double base = Mean16(Snap(driver), 2560, 1500, 1200);
    ASSERT_EQ(driver.SetGlobalGain(60), 1);  // 6 dB
    EXPECT_EQ(driver.GetGlobalGain(), 60);
    const double gained = Mean16(Snap(driver), 2560, 1500, 1200);
    EXPECT_NEAR((gained - 100) / (base - 100), 2.0, 0.1);
    ASSERT_EQ(driver.SetControlFlag(0), 1);  // high gain
    EXPECT_EQ(driver.GetControlFlag(), 0);
    const double high = Mean16(Snap(driver), 2560, 1500, 1200);
    EXPECT_NEAR((high - 100) / (gained - 100), 2.0, 0.1);
    ASSERT_EQ(driver.SetControlFlag(1), 1);
    ASSERT_EQ(driver.SetGlobalGain(0), 1);
    ASSERT_EQ(driver.SetBlackLevel(600), 1);
    EXPECT_EQ(driver.GetBlackLevel(), 600);
    EXPECT_NEAR(Mean16(Snap(driver), 2560, 1500, 1200) - base, 500.0, 1.0);
    ASSERT_EQ(driver.SetGlobalGain(500), 1);
    EXPECT_EQ(driver.GetGlobalGain(), 420);
}

TEST_F(PictureTest, WindowCropsTheSensorAndRoundTrips) {
    CLumoraV3U2Base& driver = Open();
    EXPECT_EQ(driver.SetCaptureWindow(4, 0, 512, 256, 0), 0);  // x must be a multiple of 8
    ASSERT_EQ(driver.SetCaptureWindow(1024, 512, 512, 256, 0), 1);
    int x = 0, y = 0, w = 0, h = 0, m = -1;
    ASSERT_EQ(driver.GetCaptureWindow(&x, &y, &w, &h, &m), 1);
    EXPECT_EQ(std::vector<int>({x, y, w, h, m}), std::vector<int>({1024, 512, 512, 256, 0}));
    ASSERT_EQ(driver.SetExposureTimeEx(0.01), 1);  // the window change shortened the frame
    const auto frame = Snap(driver);
    ASSERT_EQ(frame.size(), 512u * 256u);
    const auto s = Settings();
    EXPECT_EQ(frame[5 * 512 + 5], scene.SensorValue(s, 1029, 517) >> 4);
    EXPECT_EQ(frame[255 * 512 + 511], scene.SensorValue(s, 1535, 767) >> 4);
    // The same window again changes nothing.
    ASSERT_EQ(driver.SetCaptureWindow(1024, 512, 512, 256, 0), 1);
    EXPECT_FALSE(driver.BuffersStale());
}

// The camera frames the stream with the FPGA's geometry and alignment; when they disagree with
// the sensor's readout the frame keeps its announced length but its picture is wrong.
TEST_F(PictureTest, FramingThatDisagreesWithTheSensorGivesAMalformedFrame) {
    CLumoraV3U2Base& driver = Open();
    ASSERT_EQ(driver.SetCaptureWindow(1024, 512, 512, 256, 0), 1);
    ASSERT_EQ(driver.SetExposureTimeEx(0.01), 1);
    const auto good = Snap(driver);
    const auto s = Settings();
    ASSERT_EQ(good[5 * 512 + 5], scene.SensorValue(s, 1029, 517) >> 4);
    ASSERT_EQ(driver.FpgaWrite(0x4C, 16), 1);  // the mirrored alignment, mirror off
    const auto skewed = Snap(driver);
    ASSERT_EQ(skewed.size(), good.size());
    EXPECT_NE(skewed, good);
    ASSERT_EQ(driver.FpgaWrite(0x4C, 112), 1);
    ASSERT_EQ(driver.FpgaWrite(0x5A, 1), 1);  // the binned mode's code for a normal readout
    EXPECT_NE(Snap(driver), good);
    ASSERT_EQ(driver.FpgaWrite(0x5A, 0), 1);
    EXPECT_EQ(Snap(driver), good);
}

TEST_F(PictureTest, BinnedReadoutHalvesTheFrame) {
    CLumoraV3U2Base& driver = Open();
    ASSERT_EQ(driver.SetCaptureWindow(0, 0, 2560, 2048, 1), 1);
    EXPECT_EQ(driver.GetWindowWidth(), 1280);
    const auto frame = Snap(driver);
    EXPECT_EQ(frame.size(), 1280u * 1024u);
    // The white and the black corner marks, seen at half size.
    EXPECT_GT(frame[2 * 1280 + 2], frame[2 * 1280 + 1277] + 30);
}

TEST_F(PictureTest, MirrorsTurnThePictureInTheCamera) {
    CLumoraV3U2Base& driver = Open();
    const auto plain = Snap(driver);
    ASSERT_EQ(driver.SetMirrorH(1), 1);
    EXPECT_EQ(driver.GetMirrorH(), 1);
    const auto mirrored = Snap(driver);
    for (int y : {0, 100, 2047})
        for (int x : {0, 10, 1279, 2559})
            ASSERT_EQ(mirrored[y * 2560 + x], plain[y * 2560 + (2559 - x)]) << x << "," << y;
    ASSERT_EQ(driver.SetMirrorH(0), 1);
    ASSERT_EQ(driver.SetMirrorV(1), 1);
    const auto flipped = Snap(driver);
    for (int y : {0, 100, 2047}) ASSERT_EQ(flipped[y * 2560 + 7], plain[(2047 - y) * 2560 + 7]);
    EXPECT_GT(plain[5], 100);    // white mark top left
    EXPECT_LT(plain[2554], 30);  // black mark top right
}

TEST_F(PictureTest, StaticSceneRepeatsAndTheLiveSceneMoves) {
    CLumoraV3U2Base& driver = Open();
    EXPECT_EQ(Snap(driver), Snap(driver));
    LumoraSim_SetStaticScene(0);
    EXPECT_NE(Snap(driver), Snap(driver));
}

TEST_F(SimCameraTest, BitDepthSizesTheBuffers) {
    CLumoraV3U2Base& driver = Open();
    ASSERT_EQ(driver.PrepareBuffers(), 1);
    EXPECT_EQ(driver.FrameSize(), 5242880u);
    EXPECT_EQ(driver.TransferCapacity(), 5849088u);
    ASSERT_EQ(driver.SetTransferBitDepth(1), 1);
    EXPECT_EQ(driver.FrameSize(), 10485760u);
    EXPECT_EQ(driver.TransferCapacity(), 11698176u);
    int writes = 0;
    {
        auto camera = Camera();
        std::lock_guard lock(camera->Lock());
        EXPECT_EQ(camera->Fpga().Get(0x3C), 2);
        camera->Fpga().OnWrite(0x3C, [&](uint32_t, uint8_t, uint8_t) { ++writes; });
        camera->Fpga().OnWrite(0x44, [&](uint32_t, uint8_t, uint8_t) { writes += 100; });
    }
    ASSERT_EQ(driver.SetTransferBitDepth(1), 1);
    EXPECT_EQ(writes, 1);  // written again, but the buffers stay
    ASSERT_EQ(driver.SetTransferBitDepth(0), 1);
    EXPECT_EQ(driver.FrameSize(), 5242880u);
    EXPECT_EQ(Camera()->Fpga().Get(0x3C), 1);
    const auto frame = Snap(driver);
    EXPECT_EQ(frame.size(), 5242880u);
}

TEST_F(SimCameraTest, SixteenBitSamplesAreTwelveBit) {
    CLumoraV3U2Base& driver = Open();
    ASSERT_EQ(driver.SetTransferBitDepth(1), 1);
    ASSERT_EQ(driver.SetExposureTimeEx(0.5), 1);  // saturates most of the frame
    const auto frame = Snap(driver);
    int maximum = 0;
    for (size_t i = 0; i < frame.size(); i += 2)
        maximum = std::max(maximum, frame[i] | (frame[i + 1] << 8));
    EXPECT_EQ(maximum, 4095);
}

TEST_F(SimCameraTest, PayloadTimeOutFollowsTheExposure) {
    CLumoraV3U2Base& driver = Open();
    ASSERT_EQ(driver.SetExposureTime(50000), 1);
    EXPECT_EQ(driver.PayloadTimeout(), 5000u);
    driver.SetExposureTime(50001);
    EXPECT_EQ(driver.PayloadTimeout(), 10000u);
    driver.SetExposureTime(100000);
    EXPECT_EQ(driver.PayloadTimeout(), 20000u);
    EXPECT_EQ(driver.GetExposureTime(), 20000);  // the sensor's longest
    driver.SetFrameTimeout(7000);
    ASSERT_EQ(driver.SetExposureTimeEx(2.0), 1);
    EXPECT_EQ(driver.PayloadTimeout(), 7000u);
    // Refused values change nothing, the time-out included.
    EXPECT_EQ(driver.SetExposureTimeEx(2.5), 0);
    EXPECT_EQ(driver.SetExposureTimeEx(std::numeric_limits<double>::quiet_NaN()), 0);
    EXPECT_EQ(driver.SetExposureTimeEx(0.0), 0);
    EXPECT_EQ(driver.PayloadTimeout(), 7000u);
    EXPECT_DOUBLE_EQ(driver.GetExposureTimeEx(), 2.0);
    EXPECT_DOUBLE_EQ(driver.GetExposureTimeExMax(), 2.0);
}

TEST_F(SimCameraTest, SensorModeRoundTrips) {
    CLumoraV3U2Base& driver = Open();
    EXPECT_EQ(driver.IsSensorModeSupported(), 1);
    ASSERT_EQ(driver.SetSensorMode(1), 1);
    EXPECT_EQ(driver.GetSensorMode(), 1);
    auto camera = Camera();
    std::lock_guard lock(camera->Lock());
    EXPECT_EQ(camera->Sensor().Get(0x0720), 0x50);
    EXPECT_EQ(camera->Sensor().Get(0x0740), 1);
}

}  // namespace
}  // namespace lumora
