#pragma once
// Word views of pixel rows. Pixel memory comes from an untyped allocation and every 16-bit row
// starts on an even offset (strides are multiples of 4), so rows can be read as words directly.
#include <bit>
#include <cstddef>
#include <cstdint>

#include "imaging/PixelConverter.h"

namespace lumora {

// Samples and bitmap headers are little-endian in memory, as the bitmap layout demands.
static_assert(std::endian::native == std::endian::little);

inline uint16_t* Words(uint8_t* p) {
    return reinterpret_cast<uint16_t*>(p);
}
inline const uint16_t* Words(const uint8_t* p) {
    return reinterpret_cast<const uint16_t*>(p);
}

template <class T>
constexpr int kMaxOf = sizeof(T) == 1 ? 255 : 65535;

template <class T>
T* RowAt(uint8_t* base, int stride, int y, int x, int bpp) {
    return reinterpret_cast<T*>(base + static_cast<ptrdiff_t>(y) * stride +
                                static_cast<ptrdiff_t>(x) * bpp);
}
template <class T>
const T* RowAt(const uint8_t* base, int stride, int y, int x, int bpp) {
    return reinterpret_cast<const T*>(base + static_cast<ptrdiff_t>(y) * stride +
                                      static_cast<ptrdiff_t>(x) * bpp);
}

// Runs op(sample) → sample over the colour components of every pixel of the rectangle: all
// samples for mono and 3-component pixels (one contiguous run per row), the first three of
// 4-component pixels.
template <class T, class Op>
void ForSamples(uint8_t* dst, const uint8_t* src, const PixelRect& r, int dstX, int dstY,
                int dstBpp, int srcBpp, int dstStride, int srcStride, Op op) {
    const int spp = srcBpp / static_cast<int>(sizeof(T));
    const int width = r.Width();
    for (int y = 0; y < r.Height(); ++y) {
        const T* s = RowAt<T>(src, srcStride, r.top + y, r.left, srcBpp);
        T* d = RowAt<T>(dst, dstStride, dstY + y, dstX, dstBpp);
        if (spp == 4) {
            for (int x = 0; x < width; ++x) {
                d[4 * x] = op(s[4 * x]);
                d[4 * x + 1] = op(s[4 * x + 1]);
                d[4 * x + 2] = op(s[4 * x + 2]);
            }
        } else {
            const int n = width * spp;
            for (int i = 0; i < n; ++i) d[i] = op(s[i]);
        }
    }
}

}  // namespace lumora
