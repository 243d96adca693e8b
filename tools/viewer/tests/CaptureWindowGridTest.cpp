// The capture window the viewer asks for: on the camera's 8-pixel grid, inside the sensor, and
// where the user drew it on a windowed or subsampled picture.
#include <gtest/gtest.h>

#include "CaptureWindowGrid.h"

namespace lumora_viewer::testing {
namespace {

TEST(CaptureWindowGrid, SnapsOutwardToTheGridInsideTheSensor) {
    EXPECT_EQ(SnapToGrid({3, 5, 10, 10}), (SensorWindow{0, 0, 16, 16}));
    EXPECT_EQ(SnapToGrid({8, 16, 640, 512}), (SensorWindow{8, 16, 640, 512}));
    EXPECT_EQ(SnapToGrid({2550, 2040, 100, 100}), (SensorWindow{2544, 2040, 16, 8}));
    EXPECT_EQ(SnapToGrid({-40, -40, 5000, 5000}), SensorWindow{});
    // Nothing left inside: one step at the nearest edge.
    EXPECT_EQ(SnapToGrid({3000, 100, 10, 0}), (SensorWindow{2552, 96, 8, 8}));
}

TEST(CaptureWindowGrid, ADrawnRectangleBecomesTheSensorWindowUnderIt) {
    const SensorWindow current{800, 400, 1024, 768};
    // Picture pixels are sensor pixels offset by the current window...
    EXPECT_EQ(WindowForPictureRect({10, 20, 100, 50}, current, 1),
              (SensorWindow{808, 416, 104, 56}));
    // ...or twice as large with subsampling (which reads the whole sensor).
    EXPECT_EQ(WindowForPictureRect({100, 100, 320, 256}, SensorWindow{}, 2),
              (SensorWindow{200, 200, 640, 512}));
    const SensorWindow snapped = WindowForPictureRect({13, 7, 91, 33}, current, 1);
    const PixelRect back = PictureRectOf(snapped, current, 1);
    EXPECT_LE(back.x, 13);
    EXPECT_LE(back.y, 7);
    EXPECT_GE(back.x + back.width, 13 + 91);
    EXPECT_GE(back.y + back.height, 7 + 33);
}

}  // namespace
}  // namespace lumora_viewer::testing
