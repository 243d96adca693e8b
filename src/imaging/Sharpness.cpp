#include "imaging/Sharpness.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "imaging/PixelAccess.h"
#include "imaging/RowBands.h"

namespace lumora {

namespace {

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

}  // namespace

int SharpnessFilter8(uint8_t* dst, const uint8_t* src, const PixelRect& r, int dstX, int dstY,
                     int dstBpp, int srcBpp, int dstStride, int srcStride, const void* params) {
    return SharpnessFilter<uint8_t>(dst, src, r, dstX, dstY, dstBpp, srcBpp, dstStride, srcStride,
                                    params);
}

int SharpnessFilter16(uint8_t* dst, const uint8_t* src, const PixelRect& r, int dstX, int dstY,
                      int dstBpp, int srcBpp, int dstStride, int srcStride, const void* params) {
    return SharpnessFilter<uint16_t>(dst, src, r, dstX, dstY, dstBpp, srcBpp, dstStride, srcStride,
                                     params);
}

void ApplySharpness(ImageBuffer& destination, const ImageBuffer& source, int sharpness) {
    if (!destination.IsValid() || !source.IsValid() ||
        destination.BitCount() != source.BitCount() || destination.Width() != source.Width() ||
        destination.Height() != source.Height()) {
        return;
    }
    const bool wide = source.BitCount() == 16 || source.BitCount() == 48 || source.BitCount() == 64;
    ApplyConverter(destination, wide ? SharpnessFilter16 : SharpnessFilter8, source, nullptr, 0, 0,
                   &sharpness);
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

}  // namespace lumora
