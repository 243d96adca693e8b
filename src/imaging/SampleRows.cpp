#include "imaging/SampleRows.h"

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

#if LUMORA_X86_SIMD

// ---- SSE2 -----------------------------------------------------------------------------------
// Sixteen samples a step: shifted, limited to 255 (for the top bytes: x − sat(x − 255)) or
// masked to the low byte, then packed.

template <bool kSaturate>
void Reduce16Sse2(uint8_t* out, const uint16_t* in, int n, int shift) {
    const __m128i count = _mm_cvtsi32_si128(shift);
    const __m128i byteMax = _mm_set1_epi16(255);
    auto reduce = [&](__m128i v) {
        v = _mm_srl_epi16(v, count);
        return kSaturate ? _mm_sub_epi16(v, _mm_subs_epu16(v, byteMax)) : _mm_and_si128(v, byteMax);
    };
    int i = 0;
    for (; i + 16 <= n; i += 16) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i + 8));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i),
                         _mm_packus_epi16(reduce(a), reduce(b)));
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

// ---- AVX2 -----------------------------------------------------------------------------------

template <bool kSaturate>
LUMORA_TARGET_AVX2 inline __m256i Reduce16Avx2(__m256i v, __m128i count) {
    v = _mm256_srl_epi16(v, count);
    return kSaturate ? _mm256_min_epu16(v, _mm256_set1_epi16(255))
                     : _mm256_and_si256(v, _mm256_set1_epi16(255));
}

template <bool kSaturate>
LUMORA_TARGET_AVX2 void Reduce16RowAvx2(uint8_t* out, const uint16_t* in, int n, int shift) {
    const __m128i count = _mm_cvtsi32_si128(shift);
    int i = 0;
    for (; i + 32 <= n; i += 32) {
        const __m256i a = Reduce16Avx2<kSaturate>(
            _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + i)), count);
        const __m256i b = Reduce16Avx2<kSaturate>(
            _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + i + 16)), count);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + i),
                            _mm256_permute4x64_epi64(_mm256_packus_epi16(a, b), 0xD8));
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

// Sixteen gray bytes to 48 bytes of blue, green, red: three byte shuffles of one vector.
LUMORA_TARGET_AVX2 void GrayToBgrAvx2(uint8_t* out, const uint8_t* in, int n) {
    const __m128i first = _mm_setr_epi8(0, 0, 0, 1, 1, 1, 2, 2, 2, 3, 3, 3, 4, 4, 4, 5);
    const __m128i second = _mm_setr_epi8(5, 5, 6, 6, 6, 7, 7, 7, 8, 8, 8, 9, 9, 9, 10, 10);
    const __m128i third =
        _mm_setr_epi8(10, 11, 11, 11, 12, 12, 12, 13, 13, 13, 14, 14, 14, 15, 15, 15);
    int i = 0;
    for (; i + 16 <= n; i += 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i));
        auto* o = reinterpret_cast<__m128i*>(out + 3 * i);
        _mm_storeu_si128(o, _mm_shuffle_epi8(v, first));
        _mm_storeu_si128(o + 1, _mm_shuffle_epi8(v, second));
        _mm_storeu_si128(o + 2, _mm_shuffle_epi8(v, third));
    }
    GrayToBgrPortable(out + 3 * i, in + i, n - i);
}

// ---- AVX-512 --------------------------------------------------------------------------------

template <bool kSaturate>
LUMORA_TARGET_AVX512 void Reduce16RowAvx512(uint8_t* out, const uint16_t* in, int n, int shift) {
    const __m128i count = _mm_cvtsi32_si128(shift);
    const __m512i byteMax = _mm512_set1_epi16(255);
    int i = 0;
    for (; i + 32 <= n; i += 32) {
        __m512i v = _mm512_srl_epi16(_mm512_loadu_si512(in + i), count);
        v = kSaturate ? _mm512_min_epu16(v, byteMax) : _mm512_and_si512(v, byteMax);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + i), _mm512_cvtepi16_epi8(v));
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

// 64 gray bytes to 192 bytes of blue, green, red: three permutes across the whole vector.
LUMORA_TARGET_AVX512VBMI void GrayToBgrVbmi(uint8_t* out, const uint8_t* in, int n) {
    alignas(64) uint8_t order[3][64];
    for (int k = 0; k < 3; ++k) {
        for (int j = 0; j < 64; ++j) order[k][j] = static_cast<uint8_t>((64 * k + j) / 3);
    }
    const __m512i first = _mm512_load_si512(order[0]);
    const __m512i second = _mm512_load_si512(order[1]);
    const __m512i third = _mm512_load_si512(order[2]);
    int i = 0;
    for (; i + 64 <= n; i += 64) {
        const __m512i v = _mm512_loadu_si512(in + i);
        uint8_t* o = out + 3 * i;
        _mm512_storeu_si512(o, _mm512_permutexvar_epi8(first, v));
        _mm512_storeu_si512(o + 64, _mm512_permutexvar_epi8(second, v));
        _mm512_storeu_si512(o + 128, _mm512_permutexvar_epi8(third, v));
    }
    GrayToBgrAvx2(out + 3 * i, in + i, n - i);
}

#endif  // LUMORA_X86_SIMD

}  // namespace

SampleRowKernels SampleRowKernelsFor(SimdLevel level) {
#if LUMORA_X86_SIMD
    switch (level) {
        case SimdLevel::kAvx512:
            return {TopBytesAvx512, LowBytesAvx512,
                    DetectedAvx512Vbmi() ? GrayToBgrVbmi : GrayToBgrAvx2};
        case SimdLevel::kAvx2:
            return {TopBytesAvx2, LowBytesAvx2, GrayToBgrAvx2};
        case SimdLevel::kSse2:
            return {TopBytesSse2, LowBytesSse2, GrayToBgrPortable};
        case SimdLevel::kScalar:
            break;
    }
#else
    static_cast<void>(level);
#endif
    return {TopBytesPortable, LowBytesPortable, GrayToBgrPortable};
}

}  // namespace lumora
