#include "imaging/FlatField.h"

#include <algorithm>
#include <cstring>

#include "imaging/PixelAccess.h"
#include "imaging/RowBands.h"
#include "platform/SimdTargets.h"

namespace lumora {

namespace {

// Every variant divides by the pixel's span through a single-precision reciprocal and then
// makes the quotient exact, so all of them give the integer rule's result.
//
// 8-bit: within the output range the estimate is off by less than 2e-4, while a quotient that
// is not whole lies at least 1/255 below the next whole number, so a nudge of 1e-3 before
// truncating lands every whole quotient on itself and leaves the others where they are.
// Negative quotients clip to 0 however they truncate.
constexpr float kNudge8 = 1e-3f;

// The portable variant: the reciprocal by division.
void FlatRow8Portable(uint8_t* d, const uint8_t* v, const uint8_t* dark, const uint8_t* bright,
                      int n) {
    for (int x = 0; x < n; ++x) {
        const int span = bright[x] - dark[x];
        const float s = span != 0 ? 256.0f / static_cast<float>(span) : 0.0f;
        const int t = v[x] - dark[x];
        const int q = static_cast<int>(static_cast<float>(t) * s + kNudge8);
        const int out = std::min(std::max(q, 0), 255);
        d[x] = static_cast<uint8_t>(span != 0 ? out : v[x]);
    }
}

// 16-bit: quotients here can lie as close as 1/65535 to a whole number, so the estimate is made
// exact by one multiply-back step: it only has to be within one of the quotient, which a
// reciprocal good to 2^-14 is for every quotient up to 4096 (larger ones clip to 4095 anyway).
void FlatRow16Portable(uint16_t* d, const uint16_t* v, const uint16_t* dark, const uint16_t* bright,
                       int n) {
    for (int x = 0; x < n; ++x) {
        const int lo = dark[x];
        const int span = bright[x] - lo;
        const float s = span > 0 ? 4096.0f / static_cast<float>(span) : 0.0f;
        const int t = v[x] - lo;
        int q = static_cast<int>(static_cast<float>(t) * s);
        q = std::min(std::max(q, -1), 4096);
        const int rest = t * 4096 - q * span;
        q -= rest < 0 ? 1 : 0;
        q += rest >= span ? 1 : 0;
        const int out = std::min(std::max(q, 0), 4095) << 4;
        d[x] = static_cast<uint16_t>(span > 0 ? out : v[x]);
    }
}

#if LUMORA_X86_SIMD

// ---- SSE2 -----------------------------------------------------------------------------------

// The three planes a row reads, asked for ahead: the prefetchers alone keep too few of their
// lines on the way (the pass took 1.4 times as long without this over cold planes).
inline void ReadPlanesAhead(const void* v, const void* dark, const void* bright) {
    ReadAhead<1024>(v);
    ReadAhead<1024>(dark);
    ReadAhead<1024>(bright);
}

// Four quotients t × 256 / s, truncated (one Newton step makes the reciprocal good to 2^-22).
inline __m128i Quotients8Sse2(__m128i t, __m128i s) {
    const __m128 fs = _mm_cvtepi32_ps(s);
    __m128 r = _mm_rcp_ps(fs);
    r = _mm_mul_ps(r, _mm_sub_ps(_mm_set1_ps(2.0f), _mm_mul_ps(fs, r)));
    const __m128 q = _mm_add_ps(_mm_mul_ps(_mm_cvtepi32_ps(t), _mm_mul_ps(r, _mm_set1_ps(256.0f))),
                                _mm_set1_ps(kNudge8));
    return _mm_cvttps_epi32(q);
}

// Sign-extends the low or high four 16-bit lanes to 32 bits.
inline __m128i Low32(__m128i v) {
    return _mm_srai_epi32(_mm_unpacklo_epi16(v, v), 16);
}
inline __m128i High32(__m128i v) {
    return _mm_srai_epi32(_mm_unpackhi_epi16(v, v), 16);
}

void FlatRow8Sse2(uint8_t* d, const uint8_t* v, const uint8_t* dark, const uint8_t* bright, int n) {
    const __m128i zero = _mm_setzero_si128();
    int x = 0;
    for (; x + 16 <= n; x += 16) {
        if ((x & 63) == 0) ReadPlanesAhead(v + x, dark + x, bright + x);
        const __m128i vv = _mm_loadu_si128(reinterpret_cast<const __m128i*>(v + x));
        const __m128i lo = _mm_loadu_si128(reinterpret_cast<const __m128i*>(dark + x));
        const __m128i hi = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bright + x));
        __m128i q[4];
        for (int half = 0; half < 2; ++half) {
            const __m128i v16 =
                half == 0 ? _mm_unpacklo_epi8(vv, zero) : _mm_unpackhi_epi8(vv, zero);
            const __m128i lo16 =
                half == 0 ? _mm_unpacklo_epi8(lo, zero) : _mm_unpackhi_epi8(lo, zero);
            const __m128i hi16 =
                half == 0 ? _mm_unpacklo_epi8(hi, zero) : _mm_unpackhi_epi8(hi, zero);
            const __m128i t = _mm_sub_epi16(v16, lo16);
            const __m128i s = _mm_sub_epi16(hi16, lo16);
            q[2 * half] = Quotients8Sse2(Low32(t), Low32(s));
            q[2 * half + 1] = Quotients8Sse2(High32(t), High32(s));
        }
        // Saturating packs clip to [0, 255]; a span of 0 keeps the sample.
        const __m128i out =
            _mm_packus_epi16(_mm_packs_epi32(q[0], q[1]), _mm_packs_epi32(q[2], q[3]));
        const __m128i keep = _mm_cmpeq_epi8(lo, hi);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(d + x),
                         _mm_or_si128(_mm_and_si128(keep, vv), _mm_andnot_si128(keep, out)));
    }
    FlatRow8Portable(d + x, v + x, dark + x, bright + x, n - x);
}

// ---- AVX2 -----------------------------------------------------------------------------------

LUMORA_TARGET_AVX2 inline __m256i Quotients8Avx2(const uint8_t* v, const uint8_t* dark,
                                                 const uint8_t* bright) {
    const __m256i lo =
        _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(dark)));
    const __m256i t = _mm256_sub_epi32(
        _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(v))), lo);
    const __m256i s = _mm256_sub_epi32(
        _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(bright))), lo);
    const __m256 fs = _mm256_cvtepi32_ps(s);
    __m256 r = _mm256_rcp_ps(fs);
    r = _mm256_fmadd_ps(r, _mm256_fnmadd_ps(fs, r, _mm256_set1_ps(1.0f)), r);
    const __m256 q = _mm256_fmadd_ps(
        _mm256_cvtepi32_ps(t), _mm256_mul_ps(r, _mm256_set1_ps(256.0f)), _mm256_set1_ps(kNudge8));
    return _mm256_cvttps_epi32(q);
}

LUMORA_TARGET_AVX2 void FlatRow8Avx2(uint8_t* d, const uint8_t* v, const uint8_t* dark,
                                     const uint8_t* bright, int n) {
    int x = 0;
    for (; x + 32 <= n; x += 32) {
        if ((x & 63) == 0) ReadPlanesAhead(v + x, dark + x, bright + x);
        const __m256i q0 = Quotients8Avx2(v + x, dark + x, bright + x);
        const __m256i q1 = Quotients8Avx2(v + x + 8, dark + x + 8, bright + x + 8);
        const __m256i q2 = Quotients8Avx2(v + x + 16, dark + x + 16, bright + x + 16);
        const __m256i q3 = Quotients8Avx2(v + x + 24, dark + x + 24, bright + x + 24);
        // The packs work within 128-bit lanes; the permute puts the groups of four back in order.
        const __m256i packed =
            _mm256_packus_epi16(_mm256_packs_epi32(q0, q1), _mm256_packs_epi32(q2, q3));
        const __m256i out =
            _mm256_permutevar8x32_epi32(packed, _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7));
        const __m256i vv = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(v + x));
        const __m256i keep =
            _mm256_cmpeq_epi8(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(dark + x)),
                              _mm256_loadu_si256(reinterpret_cast<const __m256i*>(bright + x)));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(d + x), _mm256_blendv_epi8(out, vv, keep));
    }
    FlatRow8Portable(d + x, v + x, dark + x, bright + x, n - x);
}

// As Flat16Avx512; the coarser reciprocal gets one Newton step first.
LUMORA_TARGET_AVX2 inline __m256i Flat16Avx2(const uint16_t* v, const uint16_t* dark,
                                             const uint16_t* bright) {
    const __m256i vv = _mm256_cvtepu16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(v)));
    const __m256i lo =
        _mm256_cvtepu16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(dark)));
    const __m256i hi =
        _mm256_cvtepu16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(bright)));
    const __m256i s = _mm256_sub_epi32(hi, lo);
    const __m256i scaled = _mm256_slli_epi32(_mm256_sub_epi32(vv, lo), 12);
    const __m256 fs = _mm256_cvtepi32_ps(s);
    __m256 r = _mm256_rcp_ps(fs);
    r = _mm256_fmadd_ps(r, _mm256_fnmadd_ps(fs, r, _mm256_set1_ps(1.0f)), r);
    __m256i q =
        _mm256_cvttps_epi32(_mm256_fmsub_ps(_mm256_cvtepi32_ps(scaled), r, _mm256_set1_ps(0.5f)));
    const __m256i rest = _mm256_sub_epi32(scaled, _mm256_mullo_epi32(q, s));
    // Compare masks are -1 where true.
    q = _mm256_sub_epi32(q, _mm256_cmpgt_epi32(rest, _mm256_sub_epi32(s, _mm256_set1_epi32(1))));
    q = _mm256_min_epi32(_mm256_max_epi32(q, _mm256_setzero_si256()), _mm256_set1_epi32(4095));
    const __m256i keep = _mm256_cmpgt_epi32(s, _mm256_setzero_si256());
    return _mm256_blendv_epi8(vv, _mm256_slli_epi32(q, 4), keep);
}

LUMORA_TARGET_AVX2 void FlatRow16Avx2(uint16_t* d, const uint16_t* v, const uint16_t* dark,
                                      const uint16_t* bright, int n) {
    int x = 0;
    for (; x + 16 <= n; x += 16) {
        if ((x & 31) == 0) ReadPlanesAhead(v + x, dark + x, bright + x);
        const __m256i a = Flat16Avx2(v + x, dark + x, bright + x);
        const __m256i b = Flat16Avx2(v + x + 8, dark + x + 8, bright + x + 8);
        const __m256i packed = _mm256_permute4x64_epi64(_mm256_packus_epi32(a, b), 0xD8);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(d + x), packed);
    }
    FlatRow16Portable(d + x, v + x, dark + x, bright + x, n - x);
}

// ---- AVX-512 --------------------------------------------------------------------------------
// Sixteen samples a step. Whole steps load and store plainly (masked stores are slow on some
// processors); only the last step of a row masks them.

LUMORA_TARGET_AVX512 inline __m128i Flat8Avx512(__m128i v8, __m128i lo8, __m128i hi8) {
    const __m512i lo = _mm512_cvtepu8_epi32(lo8);
    const __m512i s = _mm512_sub_epi32(_mm512_cvtepu8_epi32(hi8), lo);
    const __m512 fs = _mm512_cvtepi32_ps(s);
    __m512 r = _mm512_rcp14_ps(fs);
    r = _mm512_fmadd_ps(r, _mm512_fnmadd_ps(fs, r, _mm512_set1_ps(1.0f)), r);
    const __m512 q =
        _mm512_fmadd_ps(_mm512_cvtepi32_ps(_mm512_sub_epi32(_mm512_cvtepu8_epi32(v8), lo)),
                        _mm512_mul_ps(r, _mm512_set1_ps(256.0f)), _mm512_set1_ps(kNudge8));
    const __m512i out = _mm512_max_epi32(_mm512_cvttps_epi32(q), _mm512_setzero_si512());
    // A span of 0 keeps the sample.
    return _mm_mask_blend_epi8(_mm_cmpeq_epi8_mask(lo8, hi8), _mm512_cvtusepi32_epi8(out), v8);
}

LUMORA_TARGET_AVX512 void FlatRow8Avx512(uint8_t* d, const uint8_t* v, const uint8_t* dark,
                                         const uint8_t* bright, int n) {
    int x = 0;
    for (; x + 16 <= n; x += 16) {
        if ((x & 63) == 0) ReadPlanesAhead(v + x, dark + x, bright + x);
        const __m128i out =
            Flat8Avx512(_mm_loadu_si128(reinterpret_cast<const __m128i*>(v + x)),
                        _mm_loadu_si128(reinterpret_cast<const __m128i*>(dark + x)),
                        _mm_loadu_si128(reinterpret_cast<const __m128i*>(bright + x)));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(d + x), out);
    }
    if (x < n) {
        const auto lanes = static_cast<__mmask16>((1u << (n - x)) - 1);
        const __m128i out =
            Flat8Avx512(_mm_maskz_loadu_epi8(lanes, v + x), _mm_maskz_loadu_epi8(lanes, dark + x),
                        _mm_maskz_loadu_epi8(lanes, bright + x));
        _mm_mask_storeu_epi8(d + x, lanes, out);
    }
}

// The estimate is biased half a unit down, so with a reciprocal good to 2^-14 it is the
// quotient or one below it, and a single multiply-back step upwards makes it exact.
LUMORA_TARGET_AVX512 inline __m256i Flat16Avx512(__m256i v16, __m256i lo16, __m256i hi16) {
    const __m512i zero = _mm512_setzero_si512();
    const __m512i lo = _mm512_cvtepu16_epi32(lo16);
    const __m512i s = _mm512_sub_epi32(_mm512_cvtepu16_epi32(hi16), lo);
    const __m512i scaled = _mm512_slli_epi32(_mm512_sub_epi32(_mm512_cvtepu16_epi32(v16), lo), 12);
    const __m512 r = _mm512_rcp14_ps(_mm512_cvtepi32_ps(s));
    __m512i q =
        _mm512_cvttps_epi32(_mm512_fmsub_ps(_mm512_cvtepi32_ps(scaled), r, _mm512_set1_ps(0.5f)));
    const __m512i rest = _mm512_sub_epi32(scaled, _mm512_mullo_epi32(q, s));
    q = _mm512_mask_add_epi32(q, _mm512_cmpge_epi32_mask(rest, s), q, _mm512_set1_epi32(1));
    q = _mm512_min_epi32(_mm512_max_epi32(q, zero), _mm512_set1_epi32(4095));
    const __m256i out = _mm512_cvtepi32_epi16(_mm512_slli_epi32(q, 4));
    return _mm256_mask_blend_epi16(_mm512_cmpgt_epi32_mask(s, zero), v16, out);
}

LUMORA_TARGET_AVX512 void FlatRow16Avx512(uint16_t* d, const uint16_t* v, const uint16_t* dark,
                                          const uint16_t* bright, int n) {
    int x = 0;
    for (; x + 16 <= n; x += 16) {
        if ((x & 31) == 0) ReadPlanesAhead(v + x, dark + x, bright + x);
        const __m256i out =
            Flat16Avx512(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(v + x)),
                         _mm256_loadu_si256(reinterpret_cast<const __m256i*>(dark + x)),
                         _mm256_loadu_si256(reinterpret_cast<const __m256i*>(bright + x)));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(d + x), out);
    }
    if (x < n) {
        const auto lanes = static_cast<__mmask16>((1u << (n - x)) - 1);
        const __m256i out = Flat16Avx512(_mm256_maskz_loadu_epi16(lanes, v + x),
                                         _mm256_maskz_loadu_epi16(lanes, dark + x),
                                         _mm256_maskz_loadu_epi16(lanes, bright + x));
        _mm256_mask_storeu_epi16(d + x, lanes, out);
    }
}

#endif  // LUMORA_X86_SIMD

}  // namespace

FlatFieldKernels FlatFieldKernelsFor(SimdLevel level) {
#if LUMORA_X86_SIMD
    switch (level) {
        case SimdLevel::kAvx512:
            return {FlatRow8Avx512, FlatRow16Avx512};
        case SimdLevel::kAvx2:
            return {FlatRow8Avx2, FlatRow16Avx2};
        case SimdLevel::kSse2:
            // Without 32-bit multiplies the 16-bit rows are left to the vectoriser.
            return {FlatRow8Sse2, FlatRow16Portable};
        case SimdLevel::kScalar:
            break;
    }
#else
    static_cast<void>(level);
#endif
    return {FlatRow8Portable, FlatRow16Portable};
}

bool FlatFieldRows::Bind(ImageBuffer& frame, const MaskSet& masks, const MaskGeometry& geometry,
                         const uint8_t* from) {
    frame_ = nullptr;
    from_ = from;
    if (!frame.IsValid() || !masks.IsComplete()) return false;
    const int bits = frame.BitCount();
    if (bits != 8 && bits != 16) return false;
    if (!ReferenceOrigin(frame, masks, geometry, originX_, originY_)) return false;
    frame_ = &frame;
    dark_ = &masks.Reference(bits, kMaskDark);
    bright_ = &masks.Reference(bits, kMaskBright);
    const FlatFieldKernels kernels = FlatFieldKernelsFor(ActiveSimdLevel());
    row8_ = kernels.row8;
    row16_ = kernels.row16;
    return true;
}

void FlatFieldRows::Run(int y) const {
    const int ry = originY_ + y;
    uint8_t* row = frame_->Row(y);
    const uint8_t* in = from_ != nullptr ? from_ + (row - frame_->Pixels()) : row;
    if (frame_->BitCount() == 8) {
        row8_(row, in, dark_->Row(ry) + originX_, bright_->Row(ry) + originX_, frame_->Width());
    } else {
        row16_(Words(row), Words(in), Words(dark_->Row(ry)) + originX_,
               Words(bright_->Row(ry)) + originX_, frame_->Width());
    }
}

void CopyArrivedFrame(ImageBuffer& frame, const uint8_t* from) {
    if (from != nullptr && frame.IsValid()) std::memcpy(frame.Pixels(), from, frame.SizeBytes());
}

bool FlatFieldCorrect(ImageBuffer& frame, MaskSet& masks, const MaskGeometry& geometry,
                      RowBandPool* pool, const uint8_t* from) {
    FlatFieldRows rows;
    if (!rows.Bind(frame, masks, geometry, from)) {
        CopyArrivedFrame(frame, from);
        return false;
    }
    RunRowBands(pool, frame.Height(), [&](int first, int last) {
        for (int y = first; y < last; ++y) rows.Run(y);
    });
    return true;
}

}  // namespace lumora
