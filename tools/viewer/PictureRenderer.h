// Turns a frame into the pixels of the picture area: the part the view transform shows,
// sampled nearest-neighbour, mapped from the camera's values to gray through display levels,
// with saturated pixels marked in red on request. Renders only the area's pixels, so the cost
// follows the window, not the sensor.
#pragma once

#include <cstdint>
#include <vector>

#include "Frame.h"
#include "ViewTransform.h"

namespace lumora_viewer {

struct DisplayLevels {
    int black = 0;    // this value and below are shown black
    int white = 255;  // this value and above are shown white
    bool markSaturated = false;
    bool operator==(const DisplayLevels&) const = default;
};

constexpr uint32_t kBackground = 0x00202020;
constexpr uint32_t kSaturatedMark = 0x00FF2020;

class PictureRenderer {
public:
    // `out`: `height` rows of `width` pixels (0x00RRGGBB words), `strideBytes` apart.
    void Render(const Frame& frame, const ViewTransform& view, const DisplayLevels& levels,
                uint8_t* out, int strideBytes, int width, int height);
    // The gray (or mark) a value is shown with: the same table the picture is drawn with.
    uint32_t ColourOf(int value, int fullScale, const DisplayLevels& levels);

private:
    void Prepare(int bits, int valueShift, const DisplayLevels& levels);

    std::vector<uint32_t> table_;  // indexed by the raw sample (8-bit) or word (16-bit)
    int tableBits_ = 0;
    int tableShift_ = -1;
    DisplayLevels tableLevels_;
    std::vector<int> columns_;  // the image column under each area column, -1 outside
};

}  // namespace lumora_viewer
