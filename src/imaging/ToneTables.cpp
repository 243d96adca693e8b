#include "imaging/ToneTables.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

namespace lumora {

void BuildGammaTable(int gamma, int maxValue, std::vector<uint16_t>& table) {
    table.resize(static_cast<size_t>(maxValue) + 1);
    const double max = maxValue;
    const double exponent = 100.0 / static_cast<double>(gamma);  // gamma 0: +inf, a step
    table[0] = 0;
    for (int i = 1; i <= maxValue; ++i) {
        const double v = std::trunc(max * std::pow(static_cast<double>(i) / max, exponent));
        table[static_cast<size_t>(i)] = static_cast<uint16_t>(std::min(v, max));
    }
}

void BuildContrastTable(int contrast, int maxValue, std::vector<uint16_t>& table) {
    table.resize(static_cast<size_t>(maxValue) + 1);
    const int c = maxValue > 255 ? contrast * 256 : contrast;
    const double slope =
        static_cast<double>(maxValue + 1) / static_cast<double>(maxValue + 1 - 2 * c);
    for (int i = 0; i <= maxValue; ++i) {
        uint16_t v;
        if (i < c) {
            v = 0;
        } else if (i > maxValue - c) {
            v = static_cast<uint16_t>(maxValue);
        } else {
            v = static_cast<uint16_t>(std::trunc(slope * static_cast<double>(i - c)));
        }
        table[static_cast<size_t>(i)] = v;
    }
}

float BrightnessFactor(int brightness) {
    if (brightness > 0) return 1.0f + static_cast<float>(brightness) * 0.0392156862745098f;
    if (brightness < 0) return 1.0f - static_cast<float>(-brightness) * 0.00392156862745098f;
    return 1.0f;
}

void BuildBrightnessTable(int brightness, int maxValue, std::vector<uint16_t>& table) {
    table.resize(static_cast<size_t>(maxValue) + 1);
    const float f = BrightnessFactor(brightness);
    for (int i = 0; i <= maxValue; ++i) {
        const int v = static_cast<int>(static_cast<float>(i) * f);
        table[static_cast<size_t>(i)] = static_cast<uint16_t>(std::clamp(v, 0, maxValue));
    }
}

}  // namespace lumora
