#pragma once
// Small helpers for building and reading test images.
#include <cstdint>
#include <cstring>
#include <functional>

#include "imaging/ImageBuffer.h"

namespace lumora::test {

inline uint16_t Word(const ImageBuffer& image, int x, int y, int sample = 0) {
    uint16_t v;
    std::memcpy(&v, image.Row(y) + x * image.BytesPerPixel() + sample * 2, 2);
    return v;
}
inline void SetWord(ImageBuffer& image, int x, int y, uint16_t v, int sample = 0) {
    std::memcpy(image.Row(y) + x * image.BytesPerPixel() + sample * 2, &v, 2);
}
inline uint8_t Byte(const ImageBuffer& image, int x, int y, int sample = 0) {
    return image.Row(y)[x * image.BytesPerPixel() + sample];
}
inline void SetByte(ImageBuffer& image, int x, int y, uint8_t v, int sample = 0) {
    image.Row(y)[x * image.BytesPerPixel() + sample] = v;
}

// Fills every sample of a mono image with fn(x, y).
inline void FillMono(ImageBuffer& image, const std::function<int(int, int)>& fn) {
    for (int y = 0; y < image.Height(); ++y) {
        for (int x = 0; x < image.Width(); ++x) {
            if (image.BitCount() == 8) {
                SetByte(image, x, y, static_cast<uint8_t>(fn(x, y)));
            } else {
                SetWord(image, x, y, static_cast<uint16_t>(fn(x, y)));
            }
        }
    }
}
inline int Mono(const ImageBuffer& image, int x, int y) {
    return image.BitCount() == 8 ? Byte(image, x, y) : Word(image, x, y);
}

}  // namespace lumora::test
