#pragma once
// The one signature of every per-pixel operation (format converters and filters) and the call
// that clips a rectangle against two images before running one.
#include <cstdint>

#include "imaging/ImageBuffer.h"

namespace lumora {

// A rectangle in pixels; right and bottom are exclusive.
struct PixelRect {
    int left;
    int top;
    int right;
    int bottom;

    int Width() const { return right - left; }
    int Height() const { return bottom - top; }
};

// dst/src: the two images' pixel memory (row 0 at the pointer); rect: the source rectangle,
// already clipped so that it and the destination block at (dstX, dstY) of the same size lie
// inside their images; bytes per pixel and strides of both images; params: the converter's own
// parameter block (may be null for converters without one). Destination and source may be the
// same memory for converters that say they work in place. Always returns 1.
using PixelConverter = int (*)(uint8_t* dst, const uint8_t* src, const PixelRect& rect, int dstX,
                               int dstY, int dstBytesPerPixel, int srcBytesPerPixel, int dstStride,
                               int srcStride, const void* params);

// Runs `converter` from `src` into `dst`. A null rect means the whole source. The rectangle is
// clipped against the source and, placed at (dstX, dstY), against the destination; returns 0
// without calling the converter when nothing is left, no converter is given or either image is
// empty, else the converter's result. `dst` and `src` may be the same image.
int ApplyConverter(ImageBuffer& dst, PixelConverter converter, const ImageBuffer& src,
                   const PixelRect* rect, int dstX, int dstY, const void* params);

// Convenience for in-place operations over a whole image (filters, corrections).
inline int ApplyInPlace(ImageBuffer& image, PixelConverter converter, const void* params) {
    return ApplyConverter(image, converter, image, nullptr, 0, 0, params);
}

}  // namespace lumora
