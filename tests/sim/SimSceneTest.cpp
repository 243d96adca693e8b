#include <gtest/gtest.h>

#include <cstdlib>
#include <utility>
#include <vector>

#include "sim/SimScene.h"

namespace lumora::sim {
namespace {

std::vector<uint8_t> Render(SimScene& scene, const SceneSettings& s, uint64_t frame, bool still) {
    std::vector<uint8_t> out(SimScene::FrameBytes(s));
    EXPECT_EQ(scene.Render(s, frame, still, out.data(), out.size()), out.size());
    return out;
}

uint16_t Sample16(const std::vector<uint8_t>& f, const SceneSettings& s, int x, int y) {
    const size_t i = (static_cast<size_t>(y) * s.outWidth + x) * 2;
    return static_cast<uint16_t>(f[i] | (f[i + 1] << 8));
}

TEST(SimScene, StaticSceneRepeatsByteForByte) {
    SimScene scene;
    SceneSettings s;
    const auto a = Render(scene, s, 1, true);
    const auto b = Render(scene, s, 2, true);
    EXPECT_EQ(a, b);
    const auto c = Render(scene, s, 1, false);
    const auto d = Render(scene, s, 2, false);
    EXPECT_NE(c, d);  // noise and the moving square
}

TEST(SimScene, SixteenBitSamplesAreTwelveBitValuesAndEightBitTheirTopBits) {
    SimScene scene;
    SceneSettings s;
    s.bytesPerPixel = 2;
    const auto wide = Render(scene, s, 0, true);
    s.bytesPerPixel = 1;
    const auto narrow = Render(scene, s, 0, true);
    for (int i : {0, 1000, 2560 * 1024 + 77, 2560 * 2048 - 1}) {
        const uint16_t v = static_cast<uint16_t>(wide[2 * i] | (wide[2 * i + 1] << 8));
        EXPECT_LE(v, 4095);
        EXPECT_EQ(narrow[i], v >> 4);
    }
    s.bytesPerPixel = 2;
    EXPECT_EQ(Sample16(wide, s, 1280, 600), scene.SensorValue(s, 1280, 600));
}

TEST(SimScene, BrightnessFollowsExposureGainAndBlackLevel) {
    SimScene scene;
    SceneSettings s;
    s.bytesPerPixel = 2;
    s.blackLevel = 0;
    const int x = 1280, y = 600;
    const int dark = scene.SensorValue({.exposureUs = 0, .blackLevel = 0}, x, y);
    s.exposureUs = 2000;
    const int one = scene.SensorValue(s, x, y) - dark;
    s.exposureUs = 4000;
    const int two = scene.SensorValue(s, x, y) - dark;
    EXPECT_NEAR(two, 2 * one, 2);
    s.gain = 60;  // 6 dB
    EXPECT_NEAR(scene.SensorValue(s, x, y) - dark, 2 * two, 8);
    s.gain = 0;
    s.blackLevel = 500;
    EXPECT_EQ(scene.SensorValue(s, x, y) - 500 - dark, two);
    s.exposureUs = 1e6;
    EXPECT_EQ(scene.SensorValue(s, x, y), 4095);
}

TEST(SimScene, CornerMarksShowWindowAndMirror) {
    SimScene scene;
    SceneSettings s;
    s.bytesPerPixel = 2;
    const auto plain = Render(scene, s, 0, true);
    EXPECT_GT(Sample16(plain, s, 10, 10), 1500);   // white top-left
    EXPECT_LT(Sample16(plain, s, 2550, 10), 400);  // black top-right
    s.mirrorH = true;
    const auto mirrored = Render(scene, s, 0, true);
    EXPECT_EQ(Sample16(mirrored, s, 2550, 10), Sample16(plain, s, 9, 10));
    // A window away from the corners has no white corner.
    SceneSettings w;
    w.bytesPerPixel = 2;
    w.outWidth = w.sensorWidth = 512;
    w.outHeight = w.sensorHeight = 256;
    w.sensorX = 1024;
    w.sensorY = 512;
    const auto window = Render(scene, w, 0, true);
    EXPECT_EQ(Sample16(window, w, 5, 5), scene.SensorValue(w, 1029, 517));
}

TEST(SimScene, DefectCorrectionRemovesHotAndDeadPixels) {
    SimScene scene;
    SceneSettings s;
    s.bytesPerPixel = 2;
    const SimScene::Defect d = scene.Defects().front();
    const auto raw = Render(scene, s, 0, true);
    EXPECT_EQ(Sample16(raw, s, d.x, d.y), d.hot ? 4095 : 0);
    s.defectCorrection = true;
    s.defectThreshold = 200;
    const auto corrected = Render(scene, s, 0, true);
    const int neighbour = Sample16(corrected, s, d.x + 1, d.y);
    EXPECT_NEAR(Sample16(corrected, s, d.x, d.y), neighbour, 60);
    s.defectThreshold = 0xFFFF;  // nothing stands out that far
    EXPECT_EQ(Render(scene, s, 0, true), raw);
}

TEST(SimScene, AFlatTargetLeavesOnlyTheSensorsOwnUnevenness) {
    SimScene scene;
    SceneSettings s;
    s.bytesPerPixel = 2;
    const auto sceneFrame = Render(scene, s, 0, true);
    s.flatTarget = true;
    const auto flat = Render(scene, s, 0, true);
    auto isDefect = [&](int x, int y) {
        for (const SimScene::Defect& d : scene.Defects()) {
            if (d.x == x && d.y == y) return true;
        }
        return false;
    };
    // The shading is symmetric about the centre, so mirrored pixels differ by the dark pattern
    // alone (under 16 counts a column, 8 a row); the scene's gradient and marks are gone.
    for (auto [x, y] : {std::pair{10, 10}, {2549, 10}, {300, 1000}, {1279, 1023}, {700, 1900}}) {
        if (isDefect(x, y) || isDefect(2559 - x, 2047 - y)) continue;
        const int a = Sample16(flat, s, x, y);
        const int b = Sample16(flat, s, 2559 - x, 2047 - y);
        EXPECT_NEAR(a, b, 23) << x << "," << y;
        EXPECT_EQ(a, scene.SensorValue(s, x, y));
    }
    EXPECT_GT(std::abs(Sample16(sceneFrame, s, 300, 1000) - Sample16(sceneFrame, s, 2259, 1047)),
              200);
    // Hot and dead pixels stay, and the moving square is hidden (only noise differs).
    for (const SimScene::Defect& d : scene.Defects()) {
        ASSERT_EQ(Sample16(flat, s, d.x, d.y), d.hot ? 4095 : 0);
    }
    int mx = 0;
    int my = 0;
    SimScene::MoverPosition(5, &mx, &my);
    const auto moving = Render(scene, s, 5, false);
    EXPECT_NEAR(Sample16(moving, s, mx + 32, my + 32), Sample16(flat, s, mx + 32, my + 32), 40);
    s.flatTarget = false;
    const auto sceneMoving = Render(scene, s, 5, false);
    EXPECT_GT(Sample16(sceneMoving, s, mx + 32, my + 32),
              Sample16(sceneFrame, s, mx + 32, my + 32) + 500);
}

TEST(SimScene, RefusesBuffersTooSmall) {
    SimScene scene;
    SceneSettings s;
    std::vector<uint8_t> out(SimScene::FrameBytes(s) - 1);
    EXPECT_EQ(scene.Render(s, 0, true, out.data(), out.size()), 0u);
}

}  // namespace
}  // namespace lumora::sim
