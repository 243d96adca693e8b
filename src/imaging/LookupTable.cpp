#include "imaging/LookupTable.h"

#include <cstring>
#include <optional>

#include "imaging/PixelAccess.h"
#include "imaging/RowBands.h"
#include "platform/SimdTargets.h"

namespace lumora {

namespace {

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

void LookupWordsPortable(uint16_t* d, const uint16_t* s, int n, WordTable table) {
    const uint16_t* lut = table.entries;
    for (int i = 0; i < n; ++i) d[i] = lut[s[i]];
}

#if LUMORA_X86_SIMD

// Eight samples through a table indexed by each sample shifted right by kShift.
template <int kShift>
inline __m128i LookUpEight(const uint16_t* s, const uint16_t* lut) {
    return _mm_setr_epi16(
        static_cast<short>(lut[s[0] >> kShift]), static_cast<short>(lut[s[1] >> kShift]),
        static_cast<short>(lut[s[2] >> kShift]), static_cast<short>(lut[s[3] >> kShift]),
        static_cast<short>(lut[s[4] >> kShift]), static_cast<short>(lut[s[5] >> kShift]),
        static_cast<short>(lut[s[6] >> kShift]), static_cast<short>(lut[s[7] >> kShift]));
}

// 16-bit samples: the lookups are bound by the table's reads and by the source, which comes from
// memory and is asked for ahead (a third of the pass's time with a cold source). Gathers do no
// better than plain loads here; eight independent reads assembled into one vector store keep more
// of them in flight than a store per sample. Eight samples that are all multiples of 16 read the
// packed sixteenths, which stay in the first-level cache (twice as fast over a camera image after
// the flat field as reads spread over the 128 KiB table).
void LookupWordsSse2(uint16_t* d, const uint16_t* s, int n, WordTable table) {
    const uint16_t* lut = table.entries;
    int i = 0;
    if (table.sixteenths != nullptr) {
        const __m128i lowNibbles = _mm_set1_epi16(15);
        for (; i + 8 <= n; i += 8) {
            if ((i & 31) == 0) ReadAhead<2048>(s + i);
            const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i));
            const __m128i rest = _mm_and_si128(x, lowNibbles);
            const bool whole =
                _mm_movemask_epi8(_mm_cmpeq_epi16(rest, _mm_setzero_si128())) == 0xFFFF;
            const __m128i out =
                whole ? LookUpEight<4>(s + i, table.sixteenths) : LookUpEight<0>(s + i, lut);
            _mm_storeu_si128(reinterpret_cast<__m128i*>(d + i), out);
        }
    } else {
        for (; i + 8 <= n; i += 8) {
            if ((i & 31) == 0) ReadAhead<2048>(s + i);
            _mm_storeu_si128(reinterpret_cast<__m128i*>(d + i), LookUpEight<0>(s + i, lut));
        }
    }
    LookupWordsPortable(d + i, s + i, n - i, table);
}

// ---- AVX2 -----------------------------------------------------------------------------------

// 256 entries as sixteen 16-byte tables: every table is looked up with the low nibble, then a
// tree of blends picks by bits 4, 5, 6 and 7 of the sample (a blend reads bit 7 of each byte,
// so each bit is shifted up there first).
LUMORA_TARGET_AVX2 void LookupBytesAvx2(uint8_t* d, const uint8_t* s, int n, const uint8_t* lut) {
    __m256i tables[16];
    for (int k = 0; k < 16; ++k) {
        tables[k] = _mm256_broadcastsi128_si256(
            _mm_loadu_si128(reinterpret_cast<const __m128i*>(lut + 16 * k)));
    }
    const __m256i lowNibble = _mm256_set1_epi8(0x0F);
    int i = 0;
    for (; i + 32 <= n; i += 32) {
        if ((i & 63) == 0) ReadAhead<1024>(s + i);
        const __m256i x = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s + i));
        const __m256i index = _mm256_and_si256(x, lowNibble);
        __m256i level[16];
        for (int k = 0; k < 16; ++k) level[k] = _mm256_shuffle_epi8(tables[k], index);
        for (int bit = 4, count = 16; bit < 8; ++bit, count /= 2) {
            const __m256i select = _mm256_slli_epi16(x, 7 - bit);
            for (int k = 0; k < count / 2; ++k) {
                level[k] = _mm256_blendv_epi8(level[2 * k], level[2 * k + 1], select);
            }
        }
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(d + i), level[0]);
    }
    LookupBytes(d + i, s + i, n - i, lut);
}

// ---- AVX-512 --------------------------------------------------------------------------------

// 64 bytes a step: two 128-entry permutes over the table's halves, bit 7 picks between them.
LUMORA_TARGET_AVX512VBMI inline __m512i LookupSixtyFourVbmi(__m512i x, const __m512i t[4]) {
    const __m512i low = _mm512_permutex2var_epi8(t[0], x, t[1]);
    const __m512i high = _mm512_permutex2var_epi8(t[2], x, t[3]);
    return _mm512_mask_blend_epi8(_mm512_movepi8_mask(x), low, high);
}

LUMORA_TARGET_AVX512VBMI void LookupBytesVbmi(uint8_t* d, const uint8_t* s, int n,
                                              const uint8_t* lut) {
    const __m512i t[4] = {_mm512_loadu_si512(lut), _mm512_loadu_si512(lut + 64),
                          _mm512_loadu_si512(lut + 128), _mm512_loadu_si512(lut + 192)};
    int i = 0;
    for (; i + 64 <= n; i += 64) {
        ReadAhead<1024>(s + i);  // the source is often cold; the table is in registers
        _mm512_storeu_si512(d + i, LookupSixtyFourVbmi(_mm512_loadu_si512(s + i), t));
    }
    if (i < n) {
        const __mmask64 lanes = (__mmask64{1} << (n - i)) - 1;
        _mm512_mask_storeu_epi8(d + i, lanes,
                                LookupSixtyFourVbmi(_mm512_maskz_loadu_epi8(lanes, s + i), t));
    }
}

// 16-bit samples by gathers where they are fast: sixteen 32-bit lanes a gather, each reading its
// entry and the one after it, the low half kept. Nothing follows the last of the 65536 entries,
// so lanes asking for it are left out of the gather and filled in; the packed sixteenths have
// an entry to spare. A run of 32 samples that are all multiples of 16 reads the packed copy.
LUMORA_TARGET_AVX512 inline __m256i GatherWords(__m512i index, const uint16_t* table,
                                                __mmask16 lanes, __m512i absent) {
    return _mm512_cvtepi32_epi16(_mm512_mask_i32gather_epi32(absent, lanes, index, table, 2));
}

LUMORA_TARGET_AVX512 void LookupWordsGatherAvx512(uint16_t* d, const uint16_t* s, int n,
                                                  WordTable table) {
    const uint16_t* lut = table.entries;
    const __m512i lastIndex = _mm512_set1_epi32(65535);
    const __m512i lastEntry = _mm512_set1_epi32(lut[65535]);
    const __m512i lowNibbles = _mm512_set1_epi16(15);
    int i = 0;
    for (; i + 32 <= n; i += 32) {
        ReadAhead<2048>(s + i);
        const __m512i x = _mm512_loadu_si512(s + i);
        const __m512i low = _mm512_cvtepu16_epi32(_mm512_castsi512_si256(x));
        const __m512i high = _mm512_cvtepu16_epi32(_mm512_extracti64x4_epi64(x, 1));
        __m256i a;
        __m256i b;
        if (table.sixteenths != nullptr && _mm512_test_epi16_mask(x, lowNibbles) == 0) {
            a = GatherWords(_mm512_srli_epi32(low, 4), table.sixteenths, 0xFFFF, lastEntry);
            b = GatherWords(_mm512_srli_epi32(high, 4), table.sixteenths, 0xFFFF, lastEntry);
        } else {
            a = GatherWords(low, lut, _mm512_cmpneq_epi32_mask(low, lastIndex), lastEntry);
            b = GatherWords(high, lut, _mm512_cmpneq_epi32_mask(high, lastIndex), lastEntry);
        }
        _mm512_storeu_si512(d + i, _mm512_inserti64x4(_mm512_castsi256_si512(a), b, 1));
    }
    LookupWordsPortable(d + i, s + i, n - i, table);
}

#endif  // LUMORA_X86_SIMD

}  // namespace

LookupWordsFn GatheringWordLookup() {
#if LUMORA_X86_SIMD
    if (DetectedSimdLevel() == SimdLevel::kAvx512) return LookupWordsGatherAvx512;
#endif
    return nullptr;
}

LookupKernels LookupKernelsFor(SimdLevel level) {
#if LUMORA_X86_SIMD
    switch (level) {
        case SimdLevel::kAvx512:
            return {DetectedAvx512Vbmi() ? LookupBytesVbmi : LookupBytesAvx2,
                    DetectedFastGathers() ? LookupWordsGatherAvx512 : LookupWordsSse2};
        case SimdLevel::kAvx2:
            return {LookupBytesAvx2, LookupWordsSse2};
        case SimdLevel::kSse2:
            // No byte shuffle in SSE2: eight table reads a word is as good as it gets.
            return {LookupBytes, LookupWordsSse2};
        case SimdLevel::kScalar:
            break;
    }
#else
    static_cast<void>(level);
#endif
    return {LookupBytes, LookupWordsPortable};
}

void LookupRect8(uint8_t* dst, const uint8_t* src, const PixelRect& r, int dstX, int dstY,
                 int dstBpp, int srcBpp, int dstStride, int srcStride, const uint8_t* lut) {
    if (srcBpp == 4) {
        ForSamples<uint8_t>(dst, src, r, dstX, dstY, dstBpp, srcBpp, dstStride, srcStride,
                            [lut](uint8_t v) { return lut[v]; });
        return;
    }
    const auto bytes = LookupKernelsFor(ActiveSimdLevel()).bytes;
    const int n = r.Width() * srcBpp;
    for (int y = 0; y < r.Height(); ++y) {
        bytes(RowAt<uint8_t>(dst, dstStride, dstY + y, dstX, dstBpp),
              RowAt<uint8_t>(src, srcStride, r.top + y, r.left, srcBpp), n, lut);
    }
}

TableSixteenths::TableSixteenths(const uint16_t* table) {
    for (int k = 0; k < 4096; ++k) packed_[k] = table[static_cast<size_t>(k) << 4];
    packed_[4096] = 0;
}

void LookupRect16(uint8_t* dst, const uint8_t* src, const PixelRect& r, int dstX, int dstY,
                  int dstBpp, int srcBpp, int dstStride, int srcStride, WordTable lut) {
    if (srcBpp == 8) {
        const uint16_t* entries = lut.entries;
        ForSamples<uint16_t>(dst, src, r, dstX, dstY, dstBpp, srcBpp, dstStride, srcStride,
                             [entries](uint16_t v) { return entries[v]; });
        return;
    }
    const auto words = LookupKernelsFor(ActiveSimdLevel()).words;
    const int n = r.Width() * (srcBpp / 2);
    for (int y = 0; y < r.Height(); ++y) {
        words(RowAt<uint16_t>(dst, dstStride, dstY + y, dstX, dstBpp),
              RowAt<uint16_t>(src, srcStride, r.top + y, r.left, srcBpp), n, lut);
    }
}

void ApplyLookupTable(ImageBuffer& image, const std::vector<uint16_t>& table, RowBandPool* pool) {
    if (!image.IsValid()) return;
    const int bpp = image.BytesPerPixel();
    const bool narrow = bpp == 1 || bpp == 3 || bpp == 4;
    if (table.size() < (narrow ? 256u : 65536u)) return;
    uint8_t bytes[256];
    std::optional<TableSixteenths> sixteenths;
    if (narrow) {
        for (int i = 0; i < 256; ++i)
            bytes[i] = static_cast<uint8_t>(table[static_cast<size_t>(i)]);
    } else {
        sixteenths.emplace(table.data());
    }
    RunRowBands(pool, image.Height(), [&](int first, int last) {
        const PixelRect rows{0, first, image.Width(), last};
        if (narrow) {
            LookupRect8(image.Pixels(), image.Pixels(), rows, 0, first, bpp, bpp, image.Stride(),
                        image.Stride(), bytes);
        } else {
            LookupRect16(image.Pixels(), image.Pixels(), rows, 0, first, bpp, bpp, image.Stride(),
                         image.Stride(), WordTable{table.data(), sixteenths->Data()});
        }
    });
}

}  // namespace lumora
