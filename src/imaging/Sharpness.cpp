#include "imaging/Sharpness.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <vector>

#include "imaging/LookupTable.h"
#include "imaging/PixelAccess.h"
#include "imaging/RowBands.h"
#include "platform/SimdTargets.h"

namespace lumora {

namespace {

// One row of the unsharp mask: blur = mean of the 4×4 block over columns x − 2..x + 1 of the
// four source rows r0..r3 (rows y − 2..y + 1), out = orig + trunc(s × (orig − blur) / 10)
// limited to the sample range, for 2 ≤ x ≤ w − 3. kSpp samples per pixel, the first
// min(kSpp, 3) touched. `sums` holds w × kSpp entries.
template <class T, int kSpp>
LUMORA_INLINE_BODY void SharpenRowBody(const T* r0, const T* r1, const T* r2, const T* r3, T* d,
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

template <class T, int kSpp>
void SharpenRowPortable(const T* r0, const T* r1, const T* r2, const T* r3, T* d, int width,
                        int strength, int32_t* sums) {
    SharpenRowBody<T, kSpp>(r0, r1, r2, r3, d, width, strength, sums);
}

#if LUMORA_X86_SIMD

// The strongest masks the mono vector kernels' lanes hold exactly: 255 × 128 in 16 bits, and
// 65535 × 256 within the single-precision tenth. Stronger ones (the pipeline never asks for
// them) take the portable rule.
constexpr int kLaneStrength8 = 128;
constexpr int kLaneStrength16 = 256;

// Colour rows: the same loop, vectorised for AVX2.
template <class T, int kSpp>
LUMORA_TARGET_AVX2 void SharpenRowAvx2(const T* r0, const T* r1, const T* r2, const T* r3, T* d,
                                       int width, int strength, int32_t* sums) {
    SharpenRowBody<T, kSpp>(r0, r1, r2, r3, d, width, strength, sums);
}

// Mono rows. 8-bit samples work in 16-bit lanes: the column sums of four rows fit (≤ 1020),
// so do the blur (≤ 4080) and the scaled difference (|s × diff| ≤ 30 × 255); a tenth of that,
// truncated toward zero, is the high half of its magnitude times 6554 (exact up to 16388),
// with the sign put back.

LUMORA_TARGET_AVX2 inline __m256i TenthTowardZeroAvx2(__m256i p) {
    const __m256i q = _mm256_mulhi_epu16(_mm256_abs_epi16(p), _mm256_set1_epi16(6554));
    return _mm256_sign_epi16(q, p);
}

LUMORA_TARGET_AVX2 inline __m256i Widen8Avx2(const uint8_t* p) {
    return _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
}
LUMORA_TARGET_AVX2 inline __m256i Widen16Avx2(const uint16_t* p) {
    return _mm256_cvtepu16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
}
template <class T>
LUMORA_TARGET_AVX2 inline __m256i LoadAvx2(const T* p) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}

LUMORA_TARGET_AVX2 inline __m256i Sharpen16LanesAvx2(const uint16_t* sums, const uint8_t* own,
                                                     __m256i strength) {
    auto at = [sums](int offset) LUMORA_TARGET_AVX2 {
        return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(sums + offset));
    };
    const __m256i blur = _mm256_srli_epi16(
        _mm256_add_epi16(_mm256_add_epi16(at(-2), at(-1)), _mm256_add_epi16(at(0), at(1))), 4);
    const __m256i orig =
        _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(own)));
    const __m256i p = _mm256_mullo_epi16(_mm256_sub_epi16(orig, blur), strength);
    return _mm256_add_epi16(orig, TenthTowardZeroAvx2(p));
}

LUMORA_TARGET_AVX2 void SharpenRow8Avx2(const uint8_t* r0, const uint8_t* r1, const uint8_t* r2,
                                        const uint8_t* r3, uint8_t* d, int width, int strength,
                                        int32_t* scratch) {
    if (strength > kLaneStrength8 || strength < -kLaneStrength8) {
        SharpenRowPortable<uint8_t, 1>(r0, r1, r2, r3, d, width, strength, scratch);
        return;
    }
    auto* sums = reinterpret_cast<uint16_t*>(scratch);
    int x = 0;
    for (; x + 16 <= width; x += 16) {
        const __m256i sum =
            _mm256_add_epi16(_mm256_add_epi16(Widen8Avx2(r0 + x), Widen8Avx2(r1 + x)),
                             _mm256_add_epi16(Widen8Avx2(r2 + x), Widen8Avx2(r3 + x)));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(sums + x), sum);
    }
    for (; x < width; ++x) sums[x] = static_cast<uint16_t>(r0[x] + r1[x] + r2[x] + r3[x]);
    const __m256i k = _mm256_set1_epi16(static_cast<short>(strength));
    const int last = width - 3;
    x = 2;
    for (; x + 32 <= last + 1; x += 32) {
        const __m256i a = Sharpen16LanesAvx2(sums + x, r2 + x, k);
        const __m256i b = Sharpen16LanesAvx2(sums + x + 16, r2 + x + 16, k);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(d + x),
                            _mm256_permute4x64_epi64(_mm256_packus_epi16(a, b), 0xD8));
    }
    for (; x <= last; ++x) {
        const int blur = (sums[x - 2] + sums[x - 1] + sums[x] + sums[x + 1]) >> 4;
        const int out = r2[x] + strength * (r2[x] - blur) / 10;
        d[x] = static_cast<uint8_t>(std::clamp(out, 0, 255));
    }
}

// 16-bit samples work in 32-bit lanes. The tenth of a magnitude up to 2^24 (65535 × 256) is the
// single-precision product with 0.1f, truncated: exact for every such magnitude (checked for
// each one), as 0.1f lies just above a tenth and the rounding of the product stays below the
// distance to the next whole number. The strength times the difference is formed in single
// precision too (exact below 2^24, and cheaper than a 32-bit integer multiply); rounding to
// nearest is the same on either side of 0 and the conversion truncates toward 0, so negative
// products need no sign handling of their own.
LUMORA_TARGET_AVX2 inline __m256i Sharpen8LanesAvx2(const uint32_t* sums, const uint16_t* own,
                                                    __m256 strength) {
    const __m256i blur =
        _mm256_srli_epi32(_mm256_add_epi32(_mm256_add_epi32(LoadAvx2(sums - 2), LoadAvx2(sums - 1)),
                                           _mm256_add_epi32(LoadAvx2(sums), LoadAvx2(sums + 1))),
                          4);
    const __m256i orig = Widen16Avx2(own);
    const __m256 p = _mm256_mul_ps(_mm256_cvtepi32_ps(_mm256_sub_epi32(orig, blur)), strength);
    const __m256i q = _mm256_cvttps_epi32(_mm256_mul_ps(p, _mm256_set1_ps(0.1f)));
    return _mm256_max_epi32(_mm256_add_epi32(orig, q),
                            _mm256_setzero_si256());  // the pack limits the top
}

LUMORA_TARGET_AVX2 void SharpenRow16Avx2(const uint16_t* r0, const uint16_t* r1, const uint16_t* r2,
                                         const uint16_t* r3, uint16_t* d, int width, int strength,
                                         int32_t* scratch) {
    if (strength > kLaneStrength16 || strength < -kLaneStrength16) {
        SharpenRowPortable<uint16_t, 1>(r0, r1, r2, r3, d, width, strength, scratch);
        return;
    }
    auto* sums = reinterpret_cast<uint32_t*>(scratch);
    int x = 0;
    for (; x + 8 <= width; x += 8) {
        const __m256i sum =
            _mm256_add_epi32(_mm256_add_epi32(Widen16Avx2(r0 + x), Widen16Avx2(r1 + x)),
                             _mm256_add_epi32(Widen16Avx2(r2 + x), Widen16Avx2(r3 + x)));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(sums + x), sum);
    }
    for (; x < width; ++x) sums[x] = static_cast<uint32_t>(r0[x] + r1[x] + r2[x] + r3[x]);
    const __m256 k = _mm256_set1_ps(static_cast<float>(strength));
    const int last = width - 3;
    x = 2;
    for (; x + 16 <= last + 1; x += 16) {
        const __m256i a = Sharpen8LanesAvx2(sums + x, r2 + x, k);
        const __m256i b = Sharpen8LanesAvx2(sums + x + 8, r2 + x + 8, k);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(d + x),
                            _mm256_permute4x64_epi64(_mm256_packus_epi32(a, b), 0xD8));
    }
    for (; x <= last; ++x) {
        const int blur = static_cast<int>((sums[x - 2] + sums[x - 1] + sums[x] + sums[x + 1]) >> 4);
        const int out = r2[x] + strength * (r2[x] - blur) / 10;
        d[x] = static_cast<uint16_t>(std::clamp(out, 0, 65535));
    }
}

// ---- AVX-512 --------------------------------------------------------------------------------

LUMORA_TARGET_AVX512 inline __m512i Widen8Avx512(const uint8_t* p) {
    return _mm512_cvtepu8_epi16(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)));
}
LUMORA_TARGET_AVX512 inline __m512i Widen16Avx512(const uint16_t* p) {
    return _mm512_cvtepu16_epi32(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)));
}

LUMORA_TARGET_AVX512 inline __m512i Sharpen32LanesAvx512(const uint16_t* sums, __m512i orig,
                                                         __m512i strength) {
    const __m512i blur = _mm512_srli_epi16(
        _mm512_add_epi16(
            _mm512_add_epi16(_mm512_loadu_si512(sums - 2), _mm512_loadu_si512(sums - 1)),
            _mm512_add_epi16(_mm512_loadu_si512(sums), _mm512_loadu_si512(sums + 1))),
        4);
    const __m512i p = _mm512_mullo_epi16(_mm512_sub_epi16(orig, blur), strength);
    __m512i q = _mm512_mulhi_epu16(_mm512_abs_epi16(p), _mm512_set1_epi16(6554));
    q = _mm512_mask_sub_epi16(q, _mm512_movepi16_mask(p), _mm512_setzero_si512(), q);
    return _mm512_max_epi16(_mm512_add_epi16(orig, q), _mm512_setzero_si512());
}

LUMORA_TARGET_AVX512 void SharpenRow8Avx512(const uint8_t* r0, const uint8_t* r1, const uint8_t* r2,
                                            const uint8_t* r3, uint8_t* d, int width, int strength,
                                            int32_t* scratch) {
    if (strength > kLaneStrength8 || strength < -kLaneStrength8) {
        SharpenRowPortable<uint8_t, 1>(r0, r1, r2, r3, d, width, strength, scratch);
        return;
    }
    auto* sums = reinterpret_cast<uint16_t*>(scratch);
    int x = 0;
    for (; x + 32 <= width; x += 32) {
        _mm512_storeu_si512(
            sums + x,
            _mm512_add_epi16(_mm512_add_epi16(Widen8Avx512(r0 + x), Widen8Avx512(r1 + x)),
                             _mm512_add_epi16(Widen8Avx512(r2 + x), Widen8Avx512(r3 + x))));
    }
    for (; x < width; ++x) sums[x] = static_cast<uint16_t>(r0[x] + r1[x] + r2[x] + r3[x]);
    const __m512i k = _mm512_set1_epi16(static_cast<short>(strength));
    const int last = width - 3;
    x = 2;
    for (; x + 32 <= last + 1; x += 32) {
        const __m512i out = Sharpen32LanesAvx512(sums + x, Widen8Avx512(r2 + x), k);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(d + x), _mm512_cvtusepi16_epi8(out));
    }
    for (; x <= last; ++x) {
        const int blur = (sums[x - 2] + sums[x - 1] + sums[x] + sums[x + 1]) >> 4;
        const int out = r2[x] + strength * (r2[x] - blur) / 10;
        d[x] = static_cast<uint8_t>(std::clamp(out, 0, 255));
    }
}

// As Sharpen8LanesAvx2.
LUMORA_TARGET_AVX512 inline __m512i Sharpen16LanesAvx512(const uint32_t* sums, __m512i orig,
                                                         __m512 strength) {
    const __m512i blur = _mm512_srli_epi32(
        _mm512_add_epi32(
            _mm512_add_epi32(_mm512_loadu_si512(sums - 2), _mm512_loadu_si512(sums - 1)),
            _mm512_add_epi32(_mm512_loadu_si512(sums), _mm512_loadu_si512(sums + 1))),
        4);
    const __m512 p = _mm512_mul_ps(_mm512_cvtepi32_ps(_mm512_sub_epi32(orig, blur)), strength);
    const __m512i q = _mm512_cvttps_epi32(_mm512_mul_ps(p, _mm512_set1_ps(0.1f)));
    return _mm512_max_epi32(_mm512_add_epi32(orig, q), _mm512_setzero_si512());
}

LUMORA_TARGET_AVX512 void SharpenRow16Avx512(const uint16_t* r0, const uint16_t* r1,
                                             const uint16_t* r2, const uint16_t* r3, uint16_t* d,
                                             int width, int strength, int32_t* scratch) {
    if (strength > kLaneStrength16 || strength < -kLaneStrength16) {
        SharpenRowPortable<uint16_t, 1>(r0, r1, r2, r3, d, width, strength, scratch);
        return;
    }
    auto* sums = reinterpret_cast<uint32_t*>(scratch);
    int x = 0;
    for (; x + 16 <= width; x += 16) {
        _mm512_storeu_si512(
            sums + x,
            _mm512_add_epi32(_mm512_add_epi32(Widen16Avx512(r0 + x), Widen16Avx512(r1 + x)),
                             _mm512_add_epi32(Widen16Avx512(r2 + x), Widen16Avx512(r3 + x))));
    }
    for (; x < width; ++x) sums[x] = static_cast<uint32_t>(r0[x] + r1[x] + r2[x] + r3[x]);
    const __m512 k = _mm512_set1_ps(static_cast<float>(strength));
    const int last = width - 3;
    x = 2;
    for (; x + 16 <= last + 1; x += 16) {
        const __m512i out = Sharpen16LanesAvx512(sums + x, Widen16Avx512(r2 + x), k);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(d + x), _mm512_cvtusepi32_epi16(out));
    }
    for (; x <= last; ++x) {
        const int blur = static_cast<int>((sums[x - 2] + sums[x - 1] + sums[x] + sums[x + 1]) >> 4);
        const int out = r2[x] + strength * (r2[x] - blur) / 10;
        d[x] = static_cast<uint16_t>(std::clamp(out, 0, 65535));
    }
}

#endif  // LUMORA_X86_SIMD

template <class T>
using SharpenRowFn = void (*)(const T*, const T*, const T*, const T*, T*, int, int, int32_t*);

// The row function for the level in force.
template <class T, int kSpp>
SharpenRowFn<T> RowFunction() {
    if constexpr (kSpp == 1) {
        const SharpnessKernels k = SharpnessKernelsFor(ActiveSimdLevel());
        if constexpr (sizeof(T) == 1) {
            return k.row8;
        } else {
            return k.row16;
        }
    } else {
#if LUMORA_X86_SIMD
        if (ActiveSimdLevel() >= SimdLevel::kAvx2) return SharpenRowAvx2<T, kSpp>;
#endif
        return SharpenRowPortable<T, kSpp>;
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
    const SharpenRowFn<T> sharpenRow = RowFunction<T, kSpp>();
    for (int y = 2; y <= height - 3; ++y) {
        sharpenRow(RowAt<T>(src, srcStride, r.top + y - 2, r.left, kBpp),
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
    const SharpenRowFn<T> sharpenRow = RowFunction<T, kSpp>();
    for (int y = first; y < last; ++y) {
        T* row = reinterpret_cast<T*>(image.Row(y));
        std::memcpy(saved(y), row, rowBytes);
        const T* below = y + 1 == last ? edges[2] : reinterpret_cast<const T*>(image.Row(y + 1));
        sharpenRow(original(y - 2), original(y - 1), saved(y), below, row, width, strength,
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

// Tone tables around the unsharp mask in one pass over a mono image, row by row: each row is
// read once, its toned original kept in a four-row ring that the mask reads, and written once,
// sharpened and toned again. Rows outside the mask's reach only go through the tables.
template <class T>
class TonedSharpening {
public:
    using Table = const T*;  // 256 bytes or 65536 words; null: no table

    TonedSharpening(ImageBuffer& image, Table before, int strength, Table after)
        : image_(image),
          width_(image.Width()),
          before_(before),
          after_(after),
          strength_(strength),
          ring_(static_cast<size_t>(width_) * 4),
          sums_(static_cast<size_t>(width_)) {
        lookup_ = LookupKernelsFor(ActiveSimdLevel());
        if constexpr (sizeof(T) == 2) {
            if (before != nullptr) beforeSixteenths_.emplace(before);
            if (after != nullptr) afterSixteenths_.emplace(after);
        }
        sharpen_ = RowFunction<T, 1>();
    }

    void Run() {
        const int height = image_.Height();
        for (int y = 0; y < 3; ++y) Keep(y);
        for (int y = 0; y < 2; ++y) Finish(y, Kept(y));
        for (int y = 2; y <= height - 3; ++y) {
            Keep(y + 1);
            T* out = Row(y);
            const T* own = Kept(y);
            sharpen_(Kept(y - 2), Kept(y - 1), own, Kept(y + 1), out, width_, strength_,
                     sums_.data());
            // The border columns keep their (toned) values.
            out[0] = own[0];
            out[1] = own[1];
            out[width_ - 2] = own[width_ - 2];
            out[width_ - 1] = own[width_ - 1];
            if (after_ != nullptr) LookUp(out, out, after_, afterSixteenths_);
        }
        Keep(height - 1);
        for (int y = height - 2; y < height; ++y) Finish(y, Kept(y));
    }

private:
    T* Row(int y) { return reinterpret_cast<T*>(image_.Row(y)); }
    T* Kept(int y) { return ring_.data() + static_cast<size_t>(y % 4) * width_; }
    void LookUp(T* d, const T* s, Table table, const std::optional<TableSixteenths>& sixteenths) {
        if constexpr (sizeof(T) == 1) {
            lookup_.bytes(d, s, width_, table);
        } else {
            lookup_.words(d, s, width_,
                          WordTable{table, sixteenths ? sixteenths->Data() : nullptr});
        }
    }
    // The toned original of row y into the ring.
    void Keep(int y) {
        if (before_ != nullptr) {
            LookUp(Kept(y), Row(y), before_, beforeSixteenths_);
        } else {
            std::memcpy(Kept(y), Row(y), static_cast<size_t>(width_) * sizeof(T));
        }
    }
    // A row the mask does not reach: its toned original, through the second table.
    void Finish(int y, const T* kept) {
        if (after_ != nullptr) {
            LookUp(Row(y), kept, after_, afterSixteenths_);
        } else if (before_ != nullptr) {
            std::memcpy(Row(y), kept, static_cast<size_t>(width_) * sizeof(T));
        }
    }

    ImageBuffer& image_;
    const int width_;
    const Table before_;
    const Table after_;
    const int strength_;
    std::vector<T> ring_;
    std::vector<int32_t> sums_;
    std::optional<TableSixteenths> beforeSixteenths_;
    std::optional<TableSixteenths> afterSixteenths_;
    LookupKernels lookup_{};
    SharpenRowFn<T> sharpen_ = nullptr;
};

// The mask alone, in row bands over `pool` (any depth).
void SharpenBands(ImageBuffer& image, int sharpness, RowBandPool* pool) {
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

}  // namespace

SharpnessKernels SharpnessKernelsFor(SimdLevel level) {
#if LUMORA_X86_SIMD
    switch (level) {
        case SimdLevel::kAvx512:
            return {SharpenRow8Avx512, SharpenRow16Avx512};
        case SimdLevel::kAvx2:
            return {SharpenRow8Avx2, SharpenRow16Avx2};
        case SimdLevel::kSse2:
        case SimdLevel::kScalar:
            break;
    }
#else
    static_cast<void>(level);
#endif
    return {SharpenRowPortable<uint8_t, 1>, SharpenRowPortable<uint16_t, 1>};
}

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

void ApplyTonesAndSharpness(ImageBuffer& image, const std::vector<uint16_t>* before, int sharpness,
                            const std::vector<uint16_t>* after, RowBandPool* pool) {
    if (!image.IsValid()) return;
    const int bits = image.BitCount();
    const size_t entries = bits == 16 ? 65536u : 256u;
    if (before != nullptr && before->size() < entries) before = nullptr;
    if (after != nullptr && after->size() < entries) after = nullptr;
    const bool mono = bits == 8 || bits == 16;
    const bool banded = pool != nullptr && pool->Bands() > 1;
    if (!mono || banded || sharpness == 0 || image.Width() < 5 || image.Height() < 5) {
        if (before != nullptr) ApplyLookupTable(image, *before, pool);
        if (sharpness != 0) SharpenBands(image, sharpness, pool);
        if (after != nullptr) ApplyLookupTable(image, *after, pool);
        return;
    }
    if (bits == 8) {
        uint8_t bytes[2][256];
        const std::vector<uint16_t>* tables[2] = {before, after};
        for (int t = 0; t < 2; ++t) {
            if (tables[t] == nullptr) continue;
            for (int i = 0; i < 256; ++i) {
                bytes[t][i] = static_cast<uint8_t>((*tables[t])[static_cast<size_t>(i)]);
            }
        }
        TonedSharpening<uint8_t>(image, before != nullptr ? bytes[0] : nullptr, sharpness,
                                 after != nullptr ? bytes[1] : nullptr)
            .Run();
    } else {
        TonedSharpening<uint16_t>(image, before != nullptr ? before->data() : nullptr, sharpness,
                                  after != nullptr ? after->data() : nullptr)
            .Run();
    }
}

void ApplySharpnessInPlace(ImageBuffer& image, int sharpness, RowBandPool* pool) {
    if (!image.IsValid() || sharpness == 0) return;
    ApplyTonesAndSharpness(image, nullptr, sharpness, nullptr, pool);
}

}  // namespace lumora
