#include "platform/WindowPixels.h"

#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace lumora::platform {

bool IsGrayPalette(const uint8_t* palette) {
    for (int i = 0; i < 256; ++i) {
        const uint8_t* entry = palette + 4 * i;
        if (entry[0] != i || entry[1] != i || entry[2] != i) return false;
    }
    return true;
}

void ExpandGrayRow(uint32_t* dst, const uint8_t* src, int count) {
    int x = 0;
#if defined(__SSE2__)
    // Interleaving a vector with itself twice repeats each byte four times; the top byte of
    // each word is then cleared.
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
    if (count >= kStreamingRow) {
        // Rows this long belong to pictures far larger than the caches, read next by the
        // display server: written past the caches, they need no read of the old contents.
        for (; x < count && (reinterpret_cast<uintptr_t>(dst + x) & 15) != 0; ++x) {
            dst[x] = uint32_t{src[x]} * 0x010101u;
        }
        for (; x + 16 <= count; x += 16) {
            expand(x, [](__m128i* p, __m128i v) { _mm_stream_si128(p, v); });
        }
        _mm_sfence();
    }
    for (; x + 16 <= count; x += 16) {
        expand(x, [](__m128i* p, __m128i v) { _mm_storeu_si128(p, v); });
    }
#endif
    for (; x < count; ++x) dst[x] = uint32_t{src[x]} * 0x010101u;
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
