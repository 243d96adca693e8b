#pragma once
// Gray mode 1: a gain and an offset per Bayer site on monochrome images, in place:
// v' = offset + ⌊gain × v / 128⌋ limited to [0, max].
#include "imaging/FilterSettings.h"
#include "imaging/PixelConverter.h"

namespace lumora {

// Parameter block of the gray gain/offset converters.
struct GrayGainParams {
    int bayerMode;  // as set, not corrected for mirroring
    int gain[4];    // R, G1, G2, B
    int offset[4];
    int sampleWidth;  // 16-bit images: 10 → max 1023, 12 → 4095, 14 → 16383, else 65535
};

// True when the gray gain/offset step would change nothing: every gain and every offset 128.
bool GrayGainIsNeutral(const GraySettings& gray);
// v' = offset + ⌊gain × v / 128⌋ limited to [0, max] per Bayer site, in place. 8 and 16 bit.
int GrayGainOffset(uint8_t* dst, const uint8_t* src, const PixelRect& rect, int dstX, int dstY,
                   int dstBpp, int srcBpp, int dstStride, int srcStride, const void* params);
// The gray-mode site (kGrayR, ...) of pixel (x, y) for `bayerMode`.
int GraySiteAt(int bayerMode, int x, int y);

}  // namespace lumora
