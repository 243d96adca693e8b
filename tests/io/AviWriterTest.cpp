// The AVI writer on its own: the classic layout byte for byte, the rate patching, the extended
// layout past the RIFF limit, and a write failure that still leaves a finished file.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <vector>

#include "imaging/ImageTestUtil.h"
#include "io/AviWriter.h"
#include "io/Fifo.h"
#include "io/FileLimit.h"
#include "io/TempFolder.h"
#include "platform/LittleEndian.h"

namespace lumora {
namespace {

using lumora::testing::Fifo;
using lumora::testing::FileSizeLimit;
using lumora::testing::ReadFileText;
using lumora::testing::TempFolder;

uint32_t U32(const std::string& f, size_t at) {
    return platform::LoadLe32(reinterpret_cast<const uint8_t*>(f.data()) + at);
}
std::string Tag(const std::string& f, size_t at) {
    return f.substr(at, 4);
}

std::string Record(const std::string& path, int width, int height, int frames, int rate,
                   uint64_t expected = 0, uint64_t limit = kAviRiffLimit) {
    AviWriter writer;
    writer.SetRiffLimit(limit);
    EXPECT_TRUE(writer.Open(path.c_str(), width, height, expected ? expected : frames));
    std::vector<uint8_t> pixels(AviWriter::FrameBytes(width, height));
    for (int i = 0; i < frames; ++i) {
        std::fill(pixels.begin(), pixels.end(), static_cast<uint8_t>(i));
        EXPECT_EQ(writer.AddFrame(pixels.data()), AviWriter::AddResult::kAdded);
    }
    writer.SetRate(rate);
    EXPECT_TRUE(writer.Finish());
    return ReadFileText(path);
}

TEST(AviWriterTest, ClassicLayoutHasThePartsSizesAndFirstIndexEntry) {
    TempFolder dir;
    const int n = 3;
    const std::string f = Record((dir / "a.avi").string(), 640, 480, n, 3000);
    const size_t s = 921600;
    ASSERT_EQ(f.size(), 232 + n * (8 + s) + 8 + 16 * n);
    EXPECT_EQ(Tag(f, 0), "RIFF");
    EXPECT_EQ(U32(f, 4), f.size() - 8);
    EXPECT_EQ(Tag(f, 8), "AVI ");
    EXPECT_EQ(U32(f, 16), 200u);
    EXPECT_EQ(U32(f, 44), 0x10010u);
    EXPECT_EQ(U32(f, 48), static_cast<uint32_t>(n));
    EXPECT_EQ(U32(f, 60), s + 8);
    EXPECT_EQ(U32(f, 64), 640u);
    EXPECT_EQ(U32(f, 68), 480u);
    EXPECT_EQ(U32(f, 92), 124u);
    EXPECT_EQ(Tag(f, 108), "vids");
    EXPECT_EQ(Tag(f, 112), "DIB ");
    EXPECT_EQ(U32(f, 132), 10000000u);
    EXPECT_EQ(U32(f, 140), static_cast<uint32_t>(n));
    EXPECT_EQ(U32(f, 180), 40u);
    EXPECT_EQ(U32(f, 184), 640u);
    EXPECT_EQ(U32(f, 188), 480u);
    EXPECT_EQ(U32(f, 192) >> 16, 24u);  // bit count after the planes
    EXPECT_EQ(U32(f, 224), 4 + n * (8 + s));
    EXPECT_EQ(Tag(f, 228), "movi");
    EXPECT_EQ(Tag(f, 232), "00db");
    EXPECT_EQ(U32(f, 236), s);
    EXPECT_EQ(static_cast<uint8_t>(f[240 + s + 8 + 5]), 1);  // second frame's pixels
    const size_t idx1 = 232 + n * (8 + s);
    EXPECT_EQ(Tag(f, idx1), "idx1");
    EXPECT_EQ(U32(f, idx1 + 4), 16u * n);
    EXPECT_EQ(Tag(f, idx1 + 8), "00db");
    EXPECT_EQ(U32(f, idx1 + 12), 0x10u);
    EXPECT_EQ(U32(f, idx1 + 16), 4u);
    EXPECT_EQ(U32(f, idx1 + 20), s);
    EXPECT_EQ(U32(f, idx1 + 32), 4 + 8 + s);
}

TEST(AviWriterTest, RateIsPatchedAndZeroRateKeepsTheInitialOne) {
    TempFolder dir;
    std::string f = Record((dir / "r.avi").string(), 64, 48, 30, 30 * 100000 / 1000);
    EXPECT_EQ(U32(f, 32), 33333u);
    EXPECT_EQ(U32(f, 128), 333333u);
    f = Record((dir / "z.avi").string(), 64, 48, 1, 0);
    EXPECT_EQ(U32(f, 32), 33333u);  // 30 frames per second, never a division by zero
    EXPECT_EQ(U32(f, 128), 333333u);
}

TEST(AviWriterTest, OddRowLengthsArePaddedAndChunkSizeAgrees) {
    TempFolder dir;
    const std::string f = Record((dir / "o.avi").string(), 642, 3, 2, 3000);
    const uint32_t s = 1928 * 3;  // 3 × 642 = 1926 padded to 1928
    EXPECT_EQ(U32(f, 236), s);
    EXPECT_EQ(U32(f, 60), s + 8);
    EXPECT_EQ(U32(f, 232 + 2 * (8 + s) + 8 + 12), s);
}

TEST(AviWriterTest, LayoutIsChosenFromTheExpectedSize) {
    EXPECT_FALSE(AviWriter::NeedsExtendedLayout(640, 480, 1000, kAviRiffLimit));
    EXPECT_TRUE(AviWriter::NeedsExtendedLayout(640, 480, 1200, kAviRiffLimit));
    // 270 full-size frames already overflow 32-bit sizes; they go extended well before.
    EXPECT_TRUE(AviWriter::NeedsExtendedLayout(2560, 2048, 70, kAviRiffLimit));
}

TEST(AviWriterTest, ExtendedLayoutChainsRiffsEachWithinTheLimit) {
    TempFolder dir;
    const int w = 64, h = 48, n = 40;
    const uint64_t limit = 64 * 1024;  // about seven frames per RIFF
    const std::string f = Record((dir / "x.avi").string(), w, h, n, 2500, n, limit);
    EXPECT_EQ(Tag(f, 0), "RIFF");
    EXPECT_LE(U32(f, 4) + 8u, limit);
    // Walk the RIFF chain: every size consistent, every RIFF within the limit.
    size_t at = 0;
    int riffs = 0;
    while (at < f.size()) {
        ASSERT_EQ(Tag(f, at), "RIFF") << at;
        EXPECT_EQ(Tag(f, at + 8), riffs == 0 ? "AVI " : "AVIX");
        EXPECT_LE(U32(f, at + 4) + 8u, limit);
        at += 8 + U32(f, at + 4);
        ++riffs;
    }
    EXPECT_EQ(at, f.size());
    EXPECT_GE(riffs, 5);
    EXPECT_EQ(U32(f, 140), static_cast<uint32_t>(n));  // the stream's length counts all frames
    EXPECT_LT(U32(f, 48), static_cast<uint32_t>(n));   // the main header: the first RIFF only
    EXPECT_NE(f.find("indx"), std::string::npos);
    EXPECT_NE(f.find("dmlh"), std::string::npos);
    const size_t dmlh = f.find("dmlh");
    EXPECT_EQ(U32(f, dmlh + 8), static_cast<uint32_t>(n));
}

TEST(AviWriterTest, ClassicFileRefusesAFrameThatWouldPassTheLimit) {
    TempFolder dir;
    AviWriter writer;
    writer.SetRiffLimit(64 * 1024);
    const std::string path = (dir / "c.avi").string();
    ASSERT_TRUE(writer.Open(path.c_str(), 64, 48, 1));
    ASSERT_FALSE(writer.Extended());
    std::vector<uint8_t> pixels(AviWriter::FrameBytes(64, 48));
    int added = 0;
    while (writer.AddFrame(pixels.data()) == AviWriter::AddResult::kAdded) ++added;
    EXPECT_GT(added, 3);
    EXPECT_TRUE(writer.Finish());
    const std::string f = ReadFileText(path);
    EXPECT_LE(f.size(), 64u * 1024);
    EXPECT_EQ(U32(f, 4), f.size() - 8);
    EXPECT_EQ(U32(f, 48), static_cast<uint32_t>(added));
}

TEST(AviWriterTest, FailedWriteLeavesAFinishedFileOfTheCompleteFrames) {
    TempFolder dir;
    const std::string path = (dir / "full.avi").string();
    const uint64_t s = AviWriter::FrameBytes(64, 48);
    std::vector<uint8_t> pixels(s, 7);
    AviWriter writer;
    {
        // Room for the headers and two and a half frames.
        FileSizeLimit limit(232 + 2 * (8 + s) + s / 2);
        ASSERT_TRUE(writer.Open(path.c_str(), 64, 48, 10));
        EXPECT_EQ(writer.AddFrame(pixels.data()), AviWriter::AddResult::kAdded);
        EXPECT_EQ(writer.AddFrame(pixels.data()), AviWriter::AddResult::kAdded);
        EXPECT_EQ(writer.AddFrame(pixels.data()), AviWriter::AddResult::kFailed);
        EXPECT_TRUE(writer.WriteFailed());
        EXPECT_FALSE(writer.Finish());  // reported, though the file is complete
    }
    const std::string f = ReadFileText(path);
    ASSERT_EQ(f.size(), 232 + 2 * (8 + s) + 8 + 16 * 2);
    EXPECT_EQ(U32(f, 4), f.size() - 8);
    EXPECT_EQ(U32(f, 48), 2u);
    EXPECT_EQ(U32(f, 224), 4 + 2 * (8 + s));
    EXPECT_EQ(Tag(f, 232 + 2 * (8 + s)), "idx1");
}

TEST(AviWriterTest, OpenRefusesBadPathsAndSizes) {
    TempFolder dir;
    AviWriter writer;
    EXPECT_FALSE(writer.Open(nullptr, 64, 48, 1));
    EXPECT_FALSE(writer.Open("", 64, 48, 1));
    EXPECT_FALSE(writer.Open(dir.Path().c_str(), 64, 48, 1));
    EXPECT_FALSE(writer.Open((dir / "missing" / "a.avi").c_str(), 64, 48, 1));
    EXPECT_FALSE(writer.Open((dir / "a.avi").c_str(), 0, 48, 1));
    EXPECT_FALSE(writer.IsOpen());
}

// A recording must never cost what the path named before: nothing that is not a regular file
// is touched, and an existing file changes only once the recording can start.
TEST(AviWriterTest, OpenLeavesDevicesPipesAndAnExistingFileOnAFullDiskAsTheyWere) {
    TempFolder dir;
    AviWriter writer;
    Fifo pipe(dir / "pipe.avi");
    ASSERT_TRUE(pipe.Made());
    EXPECT_TRUE(
        pipe.ReturnsPromptly([&] { EXPECT_FALSE(writer.Open(pipe.String().c_str(), 64, 48, 1)); }));
    EXPECT_TRUE(pipe.StillThere());
    const auto device = dir / "full.avi";
    std::filesystem::create_symlink("/dev/full", device);
    EXPECT_FALSE(writer.Open("/dev/full", 64, 48, 1));
    EXPECT_FALSE(writer.Open(device.c_str(), 64, 48, 1));
    EXPECT_TRUE(std::filesystem::is_character_file("/dev/full"));
    EXPECT_TRUE(std::filesystem::is_symlink(device));

    const auto old = dir / "old.avi";
    const std::string before(4096, 'k');  // room for the headers, not for a frame
    std::ofstream(old, std::ios::binary) << before;
    {
        FileSizeLimit full(4096);
        EXPECT_FALSE(writer.Open(old.c_str(), 64, 48, 1));
        // A file the writer created is removed again.
        EXPECT_FALSE(writer.Open((dir / "new.avi").c_str(), 64, 48, 1));
    }
    EXPECT_EQ(ReadFileText(old), before);
    EXPECT_FALSE(std::filesystem::exists(dir / "new.avi"));
    EXPECT_FALSE(writer.IsOpen());

    // Once it can start, the recording replaces the old content whole.
    const uint64_t s = AviWriter::FrameBytes(64, 48);
    std::ofstream(old, std::ios::binary) << std::string(1 << 20, 'k');
    ASSERT_TRUE(writer.Open(old.c_str(), 64, 48, 1));
    std::vector<uint8_t> pixels(s, 3);
    EXPECT_EQ(writer.AddFrame(pixels.data()), AviWriter::AddResult::kAdded);
    EXPECT_TRUE(writer.Finish());
    EXPECT_EQ(std::filesystem::file_size(old), 232 + (8 + s) + 8 + 16);
}

TEST(AviWriterTest, FramesOfEveryDepthBecomeBottomUpBgr) {
    ImageBuffer gray;
    ASSERT_TRUE(gray.Create(3, 2, 16));
    reinterpret_cast<uint16_t*>(gray.Row(0))[0] = 0x0ABC;  // top-left
    reinterpret_cast<uint16_t*>(gray.Row(1))[2] = 0xFFF0;  // bottom-right
    std::vector<uint8_t> out(AviWriter::FrameBytes(3, 2));
    gray.SetSignificantBits(12);
    ToAviFrame(gray, out.data());
    const size_t pitch = 12;
    EXPECT_EQ(out[pitch + 0], 0xAB);  // the top row is written last
    EXPECT_EQ(out[6], 0xFF);          // above 12 bits saturates instead of wrapping
    gray.SetSignificantBits(16);      // left-aligned by the flat field: the high byte
    ToAviFrame(gray, out.data());
    EXPECT_EQ(out[pitch + 0], 0x0A);
    EXPECT_EQ(out[6], 0xFF);
    EXPECT_EQ(out[7], 0xFF);
    EXPECT_EQ(out[9], 0);  // padding

    ImageBuffer bgrx;
    ASSERT_TRUE(bgrx.Create(1, 1, 32));
    bgrx.Row(0)[0] = 1;
    bgrx.Row(0)[1] = 2;
    bgrx.Row(0)[2] = 3;
    bgrx.Row(0)[3] = 4;
    ToAviFrame(bgrx, out.data());
    EXPECT_EQ(out[0], 1);
    EXPECT_EQ(out[1], 2);
    EXPECT_EQ(out[2], 3);
    EXPECT_EQ(out[3], 0);
}

// The conversion runs its vector kernels at every level the processor has; each gives the
// per-pixel rule on an odd width (no row a whole number of vectors, rows padded).
TEST(AviWriterTest, FramesFollowThePixelRuleAtEveryInstructionLevel) {
    constexpr int kW = 67;
    constexpr int kH = 5;
    test::TestRandom random(71);
    struct Case {
        int bits;
        int significant;  // 16-bit samples: where the data lies (0: not said)
        bool grayPalette;
    };
    for (Case c : {Case{8, 0, true}, Case{8, 0, false}, Case{16, 12, true}, Case{16, 16, true},
                   Case{16, 0, true}, Case{24, 0, true}, Case{32, 0, true}, Case{48, 12, true},
                   Case{64, 16, true}}) {
        ImageBuffer image;
        ASSERT_TRUE(image.Create(kW, kH, c.bits));
        for (int y = 0; y < kH; ++y) {
            for (int i = 0; i < image.Stride(); ++i)
                image.Row(y)[i] = static_cast<uint8_t>(random.Next());
        }
        if (!c.grayPalette) {
            RgbQuad entries[kPaletteEntries];
            for (int i = 0; i < kPaletteEntries; ++i) {
                entries[i] = RgbQuad{static_cast<uint8_t>(255 - i), static_cast<uint8_t>(i / 2),
                                     static_cast<uint8_t>(i ^ 0x55), 0};
            }
            image.SetPalette(0, kPaletteEntries, entries);
        }
        image.SetSignificantBits(c.significant);
        // The rule, pixel by pixel.
        const size_t pitch = static_cast<size_t>(StrideFor(kW, 24));
        std::vector<uint8_t> expected(AviWriter::FrameBytes(kW, kH), 0);
        for (int r = 0; r < kH; ++r) {
            const uint8_t* src = image.Row(kH - 1 - r);
            for (int x = 0; x < kW; ++x) {
                uint8_t* px = expected.data() + pitch * static_cast<size_t>(r) + 3 * x;
                uint16_t words[3] = {};
                const int samples = c.bits / 16;
                if (c.bits >= 16)
                    std::memcpy(words, src + 2 * samples * x, 2 * std::min(samples, 3));
                switch (c.bits) {
                    case 8: {
                        const RgbQuad& q = image.Palette()[src[x]];
                        px[0] = q.blue;
                        px[1] = q.green;
                        px[2] = q.red;
                        break;
                    }
                    case 16:
                        px[0] = px[1] = px[2] = TopByteOf(words[0], c.significant);
                        break;
                    case 24:
                    case 32:
                        std::memcpy(px, src + c.bits / 8 * x, 3);
                        break;
                    default:
                        for (int k = 0; k < 3; ++k) px[k] = TopByteOf(words[k], c.significant, 16);
                        break;
                }
            }
        }
        test::ForEachSimdLevel([&](SimdLevel level) {
            std::vector<uint8_t> out(expected.size(), 0xEE);
            ToAviFrame(image, out.data());
            EXPECT_EQ(out, expected) << SimdLevelName(level) << " " << c.bits << "-bit";
        });
    }
}

}  // namespace
}  // namespace lumora
