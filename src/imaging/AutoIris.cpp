#include "imaging/AutoIris.h"

#include <cstdint>

#include "imaging/PixelAccess.h"

namespace lumora {

namespace {

// Region edges as fractions of width and height: left, top, right, bottom (right and bottom
// exclusive).
constexpr double kRegions[kIrisRegions][4] = {
    {0.1, 0.1, 0.2, 0.2}, {0.1, 0.8, 0.2, 0.9}, {0.45, 0.45, 0.55, 0.55},
    {0.8, 0.1, 0.9, 0.2}, {0.8, 0.8, 0.9, 0.9},
};

}  // namespace

std::array<std::optional<int>, kIrisRegions> AutoIrisLevels(const ImageBuffer& raw) {
    std::array<std::optional<int>, kIrisRegions> levels{};
    if (!raw.IsValid() || (raw.BitCount() != 8 && raw.BitCount() != 16)) return levels;
    const double w = raw.Width();
    const double h = raw.Height();
    for (int i = 0; i < kIrisRegions; ++i) {
        const int left = static_cast<int>(kRegions[i][0] * w);
        const int top = static_cast<int>(kRegions[i][1] * h);
        const int right = static_cast<int>(kRegions[i][2] * w);
        const int bottom = static_cast<int>(kRegions[i][3] * h);
        if (right <= left || bottom <= top) continue;
        uint64_t sum = 0;
        for (int y = top; y < bottom; ++y) {
            if (raw.BitCount() == 8) {
                const uint8_t* row = raw.Row(y);
                for (int x = left; x < right; ++x) sum += row[x];
            } else {
                const uint16_t* row = Words(raw.Row(y));
                for (int x = left; x < right; ++x) sum += static_cast<unsigned>(row[x] >> 4);
            }
        }
        const uint64_t count =
            static_cast<uint64_t>(right - left) * static_cast<uint64_t>(bottom - top);
        levels[static_cast<size_t>(i)] = static_cast<int>(sum / count);
    }
    return levels;
}

double AutoIrisFactor(const ImageBuffer& raw) {
    double f = 1.0;
    for (const auto& level : AutoIrisLevels(raw)) {
        if (!level) continue;
        if (*level > 200) {
            f += -0.15;
        } else if (*level >= 161) {
            f += -0.1;
        } else if (*level >= 50 && *level <= 99) {
            f += 0.05;
        } else if (*level < 50) {
            f += 0.1;
        }
    }
    return f;
}

}  // namespace lumora
