#pragma once
// Deterministic test pictures for the file writers: every sample differs from its neighbours
// and per channel, so swapped channels, flipped rows or shifted bytes show.
#include <cstring>

#include "imaging/ImageBuffer.h"

namespace lumora::testing {

// 8-bit samples: smooth in x and y. 16-bit samples carry 12 significant bits, as the camera's.
// The X part of 32- and 64-bit pixels stays 0, as in the pipeline's images.
inline ImageBuffer MakeTestImage(int width, int height, int bits) {
    ImageBuffer image;
    image.Create(width, height, bits);
    for (int y = 0; y < height; ++y) {
        uint8_t* row = image.Row(y);
        for (int x = 0; x < width; ++x) {
            const int base = x * 5 + y * 3;
            switch (bits) {
                case 8:
                    row[x] = static_cast<uint8_t>(base);
                    break;
                case 16: {
                    const auto v = static_cast<uint16_t>((x * 37 + y * 101) & 0xFFF);
                    std::memcpy(row + 2 * x, &v, 2);
                    break;
                }
                case 24:
                case 32: {
                    uint8_t* p = row + x * (bits / 8);
                    p[0] = static_cast<uint8_t>(base);           // B
                    p[1] = static_cast<uint8_t>(base / 2 + 40);  // G
                    p[2] = static_cast<uint8_t>(255 - base);     // R
                    break;
                }
                default: {
                    const uint16_t bgr[3] = {
                        static_cast<uint16_t>((x * 37 + y * 11) & 0xFFF),
                        static_cast<uint16_t>((x * 13 + y * 29 + 700) & 0xFFF),
                        static_cast<uint16_t>(4095 - ((x * 23 + y * 7) & 0xFFF))};
                    std::memcpy(row + x * (bits / 8), bgr, sizeof bgr);
                    break;
                }
            }
        }
    }
    return image;
}

inline uint16_t Sample16(const ImageBuffer& image, int x, int y, int sample) {
    uint16_t v;
    std::memcpy(&v, image.Row(y) + x * image.BytesPerPixel() + 2 * sample, 2);
    return v;
}

}  // namespace lumora::testing
