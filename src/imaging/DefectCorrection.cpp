#include "imaging/DefectCorrection.h"

#include <algorithm>
#include <vector>

#include "imaging/FlatField.h"
#include "imaging/PixelAccess.h"
#include "imaging/RowBands.h"
#include "platform/SimdTargets.h"

namespace lumora {

namespace {

// A pixel of the frame (x, y).
struct PlanePosition {
    int x;
    int y;
};

// ---- the outlier test, row by row ------------------------------------------------------------

template <class T>
int DetectPortable(const T* up, const T* row, const T* down, int begin, int end, int threshold,
                   int32_t* hits) {
    int n = 0;
    for (int x = begin; x < end; ++x) {
        const int mean = (row[x - 1] + row[x + 1] + up[x] + down[x]) >> 2;
        const int diff = row[x] - mean;
        if (diff >= threshold || -diff >= threshold) hits[n++] = x;
    }
    return n;
}

#if LUMORA_X86_SIMD

// Appends x + i for every set bit i of `bits`, lowest first.
inline int AppendBits(uint32_t bits, int x, int32_t* hits, int n) {
    while (bits != 0) {
        hits[n++] = x + __builtin_ctz(bits);
        bits &= bits - 1;
    }
    return n;
}

// 16-bit samples: ⌊(a + b + c + d) / 4⌋ without leaving 16 bits, as the quarters plus the
// quarter of the remainders.
inline __m128i Mean4Sse2(__m128i a, __m128i b, __m128i c, __m128i d) {
    const __m128i three = _mm_set1_epi16(3);
    const __m128i quarters =
        _mm_add_epi16(_mm_add_epi16(_mm_srli_epi16(a, 2), _mm_srli_epi16(b, 2)),
                      _mm_add_epi16(_mm_srli_epi16(c, 2), _mm_srli_epi16(d, 2)));
    const __m128i rests =
        _mm_add_epi16(_mm_add_epi16(_mm_and_si128(a, three), _mm_and_si128(b, three)),
                      _mm_add_epi16(_mm_and_si128(c, three), _mm_and_si128(d, three)));
    return _mm_add_epi16(quarters, _mm_srli_epi16(rests, 2));
}

// The outlier tests ask for the row below two kilobytes ahead (ReadAhead): it is the one a test
// meets first (the two above were read by the rows before), and it comes from memory.
inline __m128i Load128(const void* p) {
    return _mm_loadu_si128(static_cast<const __m128i*>(p));
}

// 16-bit samples below 2^13 take a shorter test: four times a sample and the sum of four fit a
// 16-bit lane. With e = 4c − (l + r + u + d), c − ⌊sum / 4⌋ ≥ t exactly where e ≥ 4t − 3, and
// ⌊sum / 4⌋ − c ≥ t exactly where e ≤ −4t; so a sample passes exactly where e + 4t − 1, taken
// unsigned modulo 2^16, is at most 8t − 5 (for 1 ≤ t ≤ 8192, where neither side wraps into the
// other). A step with any sample at or above 2^13 takes the exact mean instead.
constexpr int kNarrowMaxThreshold = 8192;
constexpr int kNarrowHighBits = 0xE000;
constexpr int NarrowBias(int threshold) {
    return 4 * threshold - 1;
}
constexpr int NarrowPassMax(int threshold) {
    return 8 * threshold - 5;
}

// ---- SSE2 -----------------------------------------------------------------------------------

// 8-bit samples: ⌊(l + r + u + d) / 4⌋ in byte lanes, from rounding averages. With
// a = ⌊(l + r) / 2⌋ and b = ⌊(u + d) / 2⌋ the mean is ⌊(a + b) / 2⌋, or ⌈(a + b) / 2⌉ when both
// pairs had an odd sum.
inline __m128i Mean4Bytes(__m128i l, __m128i r, __m128i u, __m128i d) {
    const __m128i one = _mm_set1_epi8(1);
    const __m128i lr = _mm_xor_si128(l, r);
    const __m128i ud = _mm_xor_si128(u, d);
    const __m128i a = _mm_sub_epi8(_mm_avg_epu8(l, r), _mm_and_si128(lr, one));
    const __m128i b = _mm_sub_epi8(_mm_avg_epu8(u, d), _mm_and_si128(ud, one));
    const __m128i roundDown =
        _mm_and_si128(_mm_andnot_si128(_mm_and_si128(lr, ud), _mm_xor_si128(a, b)), one);
    return _mm_sub_epi8(_mm_avg_epu8(a, b), roundDown);
}

int Detect8Sse2(const uint8_t* up, const uint8_t* row, const uint8_t* down, int begin, int end,
                int threshold, int32_t* hits) {
    const __m128i limit = _mm_set1_epi8(static_cast<char>(threshold));
    const __m128i zero = _mm_setzero_si128();
    int n = 0;
    int x = begin;
    for (; x + 16 <= end; x += 16) {
        ReadAhead<2048>(down + x);
        const __m128i c = Load128(row + x);
        const __m128i mean = Mean4Bytes(Load128(row + x - 1), Load128(row + x + 1), Load128(up + x),
                                        Load128(down + x));
        const __m128i diff = _mm_or_si128(_mm_subs_epu8(c, mean), _mm_subs_epu8(mean, c));
        // diff ≥ threshold exactly where threshold − diff saturates to 0.
        const int bits = _mm_movemask_epi8(_mm_cmpeq_epi8(_mm_subs_epu8(limit, diff), zero));
        n = AppendBits(static_cast<uint32_t>(bits), x, hits, n);
    }
    return n + DetectPortable(up, row, down, x, end, threshold, hits + n);
}

// The flags of eight 16-bit samples from the exact mean (any sample values).
inline __m128i Flags16Sse2(const uint16_t* up, const uint16_t* row, const uint16_t* down, int at,
                           __m128i limit) {
    const __m128i c = Load128(row + at);
    const __m128i mean = Mean4Sse2(Load128(row + at - 1), Load128(row + at + 1), Load128(up + at),
                                   Load128(down + at));
    const __m128i diff = _mm_or_si128(_mm_subs_epu16(c, mean), _mm_subs_epu16(mean, c));
    // diff ≥ threshold exactly where threshold − diff saturates to 0.
    return _mm_cmpeq_epi16(_mm_subs_epu16(limit, diff), _mm_setzero_si128());
}

int Detect16Sse2(const uint16_t* up, const uint16_t* row, const uint16_t* down, int begin, int end,
                 int threshold, int32_t* hits) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i limit = _mm_set1_epi16(static_cast<short>(threshold));
    const bool narrowTest = threshold <= kNarrowMaxThreshold;
    const __m128i high = _mm_set1_epi16(static_cast<short>(kNarrowHighBits));
    const __m128i bias = _mm_set1_epi16(static_cast<short>(NarrowBias(threshold)));
    const __m128i passMax = _mm_set1_epi16(static_cast<short>(NarrowPassMax(threshold)));
    int n = 0;
    int x = begin;
    for (; x + 16 <= end; x += 16) {
        ReadAhead<2048>(down + x);
        __m128i l[2], r[2], u[2], d[2];
        __m128i any = zero;
        for (int half = 0; half < 2; ++half) {
            const int at = x + 8 * half;
            l[half] = Load128(row + at - 1);
            r[half] = Load128(row + at + 1);
            u[half] = Load128(up + at);
            d[half] = Load128(down + at);
            any = _mm_or_si128(
                any, _mm_or_si128(_mm_or_si128(l[half], r[half]), _mm_or_si128(u[half], d[half])));
        }
        uint32_t bits;
        if (narrowTest &&
            _mm_movemask_epi8(_mm_cmpeq_epi16(_mm_and_si128(any, high), zero)) == 0xFFFF) {
            __m128i passes[2];
            for (int half = 0; half < 2; ++half) {
                const __m128i sum =
                    _mm_add_epi16(_mm_add_epi16(l[half], r[half]), _mm_add_epi16(u[half], d[half]));
                const __m128i c = Load128(row + x + 8 * half);
                const __m128i e = _mm_add_epi16(_mm_sub_epi16(_mm_slli_epi16(c, 2), sum), bias);
                passes[half] = _mm_cmpeq_epi16(_mm_subs_epu16(e, passMax), zero);
            }
            bits =
                ~static_cast<uint32_t>(_mm_movemask_epi8(_mm_packs_epi16(passes[0], passes[1]))) &
                0xFFFFu;
        } else {
            bits = static_cast<uint32_t>(_mm_movemask_epi8(_mm_packs_epi16(
                Flags16Sse2(up, row, down, x, limit), Flags16Sse2(up, row, down, x + 8, limit))));
        }
        n = AppendBits(bits, x, hits, n);
    }
    return n + DetectPortable(up, row, down, x, end, threshold, hits + n);
}

// ---- AVX2 -----------------------------------------------------------------------------------

LUMORA_TARGET_AVX2 inline __m256i LoadBytes256(const uint8_t* p) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}

// As Mean4Bytes, 32 lanes.
LUMORA_TARGET_AVX2 inline __m256i Mean4BytesAvx2(__m256i l, __m256i r, __m256i u, __m256i d) {
    const __m256i one = _mm256_set1_epi8(1);
    const __m256i lr = _mm256_xor_si256(l, r);
    const __m256i ud = _mm256_xor_si256(u, d);
    const __m256i a = _mm256_sub_epi8(_mm256_avg_epu8(l, r), _mm256_and_si256(lr, one));
    const __m256i b = _mm256_sub_epi8(_mm256_avg_epu8(u, d), _mm256_and_si256(ud, one));
    const __m256i roundDown = _mm256_and_si256(
        _mm256_andnot_si256(_mm256_and_si256(lr, ud), _mm256_xor_si256(a, b)), one);
    return _mm256_sub_epi8(_mm256_avg_epu8(a, b), roundDown);
}

// The flags of the 32 samples from x on.
LUMORA_TARGET_AVX2 inline uint32_t Flags8Avx2(const uint8_t* up, const uint8_t* row,
                                              const uint8_t* down, int x, __m256i limit) {
    const __m256i c = LoadBytes256(row + x);
    const __m256i mean = Mean4BytesAvx2(LoadBytes256(row + x - 1), LoadBytes256(row + x + 1),
                                        LoadBytes256(up + x), LoadBytes256(down + x));
    const __m256i diff = _mm256_or_si256(_mm256_subs_epu8(c, mean), _mm256_subs_epu8(mean, c));
    return static_cast<uint32_t>(
        _mm256_movemask_epi8(_mm256_cmpeq_epi8(_mm256_max_epu8(diff, limit), diff)));
}

LUMORA_TARGET_AVX2 int Detect8Avx2(const uint8_t* up, const uint8_t* row, const uint8_t* down,
                                   int begin, int end, int threshold, int32_t* hits) {
    if (end - begin < 32) return DetectPortable(up, row, down, begin, end, threshold, hits);
    const __m256i limit = _mm256_set1_epi8(static_cast<char>(threshold));
    int n = 0;
    int x = begin;
    for (; x + 32 <= end; x += 32) {
        ReadAhead<2048>(down + x);
        n = AppendBits(Flags8Avx2(up, row, down, x, limit), x, hits, n);
    }
    // The last samples in a step that ends with the row, overlapping the one before.
    if (x < end) {
        n = AppendBits(Flags8Avx2(up, row, down, end - 32, limit) >> (32 - (end - x)), x, hits, n);
    }
    return n;
}

LUMORA_TARGET_AVX2 inline __m256i Load256(const uint16_t* p) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}

// The flags of sixteen 16-bit samples from the exact mean (any sample values).
LUMORA_TARGET_AVX2 inline __m256i Flags16Avx2(const uint16_t* up, const uint16_t* row,
                                              const uint16_t* down, int at, __m256i limit) {
    const __m256i three = _mm256_set1_epi16(3);
    const __m256i l = Load256(row + at - 1);
    const __m256i r = Load256(row + at + 1);
    const __m256i u = Load256(up + at);
    const __m256i d = Load256(down + at);
    const __m256i quarters =
        _mm256_add_epi16(_mm256_add_epi16(_mm256_srli_epi16(l, 2), _mm256_srli_epi16(r, 2)),
                         _mm256_add_epi16(_mm256_srli_epi16(u, 2), _mm256_srli_epi16(d, 2)));
    const __m256i rests =
        _mm256_add_epi16(_mm256_add_epi16(_mm256_and_si256(l, three), _mm256_and_si256(r, three)),
                         _mm256_add_epi16(_mm256_and_si256(u, three), _mm256_and_si256(d, three)));
    const __m256i mean = _mm256_add_epi16(quarters, _mm256_srli_epi16(rests, 2));
    const __m256i c = Load256(row + at);
    const __m256i diff = _mm256_or_si256(_mm256_subs_epu16(c, mean), _mm256_subs_epu16(mean, c));
    return _mm256_cmpeq_epi16(_mm256_max_epu16(diff, limit), diff);
}

// One bit per lane of two sixteen-lane masks, a's lanes first.
LUMORA_TARGET_AVX2 inline uint32_t LaneBits32Avx2(__m256i a, __m256i b) {
    // The pack works within 128-bit lanes; the permute puts the quarters back in order.
    return static_cast<uint32_t>(
        _mm256_movemask_epi8(_mm256_permute4x64_epi64(_mm256_packs_epi16(a, b), 0xD8)));
}

// The flags of the 32 samples from x on.
struct Detect16StepAvx2 {
    const uint16_t* up;
    const uint16_t* row;
    const uint16_t* down;
    __m256i limit;
    __m256i high;
    __m256i bias;
    __m256i passMax;
    bool narrowTest;

    LUMORA_TARGET_AVX2 uint32_t operator()(int x) const {
        __m256i l[2], r[2], u[2], d[2];
        for (int half = 0; half < 2; ++half) {
            const int at = x + 16 * half;
            l[half] = Load256(row + at - 1);
            r[half] = Load256(row + at + 1);
            u[half] = Load256(up + at);
            d[half] = Load256(down + at);
        }
        const __m256i any = _mm256_or_si256(
            _mm256_or_si256(_mm256_or_si256(l[0], r[0]), _mm256_or_si256(u[0], d[0])),
            _mm256_or_si256(_mm256_or_si256(l[1], r[1]), _mm256_or_si256(u[1], d[1])));
        if (narrowTest && _mm256_testz_si256(any, high)) {
            __m256i passes[2];
            for (int half = 0; half < 2; ++half) {
                const __m256i sum = _mm256_add_epi16(_mm256_add_epi16(l[half], r[half]),
                                                     _mm256_add_epi16(u[half], d[half]));
                const __m256i c = Load256(row + x + 16 * half);
                const __m256i e =
                    _mm256_add_epi16(_mm256_sub_epi16(_mm256_slli_epi16(c, 2), sum), bias);
                passes[half] = _mm256_cmpeq_epi16(_mm256_max_epu16(e, passMax), passMax);
            }
            return ~LaneBits32Avx2(passes[0], passes[1]);
        }
        return LaneBits32Avx2(Flags16Avx2(up, row, down, x, limit),
                              Flags16Avx2(up, row, down, x + 16, limit));
    }
};

LUMORA_TARGET_AVX2 int Detect16Avx2(const uint16_t* up, const uint16_t* row, const uint16_t* down,
                                    int begin, int end, int threshold, int32_t* hits) {
    const Detect16StepAvx2 step{up,
                                row,
                                down,
                                _mm256_set1_epi16(static_cast<short>(threshold)),
                                _mm256_set1_epi16(static_cast<short>(kNarrowHighBits)),
                                _mm256_set1_epi16(static_cast<short>(NarrowBias(threshold))),
                                _mm256_set1_epi16(static_cast<short>(NarrowPassMax(threshold))),
                                threshold <= kNarrowMaxThreshold};
    if (end - begin < 32) return DetectPortable(up, row, down, begin, end, threshold, hits);
    int n = 0;
    int x = begin;
    for (; x + 32 <= end; x += 32) {
        ReadAhead<2048>(down + x);
        n = AppendBits(step(x), x, hits, n);
    }
    // The last samples in a step that ends with the row, overlapping the one before.
    if (x < end) n = AppendBits(step(end - 32) >> (32 - (end - x)), x, hits, n);
    return n;
}

// ---- AVX-512 --------------------------------------------------------------------------------
// Thirty-two samples a step; only the last step of a row masks its loads.

LUMORA_TARGET_AVX512 inline __mmask32 StepLanes(int left) {
    return left >= 32 ? 0xFFFFFFFFu : (1u << left) - 1;
}

// Appends x + i for every set bit i of a 64-bit mask, lowest first.
inline int AppendBits64(uint64_t bits, int x, int32_t* hits, int n) {
    while (bits != 0) {
        hits[n++] = x + __builtin_ctzll(bits);
        bits &= bits - 1;
    }
    return n;
}

LUMORA_TARGET_AVX512 inline __m512i LoadBytes512(__mmask64 lanes, const uint8_t* p) {
    return lanes == ~__mmask64{0} ? _mm512_loadu_si512(p) : _mm512_maskz_loadu_epi8(lanes, p);
}

// As Mean4Bytes, 64 lanes; the rounding correction is one three-input logic operation.
LUMORA_TARGET_AVX512 inline __m512i Mean4BytesAvx512(__m512i l, __m512i r, __m512i u, __m512i d) {
    const __m512i one = _mm512_set1_epi8(1);
    const __m512i lr = _mm512_xor_si512(l, r);
    const __m512i ud = _mm512_xor_si512(u, d);
    const __m512i a = _mm512_sub_epi8(_mm512_avg_epu8(l, r), _mm512_and_si512(lr, one));
    const __m512i b = _mm512_sub_epi8(_mm512_avg_epu8(u, d), _mm512_and_si512(ud, one));
    // (a ^ b) & ~(lr & ud), then bit 0 only: 0x70 is ~(B & C) & A over the inputs (A, B, C).
    const __m512i roundDown =
        _mm512_and_si512(_mm512_ternarylogic_epi32(_mm512_xor_si512(a, b), lr, ud, 0x70), one);
    return _mm512_sub_epi8(_mm512_avg_epu8(a, b), roundDown);
}

LUMORA_TARGET_AVX512 int Detect8Avx512(const uint8_t* up, const uint8_t* row, const uint8_t* down,
                                       int begin, int end, int threshold, int32_t* hits) {
    const __m512i limit = _mm512_set1_epi8(static_cast<char>(threshold));
    int n = 0;
    for (int x = begin; x < end; x += 64) {
        const int left = end - x;
        const __mmask64 lanes = left >= 64 ? ~__mmask64{0} : (__mmask64{1} << left) - 1;
        ReadAhead<2048>(down + x);
        const __m512i c = LoadBytes512(lanes, row + x);
        const __m512i mean =
            Mean4BytesAvx512(LoadBytes512(lanes, row + x - 1), LoadBytes512(lanes, row + x + 1),
                             LoadBytes512(lanes, up + x), LoadBytes512(lanes, down + x));
        const __m512i diff = _mm512_or_si512(_mm512_subs_epu8(c, mean), _mm512_subs_epu8(mean, c));
        n = AppendBits64(_mm512_mask_cmpge_epu8_mask(lanes, diff, limit), x, hits, n);
    }
    return n;
}

LUMORA_TARGET_AVX512 inline __m512i Load16Avx512(__mmask32 lanes, const uint16_t* p) {
    return lanes == 0xFFFFFFFFu ? _mm512_loadu_si512(p) : _mm512_maskz_loadu_epi16(lanes, p);
}

LUMORA_TARGET_AVX512 int Detect16Avx512(const uint16_t* up, const uint16_t* row,
                                        const uint16_t* down, int begin, int end, int threshold,
                                        int32_t* hits) {
    const __m512i limit = _mm512_set1_epi16(static_cast<short>(threshold));
    const __m512i three = _mm512_set1_epi16(3);
    const __m512i high = _mm512_set1_epi16(static_cast<short>(kNarrowHighBits));
    const __m512i bias = _mm512_set1_epi16(static_cast<short>(NarrowBias(threshold)));
    // Flagged from one past the largest passing value on.
    const __m512i flagFrom = _mm512_set1_epi16(static_cast<short>(NarrowPassMax(threshold) + 1));
    const bool narrowTest = threshold <= kNarrowMaxThreshold;
    int n = 0;
    for (int x = begin; x < end; x += 32) {
        const __mmask32 lanes = StepLanes(end - x);
        ReadAhead<2048>(down + x);
        const __m512i l = Load16Avx512(lanes, row + x - 1);
        const __m512i r = Load16Avx512(lanes, row + x + 1);
        const __m512i u = Load16Avx512(lanes, up + x);
        const __m512i d = Load16Avx512(lanes, down + x);
        const __m512i c = Load16Avx512(lanes, row + x);
        // 0xFE: A | B | C. The centre is among its row's neighbours only where the step has
        // more than one lane.
        const __m512i any =
            _mm512_ternarylogic_epi32(_mm512_ternarylogic_epi32(l, r, u, 0xFE), d, c, 0xFE);
        __mmask32 flagged;
        if (narrowTest && _mm512_test_epi16_mask(any, high) == 0) {
            const __m512i sum = _mm512_add_epi16(_mm512_add_epi16(l, r), _mm512_add_epi16(u, d));
            const __m512i e =
                _mm512_add_epi16(_mm512_sub_epi16(_mm512_slli_epi16(c, 2), sum), bias);
            flagged = _mm512_mask_cmpge_epu16_mask(lanes, e, flagFrom);
        } else {
            const __m512i quarters = _mm512_add_epi16(
                _mm512_add_epi16(_mm512_srli_epi16(l, 2), _mm512_srli_epi16(r, 2)),
                _mm512_add_epi16(_mm512_srli_epi16(u, 2), _mm512_srli_epi16(d, 2)));
            const __m512i rests = _mm512_add_epi16(
                _mm512_add_epi16(_mm512_and_si512(l, three), _mm512_and_si512(r, three)),
                _mm512_add_epi16(_mm512_and_si512(u, three), _mm512_and_si512(d, three)));
            const __m512i mean = _mm512_add_epi16(quarters, _mm512_srli_epi16(rests, 2));
            const __m512i diff =
                _mm512_or_si512(_mm512_subs_epu16(c, mean), _mm512_subs_epu16(mean, c));
            flagged = _mm512_mask_cmpge_epu16_mask(lanes, diff, limit);
        }
        n = AppendBits(flagged, x, hits, n);
    }
    return n;
}

#endif  // LUMORA_X86_SIMD

// ---- detection over a frame ------------------------------------------------------------------

// The defect flags of one frame, a bit per pixel: small enough to stay in the cache while the
// replacement looks up its neighbours. A frame's flags are few: they are cleared one by one
// after it (Release), so the next frame of the same size starts without clearing the whole.
class FlagBits {
public:
    void Reset(int width, int height) {
        if (clear_ && width == width_ && height == height_) {
            clear_ = false;
            return;
        }
        width_ = width;
        height_ = height;
        clear_ = false;
        wordsPerRow_ = (static_cast<size_t>(width) + 63) / 64;
        words_.assign(wordsPerRow_ * static_cast<size_t>(height), 0);
    }
    // Clears the flags of `positions` (every flag set since Reset must be among them).
    template <class Positions>
    void Release(const Positions& positions) {
        for (const auto& p : positions) {
            Row(p.y)[static_cast<size_t>(p.x) / 64] &= ~(uint64_t{1} << (p.x % 64));
        }
        clear_ = true;
    }
    bool Test(int x, int y) const {
        return ((Row(y)[static_cast<size_t>(x) / 64] >> (x % 64)) & 1) != 0;
    }
    // Rows are whole words, so bands setting their own rows never share a word.
    void Set(int x, int y) { Row(y)[static_cast<size_t>(x) / 64] |= uint64_t{1} << (x % 64); }

private:
    const uint64_t* Row(int y) const {
        return words_.data() + static_cast<size_t>(y) * wordsPerRow_;
    }
    uint64_t* Row(int y) { return words_.data() + static_cast<size_t>(y) * wordsPerRow_; }

    int width_ = 0;
    int height_ = 0;
    bool clear_ = false;  // every bit is 0
    size_t wordsPerRow_ = 0;
    std::vector<uint64_t> words_;
};

// What the detection of one frame works with.
struct Detection {
    const ImageBuffer* frame = nullptr;
    FlagBits* flags = nullptr;
    const MaskSet::MappedDefects* mapped = nullptr;  // null: the maps do not line up
    int originX = 0;
    int originY = 0;
    int threshold = 0;
    DefectKernels kernels{};
};

template <class T>
const T* FrameRow(const ImageBuffer& frame, int y) {
    return reinterpret_cast<const T*>(frame.Row(y));
}

// Flags the defective pixels of frame row y (4 ≤ y ≤ height − 5, width ≥ 9) and lists them
// in column order. `hits` holds room for twice the width.
template <class T>
void DetectRow(const Detection& d, int y, std::vector<int32_t>& hits,
               std::vector<PlanePosition>& flagged) {
    const int width = d.frame->Width();
    const int begin = 4;
    const int end = width - 4;
    int32_t* h = hits.data();
    int n = 0;
    if (d.threshold <= 0) {
        for (int x = begin; x < end; ++x) h[n++] = x;
    } else if (d.threshold <= kMaxOf<T>) {
        const T* up = FrameRow<T>(*d.frame, y - 1);
        const T* row = FrameRow<T>(*d.frame, y);
        const T* down = FrameRow<T>(*d.frame, y + 1);
        if constexpr (sizeof(T) == 1) {
            n = d.kernels.detect8(up, row, down, begin, end, d.threshold, h);
        } else {
            n = d.kernels.detect16(up, row, down, begin, end, d.threshold, h);
        }
    }
    // The mapped columns of this row, merged in column order with the test's (both ascending).
    const uint32_t* mapped = nullptr;
    const uint32_t* mappedEnd = nullptr;
    if (d.mapped != nullptr) {
        const size_t planeRow = static_cast<size_t>(d.originY + y);
        mapped = d.mapped->columns.data() + d.mapped->rowStart[planeRow];
        mappedEnd = d.mapped->columns.data() + d.mapped->rowStart[planeRow + 1];
        mapped = std::lower_bound(mapped, mappedEnd, static_cast<uint32_t>(d.originX + begin));
        mappedEnd = std::lower_bound(mapped, mappedEnd, static_cast<uint32_t>(d.originX + end));
    }
    int i = 0;
    while (i < n || mapped != mappedEnd) {
        int x;
        if (mapped == mappedEnd || (i < n && h[i] <= static_cast<int>(*mapped) - d.originX)) {
            x = h[i++];
            if (mapped != mappedEnd && x == static_cast<int>(*mapped) - d.originX) ++mapped;
        } else {
            x = static_cast<int>(*mapped++) - d.originX;
        }
        d.flags->Set(x, y);
        flagged.push_back(PlanePosition{x, y});
    }
}

bool HasDetectionRows(const ImageBuffer& frame) {
    return frame.Width() >= 9 && frame.Height() >= 9;
}

// Per-band memory of the vertical searches, one entry per column.
struct ColumnMemo {
    std::vector<int> lastRow;  // the row of the last flagged pixel replaced in the column
    std::vector<int> upRow;    // the nearest unflagged row above it (-1: none)
    std::vector<int> downRow;  // the first unflagged row below its run (height: none)
    void Reset(int width) {
        lastRow.assign(static_cast<size_t>(width), -2);
        upRow.assign(static_cast<size_t>(width), -1);
        downRow.assign(static_cast<size_t>(width), -1);
    }
};

// Replaces each listed pixel by the mean of the nearest unflagged pixel in each of the four
// directions. Unflagged pixels never change, so the bands can run at the same time (each
// writes only its own flagged pixels and reads only unflagged ones), and the nearest ones can
// be remembered along a run of flagged pixels instead of searched again: a flagged column or
// row costs one pass, not a search per pixel. Only the listed pixels are visited.
template <class T>
void Replace(ImageBuffer& frame, const FlagBits& flags, const std::vector<PlanePosition>& flagged,
             ColumnMemo& memo) {
    const int width = frame.Width();
    const int height = frame.Height();
    memo.Reset(width);
    int leftGood = -1;
    int rightGood = -1;
    int currentRow = -1;
    int previousX = -2;
    for (const PlanePosition& p : flagged) {
        const int x = p.x;
        const int y = p.y;
        T* row = reinterpret_cast<T*>(frame.Row(y));
        if (y != currentRow) {
            currentRow = y;
            rightGood = -1;
            previousX = -2;
        }
        // Left: the pixel just left of this one unless it is flagged too (then the one the
        // flagged run started from).
        if (previousX != x - 1) leftGood = x - 1;
        previousX = x;
        int sum = 0;
        int count = 0;
        if (leftGood >= 0) {
            sum += row[leftGood];
            ++count;
        }
        if (rightGood <= x) {
            rightGood = x + 1;
            while (rightGood < width && flags.Test(rightGood, y)) ++rightGood;
        }
        if (rightGood < width) {
            sum += row[rightGood];
            ++count;
        }
        const size_t cx = static_cast<size_t>(x);
        int up = y - 1;
        if (up >= 0 && flags.Test(x, up)) {
            if (memo.lastRow[cx] == y - 1) {
                up = memo.upRow[cx];
            } else {
                while (up >= 0 && flags.Test(x, up)) --up;
            }
        }
        memo.lastRow[cx] = y;
        memo.upRow[cx] = up;
        if (up >= 0) {
            sum += FrameRow<T>(frame, up)[x];
            ++count;
        }
        int& down = memo.downRow[cx];
        if (down <= y) {
            down = y + 1;
            while (down < height && flags.Test(x, down)) ++down;
        }
        if (down < height) {
            sum += FrameRow<T>(frame, down)[x];
            ++count;
        }
        if (count > 0) row[x] = static_cast<T>(sum / count);
    }
}

// The replacement done row by row right behind the detection, while the rows around are still
// in the cache. A pixel's neighbours left, right and above are final once its own row is tested;
// the one below is known once the run of flagged pixels under it ends in a tested row (or in a
// row the test never reaches). Pixels whose run goes on past the tested rows keep their partial
// sum and are finished at the end, in row order. Unflagged pixels never change, so the order of
// replacement does not matter and the result is Replace's.
// A pixel whose neighbour below is not known yet, with the sum of the others.
struct PendingPixel {
    int x;
    int y;
    int sum;
    int count;
};

// Memory the single-thread detection and replacement reuse from frame to frame, so a frame
// allocates nothing (fresh pages cost a fault each).
struct Scratch {
    FlagBits flags;
    std::vector<PlanePosition> flagged;
    std::vector<int32_t> hits;
    std::vector<size_t> rowStart;
    ColumnMemo memo;
    std::vector<PendingPixel> pending;
};
Scratch& ThreadScratch() {
    thread_local Scratch scratch;
    return scratch;
}

template <class T>
class RowReplacer {
public:
    RowReplacer(ImageBuffer& frame, const FlagBits& flags, Scratch& scratch)
        : frame_(frame),
          flags_(flags),
          width_(frame.Width()),
          height_(frame.Height()),
          memo_(scratch.memo),
          pending_(scratch.pending) {
        memo_.Reset(width_);
        pending_.clear();
    }

    // The flagged pixels [first, last) of one row, ascending; rows from `untested` down to the
    // last row the test reaches have no final flags yet.
    void Row(const PlanePosition* first, const PlanePosition* last, int untested) {
        int leftGood = -1;
        int rightGood = -1;
        int previousX = -2;
        const int lastTestedRow = height_ - 5;
        for (const PlanePosition* p = first; p != last; ++p) {
            const int x = p->x;
            const int y = p->y;
            T* row = reinterpret_cast<T*>(frame_.Row(y));
            if (previousX != x - 1) leftGood = x - 1;
            previousX = x;
            int sum = 0;
            int count = 0;
            if (leftGood >= 0) {
                sum += row[leftGood];
                ++count;
            }
            if (rightGood <= x) {
                rightGood = x + 1;
                while (rightGood < width_ && flags_.Test(rightGood, y)) ++rightGood;
            }
            if (rightGood < width_) {
                sum += row[rightGood];
                ++count;
            }
            const size_t cx = static_cast<size_t>(x);
            int up = y - 1;
            if (up >= 0 && flags_.Test(x, up)) {
                if (memo_.lastRow[cx] == y - 1) {
                    up = memo_.upRow[cx];
                } else {
                    while (up >= 0 && flags_.Test(x, up)) --up;
                }
            }
            memo_.lastRow[cx] = y;
            memo_.upRow[cx] = up;
            if (up >= 0) {
                sum += FrameRow<T>(frame_, up)[x];
                ++count;
            }
            // Rows the test has not reached yet have no final flags.
            auto final = [&](int r) { return r < untested || r > lastTestedRow; };
            int down = y + 1;
            while (down < height_ && final(down) && flags_.Test(x, down)) ++down;
            if (down < height_ && !final(down)) {
                pending_.push_back(PendingPixel{x, y, sum, count});
                continue;
            }
            if (down < height_) {
                sum += FrameRow<T>(frame_, down)[x];
                ++count;
            }
            if (count > 0) row[x] = static_cast<T>(sum / count);
        }
    }

    // The pixels whose run went past the tested rows, now that every flag is final.
    void Finish() {
        for (int& down : memo_.downRow) down = -1;
        for (const PendingPixel& p : pending_) {
            int& down = memo_.downRow[static_cast<size_t>(p.x)];
            if (down <= p.y) {
                down = p.y + 1;
                while (down < height_ && flags_.Test(p.x, down)) ++down;
            }
            int sum = p.sum;
            int count = p.count;
            if (down < height_) {
                sum += FrameRow<T>(frame_, down)[p.x];
                ++count;
            }
            if (count > 0) reinterpret_cast<T*>(frame_.Row(p.y))[p.x] = static_cast<T>(sum / count);
        }
        pending_.clear();
    }

private:
    ImageBuffer& frame_;
    const FlagBits& flags_;
    const int width_;
    const int height_;
    ColumnMemo& memo_;
    std::vector<PendingPixel>& pending_;
};

// How many rows the replacement follows the test: room for short vertical runs to end.
constexpr int kReplaceLag = 4;
// How many rows are readied for the test at a time.
constexpr int kReadyBlock = 16;

// Tests the detection rows of a frame one after the other, each right after `before(y)` has
// readied the rows it needs up to y, and replaces behind the test.
template <class T, class Before>
void DetectAndReplace(const Detection& d, ImageBuffer& frame, std::vector<PlanePosition>& flagged,
                      Before before) {
    const int height = frame.Height();
    Scratch& scratch = ThreadScratch();
    std::vector<int32_t>& hits = scratch.hits;
    hits.resize(static_cast<size_t>(frame.Width()) * 2);
    RowReplacer<T> replacer(frame, *d.flags, scratch);
    // Where each tested row's pixels start in `flagged`.
    std::vector<size_t>& rowStart = scratch.rowStart;
    rowStart.assign(static_cast<size_t>(height) + 1, flagged.size());
    const bool rows = HasDetectionRows(frame);
    const int firstTested = 4;
    const int lastTested = height - 5;
    auto replaceRow = [&](int r, int untested) {
        if (r < firstTested || r > lastTested) return;
        const PlanePosition* base = flagged.data();
        replacer.Row(base + rowStart[static_cast<size_t>(r)],
                     base + rowStart[static_cast<size_t>(r) + 1], untested);
    };
    // Rows are readied a block at a time, so that work streams through whole blocks of rows
    // (its own inputs too) instead of switching with the test at every row; a block still
    // fits the cache the test reads it from.
    int ready = 0;
    auto readyUpTo = [&](int rowsWanted) {
        if (ready >= rowsWanted) return;
        const int target = std::min(height, rowsWanted + kReadyBlock - 1);
        while (ready < target) before(ready++);
    };
    for (int tested = firstTested; rows && tested <= lastTested; ++tested) {
        readyUpTo(tested + 2);  // the row below it
        rowStart[static_cast<size_t>(tested)] = flagged.size();
        DetectRow<T>(d, tested, hits, flagged);
        rowStart[static_cast<size_t>(tested) + 1] = flagged.size();
        replaceRow(tested - kReplaceLag, tested + 1);
    }
    readyUpTo(height);
    if (!rows) return;
    for (int r = std::max(firstTested, lastTested - kReplaceLag + 1); r <= lastTested; ++r) {
        replaceRow(r, lastTested + 1);
    }
    replacer.Finish();
}

// The detection of a frame against its planes; false when the planes cannot serve it. The
// flags start cleared.
bool StartDetection(ImageBuffer& frame, MaskSet& masks, const MaskGeometry& geometry, int threshold,
                    Detection& d) {
    if (!frame.IsValid() || !masks.IsComplete()) return false;
    const int bits = frame.BitCount();
    if (bits != 8 && bits != 16) return false;
    if (frame.Width() > masks.Width() || frame.Height() > masks.Height()) return false;
    d.frame = &frame;
    d.flags = &ThreadScratch().flags;
    d.flags->Reset(frame.Width(), frame.Height());
    d.mapped = ReferenceOrigin(frame, masks, geometry, d.originX, d.originY)
                   ? &masks.MappedDefectsOf(bits)
                   : nullptr;
    d.threshold = threshold;
    d.kernels = DefectKernelsFor(ActiveSimdLevel());
    return true;
}

template <class T>
void ReplaceAll(ImageBuffer& frame, const FlagBits& flags,
                const std::vector<PlanePosition>& flagged) {
    ColumnMemo memo;
    Replace<T>(frame, flags, flagged, memo);
}

}  // namespace

DefectKernels DefectKernelsFor(SimdLevel level) {
#if LUMORA_X86_SIMD
    switch (level) {
        case SimdLevel::kAvx512:
            return {Detect8Avx512, Detect16Avx512};
        case SimdLevel::kAvx2:
            return {Detect8Avx2, Detect16Avx2};
        case SimdLevel::kSse2:
            return {Detect8Sse2, Detect16Sse2};
        case SimdLevel::kScalar:
            break;
    }
#else
    static_cast<void>(level);
#endif
    return {DetectPortable<uint8_t>, DetectPortable<uint16_t>};
}

int DefectThresholdFor(int bitCount, int significantBits) {
    if (bitCount != 16) return kDefectThreshold8;
    const int bits = std::clamp(significantBits, 8, 16);
    return bits >= 12 ? kDefectThreshold16 << (bits - 12) : kDefectThreshold16 >> (12 - bits);
}

bool DefectCorrect(ImageBuffer& frame, MaskSet& masks, const MaskGeometry& geometry, int threshold,
                   RowBandPool* pool) {
    Detection d;
    if (!StartDetection(frame, masks, geometry, threshold, d)) return false;
    const bool wide = frame.BitCount() == 16;
    if (!HasDetectionRows(frame)) {
        d.flags->Release(std::vector<PlanePosition>{});
        return true;
    }
    // The detection rows 4..height − 5 in bands; both passes use the same bands, so band i's
    // list holds the flagged pixels of its rows. The pool is handed band numbers, not rows.
    const int rows = frame.Height() - 8;
    const int bands = pool != nullptr ? std::clamp(rows / 64, 1, pool->Bands()) : 1;
    if (bands == 1) {
        std::vector<PlanePosition>& flagged = ThreadScratch().flagged;
        flagged.clear();
        if (wide) {
            DetectAndReplace<uint16_t>(d, frame, flagged, [](int) {});
        } else {
            DetectAndReplace<uint8_t>(d, frame, flagged, [](int) {});
        }
        d.flags->Release(flagged);
        return true;
    }
    const std::vector<int> starts = RowBandPool::Split(rows, bands, 1);
    std::vector<std::vector<PlanePosition>> flagged(static_cast<size_t>(bands));
    // Detection of all bands ends before any replacement starts: the replacement reads flags
    // of neighbouring rows.
    RunRowBands(
        pool, bands,
        [&](int firstBand, int lastBand) {
            std::vector<int32_t> hits(static_cast<size_t>(frame.Width()) * 2);
            for (int band = firstBand; band < lastBand; ++band) {
                std::vector<PlanePosition>& list = flagged[static_cast<size_t>(band)];
                const int a = 4 + starts[static_cast<size_t>(band)];
                const int b = 4 + starts[static_cast<size_t>(band) + 1];
                for (int y = a; y < b; ++y) {
                    if (wide) {
                        DetectRow<uint16_t>(d, y, hits, list);
                    } else {
                        DetectRow<uint8_t>(d, y, hits, list);
                    }
                }
            }
        },
        1);
    RunRowBands(
        pool, bands,
        [&](int firstBand, int lastBand) {
            for (int band = firstBand; band < lastBand; ++band) {
                const std::vector<PlanePosition>& list = flagged[static_cast<size_t>(band)];
                if (list.empty()) continue;
                if (wide) {
                    ReplaceAll<uint16_t>(frame, *d.flags, list);
                } else {
                    ReplaceAll<uint8_t>(frame, *d.flags, list);
                }
            }
        },
        1);
    for (const std::vector<PlanePosition>& list : flagged) d.flags->Release(list);
    return true;
}

bool FlatFieldAndDefectCorrect(ImageBuffer& frame, MaskSet& masks, const MaskGeometry& geometry,
                               int flattenedThreshold, int rawThreshold, const uint8_t* from) {
    FlatFieldRows flat;
    if (!flat.Bind(frame, masks, geometry, from)) {
        CopyArrivedFrame(frame, from);
        DefectCorrect(frame, masks, geometry, rawThreshold);
        return false;
    }
    Detection d;
    if (!StartDetection(frame, masks, geometry, flattenedThreshold, d)) {
        for (int y = 0; y < frame.Height(); ++y) flat.Run(y);
        return true;
    }
    std::vector<PlanePosition>& flagged = ThreadScratch().flagged;
    flagged.clear();
    if (frame.BitCount() == 16) {
        DetectAndReplace<uint16_t>(d, frame, flagged, [&](int y) { flat.Run(y); });
    } else {
        DetectAndReplace<uint8_t>(d, frame, flagged, [&](int y) { flat.Run(y); });
    }
    d.flags->Release(flagged);
    return true;
}

}  // namespace lumora
