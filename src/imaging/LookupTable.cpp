#include "imaging/LookupTable.h"

#include <cstring>

#include "imaging/PixelAccess.h"
#include "imaging/RowBands.h"

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

}  // namespace

void LookupRect8(uint8_t* dst, const uint8_t* src, const PixelRect& r, int dstX, int dstY,
                 int dstBpp, int srcBpp, int dstStride, int srcStride, const uint8_t* lut) {
    if (srcBpp == 4) {
        ForSamples<uint8_t>(dst, src, r, dstX, dstY, dstBpp, srcBpp, dstStride, srcStride,
                            [lut](uint8_t v) { return lut[v]; });
        return;
    }
    const int n = r.Width() * srcBpp;
    for (int y = 0; y < r.Height(); ++y) {
        LookupBytes(RowAt<uint8_t>(dst, dstStride, dstY + y, dstX, dstBpp),
                    RowAt<uint8_t>(src, srcStride, r.top + y, r.left, srcBpp), n, lut);
    }
}

void LookupRect16(uint8_t* dst, const uint8_t* src, const PixelRect& r, int dstX, int dstY,
                  int dstBpp, int srcBpp, int dstStride, int srcStride, const uint16_t* lut) {
    ForSamples<uint16_t>(dst, src, r, dstX, dstY, dstBpp, srcBpp, dstStride, srcStride,
                         [lut](uint16_t v) { return lut[v]; });
}

void ApplyLookupTable(ImageBuffer& image, const std::vector<uint16_t>& table, RowBandPool* pool) {
    if (!image.IsValid()) return;
    const int bpp = image.BytesPerPixel();
    const bool narrow = bpp == 1 || bpp == 3 || bpp == 4;
    if (table.size() < (narrow ? 256u : 65536u)) return;
    uint8_t bytes[256];
    if (narrow) {
        for (int i = 0; i < 256; ++i)
            bytes[i] = static_cast<uint8_t>(table[static_cast<size_t>(i)]);
    }
    RunRowBands(pool, image.Height(), [&](int first, int last) {
        const PixelRect rows{0, first, image.Width(), last};
        if (narrow) {
            LookupRect8(image.Pixels(), image.Pixels(), rows, 0, first, bpp, bpp, image.Stride(),
                        image.Stride(), bytes);
        } else {
            LookupRect16(image.Pixels(), image.Pixels(), rows, 0, first, bpp, bpp, image.Stride(),
                         image.Stride(), table.data());
        }
    });
}

}  // namespace lumora
