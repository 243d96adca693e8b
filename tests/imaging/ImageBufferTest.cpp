#include <gtest/gtest.h>

#include <cstring>

#include "ImageTestUtil.h"
#include "imaging/Converters.h"
#include "imaging/ImageBuffer.h"
#include "imaging/PixelConverter.h"
#include "imaging/RawFrame.h"

namespace lumora {
namespace {

using test::Byte;
using test::SetByte;

TEST(ImageBuffer, CreatePadsRowsToFourBytesAndFillsTheHeader) {
    ImageBuffer image;
    ASSERT_TRUE(image.Create(2561, 3, 8));
    EXPECT_EQ(image.Stride(), 2564);
    EXPECT_EQ(image.Width(), 2561);
    EXPECT_EQ(image.Height(), 3);
    EXPECT_EQ(image.BytesPerPixel(), 1);
    const BitmapInfoHeader& h = image.Header();
    EXPECT_EQ(h.size, 40u);
    EXPECT_EQ(h.width, 2561);
    EXPECT_EQ(h.height, 3);
    EXPECT_EQ(h.planes, 1);
    EXPECT_EQ(h.bitCount, 8);
    EXPECT_EQ(h.compression, 0u);
    EXPECT_EQ(h.sizeImage, 0u);
    // Header and palette form one BITMAPINFO block.
    EXPECT_EQ(reinterpret_cast<const uint8_t*>(image.Palette()),
              reinterpret_cast<const uint8_t*>(&image.Info()) + 40);

    const struct {
        int width;
        int bits;
        int stride;
    } cases[] = {{2560, 8, 2560}, {1, 8, 4},  {3, 16, 8},  {5, 24, 16},
                 {3, 32, 12},     {1, 48, 8}, {3, 48, 20}, {1, 64, 8}};
    for (const auto& c : cases) {
        ASSERT_TRUE(image.Create(c.width, 2, c.bits));
        EXPECT_EQ(image.Stride(), c.stride) << c.width << "x" << c.bits;
        EXPECT_EQ(image.SizeBytes(), static_cast<size_t>(c.stride) * 2);
    }
}

TEST(ImageBuffer, CreateRefusesBadGeometryAndKeepsTheOldImage) {
    ImageBuffer image;
    ASSERT_TRUE(image.Create(4, 4, 16));
    EXPECT_FALSE(image.Create(0, 4, 8));
    EXPECT_FALSE(image.Create(4, -1, 8));
    EXPECT_FALSE(image.Create(4, 4, 0));
    EXPECT_FALSE(image.Create(4, 4, 12));
    EXPECT_FALSE(image.Create(0x7FFFFFFF, 1, 32));  // stride would overflow
    EXPECT_TRUE(image.IsValid());
    EXPECT_EQ(image.BitCount(), 16);
}

TEST(ImageBuffer, GrayPaletteForEightBitAndZeroedPixels) {
    ImageBuffer image;
    ASSERT_TRUE(image.Create(7, 5, 8));
    for (int i = 0; i < 256; ++i) {
        const RgbQuad q = image.Palette()[i];
        EXPECT_TRUE(q.blue == i && q.green == i && q.red == i && q.reserved == 0) << i;
    }
    for (size_t i = 0; i < image.SizeBytes(); ++i) ASSERT_EQ(image.Pixels()[i], 0);

    const RgbQuad red[2] = {{0, 0, 255, 0}, {1, 2, 3, 4}};
    image.SetPalette(255, 2, red);  // the second entry does not fit and is dropped
    EXPECT_EQ(image.Palette()[255].red, 255);
    EXPECT_EQ(image.Palette()[254].red, 254);

    ASSERT_TRUE(image.Create(7, 5, 24));
    EXPECT_EQ(image.Palette()[10].red, 0);  // colour images carry no ramp
}

TEST(ImageBuffer, CreateLikeCopiesGeometryNotPixelsAndResetClears) {
    ImageBuffer a;
    ASSERT_TRUE(a.Create(9, 3, 48));
    std::memset(a.Pixels(), 0xAB, a.SizeBytes());
    ImageBuffer b;
    ASSERT_TRUE(b.CreateLike(a));
    EXPECT_EQ(b.Width(), 9);
    EXPECT_EQ(b.Height(), 3);
    EXPECT_EQ(b.Stride(), a.Stride());
    EXPECT_EQ(b.BitCount(), 48);
    EXPECT_EQ(std::memcmp(&b.Header(), &a.Header(), sizeof(BitmapInfoHeader)), 0);
    EXPECT_NE(b.Pixels(), a.Pixels());
    EXPECT_EQ(b.Pixels()[0], 0);

    ImageBuffer empty;
    EXPECT_FALSE(b.CreateLike(empty));
    EXPECT_TRUE(b.IsValid());

    b.Reset();
    EXPECT_FALSE(b.IsValid());
    EXPECT_EQ(b.Width(), 0);
    EXPECT_EQ(b.Stride(), 0);
    EXPECT_EQ(b.Header().size, 40u);
    EXPECT_EQ(b.Header().width, 0);
}

// Records what ApplyConverter handed over.
struct Seen {
    int calls = 0;
    PixelRect rect{};
    int dstX = 0, dstY = 0, dstBpp = 0, srcBpp = 0, dstStride = 0, srcStride = 0;
};
Seen gSeen;
int Recorder(uint8_t*, const uint8_t*, const PixelRect& rect, int dstX, int dstY, int dstBpp,
             int srcBpp, int dstStride, int srcStride, const void*) {
    gSeen = Seen{gSeen.calls + 1, rect, dstX, dstY, dstBpp, srcBpp, dstStride, srcStride};
    return 1;
}

TEST(ApplyConverter, ClipsTheRectangleAgainstBothImages) {
    ImageBuffer dst;
    ImageBuffer src;
    ASSERT_TRUE(dst.Create(10, 8, 24));
    ASSERT_TRUE(src.Create(6, 5, 16));
    gSeen = {};
    EXPECT_EQ(ApplyConverter(dst, Recorder, src, nullptr, 0, 0, nullptr), 1);
    EXPECT_EQ(gSeen.rect.right, 6);
    EXPECT_EQ(gSeen.rect.bottom, 5);
    EXPECT_EQ(gSeen.dstBpp, 3);
    EXPECT_EQ(gSeen.srcBpp, 2);
    EXPECT_EQ(gSeen.dstStride, 32);
    EXPECT_EQ(gSeen.srcStride, 12);

    // Placed at (7, 6), only 3 × 2 of the destination is left.
    const PixelRect all{0, 0, 6, 5};
    EXPECT_EQ(ApplyConverter(dst, Recorder, src, &all, 7, 6, nullptr), 1);
    EXPECT_EQ(gSeen.rect.Width(), 3);
    EXPECT_EQ(gSeen.rect.Height(), 2);

    // A rectangle hanging off the source's top-left moves the destination origin along.
    const PixelRect off{-2, -1, 3, 3};
    EXPECT_EQ(ApplyConverter(dst, Recorder, src, &off, 0, 0, nullptr), 1);
    EXPECT_EQ(gSeen.rect.left, 0);
    EXPECT_EQ(gSeen.rect.top, 0);
    EXPECT_EQ(gSeen.dstX, 2);
    EXPECT_EQ(gSeen.dstY, 1);

    // A negative destination origin cuts the source.
    EXPECT_EQ(ApplyConverter(dst, Recorder, src, nullptr, -4, -2, nullptr), 1);
    EXPECT_EQ(gSeen.rect.left, 4);
    EXPECT_EQ(gSeen.rect.top, 2);
    EXPECT_EQ(gSeen.dstX, 0);

    const int before = gSeen.calls;
    const PixelRect outside{6, 0, 9, 5};
    EXPECT_EQ(ApplyConverter(dst, Recorder, src, &outside, 0, 0, nullptr), 0);
    EXPECT_EQ(ApplyConverter(dst, Recorder, src, nullptr, 10, 0, nullptr), 0);
    EXPECT_EQ(ApplyConverter(dst, nullptr, src, nullptr, 0, 0, nullptr), 0);
    const PixelRect huge{-0x7FFFFFFF, -0x7FFFFFFF, 0x7FFFFFFF, 0x7FFFFFFF};
    EXPECT_EQ(ApplyConverter(dst, Recorder, src, &huge, -0x7FFFFFFF, 0, nullptr), 0);
    ImageBuffer empty;
    EXPECT_EQ(ApplyConverter(empty, Recorder, src, nullptr, 0, 0, nullptr), 0);
    EXPECT_EQ(gSeen.calls, before);
}

TEST(RespreadRows, MovesPackedRowsToTheirStridePositions) {
    ImageBuffer image;
    ASSERT_TRUE(image.Create(2561, 3, 8));
    // The transport's packed layout: row r is 2561 bytes of value r + 1 from offset r × 2561.
    for (int r = 0; r < 3; ++r) std::memset(image.Pixels() + r * 2561, r + 1, 2561);
    ASSERT_TRUE(RespreadRows(image));
    for (int r = 0; r < 3; ++r) {
        EXPECT_EQ(Byte(image, 0, r), r + 1);
        EXPECT_EQ(Byte(image, 2560, r), r + 1);
    }
    EXPECT_EQ(image.Pixels()[2564], 2);  // row 1 starts at 2564

    ImageBuffer words;
    ASSERT_TRUE(words.Create(3, 4, 16));  // packed 6 bytes, stride 8
    uint16_t packed[12];
    for (int i = 0; i < 12; ++i) packed[i] = static_cast<uint16_t>(1000 + i);
    std::memcpy(words.Pixels(), packed, sizeof(packed));
    ASSERT_TRUE(RespreadRows(words));
    for (int y = 0; y < 4; ++y) {
        for (int x = 0; x < 3; ++x) EXPECT_EQ(test::Word(words, x, y), 1000 + y * 3 + x);
    }

    ImageBuffer color;
    ASSERT_TRUE(color.Create(3, 2, 24));
    EXPECT_FALSE(RespreadRows(color));
}

TEST(MirrorOnHost, MirrorsOnlyWhatTheHardwareDoesNot) {
    auto make = [](ImageBuffer& image, int bits) {
        ASSERT_TRUE(image.Create(3, 3, bits));
        test::FillMono(image, [](int x, int y) { return y * 3 + x; });
    };
    ImageBuffer image;
    make(image, 8);
    MirrorOnHost(image, MirrorState{true, false, false, false});
    EXPECT_EQ(Byte(image, 0, 0), 2);
    EXPECT_EQ(Byte(image, 2, 1), 3);

    make(image, 16);
    MirrorOnHost(image, MirrorState{false, true, false, false});
    EXPECT_EQ(test::Word(image, 0, 0), 6);
    EXPECT_EQ(test::Word(image, 2, 1), 5);

    make(image, 8);
    MirrorOnHost(image, MirrorState{true, true, false, false});  // 180 degrees
    for (int i = 0; i < 9; ++i) EXPECT_EQ(Byte(image, i % 3, i / 3), 8 - i);

    make(image, 16);
    MirrorOnHost(image, MirrorState{true, true, true, false});  // hardware did H: only V left
    EXPECT_EQ(test::Word(image, 0, 0), 6);
    EXPECT_EQ(test::Word(image, 0, 2), 0);

    make(image, 8);
    MirrorOnHost(image, MirrorState{true, true, true, true});
    EXPECT_EQ(Byte(image, 0, 0), 0);

    ImageBuffer even;  // even height: every row has a partner
    ASSERT_TRUE(even.Create(2, 4, 8));
    test::FillMono(even, [](int x, int y) { return y * 2 + x; });
    MirrorOnHost(even, MirrorState{true, false, false, false});
    EXPECT_EQ(Byte(even, 0, 3), 7);
    EXPECT_EQ(Byte(even, 1, 3), 6);
}

}  // namespace
}  // namespace lumora
