#include "imaging/HueSaturation.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

#include "imaging/PixelAccess.h"

namespace lumora {

namespace {

// Hue/saturation's process-wide constant tables.
struct HueConstants {
    std::array<int32_t, 256> reciprocal{};  // Q[d] = ⌊0xFF0000 / d⌋
    std::array<int32_t, 256> gray{};        // K[k] = k × 0x010101
    HueConstants() {
        for (int d = 1; d < 256; ++d) reciprocal[static_cast<size_t>(d)] = 0xFF0000 / d;
        for (int k = 0; k < 256; ++k) gray[static_cast<size_t>(k)] = k * 0x010101;
    }
};
const HueConstants& Hue() {
    static const HueConstants constants;
    return constants;
}
constexpr int32_t kHueMask[6] = {0xFF00FF, 0xFF0000, 0xFFFF00, 0x00FF00, 0x00FFFF, 0x0000FF};
constexpr int32_t kHueStep[6] = {-1, 256, -65536, 1, -256, 65536};

template <class T>
int HueSaturationFilter(uint8_t* dst, const uint8_t* src, const PixelRect& r, int dstX, int dstY,
                        int dstBpp, int srcBpp, int dstStride, int srcStride, const void* params) {
    const auto* p = static_cast<const HueSaturationParams*>(params);
    if (p == nullptr) return 1;
    HueSaturationTables tables;
    tables.Prepare(p->hue, p->saturation);
    const int spp = srcBpp / static_cast<int>(sizeof(T));
    constexpr int kShift = sizeof(T) == 1 ? 0 : 8;
    for (int y = 0; y < r.Height(); ++y) {
        const T* s = RowAt<T>(src, srcStride, r.top + y, r.left, srcBpp);
        T* d = RowAt<T>(dst, dstStride, dstY + y, dstX, dstBpp);
        for (int x = 0; x < r.Width(); ++x) {
            const T* in = s + static_cast<ptrdiff_t>(x) * spp;
            T* out = d + static_cast<ptrdiff_t>(x) * spp;
            const int32_t rgb = tables.Apply(in[2] >> kShift, in[1] >> kShift, in[0] >> kShift);
            out[0] = static_cast<T>((rgb & 0xFF) << kShift);
            out[1] = static_cast<T>(((rgb >> 8) & 0xFF) << kShift);
            out[2] = static_cast<T>(((rgb >> 16) & 0xFF) << kShift);
            if (spp == 4) out[3] = 0;
        }
    }
    return 1;
}

}  // namespace

int HueSaturationFilter8(uint8_t* dst, const uint8_t* src, const PixelRect& r, int dstX, int dstY,
                         int dstBpp, int srcBpp, int dstStride, int srcStride, const void* params) {
    return HueSaturationFilter<uint8_t>(dst, src, r, dstX, dstY, dstBpp, srcBpp, dstStride,
                                        srcStride, params);
}

int HueSaturationFilter16(uint8_t* dst, const uint8_t* src, const PixelRect& r, int dstX, int dstY,
                          int dstBpp, int srcBpp, int dstStride, int srcStride,
                          const void* params) {
    return HueSaturationFilter<uint16_t>(dst, src, r, dstX, dstY, dstBpp, srcBpp, dstStride,
                                         srcStride, params);
}

HueSaturationTables::HueSaturationTables() {
    Prepare(0, 0);
}

void HueSaturationTables::Prepare(int hue, int saturation) {
    if (prepared_ && hue == hue_ && saturation == saturation_) return;
    if (!prepared_ || saturation != saturation_) {
        const int64_t scale = static_cast<int64_t>(saturation + 256) * 256;
        for (int d = 0; d < 256; ++d) {
            saturationTable_[static_cast<size_t>(d)] =
                static_cast<int32_t>((d * scale + 0x8000) >> 16);
        }
    }
    // 65536 units per turn, folded into 1530 units (255 per sector of 60 degrees).
    int h16 = static_cast<int>(std::trunc(static_cast<double>(hue) * 65536.0 / 360.0)) % 65536;
    if (h16 < 0) h16 += 65536;
    const int t = (h16 * 6) >> 8;
    int a = t % 512;
    if (a >= 256) a -= 512;
    const int n = ((t + 256) >> 9) % 3;
    int h = a + 510 * n;
    if (h < 0) h += 1530;
    if (h > 1529) h -= 1530;
    shift_ = h;
    hue_ = hue;
    saturation_ = saturation;
    prepared_ = true;
}

int32_t HueSaturationTables::Apply(int r, int g, int b) const {
    const HueConstants& k = Hue();
    const int mx = std::max({r, g, b});
    const int mn = std::min({r, g, b});
    const int d = mx - mn;
    const int lightness = mx + mn;
    int sector;
    int position;
    if (b > std::max(r, g)) {
        sector = 5;
        position = r - g;
    } else if (r >= g) {
        sector = 1;
        position = g - b;
    } else {
        sector = 3;
        position = b - r;
    }
    if (position < 0) {
        sector -= 1;
        position += d;
    }
    const int chroma =
        std::min(saturationTable_[static_cast<size_t>(d)], std::min(lightness, 511 - lightness));
    const int newMin = (lightness - chroma) >> 1;
    const int span = ((lightness + chroma) >> 1) - newMin;
    if (d == 0) return k.gray[static_cast<size_t>(newMin)];
    int q = ((position * k.reciprocal[static_cast<size_t>(d)] + 0x8000) >> 16) + shift_ % 255;
    const int sectorOut = (sector + shift_ / 255 + (q > 254 ? 1 : 0)) % 6;
    if (q >= 255) q -= 255;
    return k.gray[static_cast<size_t>(newMin)] +
           (k.gray[static_cast<size_t>(span)] & kHueMask[sectorOut]) +
           ((span * q + 128) >> 8) * kHueStep[sectorOut];
}

void ApplyHueSaturation(ImageBuffer& image, const HueSaturationTables& tables) {
    if (!image.IsValid()) return;
    const int bpp = image.BytesPerPixel();
    const bool wide = bpp == 6 || bpp == 8;
    if (bpp != 3 && bpp != 4 && !wide) return;
    const int spp = wide ? bpp / 2 : bpp;
    for (int y = 0; y < image.Height(); ++y) {
        if (wide) {
            uint16_t* row = Words(image.Row(y));
            for (int x = 0; x < image.Width(); ++x) {
                uint16_t* px = row + static_cast<ptrdiff_t>(x) * spp;
                const int32_t rgb = tables.Apply(px[2] >> 8, px[1] >> 8, px[0] >> 8);
                px[0] = static_cast<uint16_t>((rgb & 0xFF) << 8);
                px[1] = static_cast<uint16_t>(((rgb >> 8) & 0xFF) << 8);
                px[2] = static_cast<uint16_t>(((rgb >> 16) & 0xFF) << 8);
                if (spp == 4) px[3] = 0;
            }
        } else {
            uint8_t* row = image.Row(y);
            for (int x = 0; x < image.Width(); ++x) {
                uint8_t* px = row + static_cast<ptrdiff_t>(x) * spp;
                const int32_t rgb = tables.Apply(px[2], px[1], px[0]);
                px[0] = static_cast<uint8_t>(rgb & 0xFF);
                px[1] = static_cast<uint8_t>((rgb >> 8) & 0xFF);
                px[2] = static_cast<uint8_t>((rgb >> 16) & 0xFF);
                if (spp == 4) px[3] = 0;
            }
        }
    }
}

}  // namespace lumora
