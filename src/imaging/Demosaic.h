#pragma once
// Bayer demosaic and colour-to-luminance conversion.
//
// Bayer phase: `BayerMode` (0..3) names the colour of the top-left sample; bit 0 is the row
// phase, bit 1 the column phase. At (x, y) the row state is bit0 ^ (y & 1) and the column state
// bit1 ^ (x & 1); row state 1 with column state 0 is red, 0 with 1 is blue, the rest green.
#include "imaging/PixelConverter.h"

namespace lumora {

// The phase the demosaic and the white-balance estimate use: a vertical mirror flips the row
// phase, a horizontal one the column phase (whoever does the mirroring).
constexpr int CorrectedBayerPhase(int bayerMode, bool mirrorH, bool mirrorV) {
    return (bayerMode & 3) ^ (mirrorV ? 1 : 0) ^ (mirrorH ? 2 : 0);
}

// Parameter block of DemosaicBayer: the corrected phase and the Bayer gains (0..400, 100 =
// unity). The green gain is carried but, as the pipeline defines it, not applied.
struct DemosaicParams {
    int phase;
    int gainR;
    int gainG;
    int gainB;
};

// The multiplier a Bayer gain becomes: ⌊gain × 1.28⌋, so 100 → 128 and unity maps a sample to
// itself after the weights (sum 16) and the shift by 11.
int DemosaicGainFactor(int gain);

// Raw mosaic (8 or 16 bit) → BGR(X) colour: 8-bit sources into 24/32-bit, 16-bit sources into
// 48/64-bit destinations. Each output pixel comes from the 2×2 cell whose bottom-right sample
// it is: green is the mean of the cell's two greens, red and blue interpolate the four nearest
// samples of their colour with weights 9, 3, 3, 1. An interior pass runs without bounds tests;
// a border pass takes neighbours outside the image four rows/columns further in (same colour)
// and clamps for images too small for that. The X component is never written.
int DemosaicBayer(uint8_t* dst, const uint8_t* src, const PixelRect& rect, int dstX, int dstY,
                  int dstBpp, int srcBpp, int dstStride, int srcStride, const void* params);

// 24/32-bit BGR(X) → 8 bit: Y = (R × 30 + G × 59 + B × 11) / 100.
int LumaFromColor(uint8_t* dst, const uint8_t* src, const PixelRect& rect, int dstX, int dstY,
                  int dstBpp, int srcBpp, int dstStride, int srcStride, const void* params);

}  // namespace lumora
