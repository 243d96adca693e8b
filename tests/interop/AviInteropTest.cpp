// ffprobe, ffmpeg and OpenCV's VideoCapture judge the AVI files: frame count, size, pixel format
// and every decoded pixel, for the classic layout, odd row lengths and a file that crosses the RIFF
// limit.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <string>
#include <vector>

#include "ExternalReaders.h"
#include "io/AviWriter.h"
#include "io/TempFolder.h"

#if defined(LUMORA_HAVE_OPENCV_VIDEOIO)
#include <opencv2/videoio.hpp>
#endif

namespace lumora {
namespace {

using lumora::testing::HaveFfmpeg;
using lumora::testing::ReadFileText;
using lumora::testing::TempFolder;

std::string Run(const std::string& command) {
    return lumora::testing::Shell(command);
}

// A picture whose every pixel differs from its neighbours, so a shifted or slanted row shows.
uint8_t Pixel(int frame, int x, int y, int c) {
    return static_cast<uint8_t>(frame * 7 + x * 3 + y * 5 + c * 11);
}

// Writes `frames` frames of width × height and returns the path.
std::string WriteFile(const TempFolder& dir, const std::string& name, int width, int height,
                      int frames, uint64_t limit) {
    const std::string path = (dir / name).string();
    AviWriter writer;
    writer.SetRiffLimit(limit);
    EXPECT_TRUE(writer.Open(path.c_str(), width, height, static_cast<uint64_t>(frames)));
    std::vector<uint8_t> pixels(AviWriter::FrameBytes(width, height));
    const size_t pitch = pixels.size() / static_cast<size_t>(height);
    for (int f = 0; f < frames; ++f) {
        for (int y = 0; y < height; ++y) {  // bottom row first
            for (int x = 0; x < width; ++x) {
                for (int c = 0; c < 3; ++c) {
                    pixels[(height - 1 - y) * pitch + 3 * x + c] = Pixel(f, x, y, c);
                }
            }
        }
        EXPECT_EQ(writer.AddFrame(pixels.data()), AviWriter::AddResult::kAdded);
    }
    writer.SetRate(2500);
    EXPECT_TRUE(writer.Finish());
    return path;
}

void ExpectReadWhole(const std::string& path, int width, int height, int frames) {
    const std::string probe =
        Run("ffprobe -v error -count_frames -select_streams v:0 -show_entries "
            "stream=width,height,pix_fmt,nb_read_frames -of default=nw=1 '" +
            path + "'");
    EXPECT_NE(probe.find("width=" + std::to_string(width)), std::string::npos) << probe;
    EXPECT_NE(probe.find("height=" + std::to_string(height)), std::string::npos) << probe;
    EXPECT_NE(probe.find("pix_fmt=bgr24"), std::string::npos) << probe;
    EXPECT_NE(probe.find("nb_read_frames=" + std::to_string(frames)), std::string::npos) << probe;

    // Every decoded pixel, top row first as ffmpeg delivers them; every stored frame once, not
    // resampled to a constant rate (some rates gain or lose a frame in that).
    const std::string raw = path + ".raw";
    Run("ffmpeg -v error -y -i '" + path +
        "' -fps_mode passthrough -f rawvideo -pix_fmt bgr24 '" + raw + "'");
    const std::string decoded = ReadFileText(raw);
    ASSERT_EQ(decoded.size(), static_cast<size_t>(width) * height * 3 * frames);
    size_t wrong = 0;
    size_t at = 0;
    for (int f = 0; f < frames; ++f) {
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x) {
                for (int c = 0; c < 3; ++c) {
                    if (static_cast<uint8_t>(decoded[at++]) != Pixel(f, x, y, c)) ++wrong;
                }
            }
        }
    }
    EXPECT_EQ(wrong, 0u);
    std::remove(raw.c_str());

#if defined(LUMORA_HAVE_OPENCV_VIDEOIO)
    // OpenCV's VideoCapture: the count it announces, the frames it reads and their pixels.
    cv::VideoCapture video(path);
    ASSERT_TRUE(video.isOpened());
    EXPECT_EQ(static_cast<int>(video.get(cv::CAP_PROP_FRAME_COUNT)), frames);
    cv::Mat image;
    int read = 0;
    wrong = 0;
    while (video.read(image)) {
        ASSERT_EQ(image.cols, width);
        ASSERT_EQ(image.rows, height);
        ASSERT_EQ(image.type(), CV_8UC3);
        for (int y = 0; y < height; ++y) {
            const uint8_t* row = image.ptr<uint8_t>(y);
            for (int x = 0; x < width; ++x) {
                for (int c = 0; c < 3; ++c) {
                    if (row[3 * x + c] != Pixel(read, x, y, c)) ++wrong;
                }
            }
        }
        ++read;
    }
    EXPECT_EQ(read, frames);
    EXPECT_EQ(wrong, 0u);
#endif
}

TEST(AviInteropTest, ClassicFilesAreReadWholeWithEveryPixel) {
    if (!HaveFfmpeg()) GTEST_SKIP() << "ffmpeg not installed";
    TempFolder dir;
    ExpectReadWhole(WriteFile(dir, "a.avi", 640, 480, 5, kAviRiffLimit), 640, 480, 5);
    // 3 × 642 is not a multiple of 4: padded rows must not slant the picture.
    ExpectReadWhole(WriteFile(dir, "odd.avi", 642, 480, 3, kAviRiffLimit), 642, 480, 3);
    ExpectReadWhole(WriteFile(dir, "tiny.avi", 7, 5, 4, kAviRiffLimit), 7, 5, 4);
}

TEST(AviInteropTest, FileCrossingTheRiffLimitIsReadWholeWithTheExactFrameCount) {
    if (!HaveFfmpeg()) GTEST_SKIP() << "ffmpeg not installed";
    TempFolder dir;
    // About ten frames per RIFF: the file is a chain of six RIFFs with their indexes.
    const std::string path = WriteFile(dir, "long.avi", 161, 120, 57, 600 * 1024);
    EXPECT_GT(ReadFileText(path).size(), 600u * 1024 * 4);
    ExpectReadWhole(path, 161, 120, 57);
}

}  // namespace
}  // namespace lumora
