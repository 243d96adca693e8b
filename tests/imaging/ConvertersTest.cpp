#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "ImageTestUtil.h"
#include "imaging/Converters.h"
#include "io/AviWriter.h"
#include "platform/WindowPixels.h"

namespace lumora {
namespace {

using test::Byte;
using test::SetByte;
using test::SetWord;
using test::Word;

// A 3 × 2 16-bit image with distinct samples: row 0 = 0x1234 0xABCD 0x0FFF, row 1 = 0x0001 0x03FF
// 0xFFFF.
ImageBuffer Words3x2() {
    ImageBuffer image;
    EXPECT_TRUE(image.Create(3, 2, 16));
    const uint16_t v[6] = {0x1234, 0xABCD, 0x0FFF, 0x0001, 0x03FF, 0xFFFF};
    for (int i = 0; i < 6; ++i) SetWord(image, i % 3, i / 3, v[i]);
    return image;
}

TEST(Converters, SixteenToEightBitReductions) {
    const ImageBuffer src = Words3x2();
    ImageBuffer dst;
    ASSERT_TRUE(dst.Create(3, 2, 8));

    ApplyConverter(dst, ConvertHighByte16To8, src, nullptr, 0, 0, nullptr);
    EXPECT_EQ(Byte(dst, 0, 0), 0x12);
    EXPECT_EQ(Byte(dst, 1, 0), 0xAB);
    EXPECT_EQ(Byte(dst, 2, 1), 0xFF);

    ApplyConverter(dst, ConvertHighByte16To8Reversed, src, nullptr, 0, 0, nullptr);
    EXPECT_EQ(Byte(dst, 0, 0), 0x00);  // source row 1
    EXPECT_EQ(Byte(dst, 1, 1), 0xAB);  // source row 0

    ApplyConverter(dst, ConvertBits12To8Reversed, src, nullptr, 0, 0, nullptr);
    EXPECT_EQ(Byte(dst, 0, 1), 0x23);  // (0x1234 >> 4) & 0xFF
    EXPECT_EQ(Byte(dst, 2, 1), 0xFF);  // 0x0FFF
    EXPECT_EQ(Byte(dst, 1, 0), 0x3F);  // 0x03FF >> 4

    ApplyConverter(dst, ConvertBits10To8Reversed, src, nullptr, 0, 0, nullptr);
    EXPECT_EQ(Byte(dst, 1, 0), 0xFF);  // (0x03FF >> 2) & 0xFF
    EXPECT_EQ(Byte(dst, 0, 1), 0x8D);  // (0x1234 >> 2) & 0xFF
}

TEST(Converters, TwelveAndTenBitWidenInPlace) {
    ImageBuffer image = Words3x2();
    ApplyInPlace(image, ConvertBits12To16, nullptr);
    EXPECT_EQ(Word(image, 2, 0), 0xFFF0);
    EXPECT_EQ(Word(image, 0, 0), 0x2340);  // the top bits fall off
    image = Words3x2();
    ApplyInPlace(image, ConvertBits10To16, nullptr);
    EXPECT_EQ(Word(image, 1, 1), 0xFFC0);
}

TEST(Converters, EightBitRowReversedCopyWithOddWidth) {
    ImageBuffer src;
    ImageBuffer dst;
    ASSERT_TRUE(src.Create(5, 3, 8));
    ASSERT_TRUE(dst.Create(5, 3, 8));
    test::FillMono(src, [](int x, int y) { return 10 * y + x; });
    ApplyConverter(dst, ConvertCopyRowsReversed8, src, nullptr, 0, 0, nullptr);
    for (int y = 0; y < 3; ++y) {
        for (int x = 0; x < 5; ++x) EXPECT_EQ(Byte(dst, x, y), 10 * (2 - y) + x);
    }
}

TEST(Converters, ColourByteReorderings) {
    ImageBuffer bgrx;
    ASSERT_TRUE(bgrx.Create(2, 2, 32));
    for (int i = 0; i < 4; ++i) {
        for (int c = 0; c < 4; ++c)
            SetByte(bgrx, i % 2, i / 2, static_cast<uint8_t>(16 * i + c), c);
    }
    ImageBuffer bgr;
    ASSERT_TRUE(bgr.Create(2, 2, 24));
    ApplyConverter(bgr, ConvertDropX32To24, bgrx, nullptr, 0, 0, nullptr);
    EXPECT_EQ(Byte(bgr, 1, 1, 0), 48);
    EXPECT_EQ(Byte(bgr, 1, 1, 2), 50);

    ApplyConverter(bgr, ConvertBgrCopyReversed, bgrx, nullptr, 0, 0, nullptr);
    EXPECT_EQ(Byte(bgr, 0, 0, 0), 32);  // source row 1
    EXPECT_EQ(Byte(bgr, 1, 1, 2), 18);

    ImageBuffer rgbx;
    ASSERT_TRUE(rgbx.Create(2, 2, 32));
    ApplyConverter(rgbx, ConvertBgrToRgb, bgrx, nullptr, 0, 0, nullptr);
    EXPECT_EQ(Byte(rgbx, 1, 0, 0), 18);
    EXPECT_EQ(Byte(rgbx, 1, 0, 1), 17);
    EXPECT_EQ(Byte(rgbx, 1, 0, 2), 16);
    EXPECT_EQ(Byte(rgbx, 1, 0, 3), 0);  // the fourth byte is left alone

    ApplyInPlace(bgrx, ConvertBgrToRgb, nullptr);  // in place keeps X
    EXPECT_EQ(Byte(bgrx, 0, 1, 0), 34);
    EXPECT_EQ(Byte(bgrx, 0, 1, 3), 35);

    ImageBuffer bgra;
    ASSERT_TRUE(bgra.Create(2, 2, 32));
    ApplyConverter(bgra, ConvertBgrxToBgra, bgrx, nullptr, 0, 0, nullptr);
    EXPECT_EQ(Byte(bgra, 0, 1, 3), static_cast<uint8_t>(~35));
    EXPECT_EQ(Byte(bgra, 0, 1, 0), 34);
}

TEST(Converters, SixteenBitColourReductionsAndWidenings) {
    for (int bits : {48, 64}) {
        ImageBuffer src;
        ASSERT_TRUE(src.Create(2, 2, bits));
        for (int i = 0; i < 4; ++i) {
            SetWord(src, i % 2, i / 2, static_cast<uint16_t>(0x0100 * i + 0x0012), 0);  // B
            SetWord(src, i % 2, i / 2, static_cast<uint16_t>(0x0FFF), 1);               // G
            SetWord(src, i % 2, i / 2, static_cast<uint16_t>(0xA000 + i), 2);           // R
        }
        ImageBuffer preview;
        ASSERT_TRUE(preview.Create(2, 2, 24));
        ApplyConverter(preview, ConvertColor16To24Preview, src, nullptr, 0, 0, nullptr);
        EXPECT_EQ(Byte(preview, 1, 1, 0), 0x31);  // (0x0312 >> 4) & 0xFF
        EXPECT_EQ(Byte(preview, 1, 1, 1), 0xFF);
        EXPECT_EQ(Byte(preview, 1, 1, 2), 0x00);  // (0xA003 >> 4) & 0xFF

        ApplyConverter(preview, ConvertColorHighBytesTo24Reversed, src, nullptr, 0, 0, nullptr);
        EXPECT_EQ(Byte(preview, 1, 0, 0), 0x03);  // source row 1
        EXPECT_EQ(Byte(preview, 1, 0, 2), 0xA0);
    }

    ImageBuffer c48;
    ASSERT_TRUE(c48.Create(1, 1, 48));
    SetWord(c48, 0, 0, 0x0001, 0);
    SetWord(c48, 0, 0, 0x0002, 1);
    SetWord(c48, 0, 0, 0x0003, 2);
    ApplyInPlace(c48, ConvertColor12To48Swap, nullptr);
    EXPECT_EQ(Word(c48, 0, 0, 0), 0x0030);
    EXPECT_EQ(Word(c48, 0, 0, 1), 0x0020);
    EXPECT_EQ(Word(c48, 0, 0, 2), 0x0010);
    ApplyInPlace(c48, ConvertColor10To48, nullptr);
    EXPECT_EQ(Word(c48, 0, 0, 0), 0x0C00);

    ImageBuffer c64;
    ASSERT_TRUE(c64.Create(1, 1, 64));
    SetWord(c64, 0, 0, 0x0001, 0);
    SetWord(c64, 0, 0, 0x0003, 2);
    ApplyInPlace(c64, ConvertColor10To64Swap, nullptr);
    EXPECT_EQ(Word(c64, 0, 0, 0), 0x00C0);
    EXPECT_EQ(Word(c64, 0, 0, 2), 0x0040);
    EXPECT_EQ(Word(c64, 0, 0, 3), 0xFFFF);
    ApplyInPlace(c64, ConvertColor12To64, nullptr);
    EXPECT_EQ(Word(c64, 0, 0, 0), 0x0C00);
}

TEST(Converters, NearestNeighbourScaleIsRowReversed) {
    ImageBuffer src;
    ASSERT_TRUE(src.Create(4, 4, 8));
    test::FillMono(src, [](int x, int y) { return 10 * y + x; });
    ImageBuffer dst;
    ASSERT_TRUE(dst.Create(2, 2, 8));
    ASSERT_EQ(ScaleImageNearest(dst, src), 1);
    // Destination (j, i) ← source column 2j, row 3 − 2i.
    EXPECT_EQ(Byte(dst, 0, 0), 30);
    EXPECT_EQ(Byte(dst, 1, 0), 32);
    EXPECT_EQ(Byte(dst, 0, 1), 10);
    EXPECT_EQ(Byte(dst, 1, 1), 12);

    ImageBuffer up;  // enlarging repeats pixels and never reads past the last column or row
    ASSERT_TRUE(up.Create(9, 7, 8));
    ASSERT_EQ(ScaleImageNearest(up, src), 1);
    EXPECT_EQ(Byte(up, 8, 0), 33);
    EXPECT_EQ(Byte(up, 0, 6), 0);

    ImageBuffer color;
    ASSERT_TRUE(color.Create(3, 1, 32));
    for (int x = 0; x < 3; ++x) {
        for (int c = 0; c < 4; ++c) SetByte(color, x, 0, static_cast<uint8_t>(10 * x + c), c);
    }
    ImageBuffer small;
    ASSERT_TRUE(small.Create(2, 1, 24));
    ASSERT_EQ(ScaleImageNearest(small, color), 1);
    EXPECT_EQ(Byte(small, 1, 0, 0), 10);  // ⌊1 × 3 / 2⌋ = 1
    EXPECT_EQ(Byte(small, 1, 0, 2), 12);
    EXPECT_EQ(ScaleImageNearest(src, color), 0);  // 32 → 8 is not a scaling pair
}

// The vector variants at every level against the rule: awkward widths, a rectangle inside the
// source, strides that are no multiple of four (odd for the bytes), a destination offset, and
// frames large enough to be streamed, in which every 16-bit value occurs.
TEST(ConverterLevels, TwelveToEightBitFileConversionFollowsTheRule) {
    struct Shape {
        int width;
        int height;
    };
    for (Shape shape : {Shape{1, 3}, Shape{7, 4}, Shape{15, 2}, Shape{33, 5}, Shape{2560, 6},
                        Shape{2560, 2048}, Shape{2563, 1700}}) {
        const PixelRect rect{3, 2, 3 + shape.width, 2 + shape.height};
        const int srcWords = rect.right + 3;  // 2 (mod 4) bytes a row
        const int dstStride = (shape.width + 4) | 1;
        const int dstX = 1;
        const int dstY = 1;
        std::vector<uint16_t> src(static_cast<size_t>(srcWords) * (rect.bottom + 1));
        for (size_t i = 0; i < src.size(); ++i) src[i] = static_cast<uint16_t>(i * 40503u);
        std::vector<uint8_t> expected(static_cast<size_t>(dstStride) * (dstY + shape.height + 1),
                                      0xA5);
        for (int i = 0; i < shape.height; ++i) {
            for (int j = 0; j < shape.width; ++j) {
                const uint16_t v =
                    src[static_cast<size_t>(rect.bottom - 1 - i) * srcWords + rect.left + j];
                expected[static_cast<size_t>(dstY + i) * dstStride + dstX + j] =
                    static_cast<uint8_t>((v >> 4) & 0xFF);
            }
        }
        test::ForEachSimdLevel([&](SimdLevel level) {
            std::vector<uint8_t> dst(expected.size(), 0xA5);
            ConvertBits12To8Reversed(dst.data(), reinterpret_cast<const uint8_t*>(src.data()), rect,
                                     dstX, dstY, 1, 2, dstStride, 2 * srcWords, nullptr);
            ASSERT_EQ(dst, expected)
                << SimdLevelName(level) << " " << shape.width << "x" << shape.height;
        });
    }
}

// Gray rows for the window, short ones and ones long enough to be streamed, from every start
// within a cache line; nothing is written past the row.
TEST(ConverterLevels, GrayWindowRowsFollowTheRule) {
    std::vector<uint8_t> gray(4200);
    for (size_t i = 0; i < gray.size(); ++i) gray[i] = static_cast<uint8_t>(i * 37 + 11);
    constexpr uint32_t kGuard = 0xDEADBEEF;
    for (int count : {0, 1, 7, 15, 16, 17, 33, 2047, 2048, 2049, 2560, 2561, 4099}) {
        for (int offset = 0; offset < 16; ++offset) {
            const uint8_t* in = gray.data() + (offset * 7) % 16;
            std::vector<uint32_t> expected(static_cast<size_t>(count) + 40, kGuard);
            for (int x = 0; x < count; ++x) {
                expected[static_cast<size_t>(offset + x)] = uint32_t{in[x]} * 0x010101u;
            }
            test::ForEachSimdLevel([&](SimdLevel level) {
                std::vector<uint32_t> out(expected.size(), kGuard);
                platform::ExpandGrayRow(out.data() + offset, in, count);
                FenceStreamedStores();
                ASSERT_EQ(out, expected)
                    << SimdLevelName(level) << " count " << count << " offset " << offset;
            });
        }
    }
}

// Recorder frames large enough to be streamed: bottom row first, padding zeroed, nothing
// written past the frame, every sample value.
TEST(ConverterLevels, LargeGrayRecorderFramesFollowTheRule) {
    struct Case {
        int width;
        int height;
        int bits;
        int significant;
    };
    for (Case c : {Case{2563, 600, 8, 0}, Case{2560, 2048, 8, 0}, Case{2563, 600, 16, 12},
                   Case{2560, 2048, 16, 12}, Case{2563, 600, 16, 16}}) {
        ImageBuffer image;
        ASSERT_TRUE(image.Create(c.width, c.height, c.bits));
        image.SetSignificantBits(c.significant);
        uint32_t n = 0;
        for (int y = 0; y < c.height; ++y) {
            for (int x = 0; x < c.width; ++x, ++n) {
                if (c.bits == 8) {
                    test::SetByte(image, x, y, static_cast<uint8_t>(n * 151u));
                } else {
                    test::SetWord(image, x, y, static_cast<uint16_t>(n * 40503u));
                }
            }
        }
        const size_t pitch = static_cast<size_t>(StrideFor(c.width, 24));
        std::vector<uint8_t> expected(AviWriter::FrameBytes(c.width, c.height) + 64, 0);
        std::fill(expected.end() - 64, expected.end(), 0xEE);
        for (int r = 0; r < c.height; ++r) {
            for (int x = 0; x < c.width; ++x) {
                const int y = c.height - 1 - r;
                const unsigned v =
                    c.bits == 8 ? test::Byte(image, x, y)
                                : std::min(test::Word(image, x, y) >> (c.significant - 8), 255);
                std::fill_n(expected.begin() + static_cast<ptrdiff_t>(pitch * r + 3 * x), 3,
                            static_cast<uint8_t>(v));
            }
        }
        test::ForEachSimdLevel([&](SimdLevel level) {
            std::vector<uint8_t> out(expected.size(), 0xEE);
            ToAviFrame(image, out.data());
            ASSERT_EQ(out, expected)
                << SimdLevelName(level) << " " << c.bits << "-bit " << c.width << "x" << c.height;
        });
    }
}

}  // namespace
}  // namespace lumora
