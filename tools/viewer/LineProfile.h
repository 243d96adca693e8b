// The values along a line drawn on the picture.
#pragma once

#include <vector>

#include "Frame.h"

namespace lumora_viewer {

struct PixelPoint {
    int x = 0;
    int y = 0;
    bool operator==(const PixelPoint&) const = default;
};

struct LineProfile {
    std::vector<PixelPoint> points;  // the pixels sampled, from the line's start to its end
    std::vector<int> values;         // the camera's value at each
};

// One sample per pixel step along the longer axis: max(|dx|, |dy|) + 1 points from `from` to
// `to`, each rounded to the nearest pixel (halves away from zero). Points outside the frame are
// left out, so a line running off the picture profiles the part on it.
LineProfile ProfileAlong(const Frame& frame, PixelPoint from, PixelPoint to);

}  // namespace lumora_viewer
