#include "PictureRenderer.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace lumora_viewer {
namespace {

uint32_t Gray(int value, const DisplayLevels& levels) {
    int g = 0;
    if (value <= levels.black) {
        g = 0;
    } else if (value >= levels.white) {
        g = 255;
    } else {
        g = static_cast<int>(
            (static_cast<int64_t>(value - levels.black) * 255 + (levels.white - levels.black) / 2) /
            (levels.white - levels.black));
    }
    const auto u = static_cast<uint32_t>(g);
    return (u << 16) | (u << 8) | u;
}

uint32_t Colour(int value, int fullScale, const DisplayLevels& levels) {
    if (levels.markSaturated && value >= fullScale) return kSaturatedMark;
    return Gray(value, levels);
}

}  // namespace

uint32_t PictureRenderer::ColourOf(int value, int fullScale, const DisplayLevels& levels) {
    return Colour(std::min(value, fullScale), fullScale, levels);
}

void PictureRenderer::Prepare(int bits, int valueShift, const DisplayLevels& levels) {
    if (bits == tableBits_ && valueShift == tableShift_ && levels == tableLevels_) return;
    const int fullScale = bits == 8 ? 255 : 4095;
    table_.resize(bits == 8 ? 256 : 65536);
    for (size_t raw = 0; raw < table_.size(); ++raw) {
        const int value = std::min(static_cast<int>(raw) >> valueShift, fullScale);
        table_[raw] = Colour(value, fullScale, levels);
    }
    tableBits_ = bits;
    tableShift_ = valueShift;
    tableLevels_ = levels;
}

void PictureRenderer::Render(const Frame& frame, const ViewTransform& view,
                             const DisplayLevels& levels, uint8_t* out, int strideBytes, int width,
                             int height) {
    if (out == nullptr || width <= 0 || height <= 0) return;
    const FrameGeometry& g = frame.geometry;
    if (!g.Valid()) {
        for (int y = 0; y < height; ++y) {
            auto* row = reinterpret_cast<uint32_t*>(out + static_cast<size_t>(y) * strideBytes);
            std::fill(row, row + width, kBackground);
        }
        return;
    }
    Prepare(g.bits, frame.valueShift, levels);
    const double scale = view.Scale();
    const double ox = view.OriginX();
    const double oy = view.OriginY();
    // Each area pixel shows the image pixel under its centre.
    columns_.resize(static_cast<size_t>(width));
    int first = width;
    int last = -1;
    for (int x = 0; x < width; ++x) {
        const double ix = std::floor((x + 0.5 - ox) / scale);
        const bool inside = ix >= 0 && ix < g.width;
        columns_[static_cast<size_t>(x)] = inside ? static_cast<int>(ix) : -1;
        if (inside) {
            first = std::min(first, x);
            last = x;
        }
    }
    const uint32_t* table = table_.data();
    for (int y = 0; y < height; ++y) {
        auto* row = reinterpret_cast<uint32_t*>(out + static_cast<size_t>(y) * strideBytes);
        const double iy = std::floor((y + 0.5 - oy) / scale);
        if (iy < 0 || iy >= g.height || last < 0) {
            std::fill(row, row + width, kBackground);
            continue;
        }
        std::fill(row, row + first, kBackground);
        std::fill(row + last + 1, row + width, kBackground);
        const uint8_t* src = frame.Row(static_cast<int>(iy));
        const int* col = columns_.data();
        if (g.bits == 8) {
            for (int x = first; x <= last; ++x) row[x] = table[src[col[x]]];
        } else {
            for (int x = first; x <= last; ++x) {
                const uint8_t* p = src + 2 * static_cast<size_t>(col[x]);
                row[x] = table[p[0] | (p[1] << 8)];
            }
        }
    }
}

}  // namespace lumora_viewer
