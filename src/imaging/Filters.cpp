#include "imaging/Filters.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstring>

#include "imaging/PixelAccess.h"
#include "imaging/RowBands.h"

namespace lumora {

namespace {

template <class T>
constexpr int kMaxOf = sizeof(T) == 1 ? 255 : 65535;

template <class T>
T* RowAt(uint8_t* base, int stride, int y, int x, int bpp) {
    return reinterpret_cast<T*>(base + static_cast<ptrdiff_t>(y) * stride +
                                static_cast<ptrdiff_t>(x) * bpp);
}
template <class T>
const T* RowAt(const uint8_t* base, int stride, int y, int x, int bpp) {
    return reinterpret_cast<const T*>(base + static_cast<ptrdiff_t>(y) * stride +
                                      static_cast<ptrdiff_t>(x) * bpp);
}

// Runs op(sample) → sample over the colour components of every pixel of the rectangle: all
// samples for mono and 3-component pixels (one contiguous run per row), the first three of
// 4-component pixels.
template <class T, class Op>
LUMORA_ROW_KERNEL void ForSamples(uint8_t* dst, const uint8_t* src, const PixelRect& r, int dstX,
                                  int dstY, int dstBpp, int srcBpp, int dstStride, int srcStride,
                                  Op op) {
    const int spp = srcBpp / static_cast<int>(sizeof(T));
    const int width = r.Width();
    for (int y = 0; y < r.Height(); ++y) {
        const T* s = RowAt<T>(src, srcStride, r.top + y, r.left, srcBpp);
        T* d = RowAt<T>(dst, dstStride, dstY + y, dstX, dstBpp);
        if (spp == 4) {
            for (int x = 0; x < width; ++x) {
                d[4 * x] = op(s[4 * x]);
                d[4 * x + 1] = op(s[4 * x + 1]);
                d[4 * x + 2] = op(s[4 * x + 2]);
            }
        } else {
            const int n = width * spp;
            for (int i = 0; i < n; ++i) d[i] = op(s[i]);
        }
    }
}

// An 8-bit table lookup over n contiguous bytes, eight at a time: one 64-bit load and store
// instead of eight byte accesses keeps the loop bound by the table reads.
inline void LookupBytes(uint8_t* d, const uint8_t* s, int n, const uint8_t* lut) {
    int i = 0;
    for (; i + 8 <= n; i += 8) {
        uint64_t in;
        std::memcpy(&in, s + i, 8);
        const uint64_t out = static_cast<uint64_t>(lut[in & 0xFF]) |
                             static_cast<uint64_t>(lut[(in >> 8) & 0xFF]) << 8 |
                             static_cast<uint64_t>(lut[(in >> 16) & 0xFF]) << 16 |
                             static_cast<uint64_t>(lut[(in >> 24) & 0xFF]) << 24 |
                             static_cast<uint64_t>(lut[(in >> 32) & 0xFF]) << 32 |
                             static_cast<uint64_t>(lut[(in >> 40) & 0xFF]) << 40 |
                             static_cast<uint64_t>(lut[(in >> 48) & 0xFF]) << 48 |
                             static_cast<uint64_t>(lut[in >> 56]) << 56;
        std::memcpy(d + i, &out, 8);
    }
    for (; i < n; ++i) d[i] = lut[s[i]];
}

void LookupRect8(uint8_t* dst, const uint8_t* src, const PixelRect& r, int dstX, int dstY,
                 int dstBpp, int srcBpp, int dstStride, int srcStride, const uint8_t* lut) {
    if (srcBpp == 4) {
        ForSamples<uint8_t>(dst, src, r, dstX, dstY, dstBpp, srcBpp, dstStride, srcStride,
                            [lut](uint8_t v) { return lut[v]; });
        return;
    }
    const int n = r.Width() * srcBpp;
    for (int y = 0; y < r.Height(); ++y) {
        LookupBytes(RowAt<uint8_t>(dst, dstStride, dstY + y, dstX, dstBpp),
                    RowAt<uint8_t>(src, srcStride, r.top + y, r.left, srcBpp), n, lut);
    }
}

void LookupRect16(uint8_t* dst, const uint8_t* src, const PixelRect& r, int dstX, int dstY,
                  int dstBpp, int srcBpp, int dstStride, int srcStride, const uint16_t* lut) {
    ForSamples<uint16_t>(dst, src, r, dstX, dstY, dstBpp, srcBpp, dstStride, srcStride,
                         [lut](uint16_t v) { return lut[v]; });
}

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
        LookupRect16(dst, src, r, dstX, dstY, dstBpp, srcBpp, dstStride, srcStride, table.data());
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

// One row of the unsharp mask: blur = mean of the 4×4 block over columns x − 2..x + 1 of the
// four source rows r0..r3 (rows y − 2..y + 1), out = orig + trunc(s × (orig − blur) / 10)
// limited to the sample range, for 2 ≤ x ≤ w − 3. kSpp samples per pixel, the first
// min(kSpp, 3) touched. `sums` holds w × kSpp entries.
template <class T, int kSpp>
LUMORA_ROW_KERNEL void SharpenRow(const T* r0, const T* r1, const T* r2, const T* r3, T* d,
                                  int width, int strength, int32_t* sums) {
    const int rowSamples = width * kSpp;
    for (int i = 0; i < rowSamples; ++i) sums[i] = r0[i] + r1[i] + r2[i] + r3[i];
    auto sharpen = [&](int i) {
        const int blur = (sums[i - 2 * kSpp] + sums[i - kSpp] + sums[i] + sums[i + kSpp]) >> 4;
        const int orig = r2[i];
        const int out = orig + strength * (orig - blur) / 10;
        d[i] = static_cast<T>(std::clamp(out, 0, kMaxOf<T>));
    };
    if constexpr (kSpp == 4) {
        for (int x = 2; x <= width - 3; ++x) {
            sharpen(4 * x);
            sharpen(4 * x + 1);
            sharpen(4 * x + 2);
        }
    } else {
        for (int i = 2 * kSpp; i < (width - 2) * kSpp; ++i) sharpen(i);
    }
}

// The unsharp mask over the interior (2 ≤ x ≤ w − 3, 2 ≤ y ≤ h − 3) from src into dst.
template <class T, int kSpp>
void Sharpen(uint8_t* dst, const uint8_t* src, const PixelRect& r, int dstX, int dstY,
             int dstStride, int srcStride, int strength) {
    const int width = r.Width();
    const int height = r.Height();
    if (width < 5 || height < 5 || strength == 0) return;
    constexpr int kBpp = kSpp * static_cast<int>(sizeof(T));
    std::vector<int32_t> columnSums(static_cast<size_t>(width) * kSpp);
    for (int y = 2; y <= height - 3; ++y) {
        SharpenRow<T, kSpp>(RowAt<T>(src, srcStride, r.top + y - 2, r.left, kBpp),
                            RowAt<T>(src, srcStride, r.top + y - 1, r.left, kBpp),
                            RowAt<T>(src, srcStride, r.top + y, r.left, kBpp),
                            RowAt<T>(src, srcStride, r.top + y + 1, r.left, kBpp),
                            RowAt<T>(dst, dstStride, dstY + y, dstX, kBpp), width, strength,
                            columnSums.data());
    }
}

// The unsharp mask in place over the rows [first, last) of the interior. A row's result needs
// the original of its own row, the two above and the one below. Rows of this band are copied
// into a three-row ring just before they are overwritten; the rows just outside the band,
// which a neighbouring band may overwrite meanwhile, come from `edges`, copied before any band
// started: edges[0], edges[1] = rows first − 2 and first − 1, edges[2] = row last.
template <class T, int kSpp>
void SharpenBand(ImageBuffer& image, int first, int last, int strength, const T* const edges[3]) {
    const int width = image.Width();
    const size_t rowBytes = static_cast<size_t>(width) * kSpp * sizeof(T);
    std::vector<T> ring(static_cast<size_t>(width) * kSpp * 3);
    std::vector<int32_t> columnSums(static_cast<size_t>(width) * kSpp);
    auto saved = [&](int y) { return ring.data() + static_cast<size_t>(y % 3) * width * kSpp; };
    auto original = [&](int y) -> const T* {
        if (y == first - 2) return edges[0];
        if (y == first - 1) return edges[1];
        return saved(y);
    };
    for (int y = first; y < last; ++y) {
        T* row = reinterpret_cast<T*>(image.Row(y));
        std::memcpy(saved(y), row, rowBytes);
        const T* below = y + 1 == last ? edges[2] : reinterpret_cast<const T*>(image.Row(y + 1));
        SharpenRow<T, kSpp>(original(y - 2), original(y - 1), saved(y), below, row, width, strength,
                            columnSums.data());
    }
}

template <class T, int kSpp>
void SharpenInPlace(ImageBuffer& image, int strength, RowBandPool* pool) {
    const int width = image.Width();
    const int height = image.Height();
    if (width < 5 || height < 5 || strength == 0) return;
    // Interior rows 2..height − 3 in bands; the band edges' originals are copied first.
    const int interior = height - 4;
    const int bands = pool != nullptr ? std::clamp(interior / 32, 1, pool->Bands()) : 1;
    const std::vector<int> starts = RowBandPool::Split(interior, bands, 1);
    const size_t rowSamples = static_cast<size_t>(width) * kSpp;
    std::vector<T> edgeRows(rowSamples * 3 * static_cast<size_t>(bands));
    for (int band = 0; band < bands; ++band) {
        const int first = 2 + starts[static_cast<size_t>(band)];
        const int last = 2 + starts[static_cast<size_t>(band) + 1];
        const int rows[3] = {first - 2, first - 1, last};
        for (int k = 0; k < 3; ++k) {
            std::memcpy(edgeRows.data() + (static_cast<size_t>(band) * 3 + k) * rowSamples,
                        image.Row(rows[k]), rowSamples * sizeof(T));
        }
    }
    RunRowBands(
        pool, bands,
        [&](int firstBand, int lastBand) {
            for (int band = firstBand; band < lastBand; ++band) {
                const T* edges[3];
                for (int k = 0; k < 3; ++k) {
                    edges[k] = edgeRows.data() + (static_cast<size_t>(band) * 3 + k) * rowSamples;
                }
                SharpenBand<T, kSpp>(image, 2 + starts[static_cast<size_t>(band)],
                                     2 + starts[static_cast<size_t>(band) + 1], strength, edges);
            }
        },
        1);
}

template <class T>
int SharpnessFilter(uint8_t* dst, const uint8_t* src, const PixelRect& r, int dstX, int dstY, int,
                    int srcBpp, int dstStride, int srcStride, const void* params) {
    if (params == nullptr) return 1;
    const int s = *static_cast<const int*>(params);
    switch (srcBpp / static_cast<int>(sizeof(T))) {
        case 1:
            Sharpen<T, 1>(dst, src, r, dstX, dstY, dstStride, srcStride, s);
            break;
        case 3:
            Sharpen<T, 3>(dst, src, r, dstX, dstY, dstStride, srcStride, s);
            break;
        case 4:
            Sharpen<T, 4>(dst, src, r, dstX, dstY, dstStride, srcStride, s);
            break;
        default:
            break;
    }
    return 1;
}

// Hue/saturation's process-wide constant tables.
struct HueConstants {
    std::array<int32_t, 256> reciprocal{};  // Q[d] = ⌊0xFF0000 / d⌋
    std::array<int32_t, 256> gray{};        // K[k] = k × 0x010101
    HueConstants() {
        for (int d = 1; d < 256; ++d) reciprocal[static_cast<size_t>(d)] = 0xFF0000 / d;
        for (int k = 0; k < 256; ++k) gray[static_cast<size_t>(k)] = k * 0x010101;
    }
};
const HueConstants& Hue() {
    static const HueConstants constants;
    return constants;
}
constexpr int32_t kHueMask[6] = {0xFF00FF, 0xFF0000, 0xFFFF00, 0x00FF00, 0x00FFFF, 0x0000FF};
constexpr int32_t kHueStep[6] = {-1, 256, -65536, 1, -256, 65536};

template <class T>
int HueSaturationFilter(uint8_t* dst, const uint8_t* src, const PixelRect& r, int dstX, int dstY,
                        int dstBpp, int srcBpp, int dstStride, int srcStride, const void* params) {
    const auto* p = static_cast<const HueSaturationParams*>(params);
    if (p == nullptr) return 1;
    HueSaturationTables tables;
    tables.Prepare(p->hue, p->saturation);
    const int spp = srcBpp / static_cast<int>(sizeof(T));
    constexpr int kShift = sizeof(T) == 1 ? 0 : 8;
    for (int y = 0; y < r.Height(); ++y) {
        const T* s = RowAt<T>(src, srcStride, r.top + y, r.left, srcBpp);
        T* d = RowAt<T>(dst, dstStride, dstY + y, dstX, dstBpp);
        for (int x = 0; x < r.Width(); ++x) {
            const T* in = s + static_cast<ptrdiff_t>(x) * spp;
            T* out = d + static_cast<ptrdiff_t>(x) * spp;
            const int32_t rgb = tables.Apply(in[2] >> kShift, in[1] >> kShift, in[0] >> kShift);
            out[0] = static_cast<T>((rgb & 0xFF) << kShift);
            out[1] = static_cast<T>(((rgb >> 8) & 0xFF) << kShift);
            out[2] = static_cast<T>(((rgb >> 16) & 0xFF) << kShift);
            if (spp == 4) out[3] = 0;
        }
    }
    return 1;
}

template <class T>
void SiteSums(const ImageBuffer& image, uint64_t sums[2][2], uint64_t counts[2][2]) {
    for (int i = 0; i < 2; ++i) {
        for (int j = 0; j < 2; ++j) sums[i][j] = counts[i][j] = 0;
    }
    const int width = image.Width();
    for (int y = 0; y < image.Height(); ++y) {
        const T* row = reinterpret_cast<const T*>(image.Row(y));
        uint64_t even = 0;
        uint64_t odd = 0;
        int x = 0;
        for (; x + 1 < width; x += 2) {
            even += row[x];
            odd += row[x + 1];
        }
        if (x < width) even += row[x];
        sums[y & 1][0] += even;
        sums[y & 1][1] += odd;
        counts[y & 1][0] += static_cast<uint64_t>((width + 1) / 2);
        counts[y & 1][1] += static_cast<uint64_t>(width / 2);
    }
}

// Sums and counts indexed by (row state, column state) for `phase`.
bool StateSums(const ImageBuffer& image, int phase, uint64_t sums[2][2], uint64_t counts[2][2]) {
    uint64_t byParity[2][2];
    uint64_t countParity[2][2];
    if (image.BitCount() == 8) {
        SiteSums<uint8_t>(image, byParity, countParity);
    } else if (image.BitCount() == 16) {
        SiteSums<uint16_t>(image, byParity, countParity);
    } else {
        return false;
    }
    for (int py = 0; py < 2; ++py) {
        for (int px = 0; px < 2; ++px) {
            const int rowState = (phase & 1) ^ py;
            const int colState = ((phase >> 1) & 1) ^ px;
            sums[rowState][colState] = byParity[py][px];
            counts[rowState][colState] = countParity[py][px];
        }
    }
    return true;
}

}  // namespace

// ---- variants -------------------------------------------------------------------------------

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
const FilterVariants kSharpnessFilter = {SharpnessFilter<uint8_t>, SharpnessFilter<uint16_t>,
                                         SharpnessFilter<uint8_t>, SharpnessFilter<uint16_t>};
const FilterVariants kHueSaturationFilter = {nullptr, nullptr, HueSaturationFilter<uint8_t>,
                                             HueSaturationFilter<uint16_t>};

// ---- tables ---------------------------------------------------------------------------------

void BuildGammaTable(int gamma, int maxValue, std::vector<uint16_t>& table) {
    table.resize(static_cast<size_t>(maxValue) + 1);
    const double max = maxValue;
    const double exponent = 100.0 / static_cast<double>(gamma);  // gamma 0: +inf, a step
    table[0] = 0;
    for (int i = 1; i <= maxValue; ++i) {
        const double v = std::trunc(max * std::pow(static_cast<double>(i) / max, exponent));
        table[static_cast<size_t>(i)] = static_cast<uint16_t>(std::min(v, max));
    }
}

void BuildContrastTable(int contrast, int maxValue, std::vector<uint16_t>& table) {
    table.resize(static_cast<size_t>(maxValue) + 1);
    const int c = maxValue > 255 ? contrast * 256 : contrast;
    const double slope =
        static_cast<double>(maxValue + 1) / static_cast<double>(maxValue + 1 - 2 * c);
    for (int i = 0; i <= maxValue; ++i) {
        uint16_t v;
        if (i < c) {
            v = 0;
        } else if (i > maxValue - c) {
            v = static_cast<uint16_t>(maxValue);
        } else {
            v = static_cast<uint16_t>(std::trunc(slope * static_cast<double>(i - c)));
        }
        table[static_cast<size_t>(i)] = v;
    }
}

float BrightnessFactor(int brightness) {
    if (brightness > 0) return 1.0f + static_cast<float>(brightness) * 0.0392156862745098f;
    if (brightness < 0) return 1.0f - static_cast<float>(-brightness) * 0.00392156862745098f;
    return 1.0f;
}

void BuildBrightnessTable(int brightness, int maxValue, std::vector<uint16_t>& table) {
    table.resize(static_cast<size_t>(maxValue) + 1);
    const float f = BrightnessFactor(brightness);
    for (int i = 0; i <= maxValue; ++i) {
        const int v = static_cast<int>(static_cast<float>(i) * f);
        table[static_cast<size_t>(i)] = static_cast<uint16_t>(std::clamp(v, 0, maxValue));
    }
}

void ApplyLookupTable(ImageBuffer& image, const std::vector<uint16_t>& table, RowBandPool* pool) {
    if (!image.IsValid()) return;
    const int bpp = image.BytesPerPixel();
    const bool narrow = bpp == 1 || bpp == 3 || bpp == 4;
    if (table.size() < (narrow ? 256u : 65536u)) return;
    uint8_t bytes[256];
    if (narrow) {
        for (int i = 0; i < 256; ++i)
            bytes[i] = static_cast<uint8_t>(table[static_cast<size_t>(i)]);
    }
    RunRowBands(pool, image.Height(), [&](int first, int last) {
        const PixelRect rows{0, first, image.Width(), last};
        if (narrow) {
            LookupRect8(image.Pixels(), image.Pixels(), rows, 0, first, bpp, bpp, image.Stride(),
                        image.Stride(), bytes);
        } else {
            LookupRect16(image.Pixels(), image.Pixels(), rows, 0, first, bpp, bpp, image.Stride(),
                         image.Stride(), table.data());
        }
    });
}

void ApplyLookupTable8(ImageBuffer& image, const uint8_t* table) {
    const int bpp = image.BytesPerPixel();
    if (!image.IsValid() || (bpp != 1 && bpp != 3 && bpp != 4)) return;
    const PixelRect whole{0, 0, image.Width(), image.Height()};
    LookupRect8(image.Pixels(), image.Pixels(), whole, 0, 0, bpp, bpp, image.Stride(),
                image.Stride(), table);
}

void ApplyBrightness(ImageBuffer& image, float factor) {
    if (!image.IsValid()) return;
    const PixelRect whole{0, 0, image.Width(), image.Height()};
    const int bpp = image.BytesPerPixel();
    if (bpp == 1 || bpp == 3 || bpp == 4) {
        uint8_t lut[256];
        for (int i = 0; i < 256; ++i) lut[i] = Brighten<uint8_t>(static_cast<uint8_t>(i), factor);
        LookupRect8(image.Pixels(), image.Pixels(), whole, 0, 0, bpp, bpp, image.Stride(),
                    image.Stride(), lut);
    } else {
        ForSamples<uint16_t>(image.Pixels(), image.Pixels(), whole, 0, 0, bpp, bpp, image.Stride(),
                             image.Stride(),
                             [factor](uint16_t v) { return Brighten<uint16_t>(v, factor); });
    }
}

void ApplySharpness(ImageBuffer& destination, const ImageBuffer& source, int sharpness) {
    if (!destination.IsValid() || !source.IsValid() ||
        destination.BitCount() != source.BitCount() || destination.Width() != source.Width() ||
        destination.Height() != source.Height()) {
        return;
    }
    const bool wide = source.BitCount() == 16 || source.BitCount() == 48 || source.BitCount() == 64;
    ApplyConverter(destination, wide ? SharpnessFilter<uint16_t> : SharpnessFilter<uint8_t>, source,
                   nullptr, 0, 0, &sharpness);
}

void ApplySharpnessInPlace(ImageBuffer& image, int sharpness, RowBandPool* pool) {
    if (!image.IsValid() || sharpness == 0) return;
    switch (image.BitCount()) {
        case 8:
            SharpenInPlace<uint8_t, 1>(image, sharpness, pool);
            break;
        case 16:
            SharpenInPlace<uint16_t, 1>(image, sharpness, pool);
            break;
        case 24:
            SharpenInPlace<uint8_t, 3>(image, sharpness, pool);
            break;
        case 32:
            SharpenInPlace<uint8_t, 4>(image, sharpness, pool);
            break;
        case 48:
            SharpenInPlace<uint16_t, 3>(image, sharpness, pool);
            break;
        case 64:
            SharpenInPlace<uint16_t, 4>(image, sharpness, pool);
            break;
        default:
            break;
    }
}

// ---- hue/saturation -------------------------------------------------------------------------

HueSaturationTables::HueSaturationTables() {
    Prepare(0, 0);
}

void HueSaturationTables::Prepare(int hue, int saturation) {
    if (prepared_ && hue == hue_ && saturation == saturation_) return;
    if (!prepared_ || saturation != saturation_) {
        const int64_t scale = static_cast<int64_t>(saturation + 256) * 256;
        for (int d = 0; d < 256; ++d) {
            saturationTable_[static_cast<size_t>(d)] =
                static_cast<int32_t>((d * scale + 0x8000) >> 16);
        }
    }
    // 65536 units per turn, folded into 1530 units (255 per sector of 60 degrees).
    int h16 = static_cast<int>(std::trunc(static_cast<double>(hue) * 65536.0 / 360.0)) % 65536;
    if (h16 < 0) h16 += 65536;
    const int t = (h16 * 6) >> 8;
    int a = t % 512;
    if (a >= 256) a -= 512;
    const int n = ((t + 256) >> 9) % 3;
    int h = a + 510 * n;
    if (h < 0) h += 1530;
    if (h > 1529) h -= 1530;
    shift_ = h;
    hue_ = hue;
    saturation_ = saturation;
    prepared_ = true;
}

int32_t HueSaturationTables::Apply(int r, int g, int b) const {
    const HueConstants& k = Hue();
    const int mx = std::max({r, g, b});
    const int mn = std::min({r, g, b});
    const int d = mx - mn;
    const int lightness = mx + mn;
    int sector;
    int position;
    if (b > std::max(r, g)) {
        sector = 5;
        position = r - g;
    } else if (r >= g) {
        sector = 1;
        position = g - b;
    } else {
        sector = 3;
        position = b - r;
    }
    if (position < 0) {
        sector -= 1;
        position += d;
    }
    const int chroma =
        std::min(saturationTable_[static_cast<size_t>(d)], std::min(lightness, 511 - lightness));
    const int newMin = (lightness - chroma) >> 1;
    const int span = ((lightness + chroma) >> 1) - newMin;
    if (d == 0) return k.gray[static_cast<size_t>(newMin)];
    int q = ((position * k.reciprocal[static_cast<size_t>(d)] + 0x8000) >> 16) + shift_ % 255;
    const int sectorOut = (sector + shift_ / 255 + (q > 254 ? 1 : 0)) % 6;
    if (q >= 255) q -= 255;
    return k.gray[static_cast<size_t>(newMin)] +
           (k.gray[static_cast<size_t>(span)] & kHueMask[sectorOut]) +
           ((span * q + 128) >> 8) * kHueStep[sectorOut];
}

void ApplyHueSaturation(ImageBuffer& image, const HueSaturationTables& tables) {
    if (!image.IsValid()) return;
    const int bpp = image.BytesPerPixel();
    const bool wide = bpp == 6 || bpp == 8;
    if (bpp != 3 && bpp != 4 && !wide) return;
    const int spp = wide ? bpp / 2 : bpp;
    for (int y = 0; y < image.Height(); ++y) {
        if (wide) {
            uint16_t* row = Words(image.Row(y));
            for (int x = 0; x < image.Width(); ++x) {
                uint16_t* px = row + static_cast<ptrdiff_t>(x) * spp;
                const int32_t rgb = tables.Apply(px[2] >> 8, px[1] >> 8, px[0] >> 8);
                px[0] = static_cast<uint16_t>((rgb & 0xFF) << 8);
                px[1] = static_cast<uint16_t>(((rgb >> 8) & 0xFF) << 8);
                px[2] = static_cast<uint16_t>(((rgb >> 16) & 0xFF) << 8);
                if (spp == 4) px[3] = 0;
            }
        } else {
            uint8_t* row = image.Row(y);
            for (int x = 0; x < image.Width(); ++x) {
                uint8_t* px = row + static_cast<ptrdiff_t>(x) * spp;
                const int32_t rgb = tables.Apply(px[2], px[1], px[0]);
                px[0] = static_cast<uint8_t>(rgb & 0xFF);
                px[1] = static_cast<uint8_t>((rgb >> 8) & 0xFF);
                px[2] = static_cast<uint8_t>((rgb >> 16) & 0xFF);
                if (spp == 4) px[3] = 0;
            }
        }
    }
}

// ---- gray mode ------------------------------------------------------------------------------

bool GrayGainIsNeutral(const GraySettings& gray) {
    for (int i = 0; i < 4; ++i) {
        if (gray.gain[i] != 128 || gray.offset[i] != 128) return false;
    }
    return true;
}

int GraySiteAt(int bayerMode, int x, int y) {
    const int rowState = (bayerMode & 1) ^ (y & 1);
    const int colState = ((bayerMode >> 1) & 1) ^ (x & 1);
    static constexpr int kSites[2][2] = {{kGrayG1, kGrayR}, {kGrayB, kGrayG2}};
    return kSites[rowState][colState];
}

namespace {

template <class T>
LUMORA_ROW_KERNEL void GrayGainRows(uint8_t* dst, const uint8_t* src, const PixelRect& r, int dstX,
                                    int dstY, int dstStride, int srcStride, const GrayGainParams& p,
                                    int maxValue) {
    const int width = r.Width();
    // Per-column gain and offset for both row parities, so the row loop has no site logic.
    std::vector<int32_t> gains(static_cast<size_t>(width) * 2);
    std::vector<int32_t> offsets(static_cast<size_t>(width) * 2);
    for (int parity = 0; parity < 2; ++parity) {
        for (int x = 0; x < width; ++x) {
            const int site = GraySiteAt(p.bayerMode, r.left + x, r.top + parity);
            gains[static_cast<size_t>(parity * width + x)] = p.gain[site];
            offsets[static_cast<size_t>(parity * width + x)] = p.offset[site];
        }
    }
    for (int y = 0; y < r.Height(); ++y) {
        const T* s = RowAt<T>(src, srcStride, r.top + y, r.left, sizeof(T));
        T* d = RowAt<T>(dst, dstStride, dstY + y, dstX, sizeof(T));
        const int32_t* g = gains.data() + static_cast<ptrdiff_t>(y & 1) * width;
        const int32_t* o = offsets.data() + static_cast<ptrdiff_t>(y & 1) * width;
        for (int x = 0; x < width; ++x) {
            // Gains are 0..255 and samples non-negative, so the shift is the floor division.
            const int v = o[x] + ((g[x] * s[x]) >> 7);
            d[x] = static_cast<T>(std::clamp(v, 0, maxValue));
        }
    }
}

}  // namespace

int GrayGainOffset(uint8_t* dst, const uint8_t* src, const PixelRect& r, int dstX, int dstY,
                   int dstBpp, int srcBpp, int dstStride, int srcStride, const void* params) {
    const auto* p = static_cast<const GrayGainParams*>(params);
    if (p == nullptr || dstBpp != srcBpp) return 1;
    // Gains outside 0..255 would break the shift-as-division above; the settings refuse them.
    GrayGainParams safe = *p;
    for (int& g : safe.gain) g = std::clamp(g, 0, kGrayGainMax);
    if (srcBpp == 1) {
        GrayGainRows<uint8_t>(dst, src, r, dstX, dstY, dstStride, srcStride, safe, 255);
    } else if (srcBpp == 2) {
        const int maxValue = p->sampleWidth == 10   ? 1023
                             : p->sampleWidth == 12 ? 4095
                             : p->sampleWidth == 14 ? 16383
                                                    : 65535;
        GrayGainRows<uint16_t>(dst, src, r, dstX, dstY, dstStride, srcStride, safe, maxValue);
    }
    return 1;
}

std::array<int, 4> EstimateGrayGains(const ImageBuffer& raw, int bayerMode,
                                     const std::array<int, 4>& currentGains) {
    uint64_t sums[2][2];
    uint64_t counts[2][2];
    std::array<int, 4> gains = currentGains;
    if (!StateSums(raw, bayerMode, sums, counts)) return gains;
    static constexpr int kSites[2][2] = {{kGrayG1, kGrayR}, {kGrayB, kGrayG2}};
    float means[4] = {0, 0, 0, 0};
    for (int rs = 0; rs < 2; ++rs) {
        for (int cs = 0; cs < 2; ++cs) {
            if (counts[rs][cs] != 0) {
                means[kSites[rs][cs]] =
                    static_cast<float>(sums[rs][cs]) / static_cast<float>(counts[rs][cs]);
            }
        }
    }
    if (means[kGrayG1] == 0.0f) return gains;
    gains[kGrayG1] = 128;
    for (int site : {kGrayR, kGrayG2, kGrayB}) {
        if (means[site] == 0.0f) continue;
        const float g = std::floor(means[kGrayG1] / means[site] * 128.0f);
        gains[static_cast<size_t>(site)] =
            static_cast<int>(std::clamp(g, 0.0f, static_cast<float>(kGrayGainMax)));
    }
    return gains;
}

BayerGains EstimateWhiteBalance(const ImageBuffer& raw, int phase, const BayerGains& current) {
    uint64_t sums[2][2];
    uint64_t counts[2][2];
    BayerGains gains = current;
    if (!StateSums(raw, phase, sums, counts)) return gains;
    auto mean = [](uint64_t sum, uint64_t count) {
        return count == 0 ? 0.0 : static_cast<double>(sum) / static_cast<double>(count);
    };
    const double meanR = mean(sums[1][0], counts[1][0]);
    const double meanB = mean(sums[0][1], counts[0][1]);
    const double meanG = mean(sums[0][0] + sums[1][1], counts[0][0] + counts[1][1]);
    if (meanG == 0.0) return gains;
    const double total = meanR + meanG + meanB;
    const double greenTerm = total / meanG / 3;
    auto gainFor = [&](double m, int keep) {
        if (m == 0.0) return keep;
        const double g = std::floor((total / m / 3 * 100) / greenTerm);
        return static_cast<int>(std::clamp(g, 0.0, static_cast<double>(kBayerGainMax)));
    };
    gains.g = 100;
    gains.r = gainFor(meanR, current.r);
    gains.b = gainFor(meanB, current.b);
    return gains;
}

}  // namespace lumora
