#include "imaging/Converters.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <vector>

#include "imaging/PixelAccess.h"
#include "imaging/SampleRows.h"

namespace lumora {

namespace {

// Runs `rowFn(destinationRow, sourceRow, width)` over the rectangle; `reversed` takes the source
// rows bottom first. `sourceOrder` walks the source top down even then (filling the destination
// from its last row): with streamed stores only the reads need the prefetchers, and they follow
// ascending addresses far better.
template <class RowFn>
void ForRows(uint8_t* dst, const uint8_t* src, const PixelRect& r, int dstX, int dstY, int dstBpp,
             int srcBpp, int dstStride, int srcStride, bool reversed, RowFn rowFn,
             bool sourceOrder = false) {
    const int width = r.Width();
    const int height = r.Height();
    const bool backwards = reversed && sourceOrder;
    for (int k = 0; k < height; ++k) {
        const int i = backwards ? height - 1 - k : k;
        const int sy = reversed ? r.bottom - 1 - i : r.top + i;
        uint8_t* d = dst + static_cast<ptrdiff_t>(dstY + i) * dstStride +
                     static_cast<ptrdiff_t>(dstX) * dstBpp;
        const uint8_t* s =
            src + static_cast<ptrdiff_t>(sy) * srcStride + static_cast<ptrdiff_t>(r.left) * srcBpp;
        rowFn(d, s, width);
    }
}

template <int kShift, bool kReversed>
int Word16To8(uint8_t* dst, const uint8_t* src, const PixelRect& r, int dstX, int dstY, int dstBpp,
              int srcBpp, int dstStride, int srcStride) {
    const SampleRowKernels rows = SampleRows();
    const size_t outBytes = static_cast<size_t>(r.Width()) * static_cast<size_t>(r.Height());
    const bool streamed = outBytes >= kStreamedOutputBytes;
    const auto lowBytes = streamed ? rows.lowBytesStreamed : rows.lowBytes;
    ForRows(
        dst, src, r, dstX, dstY, dstBpp, srcBpp, dstStride, srcStride, kReversed,
        [lowBytes](uint8_t* d, const uint8_t* s, int w) { lowBytes(d, Words(s), w, kShift); },
        streamed);
    if (streamed) FenceStreamedStores();
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
// The pixel steps are template arguments so the loops vectorise.
template <int kShift, bool kSwap, bool kFourth, int kDstStep, int kSrcStep>
void ColorWordsShiftRows(uint8_t* dst, const uint8_t* src, const PixelRect& r, int dstX, int dstY,
                         int dstStride, int srcStride) {
    ForRows(dst, src, r, dstX, dstY, kDstStep * 2, kSrcStep * 2, dstStride, srcStride, false,
            [](uint8_t* d, const uint8_t* s, int w) {
                uint16_t* dw = Words(d);
                const uint16_t* sw = Words(s);
                for (int x = 0; x < w; ++x) {
                    const auto b = static_cast<uint16_t>(sw[x * kSrcStep] << kShift);
                    const auto g = static_cast<uint16_t>(sw[x * kSrcStep + 1] << kShift);
                    const auto rr = static_cast<uint16_t>(sw[x * kSrcStep + 2] << kShift);
                    dw[x * kDstStep] = kSwap ? rr : b;
                    dw[x * kDstStep + 1] = g;
                    dw[x * kDstStep + 2] = kSwap ? b : rr;
                    if constexpr (kFourth) dw[x * kDstStep + 3] = 0xFFFF;
                }
            });
}

template <int kShift, bool kSwap, bool kFourth>
int ColorWordsShift(uint8_t* dst, const uint8_t* src, const PixelRect& r, int dstX, int dstY,
                    int dstBpp, int srcBpp, int dstStride, int srcStride) {
    if (dstBpp == 6 && srcBpp == 6) {
        ColorWordsShiftRows<kShift, kSwap, kFourth, 3, 3>(dst, src, r, dstX, dstY, dstStride,
                                                          srcStride);
    } else if (dstBpp == 8 && srcBpp == 8) {
        ColorWordsShiftRows<kShift, kSwap, kFourth, 4, 4>(dst, src, r, dstX, dstY, dstStride,
                                                          srcStride);
    } else if (dstBpp >= 6 && srcBpp >= 6) {
        // Mixed 48/64-bit pairs: rare, no need for a fast path, but never a wrong step.
        if (dstBpp == 8) {
            ColorWordsShiftRows<kShift, kSwap, kFourth, 4, 3>(dst, src, r, dstX, dstY, dstStride,
                                                              srcStride);
        } else {
            ColorWordsShiftRows<kShift, kSwap, false, 3, 4>(dst, src, r, dstX, dstY, dstStride,
                                                            srcStride);
        }
    }
    return 1;
}

template <int kDstBpp, int kSrcBpp>
void BgrToRgbRows(uint8_t* dst, const uint8_t* src, const PixelRect& r, int dstX, int dstY,
                  int dstStride, int srcStride) {
    ForRows(dst, src, r, dstX, dstY, kDstBpp, kSrcBpp, dstStride, srcStride, false,
            [](uint8_t* d, const uint8_t* s, int w) {
                for (int x = 0; x < w; ++x) {
                    const uint8_t b = s[kSrcBpp * x];
                    const uint8_t g = s[kSrcBpp * x + 1];
                    const uint8_t rr = s[kSrcBpp * x + 2];
                    d[kDstBpp * x] = rr;
                    d[kDstBpp * x + 1] = g;
                    d[kDstBpp * x + 2] = b;
                }
            });
}

// 48/64 → 24: each of B, G, R as (v >> kShift) & 0xFF. From 48 bits the samples map one to one,
// so a row is one flat run; from 64 bits the fourth sample is skipped.
template <int kShift>
void ColorWordsToBytes(uint8_t* dst, const uint8_t* src, const PixelRect& r, int dstX, int dstY,
                       int dstBpp, int srcBpp, int dstStride, int srcStride, bool reversed) {
    if (srcBpp == 6) {
        ForRows(dst, src, r, dstX, dstY, dstBpp, srcBpp, dstStride, srcStride, reversed,
                [](uint8_t* d, const uint8_t* s, int w) {
                    const uint16_t* sw = Words(s);
                    for (int i = 0; i < 3 * w; ++i) d[i] = static_cast<uint8_t>(sw[i] >> kShift);
                });
    } else {
        ForRows(dst, src, r, dstX, dstY, dstBpp, srcBpp, dstStride, srcStride, reversed,
                [](uint8_t* d, const uint8_t* s, int w) {
                    const uint16_t* sw = Words(s);
                    for (int x = 0; x < w; ++x) {
                        d[3 * x] = static_cast<uint8_t>(sw[4 * x] >> kShift);
                        d[3 * x + 1] = static_cast<uint8_t>(sw[4 * x + 1] >> kShift);
                        d[3 * x + 2] = static_cast<uint8_t>(sw[4 * x + 2] >> kShift);
                    }
                });
    }
}

}  // namespace

int ConvertCopyRowsReversed8(uint8_t* dst, const uint8_t* src, const PixelRect& r, int dstX,
                             int dstY, int dstBpp, int srcBpp, int dstStride, int srcStride,
                             const void*) {
    ForRows(
        dst, src, r, dstX, dstY, dstBpp, srcBpp, dstStride, srcStride, true,
        [](uint8_t* d, const uint8_t* s, int w) { std::memmove(d, s, static_cast<size_t>(w)); });
    return 1;
}

int ConvertHighByte16To8(uint8_t* dst, const uint8_t* src, const PixelRect& r, int dstX, int dstY,
                         int dstBpp, int srcBpp, int dstStride, int srcStride, const void*) {
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
    ColorWordsToBytes<4>(dst, src, r, dstX, dstY, dstBpp, srcBpp, dstStride, srcStride, false);
    return 1;
}

int ConvertColorHighBytesTo24Reversed(uint8_t* dst, const uint8_t* src, const PixelRect& r,
                                      int dstX, int dstY, int dstBpp, int srcBpp, int dstStride,
                                      int srcStride, const void*) {
    ColorWordsToBytes<8>(dst, src, r, dstX, dstY, dstBpp, srcBpp, dstStride, srcStride, true);
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
int ConvertColor12To48Swap(uint8_t* dst, const uint8_t* src, const PixelRect& r, int dstX, int dstY,
                           int dstBpp, int srcBpp, int dstStride, int srcStride, const void*) {
    return ColorWordsShift<4, true, false>(dst, src, r, dstX, dstY, dstBpp, srcBpp, dstStride,
                                           srcStride);
}
int ConvertColor10To48Swap(uint8_t* dst, const uint8_t* src, const PixelRect& r, int dstX, int dstY,
                           int dstBpp, int srcBpp, int dstStride, int srcStride, const void*) {
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
int ConvertColor12To64Swap(uint8_t* dst, const uint8_t* src, const PixelRect& r, int dstX, int dstY,
                           int dstBpp, int srcBpp, int dstStride, int srcStride, const void*) {
    return ColorWordsShift<4, true, true>(dst, src, r, dstX, dstY, dstBpp, srcBpp, dstStride,
                                          srcStride);
}
int ConvertColor10To64Swap(uint8_t* dst, const uint8_t* src, const PixelRect& r, int dstX, int dstY,
                           int dstBpp, int srcBpp, int dstStride, int srcStride, const void*) {
    return ColorWordsShift<6, true, true>(dst, src, r, dstX, dstY, dstBpp, srcBpp, dstStride,
                                          srcStride);
}

int ConvertBgrCopyReversed(uint8_t* dst, const uint8_t* src, const PixelRect& r, int dstX, int dstY,
                           int dstBpp, int srcBpp, int dstStride, int srcStride, const void*) {
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
    if (dstBpp == 3 && srcBpp == 3) {
        BgrToRgbRows<3, 3>(dst, src, r, dstX, dstY, dstStride, srcStride);
    } else if (dstBpp == 4 && srcBpp == 4) {
        BgrToRgbRows<4, 4>(dst, src, r, dstX, dstY, dstStride, srcStride);
    } else if (dstBpp == 3 && srcBpp == 4) {
        BgrToRgbRows<3, 4>(dst, src, r, dstX, dstY, dstStride, srcStride);
    } else if (dstBpp == 4 && srcBpp == 3) {
        BgrToRgbRows<4, 3>(dst, src, r, dstX, dstY, dstStride, srcStride);
    }
    return 1;
}

int ConvertBgrxToBgra(uint8_t* dst, const uint8_t* src, const PixelRect& r, int dstX, int dstY,
                      int dstBpp, int srcBpp, int dstStride, int srcStride, const void*) {
    // Whole pixels as little-endian words: inverting the top byte is the alpha rule.
    ForRows(dst, src, r, dstX, dstY, dstBpp, srcBpp, dstStride, srcStride, false,
            [](uint8_t* d, const uint8_t* s, int w) {
                for (int x = 0; x < w; ++x) {
                    uint32_t px;
                    std::memcpy(&px, s + 4 * x, 4);
                    px ^= 0xFF000000u;
                    std::memcpy(d + 4 * x, &px, 4);
                }
            });
    return 1;
}

int ConvertScaleNearest(uint8_t* dst, const uint8_t* src, const PixelRect& r, int dstX, int dstY,
                        int dstBpp, int srcBpp, int dstStride, int srcStride, const void* params) {
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
