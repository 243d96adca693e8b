#include "platform/WindowPixels.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "platform/SimdLevel.h"
#include "platform/SimdTargets.h"

namespace lumora::platform {

bool IsGrayPalette(const uint8_t* palette) {
    for (int i = 0; i < 256; ++i) {
        const uint8_t* entry = palette + 4 * i;
        if (entry[0] != i || entry[1] != i || entry[2] != i) return false;
    }
    return true;
}

namespace {

void ExpandGrayPortable(uint32_t* dst, const uint8_t* src, int count) {
    for (int x = 0; x < count; ++x) dst[x] = uint32_t{src[x]} * 0x010101u;
}

void CopyGrayPortable(uint8_t* dst, const uint8_t* src, int count) {
    std::memcpy(dst, src, static_cast<size_t>(count));
}

#if LUMORA_X86_SIMD

// Rows this long belong to pictures far larger than the caches, read next by the display
// server: written past the caches, they need no read of the old contents. The words up to the
// first aligned one are written plainly. Returns how many pixels that took.
int AlignForStreaming(uint32_t* dst, const uint8_t* src, int count, uintptr_t alignment) {
    int x = 0;
    for (; x < count && (reinterpret_cast<uintptr_t>(dst + x) & (alignment - 1)) != 0; ++x) {
        dst[x] = uint32_t{src[x]} * 0x010101u;
    }
    return x;
}

// Streamed rows ask for their source a kilobyte ahead (ReadAhead).

// The copy of a long row: the bytes up to the first aligned vector plainly, whole vectors
// streamed, the rest plainly.
int AlignBytesForStreaming(uint8_t* dst, const uint8_t* src, int count, uintptr_t alignment) {
    const auto misplaced = static_cast<int>(reinterpret_cast<uintptr_t>(dst) & (alignment - 1));
    const int head = std::min(count, misplaced == 0 ? 0 : static_cast<int>(alignment) - misplaced);
    std::memcpy(dst, src, static_cast<size_t>(head));
    return head;
}

void CopyGraySse2(uint8_t* dst, const uint8_t* src, int count) {
    int x = 0;
    if (count >= kStreamingRow) {
        for (x = AlignBytesForStreaming(dst, src, count, 16); x + 64 <= count; x += 64) {
            ReadAhead<1024>(src + x);
            for (int q = 0; q < 64; q += 16) {
                _mm_stream_si128(reinterpret_cast<__m128i*>(dst + x + q),
                                 _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + x + q)));
            }
        }
    }
    std::memcpy(dst + x, src + x, static_cast<size_t>(count - x));
}

LUMORA_TARGET_AVX512 void CopyGrayAvx512(uint8_t* dst, const uint8_t* src, int count) {
    int x = 0;
    if (count >= kStreamingRow) {
        for (x = AlignBytesForStreaming(dst, src, count, 64); x + 64 <= count; x += 64) {
            ReadAhead<1024>(src + x);
            _mm512_stream_si512(reinterpret_cast<__m512i*>(dst + x), _mm512_loadu_si512(src + x));
        }
    }
    std::memcpy(dst + x, src + x, static_cast<size_t>(count - x));
}

// Interleaving a vector with itself twice repeats each byte four times; the top byte of each
// word is then cleared.
void ExpandGraySse2(uint32_t* dst, const uint8_t* src, int count) {
    const __m128i lowThree = _mm_set1_epi32(0x00FFFFFF);
    auto expand = [&](int at, auto store) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + at));
        const __m128i lo = _mm_unpacklo_epi8(v, v);
        const __m128i hi = _mm_unpackhi_epi8(v, v);
        auto* out = reinterpret_cast<__m128i*>(dst + at);
        store(out, _mm_and_si128(_mm_unpacklo_epi16(lo, lo), lowThree));
        store(out + 1, _mm_and_si128(_mm_unpackhi_epi16(lo, lo), lowThree));
        store(out + 2, _mm_and_si128(_mm_unpacklo_epi16(hi, hi), lowThree));
        store(out + 3, _mm_and_si128(_mm_unpackhi_epi16(hi, hi), lowThree));
    };
    int x = 0;
    if (count >= kStreamingRow) {
        x = AlignForStreaming(dst, src, count, 16);
        for (; x + 16 <= count; x += 16) {
            ReadAhead<1024>(src + x);
            expand(x, [](__m128i* p, __m128i v) { _mm_stream_si128(p, v); });
        }
    }
    for (; x + 16 <= count; x += 16) {
        expand(x, [](__m128i* p, __m128i v) { _mm_storeu_si128(p, v); });
    }
    ExpandGrayPortable(dst + x, src + x, count - x);
}

// Sixteen gray bytes repeated in each 128-bit lane; one byte shuffle a lane then picks four
// pixels from them, three copies of each and a zero.
inline __m128i GrayWordsOrder(int first) {
    const auto a = static_cast<char>(first);
    const auto b = static_cast<char>(first + 1);
    const auto c = static_cast<char>(first + 2);
    const auto d = static_cast<char>(first + 3);
    const auto z = static_cast<char>(0x80);
    return _mm_setr_epi8(a, a, a, z, b, b, b, z, c, c, c, z, d, d, d, z);
}

template <bool kStream>
LUMORA_TARGET_AVX2 int ExpandGrayRunAvx2(uint32_t* dst, const uint8_t* src, int x, int count) {
    const __m256i low = _mm256_setr_m128i(GrayWordsOrder(0), GrayWordsOrder(4));
    const __m256i high = _mm256_setr_m128i(GrayWordsOrder(8), GrayWordsOrder(12));
    auto sixteen = [&](int at) LUMORA_TARGET_AVX2 {
        const __m256i v = _mm256_broadcastsi128_si256(
            _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + at)));
        auto* out = reinterpret_cast<__m256i*>(dst + at);
        if (kStream) {
            _mm256_stream_si256(out, _mm256_shuffle_epi8(v, low));
            _mm256_stream_si256(out + 1, _mm256_shuffle_epi8(v, high));
        } else {
            _mm256_storeu_si256(out, _mm256_shuffle_epi8(v, low));
            _mm256_storeu_si256(out + 1, _mm256_shuffle_epi8(v, high));
        }
    };
    // Two sources of sixteen pixels a step, then one.
    for (; x + 32 <= count; x += 32) {
        if (kStream) ReadAhead<1024>(src + x);
        sixteen(x);
        sixteen(x + 16);
    }
    for (; x + 16 <= count; x += 16) sixteen(x);
    return x;
}

LUMORA_TARGET_AVX2 void ExpandGrayAvx2(uint32_t* dst, const uint8_t* src, int count) {
    int x = 0;
    if (count >= kStreamingRow) {
        x = ExpandGrayRunAvx2<true>(dst, src, AlignForStreaming(dst, src, count, 32), count);
    }
    x = ExpandGrayRunAvx2<false>(dst, src, x, count);
    ExpandGrayPortable(dst + x, src + x, count - x);
}

// The same with four lanes: one shuffle makes sixteen pixels.
template <bool kStream>
LUMORA_TARGET_AVX512 int ExpandGrayRunAvx512(uint32_t* dst, const uint8_t* src, int x, int count) {
    const __m512i order = _mm512_inserti64x4(
        _mm512_castsi256_si512(_mm256_setr_m128i(GrayWordsOrder(0), GrayWordsOrder(4))),
        _mm256_setr_m128i(GrayWordsOrder(8), GrayWordsOrder(12)), 1);
    auto sixteen = [&](int at) LUMORA_TARGET_AVX512 {
        const __m512i v = _mm512_shuffle_epi8(
            _mm512_broadcast_i32x4(_mm_loadu_si128(reinterpret_cast<const __m128i*>(src + at))),
            order);
        if (kStream) {
            _mm512_stream_si512(reinterpret_cast<__m512i*>(dst + at), v);
        } else {
            _mm512_storeu_si512(dst + at, v);
        }
    };
    // One line of the source a step, then sixteen pixels a step.
    for (; x + 64 <= count; x += 64) {
        if (kStream) ReadAhead<1024>(src + x);
        for (int q = 0; q < 64; q += 16) sixteen(x + q);
    }
    for (; x + 16 <= count; x += 16) sixteen(x);
    return x;
}

LUMORA_TARGET_AVX512 void ExpandGrayAvx512(uint32_t* dst, const uint8_t* src, int count) {
    int x = 0;
    if (count >= kStreamingRow) {
        x = ExpandGrayRunAvx512<true>(dst, src, AlignForStreaming(dst, src, count, 64), count);
    }
    x = ExpandGrayRunAvx512<false>(dst, src, x, count);
    ExpandGrayPortable(dst + x, src + x, count - x);
}

template <typename Pixel>
using RowKernel = void (*)(Pixel* dst, const uint8_t* src, int count);

// The variant of the vector level in force.
template <typename Pixel>
RowKernel<Pixel> AtActiveLevel(RowKernel<Pixel> avx512, RowKernel<Pixel> avx2,
                               RowKernel<Pixel> sse2, RowKernel<Pixel> portable) {
    switch (ActiveSimdLevel()) {
        case SimdLevel::kAvx512:
            return avx512;
        case SimdLevel::kAvx2:
            return avx2;
        case SimdLevel::kSse2:
            return sse2;
        case SimdLevel::kScalar:
            break;
    }
    return portable;
}

#endif  // LUMORA_X86_SIMD

}  // namespace

void CopyGrayRow(uint8_t* dst, const uint8_t* src, int count) {
    if (count <= 0) return;
#if LUMORA_X86_SIMD
    // A copy is bound by memory: 16-byte streamed stores are as fast as 32-byte ones.
    AtActiveLevel<uint8_t>(CopyGrayAvx512, CopyGraySse2, CopyGraySse2, CopyGrayPortable)(dst, src,
                                                                                         count);
#else
    CopyGrayPortable(dst, src, count);
#endif
}

void ExpandGrayRow(uint32_t* dst, const uint8_t* src, int count) {
#if LUMORA_X86_SIMD
    AtActiveLevel<uint32_t>(ExpandGrayAvx512, ExpandGrayAvx2, ExpandGraySse2, ExpandGrayPortable)(
        dst, src, count);
#else
    ExpandGrayPortable(dst, src, count);
#endif
}

void ExpandPaletteRow(uint32_t* dst, const uint8_t* src, int count, const uint32_t* table) {
    for (int x = 0; x < count; ++x) dst[x] = table[src[x]];
}

void ExpandBgrRow(uint32_t* dst, const uint8_t* src, int count) {
    int x = 0;
    // Four bytes read per pixel as long as a fourth byte follows; its value is masked off.
    for (; x + 1 < count; ++x) {
        uint32_t word;
        std::memcpy(&word, src + 3 * x, 4);
        dst[x] = word & 0x00FFFFFFu;
    }
    for (; x < count; ++x) {
        const uint8_t* bgr = src + 3 * x;
        dst[x] = uint32_t{bgr[2]} << 16 | uint32_t{bgr[1]} << 8 | bgr[0];
    }
}

void PaletteWords(const uint8_t* palette, uint32_t* table) {
    for (int i = 0; i < 256; ++i) {
        const uint8_t* entry = palette + 4 * i;
        table[i] = uint32_t{entry[2]} << 16 | uint32_t{entry[1]} << 8 | entry[0];
    }
}

}  // namespace lumora::platform
