// Independent readers judge the image files we write: OpenCV's codecs compare pixels with the
// source image, libtiff's tiffinfo, pngcheck and ImageMagick's identify check the files' form.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

#include "io/ImageFileWriter.h"
#include "io/TempFolder.h"
#include "io/TestImages.h"

#ifdef LUMORA_HAVE_OPENCV
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#endif

#ifdef LUMORA_HAVE_OPENCV
// OpenCV's codecs load a geodata library whose own mutexes take each other in both orders;
// that is not ours to judge, and the thread sanitizer build would stop on it.
extern "C" __attribute__((visibility("default"))) const char* __tsan_default_suppressions() {
    return "deadlock:libgdal.so\n";
}
#endif

namespace lumora {
namespace {

using lumora::testing::MakeSmoothImage;
using lumora::testing::MakeTestImage;
using lumora::testing::Sample16;
using lumora::testing::TempFolder;

// Odd sizes, so that row padding, strip packing and row order all show.
constexpr int kWidth = 101;
constexpr int kHeight = 67;

struct ToolResult {
    int exitCode = -1;
    std::string output;  // standard output and standard error
};

bool HasTool(const std::string& name) {
    return std::system(("command -v " + name + " >/dev/null 2>&1").c_str()) == 0;
}

ToolResult RunTool(const std::string& command) {
    ToolResult result;
    std::FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
    if (pipe == nullptr) return result;
    char buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) result.output.append(buffer, n);
    const int status = ::pclose(pipe);
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

class ImageFileInteropTest : public ::testing::Test {
protected:
    std::string Write(int bits, int format, int significantBits = 16) {
        static const char* const kExtensions[] = {"bmp", "raw", "jpg", "jpg", "jpg", "png", "tif"};
        const std::string path = (folder_ / ("i" + std::to_string(bits) + "_" +
                                             std::to_string(format) + "." + kExtensions[format]))
                                     .string();
        const ImageBuffer image = MakeTestImage(kWidth, kHeight, bits);
        EXPECT_EQ(WriteImageFile(path.c_str(), image, format, significantBits), 1)
            << bits << " bits, format " << format;
        return path;
    }

    TempFolder folder_;
};

#ifdef LUMORA_HAVE_OPENCV

// Compares what OpenCV decoded with the source: the first `channels` samples of every pixel,
// each expected as the source sample mapped by `expect`. OpenCV keeps B, G, R order, as our
// images do.
template <typename Sample, typename Expect>
void ExpectPixels(const cv::Mat& decoded, const ImageBuffer& source, int channels, Expect expect) {
    ASSERT_EQ(decoded.cols, source.Width());
    ASSERT_EQ(decoded.rows, source.Height());
    ASSERT_GE(decoded.channels(), channels);
    ASSERT_EQ(decoded.elemSize1(), sizeof(Sample));
    const int sourceSamples = source.BytesPerPixel() / static_cast<int>(sizeof(Sample));
    int mismatches = 0;
    for (int y = 0; y < source.Height(); ++y) {
        const auto* got = decoded.ptr<Sample>(y);
        const auto* want = reinterpret_cast<const Sample*>(source.Row(y));
        for (int x = 0; x < source.Width(); ++x) {
            for (int c = 0; c < channels; ++c) {
                const Sample g = got[x * decoded.channels() + c];
                const Sample w = expect(want[x * sourceSamples + c]);
                if (g != w && mismatches++ < 5) {
                    ADD_FAILURE() << "pixel (" << x << ", " << y << ") sample " << c << ": got "
                                  << +g << ", want " << +w;
                }
            }
        }
    }
    EXPECT_EQ(mismatches, 0);
}

auto Same = [](auto v) { return v; };

TEST_F(ImageFileInteropTest, OpenCvReadsLosslessFilesExactly) {
    struct Case {
        int bits;
        int format;
        int channels;  // compared samples per pixel
    };
    const Case cases[] = {
        {8, kSaveBmp, 1},   {24, kSaveBmp, 3},  {32, kSaveBmp, 3},  {8, kSavePng, 1},
        {16, kSavePng, 1},  {24, kSavePng, 3},  {32, kSavePng, 3},  {48, kSavePng, 3},
        {64, kSavePng, 3},  {8, kSaveTiff, 1},  {16, kSaveTiff, 1}, {24, kSaveTiff, 3},
        {32, kSaveTiff, 3}, {48, kSaveTiff, 3}, {64, kSaveTiff, 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.bits << " bits, format " << c.format);
        const std::string path = Write(c.bits, c.format);
        const cv::Mat decoded = cv::imread(path, cv::IMREAD_UNCHANGED);
        ASSERT_FALSE(decoded.empty());
        const ImageBuffer source = MakeTestImage(kWidth, kHeight, c.bits);
        if (c.bits == 16 || c.bits >= 48) {
            ExpectPixels<uint16_t>(decoded, source, c.channels, Same);
        } else {
            ExpectPixels<uint8_t>(decoded, source, c.channels, Same);
        }
    }
}

TEST_F(ImageFileInteropTest, OpenCvSeesOpaqueAlphaInPng) {
    for (int bits : {32, 64}) {
        const cv::Mat decoded = cv::imread(Write(bits, kSavePng), cv::IMREAD_UNCHANGED);
        ASSERT_EQ(decoded.channels(), 4);
        std::vector<cv::Mat> planes;
        cv::split(decoded, planes);
        double low = 0, high = 0;
        cv::minMaxLoc(planes[3], &low, &high);
        EXPECT_EQ(low, bits == 32 ? 255.0 : 65535.0) << bits;
    }
}

TEST_F(ImageFileInteropTest, OpenCvReadsWidenedTwelveBitSamples) {
    const ImageBuffer source = MakeTestImage(kWidth, kHeight, 16);
    for (int format : {kSavePng, kSaveTiff}) {
        const cv::Mat decoded = cv::imread(Write(16, format, 12), cv::IMREAD_UNCHANGED);
        ExpectPixels<uint16_t>(decoded, source, 1,
                               [](uint16_t v) { return static_cast<uint16_t>(v << 4); });
    }
}

// Peak signal-to-noise ratio of an 8-bit decode against what the writer was to encode.
double Psnr(const cv::Mat& decoded, const std::vector<uint8_t>& expected) {
    double squared = 0;
    const auto* got = decoded.ptr<uint8_t>(0);
    for (size_t i = 0; i < expected.size(); ++i) {
        const double d = static_cast<double>(got[i]) - expected[i];
        squared += d * d;
    }
    const double mse = squared / static_cast<double>(expected.size());
    return mse == 0 ? 99.0 : 10.0 * std::log10(255.0 * 255.0 / mse);
}

TEST_F(ImageFileInteropTest, JpegAtQualityHundredStaysAboveThirtyFiveDecibels) {
    for (int bits : {8, 16, 24, 32, 48, 64}) {
        SCOPED_TRACE(::testing::Message() << bits << " bits");
        // A smooth picture: sharp colour edges suffer from the default chroma subsampling.
        const ImageBuffer source = MakeSmoothImage(kWidth, kHeight, bits);
        const int channels = bits <= 16 ? 1 : 3;
        std::vector<uint8_t> expected;  // B, G, R as OpenCV returns them
        for (int y = 0; y < kHeight; ++y) {
            for (int x = 0; x < kWidth; ++x) {
                for (int c = 0; c < channels; ++c) {
                    if (bits == 8 || bits == 24 || bits == 32) {
                        expected.push_back(source.Row(y)[x * source.BytesPerPixel() + c]);
                    } else if (bits == 16) {
                        expected.push_back(static_cast<uint8_t>(Sample16(source, x, y, 0) >> 4));
                    } else {
                        expected.push_back(static_cast<uint8_t>(Sample16(source, x, y, c) >> 8));
                    }
                }
            }
        }
        const std::string path = (folder_ / "smooth.jpg").string();
        ASSERT_EQ(WriteImageFile(path.c_str(), source, kSaveJpeg100, 16), 1);
        const cv::Mat decoded = cv::imread(path, cv::IMREAD_UNCHANGED);
        ASSERT_FALSE(decoded.empty());
        ASSERT_EQ(decoded.channels(), channels);
        ASSERT_TRUE(decoded.isContinuous());
        EXPECT_GE(Psnr(decoded, expected), 35.0);
    }
}

#else

TEST_F(ImageFileInteropTest, OpenCvReadsLosslessFilesExactly) {
    GTEST_SKIP() << "OpenCV's image codecs are not installed";
}

#endif  // LUMORA_HAVE_OPENCV

TEST_F(ImageFileInteropTest, TiffinfoAcceptsEveryDepthWithoutComplaint) {
    if (!HasTool("tiffinfo")) GTEST_SKIP() << "tiffinfo (libtiff-tools) is not installed";
    for (int bits : {8, 16, 24, 32, 48, 64}) {
        const ToolResult result = RunTool("tiffinfo -D '" + Write(bits, kSaveTiff) + "'");
        EXPECT_EQ(result.exitCode, 0) << result.output;
        EXPECT_EQ(result.output.find("Warning"), std::string::npos) << result.output;
        EXPECT_EQ(result.output.find("Error"), std::string::npos) << result.output;
        EXPECT_NE(result.output.find("Image Width: 101 Image Length: 67"), std::string::npos)
            << result.output;
    }
}

TEST_F(ImageFileInteropTest, PngcheckAcceptsEveryDepth) {
    if (!HasTool("pngcheck")) GTEST_SKIP() << "pngcheck is not installed";
    for (int bits : {8, 16, 24, 32, 48, 64}) {
        const ToolResult result = RunTool("pngcheck '" + Write(bits, kSavePng) + "'");
        EXPECT_EQ(result.exitCode, 0) << result.output;
        EXPECT_NE(result.output.find("OK"), std::string::npos) << result.output;
    }
    // Widened 12-bit samples carry an sBIT chunk pngcheck accepts and reads as 12 bits.
    for (int bits : {16, 48, 64}) {
        const ToolResult result = RunTool("pngcheck -v '" + Write(bits, kSavePng, 12) + "'");
        EXPECT_EQ(result.exitCode, 0) << result.output;
        EXPECT_NE(result.output.find("chunk sBIT"), std::string::npos) << result.output;
        EXPECT_NE(result.output.find(bits == 16 ? "gray = 12" : "red = 12"), std::string::npos)
            << result.output;
    }
}

TEST_F(ImageFileInteropTest, IdentifySeesProgressiveJpegsAndTheRightSizes) {
    if (!HasTool("identify")) GTEST_SKIP() << "identify (ImageMagick) is not installed";
    for (int format : {kSaveJpeg100, kSaveJpeg70, kSaveJpeg20}) {
        const ToolResult result =
            RunTool("identify -format '%w %h %[interlace]' '" + Write(24, format) + "'");
        EXPECT_EQ(result.exitCode, 0) << result.output;
        EXPECT_EQ(result.output, "101 67 JPEG");
    }
    const ToolResult quality = RunTool("identify -format '%Q' '" + Write(8, kSaveJpeg70) + "'");
    EXPECT_EQ(quality.output, "70");
    for (int bits : {8, 24, 32}) {
        const ToolResult result =
            RunTool("identify -format '%w %h' '" + Write(bits, kSaveBmp) + "'");
        EXPECT_EQ(result.exitCode, 0) << result.output;
        EXPECT_EQ(result.output, "101 67") << bits;
    }
}

}  // namespace
}  // namespace lumora
