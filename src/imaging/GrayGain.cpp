#include "imaging/GrayGain.h"

#include <algorithm>
#include <cstddef>
#include <vector>

#include "imaging/PixelAccess.h"
#include "platform/SimdLevel.h"
#include "platform/SimdTargets.h"

namespace lumora {

bool GrayGainIsNeutral(const GraySettings& gray) {
    for (int i = 0; i < 4; ++i) {
        if (gray.gain[i] != 128 || gray.offset[i] != 128) return false;
    }
    return true;
}

int GraySiteAt(int bayerMode, int x, int y) {
    const int rowState = (bayerMode & 1) ^ (y & 1);
    const int colState = ((bayerMode >> 1) & 1) ^ (x & 1);
    static constexpr int kSites[2][2] = {{kGrayG1, kGrayR}, {kGrayB, kGrayG2}};
    return kSites[rowState][colState];
}

namespace {

template <class T>
LUMORA_INLINE_BODY void GrayGainRowsBody(uint8_t* dst, const uint8_t* src, const PixelRect& r,
                                         int dstX, int dstY, int dstStride, int srcStride,
                                         const GrayGainParams& p, int maxValue) {
    const int width = r.Width();
    // Per-column gain and offset for both row parities, so the row loop has no site logic.
    std::vector<int32_t> gains(static_cast<size_t>(width) * 2);
    std::vector<int32_t> offsets(static_cast<size_t>(width) * 2);
    for (int parity = 0; parity < 2; ++parity) {
        for (int x = 0; x < width; ++x) {
            const int site = GraySiteAt(p.bayerMode, r.left + x, r.top + parity);
            gains[static_cast<size_t>(parity * width + x)] = p.gain[site];
            offsets[static_cast<size_t>(parity * width + x)] = p.offset[site];
        }
    }
    for (int y = 0; y < r.Height(); ++y) {
        const T* s = RowAt<T>(src, srcStride, r.top + y, r.left, sizeof(T));
        T* d = RowAt<T>(dst, dstStride, dstY + y, dstX, sizeof(T));
        const int32_t* g = gains.data() + static_cast<ptrdiff_t>(y & 1) * width;
        const int32_t* o = offsets.data() + static_cast<ptrdiff_t>(y & 1) * width;
        for (int x = 0; x < width; ++x) {
            // Gains are 0..255 and samples non-negative, so the shift is the floor division.
            const int v = o[x] + ((g[x] * s[x]) >> 7);
            d[x] = static_cast<T>(std::clamp(v, 0, maxValue));
        }
    }
}

#if LUMORA_X86_SIMD
template <class T>
LUMORA_TARGET_AVX2 void GrayGainRowsAvx2(uint8_t* dst, const uint8_t* src, const PixelRect& r,
                                         int dstX, int dstY, int dstStride, int srcStride,
                                         const GrayGainParams& p, int maxValue) {
    GrayGainRowsBody<T>(dst, src, r, dstX, dstY, dstStride, srcStride, p, maxValue);
}
#endif

// The loop as written, vectorised for AVX2 where the processor has it.
template <class T>
void GrayGainRows(uint8_t* dst, const uint8_t* src, const PixelRect& r, int dstX, int dstY,
                  int dstStride, int srcStride, const GrayGainParams& p, int maxValue) {
#if LUMORA_X86_SIMD
    if (ActiveSimdLevel() >= SimdLevel::kAvx2) {
        GrayGainRowsAvx2<T>(dst, src, r, dstX, dstY, dstStride, srcStride, p, maxValue);
        return;
    }
#endif
    GrayGainRowsBody<T>(dst, src, r, dstX, dstY, dstStride, srcStride, p, maxValue);
}

}  // namespace

int GrayGainOffset(uint8_t* dst, const uint8_t* src, const PixelRect& r, int dstX, int dstY,
                   int dstBpp, int srcBpp, int dstStride, int srcStride, const void* params) {
    const auto* p = static_cast<const GrayGainParams*>(params);
    if (p == nullptr || dstBpp != srcBpp) return 1;
    // Gains outside 0..255 would break the shift-as-division above; the settings refuse them.
    GrayGainParams safe = *p;
    for (int& g : safe.gain) g = std::clamp(g, 0, kGrayGainMax);
    if (srcBpp == 1) {
        GrayGainRows<uint8_t>(dst, src, r, dstX, dstY, dstStride, srcStride, safe, 255);
    } else if (srcBpp == 2) {
        const int maxValue = p->sampleWidth == 10   ? 1023
                             : p->sampleWidth == 12 ? 4095
                             : p->sampleWidth == 14 ? 16383
                                                    : 65535;
        GrayGainRows<uint16_t>(dst, src, r, dstX, dstY, dstStride, srcStride, safe, maxValue);
    }
    return 1;
}

}  // namespace lumora
