#pragma once
// Gray-mode gain/offset, the automatic gray-gain and white-balance estimates, and the five
// output filters (hue/saturation, gamma, contrast, sharpness, brightness). Every filter is a
// PixelConverter in up to four variants chosen by the colour mode: 8-bit mono, 16-bit mono,
// 8-bit colour (24/32-bit pixels) and 16-bit colour (48/64-bit pixels); colour variants touch
// only the first three components of a pixel (hue/saturation also clears the fourth).
#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include "imaging/FilterSettings.h"
#include "imaging/PixelConverter.h"

namespace lumora {

class RowBandPool;

// ---- variants -------------------------------------------------------------------------------

enum class FilterVariant { kMono8, kMono16, kColor8, kColor16 };

// The variant of a colour mode (0 mono 8, 1 mono 16, 2/3 colour 8, 4/5 colour 16).
std::optional<FilterVariant> FilterVariantFor(int colorMode);

struct FilterVariants {
    PixelConverter mono8;
    PixelConverter mono16;
    PixelConverter color8;
    PixelConverter color16;

    PixelConverter For(FilterVariant v) const;
};

// One row per filter. Parameter blocks: one int (the setting) for gamma, contrast, brightness
// and sharpness; HueSaturationParams for hue/saturation (colour variants only, the mono slots
// are null). Sharpness reads its source image (the work copy) and writes the destination.
extern const FilterVariants kGammaFilter;
extern const FilterVariants kContrastFilter;
extern const FilterVariants kBrightnessFilter;
extern const FilterVariants kSharpnessFilter;
extern const FilterVariants kHueSaturationFilter;

struct HueSaturationParams {
    int hue;
    int saturation;
};

// ---- tables ---------------------------------------------------------------------------------

// Gamma: T[0] = 0, T[i] = min(max, trunc(max × (i / max)^(100 / gamma))) in double precision.
// `table` gets max + 1 entries.
void BuildGammaTable(int gamma, int maxValue, std::vector<uint16_t>& table);
// Contrast with c = contrast (8-bit) or contrast × 256 (16-bit): 0 below c, max above max − c,
// else trunc((max + 1) / (max + 1 − 2c) × (i − c)).
void BuildContrastTable(int contrast, int maxValue, std::vector<uint16_t>& table);
// Brightness factor in single precision: 1 + b / 25.5 for b > 0, 1 − |b| / 255 for b < 0.
float BrightnessFactor(int brightness);
// Brightness as a table: T[i] = trunc(i × factor) limited to [0, max].
void BuildBrightnessTable(int brightness, int maxValue, std::vector<uint16_t>& table);

// Applies a lookup table of max + 1 entries in place to every sample of the rectangle (first
// three components of colour pixels). `bitsPerSample` is 8 or 16.
// The rows are split into bands over `pool` when one is given (same result).
void ApplyLookupTable(ImageBuffer& image, const std::vector<uint16_t>& table,
                      RowBandPool* pool = nullptr);
void ApplyLookupTable8(ImageBuffer& image, const uint8_t* table);
// Brightness with a precomputed factor, in place.
void ApplyBrightness(ImageBuffer& image, float factor);
// Unsharp mask from `source` (same size and format) into `destination`.
void ApplySharpness(ImageBuffer& destination, const ImageBuffer& source, int sharpness);
// The same unsharp mask in place, without a copy of the whole image: only a few rows of the
// original are kept. Same result as ApplySharpness from a copy; row bands over `pool`.
void ApplySharpnessInPlace(ImageBuffer& image, int sharpness, RowBandPool* pool = nullptr);

// Hue/saturation preparation (see HueSaturation); cached by the caller per parameter change.
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

// ---- gray mode ------------------------------------------------------------------------------

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

// Gains making the four site means match G1's: G1 = 128, others ⌊meanG1 / mean × 128⌋ in
// single precision, limited to 0..255. A site whose mean is 0 keeps its current gain (all
// keep theirs when G1's mean is 0).
std::array<int, 4> EstimateGrayGains(const ImageBuffer& raw, int bayerMode,
                                     const std::array<int, 4>& currentGains);

struct BayerGains {
    int r;
    int g;
    int b;
};
// White balance from the raw mosaic with the corrected phase: G = 100, R and B =
// ⌊100 × meanG / mean⌋ in double precision, limited to 0..400. A class whose mean is 0 keeps
// its current gain (all keep theirs when green's mean is 0).
BayerGains EstimateWhiteBalance(const ImageBuffer& raw, int phase, const BayerGains& current);

}  // namespace lumora
