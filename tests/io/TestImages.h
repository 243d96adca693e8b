#pragma once
// Deterministic test pictures for the file writers: every sample differs from its neighbours
// and per channel, so swapped channels, flipped rows or shifted bytes show.
#include <cstring>

#include "imaging/ImageBuffer.h"

namespace lumora::testing {

// 16-bit samples carry 12 significant bits, as the camera's. The X part of 32- and 64-bit
// pixels stays 0, as in the pipeline's images. The default picture wraps around its sample range
// (sharp edges); a smooth one (no wrap for images up to 128 × 128) suits lossy coding.
inline ImageBuffer MakeSmoothImage(int width, int height, int bits);

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

inline ImageBuffer MakeSmoothImage(int width, int height, int bits) {
    ImageBuffer image;
    image.Create(width, height, bits);
    auto clamp12 = [](int v) { return static_cast<uint16_t>(v < 0 ? 0 : (v > 4095 ? 4095 : v)); };
    for (int y = 0; y < height; ++y) {
        uint8_t* row = image.Row(y);
        for (int x = 0; x < width; ++x) {
            const int base = x + 2 * y;
            const int wide = x * 12 + y * 18;
            uint8_t* p = row + x * image.BytesPerPixel();
            switch (bits) {
                case 8:
                    p[0] = static_cast<uint8_t>(base);
                    break;
                case 16: {
                    const uint16_t v = clamp12(wide);
                    std::memcpy(p, &v, 2);
                    break;
                }
                case 24:
                case 32:
                    p[0] = static_cast<uint8_t>(base);
                    p[1] = static_cast<uint8_t>(base / 2 + 40);
                    p[2] = static_cast<uint8_t>(255 - base);
                    break;
                default: {
                    const uint16_t bgr[3] = {clamp12(wide), clamp12(wide / 2 + 700),
                                             clamp12(4095 - wide)};
                    std::memcpy(p, bgr, sizeof bgr);
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
