#include "imaging/RawFrame.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "imaging/PixelAccess.h"
#include "platform/SimdTargets.h"

namespace lumora {

bool RespreadRows(ImageBuffer& image) {
    if (!image.IsValid() || (image.BitCount() != 8 && image.BitCount() != 16)) return false;
    const size_t packed =
        static_cast<size_t>(image.Width()) * static_cast<size_t>(image.BytesPerPixel());
    const size_t stride = static_cast<size_t>(image.Stride());
    if (packed == stride) return true;
    // Last row first: a row's stride position is never before its packed position, so nothing
    // is overwritten before it has moved.
    uint8_t* base = image.Pixels();
    for (int y = image.Height() - 1; y > 0; --y) {
        std::memmove(base + static_cast<size_t>(y) * stride, base + static_cast<size_t>(y) * packed,
                     packed);
    }
    return true;
}

namespace {

// Rows are mirrored in place, a vector from each end at a time: no copy of a row or the frame
// is made, and each sample is read and written once.

template <class T>
void ReversePortable(T* row, int n) {
    std::reverse(row, row + n);
}

// a becomes b reversed and b becomes a reversed (two different rows).
template <class T>
void ReversePairPortable(T* a, T* b, int n) {
    for (int i = 0, j = n - 1; i < n; ++i, --j) {
        if (i > j) break;
        const T ai = a[i];
        const T aj = a[j];
        a[i] = b[j];
        a[j] = b[i];
        b[i] = aj;
        b[j] = ai;
    }
}

#if LUMORA_X86_SIMD

// ---- SSE2 (no byte shuffle: dwords, words and bytes reversed in three steps) --------------

inline __m128i Reverse8x16Sse2(__m128i v) {
    v = _mm_shuffle_epi32(v, 0x1B);
    v = _mm_shufflehi_epi16(_mm_shufflelo_epi16(v, 0xB1), 0xB1);
    return _mm_or_si128(_mm_slli_epi16(v, 8), _mm_srli_epi16(v, 8));
}
inline __m128i Reverse16x8Sse2(__m128i v) {
    return _mm_shufflehi_epi16(_mm_shufflelo_epi16(_mm_shuffle_epi32(v, 0x1B), 0xB1), 0xB1);
}
template <class T>
inline __m128i LoadSse2(const T* p) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}
template <class T>
inline void StoreSse2(T* p, __m128i v) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v);
}

void Reverse8Sse2(uint8_t* row, int n) {
    int i = 0;
    for (; i + 16 <= n - i - 16; i += 16) {
        const __m128i left = LoadSse2(row + i);
        const __m128i right = LoadSse2(row + n - i - 16);
        StoreSse2(row + i, Reverse8x16Sse2(right));
        StoreSse2(row + n - i - 16, Reverse8x16Sse2(left));
    }
    ReversePortable(row + i, n - 2 * i);
}
void ReversePair8Sse2(uint8_t* a, uint8_t* b, int n) {
    int i = 0;
    for (; i + 16 <= n - i - 16; i += 16) {
        const __m128i aLeft = LoadSse2(a + i);
        const __m128i aRight = LoadSse2(a + n - i - 16);
        const __m128i bLeft = LoadSse2(b + i);
        const __m128i bRight = LoadSse2(b + n - i - 16);
        StoreSse2(a + i, Reverse8x16Sse2(bRight));
        StoreSse2(a + n - i - 16, Reverse8x16Sse2(bLeft));
        StoreSse2(b + i, Reverse8x16Sse2(aRight));
        StoreSse2(b + n - i - 16, Reverse8x16Sse2(aLeft));
    }
    ReversePairPortable(a + i, b + i, n - 2 * i);
}
void Reverse16Sse2(uint16_t* row, int n) {
    int i = 0;
    for (; i + 8 <= n - i - 8; i += 8) {
        const __m128i left = LoadSse2(row + i);
        const __m128i right = LoadSse2(row + n - i - 8);
        StoreSse2(row + i, Reverse16x8Sse2(right));
        StoreSse2(row + n - i - 8, Reverse16x8Sse2(left));
    }
    ReversePortable(row + i, n - 2 * i);
}
void ReversePair16Sse2(uint16_t* a, uint16_t* b, int n) {
    int i = 0;
    for (; i + 8 <= n - i - 8; i += 8) {
        const __m128i aLeft = LoadSse2(a + i);
        const __m128i aRight = LoadSse2(a + n - i - 8);
        const __m128i bLeft = LoadSse2(b + i);
        const __m128i bRight = LoadSse2(b + n - i - 8);
        StoreSse2(a + i, Reverse16x8Sse2(bRight));
        StoreSse2(a + n - i - 8, Reverse16x8Sse2(bLeft));
        StoreSse2(b + i, Reverse16x8Sse2(aRight));
        StoreSse2(b + n - i - 8, Reverse16x8Sse2(aLeft));
    }
    ReversePairPortable(a + i, b + i, n - 2 * i);
}

// ---- AVX2: a byte shuffle within each half, then the halves exchanged ---------------------

struct Avx2Ops {
    LUMORA_TARGET_AVX2 static __m256i Load(const void* p) {
        return _mm256_loadu_si256(static_cast<const __m256i*>(p));
    }
    LUMORA_TARGET_AVX2 static void Store(void* p, __m256i v) {
        _mm256_storeu_si256(static_cast<__m256i*>(p), v);
    }
    LUMORA_TARGET_AVX2 static __m256i Rev8(__m256i v) {
        const __m256i order =
            _mm256_setr_epi8(15, 14, 13, 12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1, 0, 15, 14, 13, 12,
                             11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1, 0);
        return _mm256_permute4x64_epi64(_mm256_shuffle_epi8(v, order), 0x4E);
    }
    LUMORA_TARGET_AVX2 static __m256i Rev16(__m256i v) {
        const __m256i order =
            _mm256_setr_epi8(14, 15, 12, 13, 10, 11, 8, 9, 6, 7, 4, 5, 2, 3, 0, 1, 14, 15, 12, 13,
                             10, 11, 8, 9, 6, 7, 4, 5, 2, 3, 0, 1);
        return _mm256_permute4x64_epi64(_mm256_shuffle_epi8(v, order), 0x4E);
    }
};

LUMORA_TARGET_AVX2 void Reverse8Avx2(uint8_t* row, int n) {
    int i = 0;
    for (; i + 32 <= n - i - 32; i += 32) {
        const __m256i left = Avx2Ops::Load(row + i);
        const __m256i right = Avx2Ops::Load(row + n - i - 32);
        Avx2Ops::Store(row + i, Avx2Ops::Rev8(right));
        Avx2Ops::Store(row + n - i - 32, Avx2Ops::Rev8(left));
    }
    ReversePortable(row + i, n - 2 * i);
}
LUMORA_TARGET_AVX2 void ReversePair8Avx2(uint8_t* a, uint8_t* b, int n) {
    int i = 0;
    for (; i + 32 <= n - i - 32; i += 32) {
        const __m256i aLeft = Avx2Ops::Load(a + i);
        const __m256i aRight = Avx2Ops::Load(a + n - i - 32);
        const __m256i bLeft = Avx2Ops::Load(b + i);
        const __m256i bRight = Avx2Ops::Load(b + n - i - 32);
        Avx2Ops::Store(a + i, Avx2Ops::Rev8(bRight));
        Avx2Ops::Store(a + n - i - 32, Avx2Ops::Rev8(bLeft));
        Avx2Ops::Store(b + i, Avx2Ops::Rev8(aRight));
        Avx2Ops::Store(b + n - i - 32, Avx2Ops::Rev8(aLeft));
    }
    ReversePairPortable(a + i, b + i, n - 2 * i);
}
LUMORA_TARGET_AVX2 void Reverse16Avx2(uint16_t* row, int n) {
    int i = 0;
    for (; i + 16 <= n - i - 16; i += 16) {
        const __m256i left = Avx2Ops::Load(row + i);
        const __m256i right = Avx2Ops::Load(row + n - i - 16);
        Avx2Ops::Store(row + i, Avx2Ops::Rev16(right));
        Avx2Ops::Store(row + n - i - 16, Avx2Ops::Rev16(left));
    }
    ReversePortable(row + i, n - 2 * i);
}
LUMORA_TARGET_AVX2 void ReversePair16Avx2(uint16_t* a, uint16_t* b, int n) {
    int i = 0;
    for (; i + 16 <= n - i - 16; i += 16) {
        const __m256i aLeft = Avx2Ops::Load(a + i);
        const __m256i aRight = Avx2Ops::Load(a + n - i - 16);
        const __m256i bLeft = Avx2Ops::Load(b + i);
        const __m256i bRight = Avx2Ops::Load(b + n - i - 16);
        Avx2Ops::Store(a + i, Avx2Ops::Rev16(bRight));
        Avx2Ops::Store(a + n - i - 16, Avx2Ops::Rev16(bLeft));
        Avx2Ops::Store(b + i, Avx2Ops::Rev16(aRight));
        Avx2Ops::Store(b + n - i - 16, Avx2Ops::Rev16(aLeft));
    }
    ReversePairPortable(a + i, b + i, n - 2 * i);
}

// ---- AVX-512: bytes shuffled within each quarter, then the quarters reversed; words by one
// permute. Blocks from both ends while they do not overlap; the middle is left to the portable
// code. ----------------------------------------------------------------------------------------

struct Avx512Ops {
    LUMORA_TARGET_AVX512 static __m512i Load(const void* p) { return _mm512_loadu_si512(p); }
    LUMORA_TARGET_AVX512 static void Store(void* p, __m512i v) { _mm512_storeu_si512(p, v); }
    LUMORA_TARGET_AVX512 static __m512i Rev8(__m512i v) {
        const __m512i order = _mm512_broadcast_i32x4(
            _mm_setr_epi8(15, 14, 13, 12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1, 0));
        const __m512i within = _mm512_shuffle_epi8(v, order);
        return _mm512_shuffle_i64x2(within, within, 0x1B);
    }
    LUMORA_TARGET_AVX512 static __m512i Rev16(__m512i v) {
        const __m512i order =
            _mm512_set_epi16(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19,
                             20, 21, 22, 23, 24, 25, 26, 27, 28, 29, 30, 31);
        return _mm512_permutexvar_epi16(order, v);
    }
};

LUMORA_TARGET_AVX512 void Reverse8Avx512(uint8_t* row, int n) {
    int i = 0;
    for (; i + 64 <= n - i - 64; i += 64) {
        const __m512i left = Avx512Ops::Load(row + i);
        const __m512i right = Avx512Ops::Load(row + n - i - 64);
        Avx512Ops::Store(row + i, Avx512Ops::Rev8(right));
        Avx512Ops::Store(row + n - i - 64, Avx512Ops::Rev8(left));
    }
    ReversePortable(row + i, n - 2 * i);
}
LUMORA_TARGET_AVX512 void ReversePair8Avx512(uint8_t* a, uint8_t* b, int n) {
    int i = 0;
    for (; i + 64 <= n - i - 64; i += 64) {
        const __m512i aLeft = Avx512Ops::Load(a + i);
        const __m512i aRight = Avx512Ops::Load(a + n - i - 64);
        const __m512i bLeft = Avx512Ops::Load(b + i);
        const __m512i bRight = Avx512Ops::Load(b + n - i - 64);
        Avx512Ops::Store(a + i, Avx512Ops::Rev8(bRight));
        Avx512Ops::Store(a + n - i - 64, Avx512Ops::Rev8(bLeft));
        Avx512Ops::Store(b + i, Avx512Ops::Rev8(aRight));
        Avx512Ops::Store(b + n - i - 64, Avx512Ops::Rev8(aLeft));
    }
    ReversePairPortable(a + i, b + i, n - 2 * i);
}
LUMORA_TARGET_AVX512 void Reverse16Avx512(uint16_t* row, int n) {
    int i = 0;
    for (; i + 32 <= n - i - 32; i += 32) {
        const __m512i left = Avx512Ops::Load(row + i);
        const __m512i right = Avx512Ops::Load(row + n - i - 32);
        Avx512Ops::Store(row + i, Avx512Ops::Rev16(right));
        Avx512Ops::Store(row + n - i - 32, Avx512Ops::Rev16(left));
    }
    ReversePortable(row + i, n - 2 * i);
}
LUMORA_TARGET_AVX512 void ReversePair16Avx512(uint16_t* a, uint16_t* b, int n) {
    int i = 0;
    for (; i + 32 <= n - i - 32; i += 32) {
        const __m512i aLeft = Avx512Ops::Load(a + i);
        const __m512i aRight = Avx512Ops::Load(a + n - i - 32);
        const __m512i bLeft = Avx512Ops::Load(b + i);
        const __m512i bRight = Avx512Ops::Load(b + n - i - 32);
        Avx512Ops::Store(a + i, Avx512Ops::Rev16(bRight));
        Avx512Ops::Store(a + n - i - 32, Avx512Ops::Rev16(bLeft));
        Avx512Ops::Store(b + i, Avx512Ops::Rev16(aRight));
        Avx512Ops::Store(b + n - i - 32, Avx512Ops::Rev16(aLeft));
    }
    ReversePairPortable(a + i, b + i, n - 2 * i);
}

#endif  // LUMORA_X86_SIMD

template <class T>
struct Reversal {
    void (*row)(T*, int);
    void (*pair)(T*, T*, int);
};

template <class T>
void Mirror(ImageBuffer& image, bool horizontal, bool vertical, Reversal<T> reverse) {
    const int width = image.Width();
    const int height = image.Height();
    auto row = [&](int y) { return reinterpret_cast<T*>(image.Row(y)); };
    if (horizontal) {
        // Rows pairwise from both ends; each reversed, and exchanged with its partner when the
        // vertical mirror is also due.
        for (int top = 0, bottom = height - 1; top <= bottom; ++top, --bottom) {
            if (top == bottom || !vertical) {
                reverse.row(row(top), width);
                if (top != bottom) reverse.row(row(bottom), width);
            } else {
                reverse.pair(row(top), row(bottom), width);
            }
        }
    } else if (vertical) {
        const size_t bytes = static_cast<size_t>(width) * sizeof(T);
        std::vector<T> a(static_cast<size_t>(width));
        for (int top = 0, bottom = height - 1; top < bottom; ++top, --bottom) {
            std::memcpy(a.data(), row(top), bytes);
            std::memcpy(row(top), row(bottom), bytes);
            std::memcpy(row(bottom), a.data(), bytes);
        }
    }
}

}  // namespace

MirrorKernels MirrorKernelsFor(SimdLevel level) {
#if LUMORA_X86_SIMD
    switch (level) {
        case SimdLevel::kAvx512:
            return {Reverse8Avx512, ReversePair8Avx512, Reverse16Avx512, ReversePair16Avx512};
        case SimdLevel::kAvx2:
            return {Reverse8Avx2, ReversePair8Avx2, Reverse16Avx2, ReversePair16Avx2};
        case SimdLevel::kSse2:
            return {Reverse8Sse2, ReversePair8Sse2, Reverse16Sse2, ReversePair16Sse2};
        case SimdLevel::kScalar:
            break;
    }
#else
    static_cast<void>(level);
#endif
    return {ReversePortable<uint8_t>, ReversePairPortable<uint8_t>, ReversePortable<uint16_t>,
            ReversePairPortable<uint16_t>};
}

void MirrorOnHost(ImageBuffer& image, const MirrorState& mirrors) {
    const bool h = mirrors.HostHorizontal();
    const bool v = mirrors.HostVertical();
    if (!image.IsValid() || (!h && !v)) return;
    const MirrorKernels k = MirrorKernelsFor(ActiveSimdLevel());
    if (image.BitCount() == 8) {
        Mirror<uint8_t>(image, h, v, {k.reverse8, k.pair8});
    } else if (image.BitCount() == 16) {
        Mirror<uint16_t>(image, h, v, {k.reverse16, k.pair16});
    }
}

}  // namespace lumora
