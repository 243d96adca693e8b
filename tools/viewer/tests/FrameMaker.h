#pragma once
// Frames with chosen or seeded contents for the model's tests.
#include <cstdint>
#include <functional>
#include <random>

#include "Frame.h"

namespace lumora_viewer::testing {

// A frame whose value at (x, y) is value(x, y), stored as the camera stores it (16-bit words
// shifted left by `shift`), with the row padding filled with junk the code must not read.
inline Frame MakeFrame(int width, int height, int bits, const std::function<int(int, int)>& value,
                       int shift = 0) {
    Frame f;
    f.geometry = {width, height, bits};
    f.valueShift = shift;
    f.pixels.assign(f.geometry.Bytes(), 0xA5);
    for (int y = 0; y < height; ++y) {
        uint8_t* row = f.pixels.data() + static_cast<size_t>(y) * f.geometry.Stride();
        for (int x = 0; x < width; ++x) {
            const int v = value(x, y);
            if (bits == 8) {
                row[x] = static_cast<uint8_t>(v);
            } else {
                const unsigned word = static_cast<unsigned>(v) << shift;
                row[2 * x] = static_cast<uint8_t>(word & 0xFF);
                row[2 * x + 1] = static_cast<uint8_t>(word >> 8);
            }
        }
    }
    return f;
}

inline Frame RandomFrame(int width, int height, int bits, unsigned seed) {
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> value(0, bits == 8 ? 255 : 4095);
    std::vector<int> values(static_cast<size_t>(width) * height);
    for (int& v : values) v = value(random);
    return MakeFrame(width, height, bits,
                     [&](int x, int y) { return values[static_cast<size_t>(y) * width + x]; });
}

}  // namespace lumora_viewer::testing
