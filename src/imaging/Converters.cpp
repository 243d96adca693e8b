#include "imaging/Converters.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <vector>

#include "imaging/PixelAccess.h"

namespace lumora {

namespace {

// Runs `rowFn(destinationRow, sourceRow, width)` over the rectangle; `reversed` takes the source
// rows bottom first.
template <class RowFn>
void ForRows(uint8_t* dst, const uint8_t* src, const PixelRect& r, int dstX, int dstY,
             int dstBpp, int srcBpp, int dstStride, int srcStride, bool reversed, RowFn rowFn) {
    const int width = r.Width();
    const int height = r.Height();
    for (int i = 0; i < height; ++i) {
        const int sy = reversed ? r.bottom - 1 - i : r.top + i;
        uint8_t* d = dst + static_cast<ptrdiff_t>(dstY + i) * dstStride +
                     static_cast<ptrdiff_t>(dstX) * dstBpp;
        const uint8_t* s =
            src + static_cast<ptrdiff_t>(sy) * srcStride + static_cast<ptrdiff_t>(r.left) * srcBpp;
        rowFn(d, s, width);
    }
}

template <int kShift, bool kReversed>
int Word16To8(uint8_t* dst, const uint8_t* src, const PixelRect& r, int dstX, int dstY,
              int dstBpp, int srcBpp, int dstStride, int srcStride) {
    ForRows(dst, src, r, dstX, dstY, dstBpp, srcBpp, dstStride, srcStride, kReversed,
            [](uint8_t* d, const uint8_t* s, int w) {
                const uint16_t* sw = Words(s);
                for (int x = 0; x < w; ++x) d[x] = static_cast<uint8_t>(sw[x] >> kShift);
            });
    return 1;
}

template <int kShift>
int Word16Shift(uint8_t* dst, const uint8_t* src, const PixelRect& r, int dstX, int dstY,
                int dstBpp, int srcBpp, int dstStride, int srcStride) {
    ForRows(dst, src, r, dstX, dstY, dstBpp, srcBpp, dstStride, srcStride, false,
            [](uint8_t* d, const uint8_t* s, int w) {
                uint16_t* dw = Words(d);
                const uint16_t* sw = Words(s);
                for (int x = 0; x < w; ++x) dw[x] = static_cast<uint16_t>(sw[x] << kShift);
            });
    return 1;
}

// 48/64 → 48/64 with a shift, optionally exchanging R and B; kFourth writes the fourth sample.
template <int kShift, bool kSwap, bool kFourth>
int ColorWordsShift(uint8_t* dst, const uint8_t* src, const PixelRect& r, int dstX, int dstY,
                    int dstBpp, int srcBpp, int dstStride, int srcStride) {
    const int dStep = dstBpp / 2;
    const int sStep = srcBpp / 2;
    ForRows(dst, src, r, dstX, dstY, dstBpp, srcBpp, dstStride, srcStride, false,
            [dStep, sStep](uint8_t* d, const uint8_t* s, int w) {
                uint16_t* dw = Words(d);
                const uint16_t* sw = Words(s);
                for (int x = 0; x < w; ++x) {
                    const uint16_t b = static_cast<uint16_t>(sw[x * sStep] << kShift);
                    const uint16_t g = static_cast<uint16_t>(sw[x * sStep + 1] << kShift);
                    const uint16_t rr = static_cast<uint16_t>(sw[x * sStep + 2] << kShift);
                    dw[x * dStep] = kSwap ? rr : b;
                    dw[x * dStep + 1] = g;
                    dw[x * dStep + 2] = kSwap ? b : rr;
                    if constexpr (kFourth) dw[x * dStep + 3] = 0xFFFF;
                }
            });
    return 1;
}

}  // namespace

int ConvertCopyRowsReversed8(uint8_t* dst, const uint8_t* src, const PixelRect& r, int dstX,
                             int dstY, int dstBpp, int srcBpp, int dstStride, int srcStride,
                             const void*) {
    ForRows(dst, src, r, dstX, dstY, dstBpp, srcBpp, dstStride, srcStride, true,
            [](uint8_t* d, const uint8_t* s, int w) { std::memmove(d, s, static_cast<size_t>(w)); });
    return 1;
}

int ConvertHighByte16To8(uint8_t* dst, const uint8_t* src, const PixelRect& r, int dstX,
                         int dstY, int dstBpp, int srcBpp, int dstStride, int srcStride,
                         const void*) {
    return Word16To8<8, false>(dst, src, r, dstX, dstY, dstBpp, srcBpp, dstStride, srcStride);
}

int ConvertHighByte16To8Reversed(uint8_t* dst, const uint8_t* src, const PixelRect& r, int dstX,
                                 int dstY, int dstBpp, int srcBpp, int dstStride, int srcStride,
                                 const void*) {
    return Word16To8<8, true>(dst, src, r, dstX, dstY, dstBpp, srcBpp, dstStride, srcStride);
}

int ConvertBits12To8Reversed(uint8_t* dst, const uint8_t* src, const PixelRect& r, int dstX,
                             int dstY, int dstBpp, int srcBpp, int dstStride, int srcStride,
                             const void*) {
    return Word16To8<4, true>(dst, src, r, dstX, dstY, dstBpp, srcBpp, dstStride, srcStride);
}

int ConvertBits10To8Reversed(uint8_t* dst, const uint8_t* src, const PixelRect& r, int dstX,
                             int dstY, int dstBpp, int srcBpp, int dstStride, int srcStride,
                             const void*) {
    return Word16To8<2, true>(dst, src, r, dstX, dstY, dstBpp, srcBpp, dstStride, srcStride);
}

int ConvertBits12To16(uint8_t* dst, const uint8_t* src, const PixelRect& r, int dstX, int dstY,
                      int dstBpp, int srcBpp, int dstStride, int srcStride, const void*) {
    return Word16Shift<4>(dst, src, r, dstX, dstY, dstBpp, srcBpp, dstStride, srcStride);
}

int ConvertBits10To16(uint8_t* dst, const uint8_t* src, const PixelRect& r, int dstX, int dstY,
                      int dstBpp, int srcBpp, int dstStride, int srcStride, const void*) {
    return Word16Shift<6>(dst, src, r, dstX, dstY, dstBpp, srcBpp, dstStride, srcStride);
}

int ConvertDropX32To24(uint8_t* dst, const uint8_t* src, const PixelRect& r, int dstX, int dstY,
                       int dstBpp, int srcBpp, int dstStride, int srcStride, const void*) {
    ForRows(dst, src, r, dstX, dstY, dstBpp, srcBpp, dstStride, srcStride, false,
            [](uint8_t* d, const uint8_t* s, int w) {
                for (int x = 0; x < w; ++x) {
                    d[3 * x] = s[4 * x];
                    d[3 * x + 1] = s[4 * x + 1];
                    d[3 * x + 2] = s[4 * x + 2];
                }
            });
    return 1;
}

int ConvertColor16To24Preview(uint8_t* dst, const uint8_t* src, const PixelRect& r, int dstX,
                              int dstY, int dstBpp, int srcBpp, int dstStride, int srcStride,
                              const void*) {
    const int sStep = srcBpp / 2;
    ForRows(dst, src, r, dstX, dstY, dstBpp, srcBpp, dstStride, srcStride, false,
            [sStep](uint8_t* d, const uint8_t* s, int w) {
                const uint16_t* sw = Words(s);
                for (int x = 0; x < w; ++x) {
                    d[3 * x] = static_cast<uint8_t>(sw[x * sStep] >> 4);
                    d[3 * x + 1] = static_cast<uint8_t>(sw[x * sStep + 1] >> 4);
                    d[3 * x + 2] = static_cast<uint8_t>(sw[x * sStep + 2] >> 4);
                }
            });
    return 1;
}

int ConvertColorHighBytesTo24Reversed(uint8_t* dst, const uint8_t* src, const PixelRect& r,
                                      int dstX, int dstY, int dstBpp, int srcBpp, int dstStride,
                                      int srcStride, const void*) {
    const int sStep = srcBpp / 2;
    ForRows(dst, src, r, dstX, dstY, dstBpp, srcBpp, dstStride, srcStride, true,
            [sStep](uint8_t* d, const uint8_t* s, int w) {
                const uint16_t* sw = Words(s);
                for (int x = 0; x < w; ++x) {
                    d[3 * x] = static_cast<uint8_t>(sw[x * sStep] >> 8);
                    d[3 * x + 1] = static_cast<uint8_t>(sw[x * sStep + 1] >> 8);
                    d[3 * x + 2] = static_cast<uint8_t>(sw[x * sStep + 2] >> 8);
                }
            });
    return 1;
}

int ConvertColor12To48(uint8_t* dst, const uint8_t* src, const PixelRect& r, int dstX, int dstY,
                       int dstBpp, int srcBpp, int dstStride, int srcStride, const void*) {
    return ColorWordsShift<4, false, false>(dst, src, r, dstX, dstY, dstBpp, srcBpp, dstStride,
                                            srcStride);
}
int ConvertColor10To48(uint8_t* dst, const uint8_t* src, const PixelRect& r, int dstX, int dstY,
                       int dstBpp, int srcBpp, int dstStride, int srcStride, const void*) {
    return ColorWordsShift<6, false, false>(dst, src, r, dstX, dstY, dstBpp, srcBpp, dstStride,
                                            srcStride);
}
int ConvertColor12To48Swap(uint8_t* dst, const uint8_t* src, const PixelRect& r, int dstX,
                           int dstY, int dstBpp, int srcBpp, int dstStride, int srcStride,
                           const void*) {
    return ColorWordsShift<4, true, false>(dst, src, r, dstX, dstY, dstBpp, srcBpp, dstStride,
                                           srcStride);
}
int ConvertColor10To48Swap(uint8_t* dst, const uint8_t* src, const PixelRect& r, int dstX,
                           int dstY, int dstBpp, int srcBpp, int dstStride, int srcStride,
                           const void*) {
    return ColorWordsShift<6, true, false>(dst, src, r, dstX, dstY, dstBpp, srcBpp, dstStride,
                                           srcStride);
}
int ConvertColor12To64(uint8_t* dst, const uint8_t* src, const PixelRect& r, int dstX, int dstY,
                       int dstBpp, int srcBpp, int dstStride, int srcStride, const void*) {
    return ColorWordsShift<4, false, true>(dst, src, r, dstX, dstY, dstBpp, srcBpp, dstStride,
                                           srcStride);
}
int ConvertColor10To64(uint8_t* dst, const uint8_t* src, const PixelRect& r, int dstX, int dstY,
                       int dstBpp, int srcBpp, int dstStride, int srcStride, const void*) {
    return ColorWordsShift<6, false, true>(dst, src, r, dstX, dstY, dstBpp, srcBpp, dstStride,
                                           srcStride);
}
int ConvertColor12To64Swap(uint8_t* dst, const uint8_t* src, const PixelRect& r, int dstX,
                           int dstY, int dstBpp, int srcBpp, int dstStride, int srcStride,
                           const void*) {
    return ColorWordsShift<4, true, true>(dst, src, r, dstX, dstY, dstBpp, srcBpp, dstStride,
                                          srcStride);
}
int ConvertColor10To64Swap(uint8_t* dst, const uint8_t* src, const PixelRect& r, int dstX,
                           int dstY, int dstBpp, int srcBpp, int dstStride, int srcStride,
                           const void*) {
    return ColorWordsShift<6, true, true>(dst, src, r, dstX, dstY, dstBpp, srcBpp, dstStride,
                                          srcStride);
}

int ConvertBgrCopyReversed(uint8_t* dst, const uint8_t* src, const PixelRect& r, int dstX,
                           int dstY, int dstBpp, int srcBpp, int dstStride, int srcStride,
                           const void*) {
    if (srcBpp == 3) {
        ForRows(dst, src, r, dstX, dstY, dstBpp, srcBpp, dstStride, srcStride, true,
                [](uint8_t* d, const uint8_t* s, int w) {
                    std::memcpy(d, s, static_cast<size_t>(w) * 3);
                });
    } else {
        ForRows(dst, src, r, dstX, dstY, dstBpp, srcBpp, dstStride, srcStride, true,
                [](uint8_t* d, const uint8_t* s, int w) {
                    for (int x = 0; x < w; ++x) {
                        d[3 * x] = s[4 * x];
                        d[3 * x + 1] = s[4 * x + 1];
                        d[3 * x + 2] = s[4 * x + 2];
                    }
                });
    }
    return 1;
}

int ConvertBgrToRgb(uint8_t* dst, const uint8_t* src, const PixelRect& r, int dstX, int dstY,
                    int dstBpp, int srcBpp, int dstStride, int srcStride, const void*) {
    ForRows(dst, src, r, dstX, dstY, dstBpp, srcBpp, dstStride, srcStride, false,
            [dstBpp, srcBpp](uint8_t* d, const uint8_t* s, int w) {
                for (int x = 0; x < w; ++x) {
                    const uint8_t b = s[srcBpp * x];
                    const uint8_t g = s[srcBpp * x + 1];
                    const uint8_t rr = s[srcBpp * x + 2];
                    d[dstBpp * x] = rr;
                    d[dstBpp * x + 1] = g;
                    d[dstBpp * x + 2] = b;
                }
            });
    return 1;
}

int ConvertBgrxToBgra(uint8_t* dst, const uint8_t* src, const PixelRect& r, int dstX, int dstY,
                      int dstBpp, int srcBpp, int dstStride, int srcStride, const void*) {
    ForRows(dst, src, r, dstX, dstY, dstBpp, srcBpp, dstStride, srcStride, false,
            [](uint8_t* d, const uint8_t* s, int w) {
                for (int x = 0; x < w; ++x) {
                    d[4 * x] = s[4 * x];
                    d[4 * x + 1] = s[4 * x + 1];
                    d[4 * x + 2] = s[4 * x + 2];
                    d[4 * x + 3] = static_cast<uint8_t>(~s[4 * x + 3]);
                }
            });
    return 1;
}

int ConvertScaleNearest(uint8_t* dst, const uint8_t* src, const PixelRect& r, int dstX, int dstY,
                        int dstBpp, int srcBpp, int dstStride, int srcStride,
                        const void* params) {
    const auto* p = static_cast<const ScaleParams*>(params);
    if (p == nullptr || p->dstWidth <= 0 || p->dstHeight <= 0) return 1;
    const int sw = r.Width();
    const int sh = r.Height();
    const float colRatio = static_cast<float>(sw) / static_cast<float>(p->dstWidth);
    const float rowRatio = static_cast<float>(sh) / static_cast<float>(p->dstHeight);
    std::vector<int> columns(static_cast<size_t>(p->dstWidth));
    for (int j = 0; j < p->dstWidth; ++j) {
        const int c = static_cast<int>(static_cast<float>(j) * colRatio);
        columns[static_cast<size_t>(j)] = (r.left + std::min(c, sw - 1)) * srcBpp;
    }
    for (int i = 0; i < p->dstHeight; ++i) {
        const int sr = std::min(static_cast<int>(static_cast<float>(i) * rowRatio), sh - 1);
        const uint8_t* s = src + static_cast<ptrdiff_t>(r.top + sh - 1 - sr) * srcStride;
        uint8_t* d = dst + static_cast<ptrdiff_t>(dstY + i) * dstStride +
                     static_cast<ptrdiff_t>(dstX) * dstBpp;
        if (dstBpp == 1) {
            for (int j = 0; j < p->dstWidth; ++j) d[j] = s[columns[static_cast<size_t>(j)]];
        } else {
            for (int j = 0; j < p->dstWidth; ++j) {
                const uint8_t* px = s + columns[static_cast<size_t>(j)];
                d[3 * j] = px[0];
                d[3 * j + 1] = px[1];
                d[3 * j + 2] = px[2];
            }
        }
    }
    return 1;
}

int ScaleImageNearest(ImageBuffer& dst, const ImageBuffer& src) {
    if (!dst.IsValid() || !src.IsValid()) return 0;
    const bool gray = dst.BitCount() == 8 && src.BitCount() == 8;
    const bool color = dst.BitCount() == 24 && (src.BitCount() == 24 || src.BitCount() == 32);
    if (!gray && !color) return 0;
    const ScaleParams params{dst.Width(), dst.Height()};
    const PixelRect whole{0, 0, src.Width(), src.Height()};
    return ConvertScaleNearest(dst.Pixels(), src.Pixels(), whole, 0, 0, dst.BytesPerPixel(),
                               src.BytesPerPixel(), dst.Stride(), src.Stride(), &params);
}

}  // namespace lumora
