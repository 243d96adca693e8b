#pragma once
// Sharpness: an unsharp mask. Each interior pixel (two pixels in from every edge) becomes
// orig + trunc(s × (orig − blur) / 10), limited to the sample range, where blur is the mean of
// the 4×4 block over columns x − 2..x + 1 and rows y − 2..y + 1 of the original; the border
// keeps its values.
#include "imaging/PixelConverter.h"

namespace lumora {

class RowBandPool;

// Unsharp mask from `source` (same size and format) into `destination`.
void ApplySharpness(ImageBuffer& destination, const ImageBuffer& source, int sharpness);
// The same unsharp mask in place, without a copy of the whole image: only a few rows of the
// original are kept. Same result as ApplySharpness from a copy; row bands over `pool`.
void ApplySharpnessInPlace(ImageBuffer& image, int sharpness, RowBandPool* pool = nullptr);

// The converters (parameter block: one int, the strength): 8-bit samples (8, 24 and 32-bit
// pixels) and 16-bit samples (16, 48 and 64-bit pixels); source and destination differ.
int SharpnessFilter8(uint8_t* dst, const uint8_t* src, const PixelRect& rect, int dstX, int dstY,
                     int dstBpp, int srcBpp, int dstStride, int srcStride, const void* params);
int SharpnessFilter16(uint8_t* dst, const uint8_t* src, const PixelRect& rect, int dstX, int dstY,
                      int dstBpp, int srcBpp, int dstStride, int srcStride, const void* params);

}  // namespace lumora
