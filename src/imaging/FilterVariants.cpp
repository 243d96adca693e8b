#include <algorithm>
#include <vector>

#include "imaging/Filters.h"
#include "imaging/PixelAccess.h"

namespace lumora {

namespace {

using TableBuilder = void (*)(int, int, std::vector<uint16_t>&);

// A lookup-table filter built from its one-int setting for every call.
template <TableBuilder kBuild, class T>
int TableFilter(uint8_t* dst, const uint8_t* src, const PixelRect& r, int dstX, int dstY,
                int dstBpp, int srcBpp, int dstStride, int srcStride, const void* params) {
    if (params == nullptr) return 1;
    std::vector<uint16_t> table;
    kBuild(*static_cast<const int*>(params), kMaxOf<T>, table);
    if constexpr (sizeof(T) == 1) {
        uint8_t bytes[256];
        for (int i = 0; i < 256; ++i)
            bytes[i] = static_cast<uint8_t>(table[static_cast<size_t>(i)]);
        LookupRect8(dst, src, r, dstX, dstY, dstBpp, srcBpp, dstStride, srcStride, bytes);
    } else {
        LookupRect16(dst, src, r, dstX, dstY, dstBpp, srcBpp, dstStride, srcStride,
                     WordTable{table.data(), nullptr});
    }
    return 1;
}

template <class T>
inline T Brighten(T v, float factor) {
    const int out = static_cast<int>(static_cast<float>(v) * factor);
    return static_cast<T>(std::clamp(out, 0, kMaxOf<T>));
}

template <class T>
int BrightnessFilter(uint8_t* dst, const uint8_t* src, const PixelRect& r, int dstX, int dstY,
                     int dstBpp, int srcBpp, int dstStride, int srcStride, const void* params) {
    if (params == nullptr) return 1;
    const float f = BrightnessFactor(*static_cast<const int*>(params));
    if constexpr (sizeof(T) == 1) {
        uint8_t lut[256];
        for (int i = 0; i < 256; ++i) lut[i] = Brighten<uint8_t>(static_cast<uint8_t>(i), f);
        LookupRect8(dst, src, r, dstX, dstY, dstBpp, srcBpp, dstStride, srcStride, lut);
    } else {
        ForSamples<uint16_t>(dst, src, r, dstX, dstY, dstBpp, srcBpp, dstStride, srcStride,
                             [f](uint16_t v) { return Brighten<uint16_t>(v, f); });
    }
    return 1;
}

}  // namespace

std::optional<FilterVariant> FilterVariantFor(int colorMode) {
    switch (colorMode) {
        case 0:
            return FilterVariant::kMono8;
        case 1:
            return FilterVariant::kMono16;
        case 2:
        case 3:
            return FilterVariant::kColor8;
        case 4:
        case 5:
            return FilterVariant::kColor16;
        default:
            return std::nullopt;
    }
}

PixelConverter FilterVariants::For(FilterVariant v) const {
    switch (v) {
        case FilterVariant::kMono8:
            return mono8;
        case FilterVariant::kMono16:
            return mono16;
        case FilterVariant::kColor8:
            return color8;
        case FilterVariant::kColor16:
            return color16;
    }
    return nullptr;
}

// Mono and colour variants share their bodies: the pixel step comes from the bytes per pixel.
const FilterVariants kGammaFilter = {
    TableFilter<BuildGammaTable, uint8_t>, TableFilter<BuildGammaTable, uint16_t>,
    TableFilter<BuildGammaTable, uint8_t>, TableFilter<BuildGammaTable, uint16_t>};
const FilterVariants kContrastFilter = {
    TableFilter<BuildContrastTable, uint8_t>, TableFilter<BuildContrastTable, uint16_t>,
    TableFilter<BuildContrastTable, uint8_t>, TableFilter<BuildContrastTable, uint16_t>};
const FilterVariants kBrightnessFilter = {BrightnessFilter<uint8_t>, BrightnessFilter<uint16_t>,
                                          BrightnessFilter<uint8_t>, BrightnessFilter<uint16_t>};
const FilterVariants kSharpnessFilter = {SharpnessFilter8, SharpnessFilter16, SharpnessFilter8,
                                         SharpnessFilter16};
const FilterVariants kHueSaturationFilter = {nullptr, nullptr, HueSaturationFilter8,
                                             HueSaturationFilter16};

}  // namespace lumora
