#include "imaging/Demosaic.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <vector>

#include "imaging/PixelAccess.h"
#include "platform/SimdLevel.h"
#include "platform/SimdTargets.h"

namespace lumora {

namespace {

template <class T>
struct SampleTraits;
template <>
struct SampleTraits<uint8_t> {
    static constexpr int kMax = 255;
};
template <>
struct SampleTraits<uint16_t> {
    static constexpr int kMax = 65535;
};

// Everything one output pixel needs: the four source rows y-2..y+1 and the four source
// columns x-2..x+1 (already remapped at the borders), and where red sits in the cell.
template <class T, int kDstSamples>
inline void DemosaicPixel(const T* const rows[4], const int cols[4], bool redRowIsY, bool redColIsX,
                          int factorR, int factorB, T* out) {
    constexpr int kMax = SampleTraits<T>::kMax;
    // Red and blue rows with their partners two rows away toward the cell centre.
    const T* redRow = redRowIsY ? rows[2] : rows[1];
    const T* redPartnerRow = redRowIsY ? rows[0] : rows[3];
    const T* blueRow = redRowIsY ? rows[1] : rows[2];
    const T* bluePartnerRow = redRowIsY ? rows[3] : rows[0];
    const int rx = redColIsX ? cols[2] : cols[1];
    const int rxp = redColIsX ? cols[0] : cols[3];
    const int bx = redColIsX ? cols[1] : cols[2];
    const int bxp = redColIsX ? cols[3] : cols[0];

    const int red =
        (9 * redRow[rx] + 3 * redRow[rxp] + 3 * redPartnerRow[rx] + redPartnerRow[rxp]) * factorR;
    const int blue =
        (9 * blueRow[bx] + 3 * blueRow[bxp] + 3 * bluePartnerRow[bx] + bluePartnerRow[bxp]) *
        factorB;
    const int green = (redRow[bx] + blueRow[rx]) >> 1;
    out[0] = static_cast<T>(std::min(blue >> 11, kMax));
    out[1] = static_cast<T>(std::min(green, kMax));
    out[2] = static_cast<T>(std::min(red >> 11, kMax));
    static_cast<void>(kDstSamples);
}

// One interior row, columns 2..lastX: both column classes are computed for every pixel and
// the one the pixel belongs to is selected, which keeps the loop free of branches. In class A
// (column state 0) red sits in column x and blue in x − 1; in class B the other way round.
template <class T>
LUMORA_INLINE_BODY void DemosaicRowBody(const T* __restrict red, const T* __restrict redPartner,
                                        const T* __restrict blue, const T* __restrict bluePartner,
                                        int lastX, int classAParity, int factorR, int factorB,
                                        T* __restrict outB, T* __restrict outG,
                                        T* __restrict outR) {
    constexpr int kMax = SampleTraits<T>::kMax;
    for (int x = 2; x <= lastX; ++x) {
        const bool a = (x & 1) == classAParity;
        const int redA = 9 * red[x] + 3 * red[x - 2] + 3 * redPartner[x] + redPartner[x - 2];
        const int redB =
            9 * red[x - 1] + 3 * red[x + 1] + 3 * redPartner[x - 1] + redPartner[x + 1];
        const int blueA =
            9 * blue[x - 1] + 3 * blue[x + 1] + 3 * bluePartner[x - 1] + bluePartner[x + 1];
        const int blueB = 9 * blue[x] + 3 * blue[x - 2] + 3 * bluePartner[x] + bluePartner[x - 2];
        const int greenA = red[x - 1] + blue[x];
        const int greenB = red[x] + blue[x - 1];
        const int r = ((a ? redA : redB) * factorR) >> 11;
        const int b = ((a ? blueA : blueB) * factorB) >> 11;
        const int g = (a ? greenA : greenB) >> 1;
        outR[x] = static_cast<T>(r < kMax ? r : kMax);
        outB[x] = static_cast<T>(b < kMax ? b : kMax);
        outG[x] = static_cast<T>(g < kMax ? g : kMax);
    }
}

template <class T>
using DemosaicRowFn = void (*)(const T*, const T*, const T*, const T*, int, int, int, int, T*, T*,
                               T*);

template <class T>
void DemosaicRowPortable(const T* red, const T* redPartner, const T* blue, const T* bluePartner,
                         int lastX, int classAParity, int factorR, int factorB, T* outB, T* outG,
                         T* outR) {
    DemosaicRowBody(red, redPartner, blue, bluePartner, lastX, classAParity, factorR, factorB, outB,
                    outG, outR);
}

#if LUMORA_X86_SIMD
// The same loop vectorised for AVX2 (the baseline lacks the 32-bit multiplies it is made of).
template <class T>
LUMORA_TARGET_AVX2 void DemosaicRowAvx2(const T* red, const T* redPartner, const T* blue,
                                        const T* bluePartner, int lastX, int classAParity,
                                        int factorR, int factorB, T* outB, T* outG, T* outR) {
    DemosaicRowBody(red, redPartner, blue, bluePartner, lastX, classAParity, factorR, factorB, outB,
                    outG, outR);
}
#endif

template <class T>
DemosaicRowFn<T> DemosaicRowFor(SimdLevel level) {
#if LUMORA_X86_SIMD
    if (level >= SimdLevel::kAvx2) return DemosaicRowAvx2<T>;
#else
    static_cast<void>(level);
#endif
    return DemosaicRowPortable<T>;
}

// A neighbour index outside [0, n): four further inside keeps its colour (y-2 → y+2,
// y-1 → y+3, y+1 → y-3); clamped for images too small for that.
inline int Remap(int index, int offset, int n) {
    int i = index + offset;
    if (i < 0 || i >= n) i = index + (offset == -2 ? 2 : offset == -1 ? 3 : -3);
    return std::clamp(i, 0, n - 1);
}

template <class T, int kDstSamples>
void Demosaic(uint8_t* dst, const uint8_t* src, const PixelRect& rect, int dstX, int dstY,
              int dstStride, int srcStride, const DemosaicParams& p) {
    const int width = rect.Width();
    const int height = rect.Height();
    const int factorR = DemosaicGainFactor(p.gainR);
    const int factorB = DemosaicGainFactor(p.gainB);
    const int rowPhase = p.phase & 1;
    const int colPhase = (p.phase >> 1) & 1;

    auto srcRow = [&](int y) {
        return reinterpret_cast<const T*>(src + static_cast<ptrdiff_t>(rect.top + y) * srcStride) +
               rect.left;
    };
    auto dstRow = [&](int y) {
        return reinterpret_cast<T*>(dst + static_cast<ptrdiff_t>(dstY + y) * dstStride) +
               static_cast<ptrdiff_t>(dstX) * kDstSamples;
    };
    // Red sits in the cell's row y when y's row state is 1, in column x when x's column state
    // is 0.
    auto redRowIsY = [&](int y) { return (rowPhase ^ (y & 1)) == 1; };
    auto redColIsX = [&](int x) { return (colPhase ^ (x & 1)) == 0; };

    auto borderPixel = [&](int x, int y) {
        const T* rows[4] = {srcRow(Remap(y, -2, height)), srcRow(Remap(y, -1, height)), srcRow(y),
                            srcRow(Remap(y, 1, height))};
        const int cols[4] = {Remap(x, -2, width), Remap(x, -1, width), x, Remap(x, 1, width)};
        DemosaicPixel<T, kDstSamples>(rows, cols, redRowIsY(y), redColIsX(x), factorR, factorB,
                                      dstRow(y) + static_cast<ptrdiff_t>(x) * kDstSamples);
    };

    // Interior pass: every neighbour exists. Each row is computed into planar buffers by a
    // kernel without per-pixel branches, then interleaved into the pixels.
    if (width >= 5 && height >= 5) {
        std::vector<T> planes(static_cast<size_t>(width) * 3);
        T* blues = planes.data();
        T* greens = blues + width;
        T* reds = greens + width;
        const DemosaicRowFn<T> demosaicRow = DemosaicRowFor<T>(ActiveSimdLevel());
        for (int y = 2; y <= height - 3; ++y) {
            const bool ry = redRowIsY(y);
            const T* redRow = srcRow(ry ? y : y - 1);
            const T* redPartner = srcRow(ry ? y - 2 : y + 1);
            const T* blueRow = srcRow(ry ? y - 1 : y);
            const T* bluePartner = srcRow(ry ? y + 1 : y - 2);
            demosaicRow(redRow, redPartner, blueRow, bluePartner, width - 3, colPhase, factorR,
                        factorB, blues, greens, reds);
            T* out = dstRow(y);
            for (int x = 2; x <= width - 3; ++x) {
                T* px = out + static_cast<ptrdiff_t>(x) * kDstSamples;
                px[0] = blues[x];
                px[1] = greens[x];
                px[2] = reds[x];
            }
        }
    }
    // Border pass: the two outer rows and columns on each side (everything when the image is
    // too small to have an interior).
    for (int y = 0; y < height; ++y) {
        const bool interiorRow = y >= 2 && y <= height - 3;
        if (!interiorRow) {
            for (int x = 0; x < width; ++x) borderPixel(x, y);
            continue;
        }
        for (int x = 0; x < std::min(2, width); ++x) borderPixel(x, y);
        for (int x = std::max(2, width - 2); x < width; ++x) borderPixel(x, y);
    }
}

}  // namespace

int DemosaicGainFactor(int gain) {
    return static_cast<int>(std::floor(static_cast<double>(gain) * 1.28));
}

int DemosaicBayer(uint8_t* dst, const uint8_t* src, const PixelRect& rect, int dstX, int dstY,
                  int dstBpp, int srcBpp, int dstStride, int srcStride, const void* params) {
    const auto* p = static_cast<const DemosaicParams*>(params);
    if (p == nullptr) return 1;
    if (srcBpp == 1 && dstBpp == 3) {
        Demosaic<uint8_t, 3>(dst, src, rect, dstX, dstY, dstStride, srcStride, *p);
    } else if (srcBpp == 1 && dstBpp == 4) {
        Demosaic<uint8_t, 4>(dst, src, rect, dstX, dstY, dstStride, srcStride, *p);
    } else if (srcBpp == 2 && dstBpp == 6) {
        Demosaic<uint16_t, 3>(dst, src, rect, dstX, dstY, dstStride, srcStride, *p);
    } else if (srcBpp == 2 && dstBpp == 8) {
        Demosaic<uint16_t, 4>(dst, src, rect, dstX, dstY, dstStride, srcStride, *p);
    }
    return 1;
}

namespace {

template <int kBpp>
LUMORA_INLINE_BODY void LumaRowsBody(uint8_t* dst, const uint8_t* src, const PixelRect& rect,
                                     int dstX, int dstY, int dstStride, int srcStride) {
    const int width = rect.Width();
    for (int y = 0; y < rect.Height(); ++y) {
        const uint8_t* s = src + static_cast<ptrdiff_t>(rect.top + y) * srcStride +
                           static_cast<ptrdiff_t>(rect.left) * kBpp;
        uint8_t* d = dst + static_cast<ptrdiff_t>(dstY + y) * dstStride + dstX;
        for (int x = 0; x < width; ++x) {
            const int b = s[kBpp * x];
            const int g = s[kBpp * x + 1];
            const int r = s[kBpp * x + 2];
            d[x] = static_cast<uint8_t>((r * 30 + g * 59 + b * 11) / 100);
        }
    }
}

template <int kBpp>
void LumaRowsPortable(uint8_t* dst, const uint8_t* src, const PixelRect& rect, int dstX, int dstY,
                      int dstStride, int srcStride) {
    LumaRowsBody<kBpp>(dst, src, rect, dstX, dstY, dstStride, srcStride);
}

#if LUMORA_X86_SIMD
template <int kBpp>
LUMORA_TARGET_AVX2 void LumaRowsAvx2(uint8_t* dst, const uint8_t* src, const PixelRect& rect,
                                     int dstX, int dstY, int dstStride, int srcStride) {
    LumaRowsBody<kBpp>(dst, src, rect, dstX, dstY, dstStride, srcStride);
}
#endif

template <int kBpp>
void LumaRows(uint8_t* dst, const uint8_t* src, const PixelRect& rect, int dstX, int dstY,
              int dstStride, int srcStride) {
#if LUMORA_X86_SIMD
    if (ActiveSimdLevel() >= SimdLevel::kAvx2) {
        LumaRowsAvx2<kBpp>(dst, src, rect, dstX, dstY, dstStride, srcStride);
        return;
    }
#endif
    LumaRowsPortable<kBpp>(dst, src, rect, dstX, dstY, dstStride, srcStride);
}

}  // namespace

int LumaFromColor(uint8_t* dst, const uint8_t* src, const PixelRect& rect, int dstX, int dstY,
                  int dstBpp, int srcBpp, int dstStride, int srcStride, const void*) {
    if (dstBpp != 1) return 1;
    if (srcBpp == 3) {
        LumaRows<3>(dst, src, rect, dstX, dstY, dstStride, srcStride);
    } else if (srcBpp == 4) {
        LumaRows<4>(dst, src, rect, dstX, dstY, dstStride, srcStride);
    }
    return 1;
}

}  // namespace lumora
