// Rectangles on the picture and what a user reads from them: mean, standard deviation (of the
// pixels in the rectangle, not an estimate for a larger population), minimum and maximum of the
// camera's values.
#pragma once

#include <cstdint>

#include "Frame.h"

namespace lumora_viewer {

struct PixelRect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;

    bool Empty() const { return width <= 0 || height <= 0; }
    bool operator==(const PixelRect&) const = default;
    // The rectangle spanned by two corner pixels, both inside it, in any order.
    static PixelRect Spanning(int x0, int y0, int x1, int y1);
    // The part inside a width x height picture.
    PixelRect ClippedTo(int w, int h) const;
};

struct RegionStatistics {
    PixelRect rect;  // the part of the requested rectangle the frame covers
    uint64_t count = 0;
    double mean = 0;
    double standardDeviation = 0;
    int minimum = 0;
    int maximum = 0;
};

RegionStatistics MeasureRegion(const Frame& frame, const PixelRect& rect);

}  // namespace lumora_viewer
