// The capture window on the sensor and the grid the camera takes it on: starts and sizes in
// steps of 8 pixels, inside the 2560 x 2048 sensor.
#pragma once

#include "RegionStatistics.h"

namespace lumora_viewer {

constexpr int kSensorWidth = 2560;
constexpr int kSensorHeight = 2048;
constexpr int kWindowStep = 8;

struct SensorWindow {
    int x = 0;
    int y = 0;
    int width = kSensorWidth;
    int height = kSensorHeight;
    bool operator==(const SensorWindow&) const = default;
    bool Full() const {
        return x == 0 && y == 0 && width == kSensorWidth && height == kSensorHeight;
    }
};

// The smallest window on the grid that covers the given sensor rectangle, inside the sensor and
// at least one step in each direction.
SensorWindow SnapToGrid(const SensorWindow& wanted);

// The sensor window covering a rectangle drawn on the picture, which shows `current` at
// 1/`divisor` of its size (2 with subsampling).
SensorWindow WindowForPictureRect(const PixelRect& rect, const SensorWindow& current, int divisor);

// Where `window` lies on the picture that shows `current` at 1/`divisor` (for drawing it).
PixelRect PictureRectOf(const SensorWindow& window, const SensorWindow& current, int divisor);

}  // namespace lumora_viewer
