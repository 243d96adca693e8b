#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>
#include <vector>

#include "ImageTestUtil.h"
#include "imaging/FramePipeline.h"
#include "imaging/RowBands.h"

namespace lumora {
namespace {

using test::Mono;

TEST(RowBandPool, BandsCoverEveryRowOnceAndRepeatedRunsReuseTheWorkers) {
    RowBandPool pool(3);
    for (int rows : {1, 5, 64, 191, 192, 1000}) {
        std::vector<std::atomic<int>> hits(static_cast<size_t>(rows));
        for (int round = 0; round < 20; ++round) {
            pool.Run(rows, [&](int first, int last) {
                for (int y = first; y < last; ++y) hits[static_cast<size_t>(y)]++;
            });
        }
        for (int y = 0; y < rows; ++y) ASSERT_EQ(hits[static_cast<size_t>(y)].load(), 20) << rows;
    }
    const std::vector<int> split = RowBandPool::Split(101, 3, 2);
    ASSERT_EQ(split.size(), 4u);
    EXPECT_EQ(split.front(), 0);
    EXPECT_EQ(split.back(), 101);
    for (size_t i = 1; i + 1 < split.size(); ++i) EXPECT_EQ(split[i] % 2, 0);
}

TEST(RowBandPool, CallersOnSeveralThreadsAreServedOneAfterAnother) {
    RowBandPool pool(2);
    std::atomic<int> total{0};
    std::vector<std::thread> callers;
    for (int t = 0; t < 3; ++t) {
        callers.emplace_back([&] {
            for (int i = 0; i < 50; ++i)
                pool.Run(256, [&](int first, int last) { total += last - first; });
        });
    }
    for (auto& c : callers) c.join();
    EXPECT_EQ(total.load(), 3 * 50 * 256);
}

// Pseudo-random content: smooth ramp, noise and sparse spikes, so every filter has work.
void FillScene(ImageBuffer& image, uint32_t seed, int maxValue) {
    const int spp = image.BitCount() == 8 || image.BitCount() == 16    ? 1
                    : image.BitCount() == 24 || image.BitCount() == 48 ? 3
                                                                       : 4;
    const bool wide = image.BitCount() == 16 || image.BitCount() == 48 || image.BitCount() == 64;
    for (int y = 0; y < image.Height(); ++y) {
        for (int x = 0; x < image.Width(); ++x) {
            for (int c = 0; c < spp; ++c) {
                seed = seed * 1664525u + 1013904223u;
                int v = (x * 7 + y * 3 + c * 50) % (maxValue / 2) + static_cast<int>(seed >> 28);
                if ((seed >> 8) % 53 == 0) v = static_cast<int>((seed >> 9) % (maxValue + 1));
                if (wide) {
                    test::SetWord(image, x, y, static_cast<uint16_t>(v), c);
                } else {
                    test::SetByte(image, x, y, static_cast<uint8_t>(v), c);
                }
            }
        }
    }
}

bool SamePixels(const ImageBuffer& a, const ImageBuffer& b) {
    return a.SizeBytes() == b.SizeBytes() &&
           std::memcmp(a.Pixels(), b.Pixels(), a.SizeBytes()) == 0;
}

TEST(Sharpness, InPlaceMatchesTheWorkCopyVersionAtEveryDepthAndBandCount) {
    for (int bits : {8, 16, 24, 32, 48, 64}) {
        ImageBuffer original;
        ASSERT_TRUE(original.Create(37, 203, bits));
        const bool wide = bits == 16 || bits == 48 || bits == 64;
        FillScene(original, 7u + static_cast<uint32_t>(bits), wide ? 4095 : 255);
        ImageBuffer expected;
        ASSERT_TRUE(expected.CreateLike(original));
        std::memcpy(expected.Pixels(), original.Pixels(), original.SizeBytes());
        ApplySharpness(expected, original, 17);
        for (int bands : {1, 2, 3, 4}) {
            RowBandPool pool(bands);
            ImageBuffer image;
            ASSERT_TRUE(image.CreateLike(original));
            std::memcpy(image.Pixels(), original.Pixels(), original.SizeBytes());
            ApplySharpnessInPlace(image, 17, &pool);
            EXPECT_TRUE(SamePixels(image, expected)) << bits << "-bit, " << bands << " bands";
        }
    }
}

class ScriptedHost : public FramePipelineHost {
public:
    FrameSettings settings;
    MaskSet masks;
    platform::CriticalSection maskLock;
    FrameSettings CurrentSettings() override { return settings; }
    MaskSet* Masks() override { return &masks; }
    platform::CriticalSection& MaskLock() override { return maskLock; }
    void AdjustIris(int, double) override {}
    void StoreGrayGains(const std::array<int, 4>&) override {}
    void StoreWhiteBalance(const BayerGains&, bool) override {}
    void RefreshFilterDialog() override {}
};

// Everything on, 8- and 16-bit: the banded pipeline gives the single-thread bytes.
TEST(FramePipelineBands, EveryStageGivesTheSameBytesWithAndWithoutBands) {
    constexpr int kW = 131;
    constexpr int kH = 419;
    for (int mode : {0, 1}) {
        const int bits = mode == 0 ? 8 : 16;
        const int top = mode == 0 ? 255 : 4095;
        ImageBuffer results[2];
        for (int run = 0; run < 2; ++run) {
            ScriptedHost host;
            ASSERT_TRUE(host.masks.Create(kW, kH));
            FillScene(host.masks.Reference(bits, kMaskDark), 3u, top / 8);
            test::FillMono(host.masks.Reference(bits, kMaskBright),
                           [top](int x, int y) { return top - (x + y) % (top / 4); });
            host.masks.Reference(bits, kMaskDark).Row(40)[bits / 8 * 50] = 0xFF;  // hot
            host.masks.BuildAllDefectMaps();
            host.settings.colorMode = mode;
            host.settings.maskFilter = true;
            host.settings.dotFilter = true;
            host.settings.geometry = MaskGeometry{0, 0, kW, kH};
            host.settings.filter.gamma = 140;
            host.settings.filter.contrast = 20;
            host.settings.filter.sharpness = 12;
            host.settings.filter.brightness = 30;
            PipelineImages images;
            ImageBuffer& raw = images.RawSource(mode);
            ASSERT_TRUE(raw.Create(kW, kH, bits));
            FillScene(raw, 11u, top);
            FramePipeline pipeline(run == 0 ? 1 : 3);
            pipeline.ProcessFrame(images, host);
            ASSERT_TRUE(results[run].CreateLike(raw));
            std::memcpy(results[run].Pixels(), raw.Pixels(), raw.SizeBytes());
        }
        EXPECT_TRUE(SamePixels(results[0], results[1])) << bits << "-bit";
    }
}

// A 16-bit frame whose 12-bit samples vary by ±100 around a level: after the flat field they
// fill sixteen bits and vary by ±1600, which a 12-bit threshold of 480 would flag everywhere.
TEST(FramePipelineBands, DotFilterThresholdFollowsTheFlatFieldScale) {
    constexpr int kSide = 64;
    ScriptedHost host;
    ASSERT_TRUE(host.masks.Create(kSide, kSide));  // dark 0, bright 4095
    host.settings.colorMode = 1;
    host.settings.maskFilter = true;
    host.settings.dotFilter = true;
    host.settings.geometry = MaskGeometry{0, 0, kSide, kSide};
    PipelineImages images;
    ASSERT_TRUE(images.rawImage16.Create(kSide, kSide, 16));
    auto texture = [](int x, int y) { return 2000 + ((x + 2 * y) % 3 - 1) * 100; };
    test::FillMono(images.rawImage16, texture);
    test::SetWord(images.rawImage16, 30, 30, 2000 + 700);  // a real outlier: 700 ≥ 480
    FramePipeline pipeline(2);
    pipeline.ProcessFrame(images, host);
    int changed = 0;
    for (int y = 0; y < kSide; ++y) {
        for (int x = 0; x < kSide; ++x) {
            if (x == 30 && y == 30) continue;
            const int flat = std::clamp(texture(x, y) * 4096 / 4095, 0, 4095) << 4;
            changed += Mono(images.rawImage16, x, y) != flat;
        }
    }
    EXPECT_EQ(changed, 0);  // the texture is not mistaken for defects
    const int neighbours = (std::clamp(texture(29, 30) * 4096 / 4095, 0, 4095) << 4) +
                           (std::clamp(texture(31, 30) * 4096 / 4095, 0, 4095) << 4) +
                           (std::clamp(texture(30, 29) * 4096 / 4095, 0, 4095) << 4) +
                           (std::clamp(texture(30, 31) * 4096 / 4095, 0, 4095) << 4);
    EXPECT_EQ(Mono(images.rawImage16, 30, 30), neighbours / 4);

    // Without the flat field the raw 12-bit data meets the 12-bit threshold as before.
    EXPECT_EQ(DefectThresholdFor(16, 12), kDefectThreshold16);
    EXPECT_EQ(DefectThresholdFor(16, 16), kDefectThreshold16 * 16);
    EXPECT_EQ(DefectThresholdFor(8, 16), kDefectThreshold8);
}

}  // namespace
}  // namespace lumora
