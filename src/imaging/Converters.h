#pragma once
// Depth reductions and reorderings used by the preview and the file writer, each a
// PixelConverter. "Reversed" converters write destination row i from source row
// (rect.bottom - 1 - i), turning top-down memory into bottom-up order and back. Unless a
// converter says it works in place, destination and source must be different images.
#include "imaging/PixelConverter.h"

namespace lumora {

// 8 → 8: row-reversed copy.
int ConvertCopyRowsReversed8(uint8_t* dst, const uint8_t* src, const PixelRect& rect, int dstX,
                             int dstY, int dstBpp, int srcBpp, int dstStride, int srcStride,
                             const void* params);
// 16 → 8: v >> 8.
int ConvertHighByte16To8(uint8_t* dst, const uint8_t* src, const PixelRect& rect, int dstX,
                         int dstY, int dstBpp, int srcBpp, int dstStride, int srcStride,
                         const void* params);
// 16 → 8: v >> 8, row-reversed.
int ConvertHighByte16To8Reversed(uint8_t* dst, const uint8_t* src, const PixelRect& rect, int dstX,
                                 int dstY, int dstBpp, int srcBpp, int dstStride, int srcStride,
                                 const void* params);
// 16 → 8: (v >> 4) & 0xFF, row-reversed (12-bit samples).
int ConvertBits12To8Reversed(uint8_t* dst, const uint8_t* src, const PixelRect& rect, int dstX,
                             int dstY, int dstBpp, int srcBpp, int dstStride, int srcStride,
                             const void* params);
// 16 → 8: (v >> 2) & 0xFF, row-reversed (10-bit samples).
int ConvertBits10To8Reversed(uint8_t* dst, const uint8_t* src, const PixelRect& rect, int dstX,
                             int dstY, int dstBpp, int srcBpp, int dstStride, int srcStride,
                             const void* params);
// 16 → 16: v << 4 (12-bit samples to the full word). Works in place.
int ConvertBits12To16(uint8_t* dst, const uint8_t* src, const PixelRect& rect, int dstX, int dstY,
                      int dstBpp, int srcBpp, int dstStride, int srcStride, const void* params);
// 16 → 16: v << 6 (10-bit samples). Works in place.
int ConvertBits10To16(uint8_t* dst, const uint8_t* src, const PixelRect& rect, int dstX, int dstY,
                      int dstBpp, int srcBpp, int dstStride, int srcStride, const void* params);
// 32 → 24: B, G, R copied, X dropped.
int ConvertDropX32To24(uint8_t* dst, const uint8_t* src, const PixelRect& rect, int dstX, int dstY,
                       int dstBpp, int srcBpp, int dstStride, int srcStride, const void* params);
// 48 or 64 → 24 (preview): each of B, G, R as (v >> 4) & 0xFF.
int ConvertColor16To24Preview(uint8_t* dst, const uint8_t* src, const PixelRect& rect, int dstX,
                              int dstY, int dstBpp, int srcBpp, int dstStride, int srcStride,
                              const void* params);
// 48 or 64 → 24: each of B, G, R as v >> 8, row-reversed.
int ConvertColorHighBytesTo24Reversed(uint8_t* dst, const uint8_t* src, const PixelRect& rect,
                                      int dstX, int dstY, int dstBpp, int srcBpp, int dstStride,
                                      int srcStride, const void* params);
// 48 → 48: each sample << 4 (12-bit) / << 6 (10-bit), order kept. Work in place.
int ConvertColor12To48(uint8_t* dst, const uint8_t* src, const PixelRect& rect, int dstX, int dstY,
                       int dstBpp, int srcBpp, int dstStride, int srcStride, const void* params);
int ConvertColor10To48(uint8_t* dst, const uint8_t* src, const PixelRect& rect, int dstX, int dstY,
                       int dstBpp, int srcBpp, int dstStride, int srcStride, const void* params);
// 48 → 48: output R, G, B from input B, G, R, each << 4 / << 6. Work in place.
int ConvertColor12To48Swap(uint8_t* dst, const uint8_t* src, const PixelRect& rect, int dstX,
                           int dstY, int dstBpp, int srcBpp, int dstStride, int srcStride,
                           const void* params);
int ConvertColor10To48Swap(uint8_t* dst, const uint8_t* src, const PixelRect& rect, int dstX,
                           int dstY, int dstBpp, int srcBpp, int dstStride, int srcStride,
                           const void* params);
// 64 → 64: samples << 4 / << 6, order kept or R/B exchanged; fourth sample 0xFFFF. In place.
int ConvertColor12To64(uint8_t* dst, const uint8_t* src, const PixelRect& rect, int dstX, int dstY,
                       int dstBpp, int srcBpp, int dstStride, int srcStride, const void* params);
int ConvertColor10To64(uint8_t* dst, const uint8_t* src, const PixelRect& rect, int dstX, int dstY,
                       int dstBpp, int srcBpp, int dstStride, int srcStride, const void* params);
int ConvertColor12To64Swap(uint8_t* dst, const uint8_t* src, const PixelRect& rect, int dstX,
                           int dstY, int dstBpp, int srcBpp, int dstStride, int srcStride,
                           const void* params);
int ConvertColor10To64Swap(uint8_t* dst, const uint8_t* src, const PixelRect& rect, int dstX,
                           int dstY, int dstBpp, int srcBpp, int dstStride, int srcStride,
                           const void* params);
// 24 or 32 → 24: B, G, R copied, row-reversed (the recorder's frames).
int ConvertBgrCopyReversed(uint8_t* dst, const uint8_t* src, const PixelRect& rect, int dstX,
                           int dstY, int dstBpp, int srcBpp, int dstStride, int srcStride,
                           const void* params);
// 24 or 32 → 24 or 32: the first three bytes reversed; a fourth destination byte is not
// written. Works in place.
int ConvertBgrToRgb(uint8_t* dst, const uint8_t* src, const PixelRect& rect, int dstX, int dstY,
                    int dstBpp, int srcBpp, int dstStride, int srcStride, const void* params);
// 32 → 32: B, G, R copied, fourth byte = NOT of the source's fourth byte. Works in place.
int ConvertBgrxToBgra(uint8_t* dst, const uint8_t* src, const PixelRect& rect, int dstX, int dstY,
                      int dstBpp, int srcBpp, int dstStride, int srcStride, const void* params);

// Parameter block of ConvertScaleNearest: the size of the destination block to fill.
struct ScaleParams {
    int dstWidth;
    int dstHeight;
};
// 8 → 8 or 24/32 → 24: nearest-neighbour scaling of the source rectangle (sw × sh) into a
// dstWidth × dstHeight block at (dstX, dstY), row-reversed: destination (j, i) takes source
// column min(⌊j × sw / dw⌋, sw − 1) and source row sh − 1 − min(⌊i × sh / dh⌋, sh − 1), with
// the ratios in single precision. The caller guarantees the block fits the destination;
// ScaleImageNearest does.
int ConvertScaleNearest(uint8_t* dst, const uint8_t* src, const PixelRect& rect, int dstX, int dstY,
                        int dstBpp, int srcBpp, int dstStride, int srcStride, const void* params);
// Scales all of `src` onto all of `dst` with ConvertScaleNearest. 0 when either is empty or
// the depths are not 8 → 8 or 24/32 → 24.
int ScaleImageNearest(ImageBuffer& dst, const ImageBuffer& src);

}  // namespace lumora
