#include "StretchedFile.h"

#include <png.h>
#include <tiffio.h>

#include <algorithm>
#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <memory>

namespace lumora_cli {
namespace {

constexpr int kDataBits = 12;

// 12 bits stretched to 16 by repeating their top bits below them, so 4095 becomes 65535.
uint16_t Stretch(uint16_t sample) {
    const uint16_t v = std::min<uint16_t>(sample, (1u << kDataBits) - 1);
    return static_cast<uint16_t>(v << (16 - kDataBits) | v >> (2 * kDataBits - 16));
}

// One frame row as 16-bit host-order samples, stretched.
std::vector<uint16_t> StretchedRow(const uint8_t* row, int width) {
    std::vector<uint16_t> out(static_cast<size_t>(width));
    for (int x = 0; x < width; ++x) {
        uint16_t v = 0;
        std::memcpy(&v, row + 2 * static_cast<size_t>(x), 2);  // the SDK's samples: little-endian
        out[static_cast<size_t>(x)] = Stretch(v);
    }
    return out;
}

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

[[noreturn]] void OnPngError(png_structp png, png_const_charp message) {
    std::fprintf(stderr, "libpng error: %s\n", message);
    png_longjmp(png, 1);
}

// The setjmp frame holds only the library's structures and plain values.
bool EncodePng(std::FILE* file, png_bytep* rows, int width, int height) {
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, OnPngError, nullptr);
    if (png == nullptr) return false;
    png_infop info = png_create_info_struct(png);
    if (info == nullptr || setjmp(png_jmpbuf(png)) != 0) {
        png_destroy_write_struct(&png, info != nullptr ? &info : nullptr);
        return false;
    }
    png_init_io(png, file);
    png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), 16,
                 PNG_COLOR_TYPE_GRAY, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    png_color_8 significant{};
    significant.gray = kDataBits;
    png_set_sBIT(png, info, &significant);
    png_write_info(png, info);
    png_write_image(png, rows);
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return true;
}

void WritePng(const std::string& path, const uint8_t* frame, const FrameSize& size) {
    // PNG keeps samples most significant byte first.
    std::vector<uint8_t> pixels(static_cast<size_t>(size.width) * 2 * size.height);
    std::vector<png_bytep> rows(static_cast<size_t>(size.height));
    for (int y = 0; y < size.height; ++y) {
        uint8_t* out = pixels.data() + static_cast<size_t>(y) * size.width * 2;
        rows[static_cast<size_t>(y)] = out;
        for (uint16_t v :
             StretchedRow(frame + static_cast<size_t>(y) * size.Stride(), size.width)) {
            *out++ = static_cast<uint8_t>(v >> 8);
            *out++ = static_cast<uint8_t>(v);
        }
    }
    std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "wb"));
    if (!file) throw CommandError{"cannot write " + path + ": " + std::strerror(errno)};
    const bool encoded = EncodePng(file.get(), rows.data(), size.width, size.height);
    if (!encoded || std::fclose(file.release()) != 0) {
        throw CommandError{"cannot write " + path};
    }
}

void WriteTiff(const std::string& path, const uint8_t* frame, const FrameSize& size) {
    TIFF* tif = TIFFOpen(path.c_str(), "w");
    if (tif == nullptr) throw CommandError{"cannot write " + path};
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, static_cast<uint32_t>(size.width));
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, static_cast<uint32_t>(size.height));
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 16);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 1);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_NONE);
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, static_cast<uint32_t>(size.height));
    bool ok = true;
    for (int y = 0; ok && y < size.height; ++y) {
        std::vector<uint16_t> row =
            StretchedRow(frame + static_cast<size_t>(y) * size.Stride(), size.width);
        ok = TIFFWriteScanline(tif, row.data(), static_cast<uint32_t>(y), 0) == 1;
    }
    TIFFClose(tif);
    if (!ok) throw CommandError{"cannot write " + path};
}

void WriteRaw(const std::string& path, const uint8_t* frame, const FrameSize& size) {
    std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "wb"));
    if (!file) throw CommandError{"cannot write " + path + ": " + std::strerror(errno)};
    std::vector<uint8_t> row(size.Stride(), 0);
    bool ok = true;
    for (int y = 0; ok && y < size.height; ++y) {
        const std::vector<uint16_t> samples =
            StretchedRow(frame + static_cast<size_t>(y) * size.Stride(), size.width);
        for (size_t x = 0; x < samples.size(); ++x) {
            row[2 * x] = static_cast<uint8_t>(samples[x]);
            row[2 * x + 1] = static_cast<uint8_t>(samples[x] >> 8);
        }
        ok = std::fwrite(row.data(), 1, row.size(), file.get()) == row.size();
    }
    if (!ok || std::fclose(file.release()) != 0) throw CommandError{"cannot write " + path};
}

}  // namespace

bool WritesStretched(int format) {
    return format == kFormatRaw || format == kFormatPng || format == kFormatTiff;
}

void WriteStretchedFrame(const std::string& path, int format, const uint8_t* frame,
                         const FrameSize& size) {
    switch (format) {
        case kFormatPng:
            WritePng(path, frame, size);
            break;
        case kFormatTiff:
            WriteTiff(path, frame, size);
            break;
        case kFormatRaw:
            WriteRaw(path, frame, size);
            break;
        default:
            throw CommandError{path + ": this format is not written stretched"};
    }
}

}  // namespace lumora_cli
