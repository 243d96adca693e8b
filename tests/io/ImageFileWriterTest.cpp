#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <vector>

#include <jpeglib.h>
#include <png.h>
#include <tiffio.h>

#include "io/Fifo.h"
#include "io/FileLimit.h"
#include "io/ImageFileWriter.h"
#include "io/TempFolder.h"
#include "io/TestImages.h"

namespace lumora {
namespace {

using lumora::testing::Fifo;
using lumora::testing::FileSizeLimit;
using lumora::testing::MakeTestImage;
using lumora::testing::ReadFileText;
using lumora::testing::Sample16;
using lumora::testing::TempFolder;

constexpr int kAllBitCounts[] = {8, 16, 24, 32, 48, 64};

uint32_t Le32(const std::string& bytes, size_t at) {
    uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<uint8_t>(bytes[at + i]);
    return v;
}

// ---- readers used to judge what was written ---------------------------------------------------

struct DecodedJpeg {
    int width = 0, height = 0, components = 0;
    bool progressive = false;
    std::vector<uint8_t> pixels;  // packed rows, top first
};

DecodedJpeg ReadJpeg(const std::string& path) {
    DecodedJpeg out;
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) return out;
    jpeg_decompress_struct cinfo{};
    jpeg_error_mgr err{};
    cinfo.err = jpeg_std_error(&err);
    jpeg_create_decompress(&cinfo);
    jpeg_stdio_src(&cinfo, file);
    jpeg_read_header(&cinfo, TRUE);
    out.progressive = jpeg_has_multiple_scans(&cinfo);
    jpeg_start_decompress(&cinfo);
    out.width = static_cast<int>(cinfo.output_width);
    out.height = static_cast<int>(cinfo.output_height);
    out.components = cinfo.output_components;
    out.pixels.resize(static_cast<size_t>(out.width) * out.height * out.components);
    while (cinfo.output_scanline < cinfo.output_height) {
        JSAMPROW row = out.pixels.data() +
                       static_cast<size_t>(cinfo.output_scanline) * out.width * out.components;
        jpeg_read_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    std::fclose(file);
    return out;
}

struct DecodedPng {
    uint32_t width = 0, height = 0;
    int bitDepth = 0, colorType = 0;
    int significantGray = 0, significantRed = 0, significantAlpha = 0;  // sBIT; 0: none
    std::vector<std::vector<uint8_t>> rows;  // as stored: 16-bit samples big-endian
};

DecodedPng ReadPng(const std::string& path) {
    DecodedPng out;
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) return out;
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_init_io(png, file);
    png_read_png(png, info, PNG_TRANSFORM_IDENTITY, nullptr);
    out.width = png_get_image_width(png, info);
    out.height = png_get_image_height(png, info);
    out.bitDepth = png_get_bit_depth(png, info);
    out.colorType = png_get_color_type(png, info);
    png_color_8p significant = nullptr;
    if (png_get_sBIT(png, info, &significant) != 0 && significant != nullptr) {
        out.significantGray = significant->gray;
        out.significantRed = significant->red;
        out.significantAlpha = significant->alpha;
    }
    png_bytepp rows = png_get_rows(png, info);
    const size_t rowBytes = png_get_rowbytes(png, info);
    for (uint32_t y = 0; y < out.height; ++y) out.rows.emplace_back(rows[y], rows[y] + rowBytes);
    png_destroy_read_struct(&png, &info, nullptr);
    std::fclose(file);
    return out;
}

uint16_t Be16(const std::vector<uint8_t>& row, size_t sampleIndex) {
    return static_cast<uint16_t>(row[2 * sampleIndex] << 8 | row[2 * sampleIndex + 1]);
}

class ImageFileWriterTest : public ::testing::Test {
protected:
    std::string PathFor(const std::string& name) const { return (folder_ / name).string(); }
    TempFolder folder_;
};

// ---- BMP and raw --------------------------------------------------------------------------------

TEST_F(ImageFileWriterTest, FullSensorGrayBmpHasPaletteAndBottomRowFirst) {
    const ImageBuffer image = MakeTestImage(2560, 2048, 8);
    const std::string path = PathFor("full.bmp");
    ASSERT_EQ(WriteImageFile(path.c_str(), image, kSaveBmp, 16), 1);
    const std::string bytes = ReadFileText(path);
    ASSERT_EQ(bytes.size(), 1078u + 5242880u);
    EXPECT_EQ(bytes.substr(0, 2), "BM");
    EXPECT_EQ(Le32(bytes, 2), 1078u + 5242880u);
    EXPECT_EQ(Le32(bytes, 10), 1078u);
    EXPECT_EQ(Le32(bytes, 14), 40u);
    EXPECT_EQ(Le32(bytes, 18), 2560u);
    EXPECT_EQ(Le32(bytes, 22), 2048u);
    EXPECT_EQ(static_cast<uint8_t>(bytes[28]), 8);
    for (int i : {0, 1, 128, 255}) {
        EXPECT_EQ(Le32(bytes, 54 + 4 * i), static_cast<uint32_t>(i * 0x010101)) << i;
    }
    EXPECT_EQ(std::memcmp(bytes.data() + 1078, image.Row(2047), 2560), 0);
    EXPECT_EQ(std::memcmp(bytes.data() + 1078 + 2047 * 2560, image.Row(0), 2560), 0);
}

TEST_F(ImageFileWriterTest, BmpOfEveryDepthHasHeaderAndPaddedRows) {
    for (int bits : kAllBitCounts) {
        const ImageBuffer image = MakeTestImage(5, 3, bits);
        const std::string path = PathFor("d" + std::to_string(bits) + ".bmp");
        ASSERT_EQ(WriteImageFile(path.c_str(), image, kSaveBmp, 16), 1) << bits;
        const std::string bytes = ReadFileText(path);
        const uint32_t offset = bits <= 8 ? 1078 : 54;
        const size_t stride = static_cast<size_t>(image.Stride());
        ASSERT_EQ(bytes.size(), offset + 3 * stride) << bits;
        EXPECT_EQ(Le32(bytes, 10), offset);
        EXPECT_EQ(static_cast<uint8_t>(bytes[28]), bits);
        EXPECT_EQ(Le32(bytes, 30), 0u);  // uncompressed
        EXPECT_EQ(std::memcmp(bytes.data() + offset, image.Row(2), stride), 0) << bits;
    }
}

TEST_F(ImageFileWriterTest, RawIsThePixelMemoryWithPadding) {
    const ImageBuffer image = MakeTestImage(3, 1, 24);
    const std::string path = PathFor("x.raw");
    ASSERT_EQ(WriteImageFile(path.c_str(), image, kSaveRaw, 16), 1);
    const std::string bytes = ReadFileText(path);
    ASSERT_EQ(bytes.size(), 12u);
    EXPECT_EQ(std::memcmp(bytes.data(), image.Pixels(), 12), 0);
}

TEST_F(ImageFileWriterTest, RefusedRequestsCreateNoFile) {
    const ImageBuffer image = MakeTestImage(4, 4, 8);
    const std::string path = PathFor("refused");
    EXPECT_EQ(WriteImageFile(path.c_str(), image, 7, 16), 0);
    EXPECT_EQ(WriteImageFile(path.c_str(), image, -1, 16), 0);
    EXPECT_EQ(WriteImageFile(path.c_str(), image, kSavePng, 8), 0);  // significant bits
    EXPECT_EQ(WriteImageFile(path.c_str(), ImageBuffer{}, kSaveBmp, 16), 0);
    EXPECT_FALSE(std::filesystem::exists(path));
    EXPECT_EQ(WriteImageFile(nullptr, image, kSaveRaw, 16), 0);
}

// ---- failures of the disk
// -------------------------------------------------------------------------

// A failed save reports itself through its result alone (the codecs say nothing on the
// application's standard error), and leaves the file that was there as it was.
TEST_F(ImageFileWriterTest, EveryFormatReportsAFullDiskQuietlyAndKeepsTheEarlierFile) {
    const ImageBuffer image = MakeTestImage(640, 480, 24);  // even compressed, far past 256 bytes
    for (int format = kSaveBmp; format <= kSaveTiff; ++format) {
        const std::string path = PathFor("full" + std::to_string(format));
        const std::string earlier = PathFor("earlier" + std::to_string(format));
        std::ofstream(earlier, std::ios::binary) << "the picture saved before";
        ::testing::internal::CaptureStderr();
        {
            FileSizeLimit diskFull(256);
            EXPECT_EQ(WriteImageFile(path.c_str(), image, format, 16), 0) << format;
            EXPECT_EQ(WriteImageFile(earlier.c_str(), image, format, 16), 0) << format;
        }
        const std::string nowhere = PathFor("no/folder/x" + std::to_string(format));
        EXPECT_EQ(WriteImageFile(nowhere.c_str(), image, format, 16), 0) << format;
        EXPECT_EQ(::testing::internal::GetCapturedStderr(), "") << format;
        EXPECT_FALSE(std::filesystem::exists(path)) << format;
        EXPECT_EQ(ReadFileText(earlier), "the picture saved before") << format;
    }
}

TEST_F(ImageFileWriterTest, EveryFormatRefusesDevicesAndPipesWithoutWaitingOrWritingThem) {
    const ImageBuffer image = MakeTestImage(64, 48, 8);
    Fifo pipe(folder_ / "pipe");
    ASSERT_TRUE(pipe.Made());
    const std::string device = PathFor("device");
    std::filesystem::create_symlink("/dev/full", device);
    for (int format = kSaveBmp; format <= kSaveTiff; ++format) {
        EXPECT_TRUE(pipe.ReturnsPromptly([&] {
            EXPECT_EQ(WriteImageFile(pipe.String().c_str(), image, format, 16), 0) << format;
        })) << format;
        EXPECT_EQ(WriteImageFile(device.c_str(), image, format, 16), 0) << format;
        EXPECT_EQ(WriteImageFile("/dev/null", image, format, 16), 0) << format;
    }
    EXPECT_TRUE(pipe.StillThere());
    EXPECT_TRUE(std::filesystem::is_symlink(device));
    EXPECT_TRUE(std::filesystem::is_character_file("/dev/full"));
}

// ---- JPEG
// -----------------------------------------------------------------------------------------

TEST_F(ImageFileWriterTest, JpegIsProgressiveGrayOrRgbTopRowFirst) {
    for (int bits : kAllBitCounts) {
        const ImageBuffer image = MakeTestImage(37, 21, bits);
        const std::string path = PathFor("j" + std::to_string(bits) + ".jpg");
        ASSERT_EQ(WriteImageFile(path.c_str(), image, kSaveJpeg100, 16), 1) << bits;
        const DecodedJpeg jpeg = ReadJpeg(path);
        EXPECT_TRUE(jpeg.progressive) << bits;
        EXPECT_EQ(jpeg.width, 37);
        EXPECT_EQ(jpeg.height, 21);
        EXPECT_EQ(jpeg.components, bits <= 16 ? 1 : 3) << bits;
        if (bits == 24 || bits == 32) {
            // Red first in the file; the top-left pixel's R is 255, its B 0.
            EXPECT_NEAR(jpeg.pixels[0], 255, 6);
            EXPECT_NEAR(jpeg.pixels[2], 0, 6);
        }
    }
}

TEST_F(ImageFileWriterTest, JpegOfTwelveBitGrayKeepsBitsFourToEleven) {
    ImageBuffer image;
    image.Create(16, 16, 16);
    for (int y = 0; y < 16; ++y) {
        for (int x = 0; x < 16; ++x) {
            const uint16_t v = y < 8 ? 0x0ABC : 0xFFF0;  // 0xFFF0: past 12 bits, saturates
            std::memcpy(image.Row(y) + 2 * x, &v, 2);
        }
    }
    const std::string path = PathFor("g.jpg");
    ASSERT_EQ(WriteImageFile(path.c_str(), image, kSaveJpeg100, 16), 1);
    const DecodedJpeg jpeg = ReadJpeg(path);
    EXPECT_NEAR(jpeg.pixels[0], 0xAB, 2);
    EXPECT_NEAR(jpeg.pixels[15 * 16], 0xFF, 2);
    ASSERT_EQ(WriteImageFile(path.c_str(), image, kSaveJpeg100, 10), 1);
    EXPECT_NEAR(ReadJpeg(path).pixels[0], 0xFF, 2);  // 0xABC >> 2 saturates
}

TEST_F(ImageFileWriterTest, JpegOfFlatFieldedGrayTakesTheHighByteInsteadOfTurningWhite) {
    ImageBuffer image;
    image.Create(16, 16, 16);
    for (int y = 0; y < 16; ++y) {
        for (int x = 0; x < 16; ++x) {
            const uint16_t v = 0x6A50;  // a mid-gray 12-bit value left-aligned by the flat field
            std::memcpy(image.Row(y) + 2 * x, &v, 2);
        }
    }
    image.SetSignificantBits(16);
    const std::string path = PathFor("ff.jpg");
    ASSERT_EQ(WriteImageFile(path.c_str(), image, kSaveJpeg100, 16), 1);
    EXPECT_NEAR(ReadJpeg(path).pixels[0], 0x6A, 2);
    image.SetSignificantBits(12);  // right-aligned 12-bit samples: bits 4..11
    std::memcpy(image.Row(0), "\xBC\x0A", 2);
    ASSERT_EQ(WriteImageFile(path.c_str(), image, kSaveJpeg100, 16), 1);
    EXPECT_NEAR(ReadJpeg(path).pixels[1], 0xFF, 2);  // 0x6A50 is past 12 bits: saturates
}

TEST(SignificantBitsTest, TopByteIsTheTopEightOfTheSignificantBits) {
    EXPECT_EQ(TopByteOf(0x0ABC, 12), 0xAB);
    EXPECT_EQ(TopByteOf(0xABC0, 16), 0xAB);
    EXPECT_EQ(TopByteOf(0x0ABC, 0), 0xAB);  // unknown: the camera's 12 bits
    EXPECT_EQ(TopByteOf(0x1000, 12), 0xFF);
}

TEST_F(ImageFileWriterTest, JpegQualityFollowsTheFormatCode) {
    const ImageBuffer image = MakeTestImage(200, 100, 24);
    size_t sizes[3];
    for (int i = 0; i < 3; ++i) {
        const std::string path = PathFor("q" + std::to_string(i) + ".jpg");
        ASSERT_EQ(WriteImageFile(path.c_str(), image, kSaveJpeg100 + i, 16), 1);
        sizes[i] = ReadFileText(path).size();
        EXPECT_TRUE(ReadJpeg(path).progressive);
    }
    EXPECT_GT(sizes[0], sizes[1]);
    EXPECT_GT(sizes[1], sizes[2]);
}

// ---- PNG
// ------------------------------------------------------------------------------------------

TEST_F(ImageFileWriterTest, PngDepthAndColourTypeFollowTheImage) {
    const struct {
        int bits, depth, colorType;
    } cases[] = {{8, 8, PNG_COLOR_TYPE_GRAY},  {16, 16, PNG_COLOR_TYPE_GRAY},
                 {24, 8, PNG_COLOR_TYPE_RGB},  {32, 8, PNG_COLOR_TYPE_RGB_ALPHA},
                 {48, 16, PNG_COLOR_TYPE_RGB}, {64, 16, PNG_COLOR_TYPE_RGB_ALPHA}};
    for (const auto& c : cases) {
        const ImageBuffer image = MakeTestImage(7, 5, c.bits);
        const std::string path = PathFor("p" + std::to_string(c.bits) + ".png");
        ASSERT_EQ(WriteImageFile(path.c_str(), image, kSavePng, 16), 1) << c.bits;
        const DecodedPng png = ReadPng(path);
        EXPECT_EQ(png.width, 7u);
        EXPECT_EQ(png.height, 5u);
        EXPECT_EQ(png.bitDepth, c.depth) << c.bits;
        EXPECT_EQ(png.colorType, c.colorType) << c.bits;
    }
}

TEST_F(ImageFileWriterTest, PngSixteenBitSamplesAreBigEndianAndWidenedByTheSignificantBits) {
    const ImageBuffer image = MakeTestImage(7, 5, 16);
    const std::string path = PathFor("p16.png");
    ASSERT_EQ(WriteImageFile(path.c_str(), image, kSavePng, 16), 1);
    DecodedPng png = ReadPng(path);
    const uint16_t v = Sample16(image, 3, 2, 0);
    EXPECT_EQ(png.rows[2][6], v >> 8);  // high byte first
    EXPECT_EQ(png.rows[2][7], v & 0xFF);
    ASSERT_EQ(WriteImageFile(path.c_str(), image, kSavePng, 12), 1);
    EXPECT_EQ(Be16(ReadPng(path).rows[2], 3), static_cast<uint16_t>(v << 4));
    ASSERT_EQ(WriteImageFile(path.c_str(), image, kSavePng, 10), 1);
    EXPECT_EQ(Be16(ReadPng(path).rows[2], 3), static_cast<uint16_t>(v << 6));
}

// sBIT tells a reader how many top bits of a widened sample are data; samples written as they
// are (significantBits 16, what Lumora_SaveImage passes) carry none, as their low bits hold it.
TEST_F(ImageFileWriterTest, PngMarksWidenedSamplesWithTheirSignificantBits) {
    const std::string path = PathFor("sbit.png");
    for (const int significant : {10, 12, 16}) {
        SCOPED_TRACE(significant);
        ASSERT_EQ(WriteImageFile(path.c_str(), MakeTestImage(7, 5, 16), kSavePng, significant), 1);
        EXPECT_EQ(ReadPng(path).significantGray, significant == 16 ? 0 : significant);
        ASSERT_EQ(WriteImageFile(path.c_str(), MakeTestImage(7, 5, 64), kSavePng, significant), 1);
        const DecodedPng rgba = ReadPng(path);
        EXPECT_EQ(rgba.significantRed, significant == 16 ? 0 : significant);
        EXPECT_EQ(rgba.significantAlpha, significant == 16 ? 0 : 16);
    }
    // 8-bit samples are whole: no chunk, whatever the caller says of 16-bit data.
    ASSERT_EQ(WriteImageFile(path.c_str(), MakeTestImage(7, 5, 8), kSavePng, 12), 1);
    EXPECT_EQ(ReadPng(path).significantGray, 0);
}

TEST_F(ImageFileWriterTest, PngColourIsRgbWithOpaqueAlpha) {
    const ImageBuffer image32 = MakeTestImage(4, 2, 32);  // fourth bytes 0
    std::string path = PathFor("p32.png");
    ASSERT_EQ(WriteImageFile(path.c_str(), image32, kSavePng, 16), 1);
    DecodedPng png = ReadPng(path);
    const uint8_t* p = image32.Row(1) + 2 * 4;
    EXPECT_EQ(png.rows[1][8], p[2]);  // R
    EXPECT_EQ(png.rows[1][9], p[1]);
    EXPECT_EQ(png.rows[1][10], p[0]);
    EXPECT_EQ(png.rows[1][11], 255);

    const ImageBuffer image64 = MakeTestImage(4, 2, 64);
    path = PathFor("p64.png");
    ASSERT_EQ(WriteImageFile(path.c_str(), image64, kSavePng, 12), 1);
    png = ReadPng(path);
    EXPECT_EQ(Be16(png.rows[1], 4 * 2 + 0), static_cast<uint16_t>(Sample16(image64, 2, 1, 2) << 4));
    EXPECT_EQ(Be16(png.rows[1], 4 * 2 + 2), static_cast<uint16_t>(Sample16(image64, 2, 1, 0) << 4));
    EXPECT_EQ(Be16(png.rows[1], 4 * 2 + 3), 0xFFFF);
}

// ---- TIFF
// -----------------------------------------------------------------------------------------

TEST_F(ImageFileWriterTest, TiffTagsAndTightlyPackedStripForEveryDepth) {
    const struct {
        int bits;
        uint16_t bitsPerSample, photometric, samples;
    } cases[] = {{8, 8, PHOTOMETRIC_MINISBLACK, 1}, {16, 16, PHOTOMETRIC_MINISBLACK, 1},
                 {24, 8, PHOTOMETRIC_RGB, 3},       {32, 8, PHOTOMETRIC_RGB, 4},
                 {48, 16, PHOTOMETRIC_RGB, 3},      {64, 16, PHOTOMETRIC_RGB, 4}};
    for (const auto& c : cases) {
        // Width 3: no row of any depth but 32/64 bits fills a multiple of 4 bytes.
        const ImageBuffer image = MakeTestImage(3, 4, c.bits);
        const std::string path = PathFor("t" + std::to_string(c.bits) + ".tif");
        ASSERT_EQ(WriteImageFile(path.c_str(), image, kSaveTiff, 16), 1) << c.bits;
        TIFF* tif = TIFFOpen(path.c_str(), "r");
        ASSERT_NE(tif, nullptr);
        uint32_t width = 0, height = 0;
        uint16_t bps = 0, photometric = 0, spp = 0, compression = 0;
        TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &width);
        TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &height);
        TIFFGetField(tif, TIFFTAG_BITSPERSAMPLE, &bps);
        TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &photometric);
        TIFFGetField(tif, TIFFTAG_SAMPLESPERPIXEL, &spp);
        TIFFGetField(tif, TIFFTAG_COMPRESSION, &compression);
        EXPECT_EQ(width, 3u);
        EXPECT_EQ(height, 4u);
        EXPECT_EQ(bps, c.bitsPerSample);
        EXPECT_EQ(photometric, c.photometric);
        EXPECT_EQ(spp, c.samples);
        EXPECT_EQ(compression, COMPRESSION_NONE);
        const size_t rowBytes = 3u * static_cast<size_t>(c.bits / 8);
        std::vector<uint8_t> strip(TIFFStripSize(tif));
        ASSERT_EQ(strip.size(), rowBytes * 4) << c.bits;
        ASSERT_EQ(TIFFReadEncodedStrip(tif, 0, strip.data(), static_cast<tmsize_t>(strip.size())),
                  static_cast<tmsize_t>(strip.size()));
        TIFFClose(tif);
        // Last pixel of the last row, sample by sample.
        const uint8_t* got = strip.data() + rowBytes * 3 + rowBytes - c.bits / 8;
        const uint8_t* src = image.Row(3) + 2 * (c.bits / 8);
        if (c.bits == 8) {
            EXPECT_EQ(got[0], src[0]);
        } else if (c.bits == 24 || c.bits == 32) {
            EXPECT_EQ(got[0], src[2]);
            EXPECT_EQ(got[2], src[0]);
            if (c.bits == 32) {
                EXPECT_EQ(got[3], 0);
            }
        } else {
            uint16_t g[4];
            std::memcpy(g, got, static_cast<size_t>(c.bits / 8));
            EXPECT_EQ(g[0], Sample16(image, 2, 3, c.bits == 16 ? 0 : 2));
            if (c.bits == 64) {
                EXPECT_EQ(g[3], 0xFFFF);
            }
        }
    }
}

TEST_F(ImageFileWriterTest, TiffWidensTenAndTwelveBitSamples) {
    const ImageBuffer image = MakeTestImage(4, 2, 48);
    const std::string path = PathFor("w.tif");
    ASSERT_EQ(WriteImageFile(path.c_str(), image, kSaveTiff, 10), 1);
    TIFF* tif = TIFFOpen(path.c_str(), "r");
    ASSERT_NE(tif, nullptr);
    std::vector<uint16_t> strip(4 * 2 * 3);
    TIFFReadEncodedStrip(tif, 0, strip.data(), static_cast<tmsize_t>(strip.size() * 2));
    TIFFClose(tif);
    EXPECT_EQ(strip[0], static_cast<uint16_t>(Sample16(image, 0, 0, 2) << 6));  // R first
    EXPECT_EQ(strip[2], static_cast<uint16_t>(Sample16(image, 0, 0, 0) << 6));
}

}  // namespace
}  // namespace lumora
