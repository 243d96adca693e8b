// lumora snap's files: 16-bit frames stretched for viewing with --scale, and the note a 16-bit
// BMP gets.
#include <gtest/gtest.h>
#include <png.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "CommandRun.h"

namespace lumora_cli_test {
namespace {

struct Png {
    uint32_t width = 0, height = 0;
    int bitDepth = 0;
    int significantGray = 0;        // sBIT; 0: none
    std::vector<uint16_t> samples;  // gray samples, top row first
};

Png ReadPng(const std::string& path) {
    Png out;
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) return out;
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_init_io(png, file);
    png_read_png(png, info, PNG_TRANSFORM_IDENTITY, nullptr);
    out.width = png_get_image_width(png, info);
    out.height = png_get_image_height(png, info);
    out.bitDepth = png_get_bit_depth(png, info);
    png_color_8p significant = nullptr;
    if (png_get_sBIT(png, info, &significant) != 0) out.significantGray = significant->gray;
    png_bytepp rows = png_get_rows(png, info);
    for (uint32_t y = 0; y < out.height; ++y) {
        for (uint32_t x = 0; x < out.width; ++x) {
            out.samples.push_back(
                out.bitDepth == 16 ? static_cast<uint16_t>(rows[y][2 * x] << 8 | rows[y][2 * x + 1])
                                   : rows[y][x]);
        }
    }
    png_destroy_read_struct(&png, &info, nullptr);
    std::fclose(file);
    return out;
}

class SnapFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "lumora-snap-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        folder_ = pattern;
    }
    void TearDown() override {
        std::error_code ignored;
        std::filesystem::remove_all(folder_, ignored);
    }
    std::string File(const std::string& name) const { return (folder_ / name).string(); }

    std::filesystem::path folder_;
};

// The scene holds still (LUMORA_SIM_STATIC), so two snapshots are the same frame.
TEST_F(SnapFileTest, ScaleStretchesTwelveBitsToSixteenAndMarksThePngWithSbit) {
    const std::vector<std::string> capture = {"--sim", "1",  "snap",       "-b",
                                              "16",    "-w", "0,0,320,240"};
    std::vector<std::string> plain = capture;
    plain.push_back(File("plain.png"));
    ASSERT_EQ(RunLumora(folder_, plain).exitCode, 0);
    std::vector<std::string> scaled = capture;
    for (const char* name : {"--scale", "scaled.png", "scaled.tif", "scaled.raw"}) {
        scaled.push_back(name[0] == '-' ? name : File(name));
    }
    const Result result = RunLumora(folder_, scaled);
    ASSERT_EQ(result.exitCode, 0) << result.err;

    const Png as12 = ReadPng(File("plain.png"));
    const Png as16 = ReadPng(File("scaled.png"));
    ASSERT_EQ(as12.samples.size(), size_t{320} * 240);
    ASSERT_EQ(as16.samples.size(), as12.samples.size());
    EXPECT_EQ(as12.significantGray, 0);  // what Lumora_SaveImage writes: the values as they are
    EXPECT_EQ(as16.significantGray, 12);
    uint16_t brightest = 0;
    for (size_t i = 0; i < as12.samples.size(); ++i) {
        const uint16_t v = as12.samples[i];
        ASSERT_LE(v, 4095u) << i;
        ASSERT_EQ(as16.samples[i], static_cast<uint16_t>(v << 4 | v >> 8)) << i;
        brightest = std::max(brightest, as16.samples[i]);
    }
    EXPECT_GT(brightest, 4095u);  // it no longer looks black
    // The raw file holds the same stretched samples, little-endian, rows of the stride.
    const std::string raw = ReadText(File("scaled.raw"));
    ASSERT_EQ(raw.size(), size_t{320} * 2 * 240);
    EXPECT_EQ(static_cast<uint8_t>(raw[2]) | static_cast<uint8_t>(raw[3]) << 8, as16.samples[1]);
    EXPECT_GT(std::filesystem::file_size(File("scaled.tif")), raw.size());
}

TEST_F(SnapFileTest, SixteenBitBmpIsWrittenWithANoteOnWhatItHolds) {
    const Result result =
        RunLumora(folder_, {"--sim", "1", "snap", "-b", "16", "-w", "0,0,64,64", File("a.bmp")});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_TRUE(std::filesystem::exists(File("a.bmp")));
    EXPECT_NE(result.err.find("5-bit colours; .png or .tif keep 16 bits"), std::string::npos)
        << result.err;
    const Result eight =
        RunLumora(folder_, {"--sim", "1", "snap", "-b", "8", "-w", "0,0,64,64", File("b.bmp")});
    EXPECT_EQ(eight.err, "");
}

// The longest exposures the camera offers, each the first frame after the change in a new
// process, at the camera's own pace; they used to time out whenever the host was busy.
TEST_F(SnapFileTest, TheLongestExposuresTheCameraOffersGiveAFrame) {
    const std::vector<std::vector<std::string>> snaps = {
        {"--sim", "1", "snap", "-e", "20000", "-b", "16", "-w", "0,0,320,240", File("a.png")},
        {"--sim", "1", "snap", "-e", "16000", "-b", "8", "-w", "0,0,320,240", File("b.png")},
    };
    const std::vector<Result> results = RunEach(folder_, snaps);
    for (size_t i = 0; i < results.size(); ++i) {
        SCOPED_TRACE(snaps[i][4]);
        EXPECT_EQ(results[i].exitCode, 0) << results[i].err;
        EXPECT_EQ(ReadPng(snaps[i].back()).samples.size(), size_t{320} * 240);
    }
}

}  // namespace
}  // namespace lumora_cli_test
