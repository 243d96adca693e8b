#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>

#include "session/FrameHandOver.h"

namespace lumora {
namespace {

// An image whose every byte is `value`, so a frame mixed from two offers shows.
void Fill(ImageBuffer& image, uint8_t value) {
    std::memset(image.Pixels(), value, image.SizeBytes());
}

bool Uniform(const ImageBuffer& image, uint8_t* value) {
    const uint8_t* p = image.Pixels();
    *value = p[0];
    for (size_t i = 0; i < image.SizeBytes(); ++i) {
        if (p[i] != p[0]) return false;
    }
    return true;
}

TEST(FrameHandOver, NewestFrameWinsAndReplacingOneIsReported) {
    ImageBuffer image;
    ASSERT_TRUE(image.Create(13, 5, 16));
    FrameHandOver handOver;
    ASSERT_TRUE(handOver.Prepare(image));
    EXPECT_EQ(handOver.Take(), nullptr);

    Fill(image, 1);
    EXPECT_TRUE(handOver.Offer(image));
    Fill(image, 2);
    EXPECT_FALSE(handOver.Offer(image));  // frame 1 was never taken
    const ImageBuffer* taken = handOver.Take();
    ASSERT_NE(taken, nullptr);
    uint8_t value = 0;
    ASSERT_TRUE(Uniform(*taken, &value));
    EXPECT_EQ(value, 2);
    EXPECT_EQ(handOver.Take(), nullptr);  // each frame is taken once

    // The taken frame stays as it was while the capture side goes on offering.
    Fill(image, 3);
    EXPECT_TRUE(handOver.Offer(image));
    Fill(image, 4);
    EXPECT_FALSE(handOver.Offer(image));
    ASSERT_TRUE(Uniform(*taken, &value));
    EXPECT_EQ(value, 2);
}

TEST(FrameHandOver, CopyKeepsPaletteSignificantBitsAndFollowsAChangeOfSize) {
    ImageBuffer gray;
    ASSERT_TRUE(gray.Create(7, 3, 8));
    const RgbQuad red{0, 0, 255, 0};
    gray.SetPalette(9, 1, &red);
    gray.Row(2)[6] = 9;
    FrameHandOver handOver;
    ASSERT_TRUE(handOver.Prepare(gray));
    ASSERT_TRUE(handOver.Offer(gray));
    const ImageBuffer* taken = handOver.Take();
    ASSERT_NE(taken, nullptr);
    EXPECT_EQ(taken->Row(2)[6], 9);
    EXPECT_EQ(taken->Palette()[9].red, 255);
    EXPECT_EQ(taken->Palette()[9].blue, 0);

    ImageBuffer wide;
    ASSERT_TRUE(wide.Create(9, 4, 16));
    wide.SetSignificantBits(16);
    ASSERT_TRUE(handOver.Offer(wide));
    taken = handOver.Take();
    ASSERT_NE(taken, nullptr);
    EXPECT_EQ(taken->Width(), 9);
    EXPECT_EQ(taken->BitCount(), 16);
    EXPECT_EQ(taken->SignificantBits(), 16);

    handOver.Release();
    EXPECT_EQ(handOver.Take(), nullptr);
    EXPECT_FALSE(handOver.Offer(ImageBuffer()));
}

TEST(FrameHandOver, FramesCrossThreadsWhole) {
    // The capture side offers as fast as it can while the record side takes and inspects: every
    // frame taken must be one offer's, never a mix, and newer than the one before.
    ImageBuffer image;
    ASSERT_TRUE(image.Create(64, 64, 8));
    FrameHandOver handOver;
    ASSERT_TRUE(handOver.Prepare(image));
    constexpr int kFrames = 250;
    std::atomic<bool> done{false};
    std::atomic<int> offeredUntaken{0};
    std::thread capture([&] {
        for (int i = 1; i <= kFrames; ++i) {
            Fill(image, static_cast<uint8_t>(i));
            if (!handOver.Offer(image)) ++offeredUntaken;
        }
        done = true;
    });
    int last = 0;
    int taken = 0;
    int torn = 0;
    int backwards = 0;
    while (true) {
        const bool finished = done.load();
        if (const ImageBuffer* frame = handOver.Take()) {
            uint8_t value = 0;
            if (!Uniform(*frame, &value)) ++torn;
            if (value <= last) ++backwards;
            last = value;
            ++taken;
        } else if (finished) {
            break;
        } else {
            std::this_thread::yield();
        }
    }
    capture.join();
    EXPECT_EQ(torn, 0);
    EXPECT_EQ(backwards, 0);
    EXPECT_EQ(last, kFrames);  // the last offer is never lost
    EXPECT_EQ(taken + offeredUntaken.load(), kFrames);
}

}  // namespace
}  // namespace lumora
