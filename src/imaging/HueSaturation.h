#pragma once
// Hue/saturation on colour images, with 8-bit precision: each pixel's chroma is scaled by the
// saturation and its hue turned, in 1530 units per turn (255 per sector of 60 degrees).
// 16-bit images take each sample's high byte and get the result back in the high byte.
#include <array>
#include <cstdint>

#include "imaging/PixelConverter.h"

namespace lumora {

struct HueSaturationParams {
    int hue;
    int saturation;
};

// The per-parameter preparation; cached by the caller per parameter change.
class HueSaturationTables {
public:
    HueSaturationTables();
    // Rebuilds the saturation table and the hue shift when the parameters changed.
    void Prepare(int hue, int saturation);
    // The new 0x00RRGGBB colour of one pixel.
    int32_t Apply(int r, int g, int b) const;

private:
    int hue_ = 0;
    int saturation_ = 0;
    bool prepared_ = false;
    int shift_ = 0;  // h: 0..1529, 1530 units per turn
    std::array<int32_t, 256> saturationTable_{};
};

// Hue/saturation in place on a colour image (24, 32, 48 or 64 bit).
void ApplyHueSaturation(ImageBuffer& image, const HueSaturationTables& tables);

// The converters (parameter block: HueSaturationParams) for 24/32-bit and 48/64-bit pixels; a
// fourth component is set to 0.
int HueSaturationFilter8(uint8_t* dst, const uint8_t* src, const PixelRect& rect, int dstX,
                         int dstY, int dstBpp, int srcBpp, int dstStride, int srcStride,
                         const void* params);
int HueSaturationFilter16(uint8_t* dst, const uint8_t* src, const PixelRect& rect, int dstX,
                          int dstY, int dstBpp, int srcBpp, int dstStride, int srcStride,
                          const void* params);

}  // namespace lumora
