#pragma once
// The output filters as the pipeline and the filter-value family see them: hue/saturation,
// gamma, contrast, sharpness and brightness, each a PixelConverter in up to four variants chosen
// by the colour mode: 8-bit mono, 16-bit mono, 8-bit colour (24/32-bit pixels) and 16-bit colour
// (48/64-bit pixels); colour variants touch only the first three components of a pixel
// (hue/saturation also clears the fourth). Each algorithm has its own header; this one gathers
// them with the variant table.
#include <optional>

#include "imaging/GainEstimates.h"
#include "imaging/GrayGain.h"
#include "imaging/HueSaturation.h"
#include "imaging/LookupTable.h"
#include "imaging/PixelConverter.h"
#include "imaging/Sharpness.h"
#include "imaging/ToneTables.h"

namespace lumora {

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

}  // namespace lumora
