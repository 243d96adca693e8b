#pragma once
// Sharpness: an unsharp mask. Each interior pixel (two pixels in from every edge) becomes
// orig + trunc(s × (orig − blur) / 10), limited to the sample range, where blur is the mean of
// the 4×4 block over columns x − 2..x + 1 and rows y − 2..y + 1 of the original; the border
// keeps its values.
#include <cstdint>
#include <vector>

#include "imaging/PixelConverter.h"
#include "platform/SimdLevel.h"

namespace lumora {

class RowBandPool;

// Unsharp mask from `source` (same size and format) into `destination`.
void ApplySharpness(ImageBuffer& destination, const ImageBuffer& source, int sharpness);
// The same unsharp mask in place, without a copy of the whole image: only a few rows of the
// original are kept. Same result as ApplySharpness from a copy; row bands over `pool`.
void ApplySharpnessInPlace(ImageBuffer& image, int sharpness, RowBandPool* pool = nullptr);

// Tone tables (ToneTables.h) around the unsharp mask: every sample through `before`, the mask
// over the result, every sample of that through `after` (null: no table). The same result as
// ApplyLookupTable(before), ApplySharpnessInPlace, ApplyLookupTable(after); on mono images
// without bands it is one pass over the image.
void ApplyTonesAndSharpness(ImageBuffer& image, const std::vector<uint16_t>* before, int sharpness,
                            const std::vector<uint16_t>* after, RowBandPool* pool = nullptr);

// The converters (parameter block: one int, the strength): 8-bit samples (8, 24 and 32-bit
// pixels) and 16-bit samples (16, 48 and 64-bit pixels); source and destination differ.
int SharpnessFilter8(uint8_t* dst, const uint8_t* src, const PixelRect& rect, int dstX, int dstY,
                     int dstBpp, int srcBpp, int dstStride, int srcStride, const void* params);
int SharpnessFilter16(uint8_t* dst, const uint8_t* src, const PixelRect& rect, int dstX, int dstY,
                      int dstBpp, int srcBpp, int dstStride, int srcStride, const void* params);

// The mono row kernels of an instruction-set level: the interior d[2 .. width − 3] of one row
// from the source rows r0..r3 (rows y − 2 .. y + 1; r2 is the pixel's own row). `scratch`
// holds `width` entries.
struct SharpnessKernels {
    void (*row8)(const uint8_t* r0, const uint8_t* r1, const uint8_t* r2, const uint8_t* r3,
                 uint8_t* d, int width, int strength, int32_t* scratch);
    void (*row16)(const uint16_t* r0, const uint16_t* r1, const uint16_t* r2, const uint16_t* r3,
                  uint16_t* d, int width, int strength, int32_t* scratch);
};
SharpnessKernels SharpnessKernelsFor(SimdLevel level);

}  // namespace lumora
