#include "imaging/SampleRows.h"

#include <algorithm>
#include <cstdint>

#include "platform/SimdTargets.h"

namespace lumora {

namespace {

void TopBytesPortable(uint8_t* out, const uint16_t* in, int n, int shift) {
    for (int i = 0; i < n; ++i) {
        const unsigned top = static_cast<unsigned>(in[i]) >> shift;
        out[i] = static_cast<uint8_t>(top > 255 ? 255 : top);
    }
}

void LowBytesPortable(uint8_t* out, const uint16_t* in, int n, int shift) {
    for (int i = 0; i < n; ++i) out[i] = static_cast<uint8_t>(in[i] >> shift);
}

void GrayToBgrPortable(uint8_t* out, const uint8_t* in, int n) {
    for (int i = 0; i < n; ++i) out[3 * i] = out[3 * i + 1] = out[3 * i + 2] = in[i];
}

void TopBytesToBgrPortable(uint8_t* out, const uint16_t* in, int n, int shift) {
    for (int i = 0; i < n; ++i) {
        const unsigned top = static_cast<unsigned>(in[i]) >> shift;
        out[3 * i] = out[3 * i + 1] = out[3 * i + 2] = static_cast<uint8_t>(top > 255 ? 255 : top);
    }
}

#if LUMORA_X86_SIMD

// How many of n pixels of `bytes` bytes each are written plainly before `out` reaches a cache
// line boundary, where streamed stores start. 3 × 43 = 129 = 1 (mod 64), so a gap of g bytes
// takes (43 g mod 64) three-byte pixels.
int PixelsBeforeLine(const uint8_t* out, int bytes, int n) {
    const unsigned gap = (64u - (reinterpret_cast<uintptr_t>(out) & 63u)) & 63u;
    const unsigned pixels = bytes == 1 ? gap : (gap * 43u) & 63u;
    return std::min(static_cast<int>(pixels), n);
}

// Where a streamed run of bytes starts: one whole line after the first boundary. Measured on the
// machine these kernels were tuned on, rows streamed from their first line on ran a third slower
// than rows that begin with one plainly written line.
int BytesBeforeStreaming(const uint8_t* out, int n) {
    return std::min(PixelsBeforeLine(out, 1, n) + 64, n);
}

// The streamed kernels ask for their source a kilobyte ahead (ReadAhead).

// ---- SSE2 -----------------------------------------------------------------------------------
// Sixteen samples a step: shifted, limited to 255 (for the top bytes: x − sat(x − 255)) or
// masked to the low byte, then packed.

template <bool kSaturate, bool kStream = false>
void Reduce16Sse2(uint8_t* out, const uint16_t* in, int n, int shift) {
    const __m128i count = _mm_cvtsi32_si128(shift);
    const __m128i byteMax = _mm_set1_epi16(255);
    auto reduce = [&](__m128i v) {
        v = _mm_srl_epi16(v, count);
        return kSaturate ? _mm_sub_epi16(v, _mm_subs_epu16(v, byteMax)) : _mm_and_si128(v, byteMax);
    };
    int i = 0;
    if (kStream) {
        i = BytesBeforeStreaming(out, n);
        Reduce16Sse2<kSaturate>(out, in, i, shift);
    }
    for (; i + 16 <= n; i += 16) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i + 8));
        auto* o = reinterpret_cast<__m128i*>(out + i);
        const __m128i bytes = _mm_packus_epi16(reduce(a), reduce(b));
        if (kStream) {
            ReadAhead<1024>(in + i);
            _mm_stream_si128(o, bytes);
        } else {
            _mm_storeu_si128(o, bytes);
        }
    }
    if (kSaturate) {
        TopBytesPortable(out + i, in + i, n - i, shift);
    } else {
        LowBytesPortable(out + i, in + i, n - i, shift);
    }
}

void TopBytesSse2(uint8_t* out, const uint16_t* in, int n, int shift) {
    Reduce16Sse2<true>(out, in, n, shift);
}
void LowBytesSse2(uint8_t* out, const uint16_t* in, int n, int shift) {
    Reduce16Sse2<false>(out, in, n, shift);
}
void LowBytesStreamedSse2(uint8_t* out, const uint16_t* in, int n, int shift) {
    Reduce16Sse2<false, true>(out, in, n, shift);
}

// ---- AVX2 -----------------------------------------------------------------------------------

template <bool kSaturate>
LUMORA_TARGET_AVX2 inline __m256i Reduce16Avx2(__m256i v, __m128i count) {
    v = _mm256_srl_epi16(v, count);
    return kSaturate ? _mm256_min_epu16(v, _mm256_set1_epi16(255))
                     : _mm256_and_si256(v, _mm256_set1_epi16(255));
}

// 32 samples reduced to 32 bytes in order.
template <bool kSaturate>
LUMORA_TARGET_AVX2 inline __m256i Reduce32Avx2(const uint16_t* in, __m128i count) {
    const __m256i a =
        Reduce16Avx2<kSaturate>(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(in)), count);
    const __m256i b = Reduce16Avx2<kSaturate>(
        _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + 16)), count);
    return _mm256_permute4x64_epi64(_mm256_packus_epi16(a, b), 0xD8);
}

template <bool kSaturate, bool kStream = false>
LUMORA_TARGET_AVX2 void Reduce16RowAvx2(uint8_t* out, const uint16_t* in, int n, int shift) {
    const __m128i count = _mm_cvtsi32_si128(shift);
    int i = 0;
    if (kStream) {
        i = BytesBeforeStreaming(out, n);
        Reduce16RowAvx2<kSaturate>(out, in, i, shift);
    }
    for (; i + 32 <= n; i += 32) {
        auto* o = reinterpret_cast<__m256i*>(out + i);
        if (kStream) {
            ReadAhead<1024>(in + i);
            _mm256_stream_si256(o, Reduce32Avx2<kSaturate>(in + i, count));
        } else {
            _mm256_storeu_si256(o, Reduce32Avx2<kSaturate>(in + i, count));
        }
    }
    if (kSaturate) {
        TopBytesSse2(out + i, in + i, n - i, shift);
    } else {
        LowBytesSse2(out + i, in + i, n - i, shift);
    }
}

LUMORA_TARGET_AVX2 void TopBytesAvx2(uint8_t* out, const uint16_t* in, int n, int shift) {
    Reduce16RowAvx2<true>(out, in, n, shift);
}
LUMORA_TARGET_AVX2 void LowBytesAvx2(uint8_t* out, const uint16_t* in, int n, int shift) {
    Reduce16RowAvx2<false>(out, in, n, shift);
}
LUMORA_TARGET_AVX2 void LowBytesStreamedAvx2(uint8_t* out, const uint16_t* in, int n, int shift) {
    Reduce16RowAvx2<false, true>(out, in, n, shift);
}

// Sixteen gray bytes to 48 bytes of blue, green, red: three byte shuffles of one vector.
template <bool kStream>
LUMORA_TARGET_AVX2 inline void GrayToBgr16Avx2(uint8_t* out, __m128i v) {
    const __m128i first = _mm_setr_epi8(0, 0, 0, 1, 1, 1, 2, 2, 2, 3, 3, 3, 4, 4, 4, 5);
    const __m128i second = _mm_setr_epi8(5, 5, 6, 6, 6, 7, 7, 7, 8, 8, 8, 9, 9, 9, 10, 10);
    const __m128i third =
        _mm_setr_epi8(10, 11, 11, 11, 12, 12, 12, 13, 13, 13, 14, 14, 14, 15, 15, 15);
    auto* o = reinterpret_cast<__m128i*>(out);
    if (kStream) {
        _mm_stream_si128(o, _mm_shuffle_epi8(v, first));
        _mm_stream_si128(o + 1, _mm_shuffle_epi8(v, second));
        _mm_stream_si128(o + 2, _mm_shuffle_epi8(v, third));
    } else {
        _mm_storeu_si128(o, _mm_shuffle_epi8(v, first));
        _mm_storeu_si128(o + 1, _mm_shuffle_epi8(v, second));
        _mm_storeu_si128(o + 2, _mm_shuffle_epi8(v, third));
    }
}

// 32 gray bytes to 96 bytes of blue, green, red in three 256-bit stores. A byte shuffle stays
// in its 128-bit lane, so store k takes both lanes from one 16-byte window of the source, at
// pixel 8 k, repeated in each.
struct BgrLanes {
    __m256i order[3];
};
LUMORA_TARGET_AVX2 inline BgrLanes BgrLanesAvx2() {
    alignas(32) uint8_t order[3][32];
    for (int k = 0; k < 3; ++k) {
        for (int j = 0; j < 32; ++j) order[k][j] = static_cast<uint8_t>((32 * k + j) / 3 - 8 * k);
    }
    return {{_mm256_load_si256(reinterpret_cast<const __m256i*>(order[0])),
             _mm256_load_si256(reinterpret_cast<const __m256i*>(order[1])),
             _mm256_load_si256(reinterpret_cast<const __m256i*>(order[2]))}};
}

template <bool kStream = false>
LUMORA_TARGET_AVX2 void GrayToBgrAvx2(uint8_t* out, const uint8_t* in, int n) {
    int i = 0;
    if (kStream) {
        i = PixelsBeforeLine(out, 3, n);
        GrayToBgrAvx2(out, in, i);
    }
    const BgrLanes lanes = BgrLanesAvx2();
    for (; i + 32 <= n; i += 32) {
        if (kStream) ReadAhead<1024>(in + i);
        for (int k = 0; k < 3; ++k) {
            const __m256i v = _mm256_broadcastsi128_si256(
                _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i + 8 * k)));
            auto* o = reinterpret_cast<__m256i*>(out + 3 * i + 32 * k);
            if (kStream) {
                _mm256_stream_si256(o, _mm256_shuffle_epi8(v, lanes.order[k]));
            } else {
                _mm256_storeu_si256(o, _mm256_shuffle_epi8(v, lanes.order[k]));
            }
        }
    }
    for (; i + 16 <= n; i += 16) {
        if (kStream) ReadAhead<1024>(in + i);
        GrayToBgr16Avx2<kStream>(out + 3 * i,
                                 _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i)));
    }
    GrayToBgrPortable(out + 3 * i, in + i, n - i);
}
LUMORA_TARGET_AVX2 void GrayToBgrStreamedAvx2(uint8_t* out, const uint8_t* in, int n) {
    GrayToBgrAvx2<true>(out, in, n);
}

// 32 samples to their top bytes, then to 96 bytes of blue, green, red.
LUMORA_TARGET_AVX2 void TopBytesToBgrStreamedAvx2(uint8_t* out, const uint16_t* in, int n,
                                                  int shift) {
    int i = PixelsBeforeLine(out, 3, n);
    TopBytesToBgrPortable(out, in, i, shift);
    const __m128i count = _mm_cvtsi32_si128(shift);
    for (; i + 32 <= n; i += 32) {
        ReadAhead<1024>(in + i);
        const __m256i gray = Reduce32Avx2<true>(in + i, count);
        GrayToBgr16Avx2<true>(out + 3 * i, _mm256_castsi256_si128(gray));
        GrayToBgr16Avx2<true>(out + 3 * i + 48, _mm256_extracti128_si256(gray, 1));
    }
    TopBytesToBgrPortable(out + 3 * i, in + i, n - i, shift);
}

// ---- AVX-512 --------------------------------------------------------------------------------

template <bool kSaturate, bool kStream = false>
LUMORA_TARGET_AVX512 void Reduce16RowAvx512(uint8_t* out, const uint16_t* in, int n, int shift) {
    const __m128i count = _mm_cvtsi32_si128(shift);
    const __m512i byteMax = _mm512_set1_epi16(255);
    int i = 0;
    if (kStream) {
        i = BytesBeforeStreaming(out, n);
        Reduce16RowAvx512<kSaturate>(out, in, i, shift);
    }
    auto reduce = [&](const uint16_t* at) LUMORA_TARGET_AVX512 {
        const __m512i v = _mm512_srl_epi16(_mm512_loadu_si512(at), count);
        return _mm512_cvtepi16_epi8(kSaturate ? _mm512_min_epu16(v, byteMax)
                                              : _mm512_and_si512(v, byteMax));
    };
    if (kStream) {
        // Whole cache lines a store; both source lines of a step asked for ahead (without,
        // a cold frame took 1.3 times as long on a server core).
        for (; i + 64 <= n; i += 64) {
            ReadAhead<1024>(in + i);
            ReadAhead<1024>(in + i + 32);
            _mm512_stream_si512(
                reinterpret_cast<__m512i*>(out + i),
                _mm512_inserti64x4(_mm512_castsi256_si512(reduce(in + i)), reduce(in + i + 32), 1));
        }
    }
    for (; i + 32 <= n; i += 32) {
        __m512i v = _mm512_srl_epi16(_mm512_loadu_si512(in + i), count);
        v = kSaturate ? _mm512_min_epu16(v, byteMax) : _mm512_and_si512(v, byteMax);
        auto* o = reinterpret_cast<__m256i*>(out + i);
        if (kStream) {
            _mm256_stream_si256(o, _mm512_cvtepi16_epi8(v));
        } else {
            _mm256_storeu_si256(o, _mm512_cvtepi16_epi8(v));
        }
    }
    if (kSaturate) {
        TopBytesSse2(out + i, in + i, n - i, shift);
    } else {
        LowBytesSse2(out + i, in + i, n - i, shift);
    }
}

LUMORA_TARGET_AVX512 void TopBytesAvx512(uint8_t* out, const uint16_t* in, int n, int shift) {
    Reduce16RowAvx512<true>(out, in, n, shift);
}
LUMORA_TARGET_AVX512 void LowBytesAvx512(uint8_t* out, const uint16_t* in, int n, int shift) {
    Reduce16RowAvx512<false>(out, in, n, shift);
}
LUMORA_TARGET_AVX512 void LowBytesStreamedAvx512(uint8_t* out, const uint16_t* in, int n,
                                                 int shift) {
    Reduce16RowAvx512<false, true>(out, in, n, shift);
}

// Where output byte j of a run of blue, green, red comes from: pixel (64 k + j) / 3, as a
// byte index (step `scale`) into one vector or, past 63, into the one that follows it.
struct BgrOrder {
    __m512i part[3];
};
LUMORA_TARGET_AVX512VBMI inline BgrOrder BgrOrderVbmi(int scale) {
    alignas(64) uint8_t order[3][64];
    for (int k = 0; k < 3; ++k) {
        for (int j = 0; j < 64; ++j) order[k][j] = static_cast<uint8_t>(scale * ((64 * k + j) / 3));
    }
    return {
        {_mm512_load_si512(order[0]), _mm512_load_si512(order[1]), _mm512_load_si512(order[2])}};
}

template <bool kStream>
LUMORA_TARGET_AVX512VBMI inline void Store64(uint8_t* out, __m512i v) {
    if (kStream) {
        _mm512_stream_si512(reinterpret_cast<__m512i*>(out), v);
    } else {
        _mm512_storeu_si512(out, v);
    }
}

// 64 gray bytes to 192 bytes of blue, green, red: three permutes across the whole vector.
template <bool kStream = false>
LUMORA_TARGET_AVX512VBMI void GrayToBgrVbmi(uint8_t* out, const uint8_t* in, int n) {
    const BgrOrder order = BgrOrderVbmi(1);
    int i = 0;
    if (kStream) {
        i = PixelsBeforeLine(out, 3, n);
        GrayToBgrAvx2(out, in, i);
    }
    for (; i + 64 <= n; i += 64) {
        if (kStream) ReadAhead<1024>(in + i);
        const __m512i v = _mm512_loadu_si512(in + i);
        uint8_t* o = out + 3 * i;
        Store64<kStream>(o, _mm512_permutexvar_epi8(order.part[0], v));
        Store64<kStream>(o + 64, _mm512_permutexvar_epi8(order.part[1], v));
        Store64<kStream>(o + 128, _mm512_permutexvar_epi8(order.part[2], v));
    }
    GrayToBgrAvx2(out + 3 * i, in + i, n - i);
}
LUMORA_TARGET_AVX512VBMI void GrayToBgrStreamedVbmi(uint8_t* out, const uint8_t* in, int n) {
    GrayToBgrVbmi<true>(out, in, n);
}

// 64 samples to their top bytes in two vectors of words, whose low bytes three two-source
// permutes spread into 192 bytes of blue, green, red.
LUMORA_TARGET_AVX512VBMI void TopBytesToBgrStreamedVbmi(uint8_t* out, const uint16_t* in, int n,
                                                        int shift) {
    const BgrOrder order = BgrOrderVbmi(2);
    const __m128i count = _mm_cvtsi32_si128(shift);
    const __m512i byteMax = _mm512_set1_epi16(255);
    int i = PixelsBeforeLine(out, 3, n);
    TopBytesToBgrPortable(out, in, i, shift);
    for (; i + 64 <= n; i += 64) {
        ReadAhead<1024>(in + i);
        ReadAhead<1024>(in + i + 32);
        const __m512i a =
            _mm512_min_epu16(_mm512_srl_epi16(_mm512_loadu_si512(in + i), count), byteMax);
        const __m512i b =
            _mm512_min_epu16(_mm512_srl_epi16(_mm512_loadu_si512(in + i + 32), count), byteMax);
        uint8_t* o = out + 3 * i;
        Store64<true>(o, _mm512_permutex2var_epi8(a, order.part[0], b));
        Store64<true>(o + 64, _mm512_permutex2var_epi8(a, order.part[1], b));
        Store64<true>(o + 128, _mm512_permutex2var_epi8(a, order.part[2], b));
    }
    TopBytesToBgrPortable(out + 3 * i, in + i, n - i, shift);
}

#endif  // LUMORA_X86_SIMD

}  // namespace

SampleRowKernels SampleRowKernelsFor(SimdLevel level) {
#if LUMORA_X86_SIMD
    switch (level) {
        case SimdLevel::kAvx512:
            if (DetectedAvx512Vbmi()) {
                return {TopBytesAvx512,         LowBytesAvx512,        GrayToBgrVbmi<>,
                        LowBytesStreamedAvx512, GrayToBgrStreamedVbmi, TopBytesToBgrStreamedVbmi};
            }
            return {TopBytesAvx512,         LowBytesAvx512,        GrayToBgrAvx2<>,
                    LowBytesStreamedAvx512, GrayToBgrStreamedAvx2, TopBytesToBgrStreamedAvx2};
        case SimdLevel::kAvx2:
            return {TopBytesAvx2,         LowBytesAvx2,          GrayToBgrAvx2<>,
                    LowBytesStreamedAvx2, GrayToBgrStreamedAvx2, TopBytesToBgrStreamedAvx2};
        case SimdLevel::kSse2:
            // Without byte shuffles the gray expansion stays portable.
            return {TopBytesSse2,         LowBytesSse2,      GrayToBgrPortable,
                    LowBytesStreamedSse2, GrayToBgrPortable, TopBytesToBgrPortable};
        case SimdLevel::kScalar:
            break;
    }
#else
    static_cast<void>(level);
#endif
    return {TopBytesPortable, LowBytesPortable,  GrayToBgrPortable,
            LowBytesPortable, GrayToBgrPortable, TopBytesToBgrPortable};
}

}  // namespace lumora
