// Recordings made through the exports on the static simulated scene, judged by ffprobe, ffmpeg
// and OpenCV's VideoCapture: the frame count, the size, and every decoded pixel against the
// session's output image reduced to 8 bits (8-bit frames as they are, 16-bit frames by the top 8
// of their 12 significant bits), at a small and at the full window, and past the RIFF limit.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "ExternalReaders.h"
#include "e2e/SimFixture.h"
#include "io/TempFolder.h"
#include "lumora/host.h"

#if defined(LUMORA_HAVE_OPENCV_VIDEOIO)
#include <opencv2/videoio.hpp>
#endif

namespace lumora {
namespace {

using lumora::testing::HaveFfmpeg;
using lumora::testing::ReadFileText;
using lumora::testing::Shell;
using lumora::testing::SimWorld;

class RecordInteropTest : public SimWorld {
protected:
    void SetUp() override {
        SimWorld::SetUp();
        LumoraSim_SetStaticScene(1);
    }
    void TearDown() override {
        LumoraSim_SetStaticScene(0);
        SimWorld::TearDown();
    }

    // Records `durationMs` of the width × height window at `bits`, waits for the file to be
    // finished (or stops it once it holds `stopAfter` frames) and returns its frame count;
    // `expected` gets the output image as the recorder reduces it: top row first, 8 bits per pixel.
    uint64_t RecordScene(const std::string& path, int width, int height, int bits, int durationMs,
                         std::vector<uint8_t>& expected, uint64_t riffLimit = 0,
                         uint64_t stopAfter = 0) {
        const int h = Open();
        EXPECT_EQ(Lumora_SetCaptureWindowEx(h, 2560, 0, width, 2048, 0, height), 1);
        EXPECT_EQ(Lumora_SetColorMode(h, bits), 1);
        if (riffLimit != 0) Session(h)->SetRecordRiffLimit(riffLimit);
        EXPECT_EQ(Lumora_Record(h, path.c_str(), durationMs, 0), 1);
        LumoraRecordStats stats{};
        for (int i = 0; i < 6000; ++i) {
            EXPECT_EQ(LumoraHost_GetRecordStats(h, &stats), 1);
            if (stats.recording == 0 || (stopAfter != 0 && stats.framesWritten >= stopAfter)) {
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        EXPECT_EQ(Lumora_StopPreview(h), 1);  // finishes a recording still going
        EXPECT_EQ(LumoraHost_GetRecordStats(h, &stats), 1);
        EXPECT_EQ(stats.recording, 0);
        EXPECT_GT(stats.rate, 0);

        const int bytes = bits / 8;
        const size_t stride = (static_cast<size_t>(width) * bytes + 3) & ~size_t{3};
        std::vector<uint8_t> image(stride * static_cast<size_t>(height));
        EXPECT_EQ(Lumora_GetImage(h, image.data(), static_cast<int>(image.size()), 1), 1);
        expected.assign(static_cast<size_t>(width) * height, 0);
        for (int y = 0; y < height; ++y) {
            const uint8_t* row = image.data() + stride * static_cast<size_t>(y);
            for (int x = 0; x < width; ++x) {
                uint8_t v = row[x];
                if (bits == 16) {
                    const unsigned sample = row[2 * x] | (row[2 * x + 1] << 8);
                    v = static_cast<uint8_t>(std::min(sample >> 4, 255u));
                }
                expected[static_cast<size_t>(y) * width + x] = v;
            }
        }
        // The scene's gradients and marks: a comparison against a flat picture proves nothing.
        const auto [lo, hi] = std::minmax_element(expected.begin(), expected.end());
        EXPECT_GT(*hi - *lo, 64);
        EXPECT_EQ(Lumora_Close(h), 1);
        return stats.framesWritten;
    }

    // ffprobe's count and size, then every pixel of every frame ffmpeg decodes.
    static void ExpectFfmpegReads(const std::string& path, int width, int height, uint64_t frames,
                                  const std::vector<uint8_t>& expected) {
        const std::string probe = Shell(
            "ffprobe -v error -count_frames -select_streams v:0 -show_entries "
            "stream=width,height,pix_fmt,nb_read_frames -of default=nw=1 '" +
            path + "'");
        EXPECT_NE(probe.find("width=" + std::to_string(width)), std::string::npos) << probe;
        EXPECT_NE(probe.find("height=" + std::to_string(height)), std::string::npos) << probe;
        EXPECT_NE(probe.find("pix_fmt=bgr24"), std::string::npos) << probe;
        EXPECT_NE(probe.find("nb_read_frames=" + std::to_string(frames) + "\n"), std::string::npos)
            << probe;
        // Every stored frame once: a raw output is otherwise resampled to a constant rate, and
        // some recorded rates (237.95 fps, say) gain or lose a frame in that.
        const std::string raw = path + ".rgb";
        Shell("ffmpeg -v error -y -i '" + path +
              "' -fps_mode passthrough -f rawvideo -pix_fmt rgb24 '" + raw + "'");
        const std::string decoded = ReadFileText(raw);
        std::remove(raw.c_str());
        const size_t frameBytes = static_cast<size_t>(width) * height * 3;
        ASSERT_EQ(decoded.size(), frameBytes * frames);
        for (uint64_t f = 0; f < frames; ++f) {
            size_t wrong = 0;
            const auto* p = reinterpret_cast<const uint8_t*>(decoded.data()) + f * frameBytes;
            for (size_t i = 0; i < expected.size(); ++i) {
                wrong += (p[3 * i] != expected[i]) + (p[3 * i + 1] != expected[i]) +
                         (p[3 * i + 2] != expected[i]);
            }
            EXPECT_EQ(wrong, 0u) << "frame " << f;
        }
    }

    static void ExpectOpenCvReads(const std::string& path, int width, int height, uint64_t frames,
                                  const std::vector<uint8_t>& expected) {
#if defined(LUMORA_HAVE_OPENCV_VIDEOIO)
        cv::VideoCapture video(path);
        ASSERT_TRUE(video.isOpened());
        EXPECT_EQ(static_cast<uint64_t>(video.get(cv::CAP_PROP_FRAME_COUNT)), frames);
        EXPECT_EQ(static_cast<int>(video.get(cv::CAP_PROP_FRAME_WIDTH)), width);
        EXPECT_EQ(static_cast<int>(video.get(cv::CAP_PROP_FRAME_HEIGHT)), height);
        uint64_t read = 0;
        cv::Mat frame;
        while (video.read(frame)) {
            ASSERT_EQ(frame.cols, width);
            ASSERT_EQ(frame.rows, height);
            ASSERT_EQ(frame.type(), CV_8UC3);
            size_t wrong = 0;
            for (int y = 0; y < height; ++y) {
                const uint8_t* row = frame.ptr<uint8_t>(y);
                const uint8_t* want = expected.data() + static_cast<size_t>(y) * width;
                for (int x = 0; x < width; ++x) {
                    wrong += (row[3 * x] != want[x]) + (row[3 * x + 1] != want[x]) +
                             (row[3 * x + 2] != want[x]);
                }
            }
            EXPECT_EQ(wrong, 0u) << "frame " << read;
            ++read;
        }
        EXPECT_EQ(read, frames);
#else
        (void)path, (void)width, (void)height, (void)frames, (void)expected;
        GTEST_SKIP() << "OpenCV's videoio not available";
#endif
    }

    void ExpectRecordingReadWhole(int width, int height, int bits, int durationMs) {
        SCOPED_TRACE(std::to_string(width) + "x" + std::to_string(height) + " " +
                     std::to_string(bits) + "-bit");
        const std::string path = (configDir_ / ("rec" + std::to_string(bits) + ".avi")).string();
        std::vector<uint8_t> expected;
        const uint64_t frames = RecordScene(path, width, height, bits, durationMs, expected);
        EXPECT_GE(frames, 1u);
        ExpectFfmpegReads(path, width, height, frames, expected);
        ExpectOpenCvReads(path, width, height, frames, expected);
        std::remove(path.c_str());
    }
};

TEST_F(RecordInteropTest, SmallWindowRecordingsDecodeToTheOutputImageAtBothDepths) {
    if (!HaveFfmpeg()) GTEST_SKIP() << "ffmpeg not installed";
    ExpectRecordingReadWhole(640, 480, 8, 200);
    ExpectRecordingReadWhole(640, 480, 16, 200);
}

TEST_F(RecordInteropTest, FullSizeRecordingsDecodeToTheOutputImageAtBothDepths) {
    if (!HaveFfmpeg()) GTEST_SKIP() << "ffmpeg not installed";
    ExpectRecordingReadWhole(2560, 2048, 8, 100);
    ExpectRecordingReadWhole(2560, 2048, 16, 100);
}

TEST_F(RecordInteropTest, RecordingPastTheRiffLimitIsReadWholeByEveryReader) {
    if (!HaveFfmpeg()) GTEST_SKIP() << "ffmpeg not installed";
    const std::string path = (configDir_ / "long.avi").string();
    std::vector<uint8_t> expected;
    // Three 320 × 240 frames per RIFF: a recording of ten frames is a chain of several.
    const uint64_t frames = RecordScene(path, 320, 240, 16, 60000, expected, 3 * (230400 + 40), 10);
    EXPECT_GT(frames, 6u);
    const std::string f = ReadFileText(path);
    int riffs = 0;
    for (size_t at = f.find("AVIX"); at != std::string::npos; at = f.find("AVIX", at + 4)) ++riffs;
    EXPECT_GE(riffs, 2);
    ExpectFfmpegReads(path, 320, 240, frames, expected);
    ExpectOpenCvReads(path, 320, 240, frames, expected);
}

}  // namespace
}  // namespace lumora
