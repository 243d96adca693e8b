// PNG output through libpng: gray, RGB or RGB with alpha at 8 or 16 bits per sample.
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#include <png.h>

#include "imaging/PixelAccess.h"
#include "io/ImageFileWriter.h"
#include "platform/Log.h"

namespace lumora {
namespace {

// The library's complaints go to the debug log; an error unwinds to the setjmp in EncodePng.
[[noreturn]] void OnPngError(png_structp png, png_const_charp message) {
    platform::Log(platform::LogCategory::kFile, 1, "libpng error: %s\n", message);
    png_longjmp(png, 1);
}

void OnPngWarning(png_structp, png_const_charp message) {
    platform::Log(platform::LogCategory::kFile, 1, "libpng warning: %s\n", message);
}

void WriteToFile(png_structp png, png_bytep data, size_t size) {
    auto* file = static_cast<platform::RegularFile*>(png_get_io_ptr(png));
    if (!file->Write(data, size)) png_error(png, "Write Error");
}

void FlushNothing(png_structp) {}

struct PngLayout {
    int bitDepth;
    int colorType;
    bool bgr;                 // samples stored B, G, R
    int significantBits = 0;  // the sBIT of widened samples (their top bits); 0: none written
};

PngLayout LayoutFor(int bitCount) {
    switch (bitCount) {
        case 8:
            return {8, PNG_COLOR_TYPE_GRAY, false};
        case 16:
            return {16, PNG_COLOR_TYPE_GRAY, false};
        case 24:
            return {8, PNG_COLOR_TYPE_RGB, true};
        case 32:
            return {8, PNG_COLOR_TYPE_RGB_ALPHA, true};
        case 48:
            return {16, PNG_COLOR_TYPE_RGB, true};
        default:
            return {16, PNG_COLOR_TYPE_RGB_ALPHA, true};
    }
}

// The setjmp frame: only the library's two structures (set before setjmp and never changed
// after it) and plain values, so the unwinding jump skips no destructor.
int EncodePng(platform::RegularFile* file, png_bytep* rows, int width, int height,
              const PngLayout& layout) {
    png_structp png =
        png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, OnPngError, OnPngWarning);
    if (png == nullptr) return 0;
    png_infop info = png_create_info_struct(png);
    if (info == nullptr) {
        png_destroy_write_struct(&png, nullptr);
        return 0;
    }
    if (setjmp(png_jmpbuf(png)) != 0) {
        png_destroy_write_struct(&png, &info);
        return 0;
    }
    png_set_write_fn(png, file, WriteToFile, FlushNothing);
    png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height),
                 layout.bitDepth, layout.colorType, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    if (layout.significantBits != 0) {
        // Samples widened from fewer bits hold them at the top, which is what sBIT describes;
        // a 16-bit opacity carries all 16.
        png_color_8 bits{};
        const auto n = static_cast<png_byte>(layout.significantBits);
        bits.gray = bits.red = bits.green = bits.blue = n;
        bits.alpha = 16;
        png_set_sBIT(png, info, &bits);
    }
    png_write_info(png, info);
    if (layout.bgr) png_set_bgr(png);
    png_write_image(png, rows);
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return 1;
}

uint16_t Widen(uint16_t v, int significantBits) {
    if (significantBits == 10) return static_cast<uint16_t>(v << 6);
    if (significantBits == 12) return static_cast<uint16_t>(v << 4);
    return v;
}

// 16-bit samples widened to the full word and stored most significant byte first, as PNG
// keeps them; a fourth sample of 64-bit pixels becomes opaque.
void PrepareWide(const ImageBuffer& image, int significantBits, uint8_t* out) {
    const int samples = image.BytesPerPixel() / 2;
    for (int y = 0; y < image.Height(); ++y) {
        const uint16_t* src = Words(image.Row(y));
        uint8_t* dst = out + static_cast<size_t>(y) * image.Stride();
        for (int x = 0; x < image.Width(); ++x) {
            for (int s = 0; s < samples; ++s, ++src, dst += 2) {
                const uint16_t v = s == 3 ? 0xFFFF : Widen(*src, significantBits);
                dst[0] = static_cast<uint8_t>(v >> 8);
                dst[1] = static_cast<uint8_t>(v);
            }
        }
    }
}

// B, G, R kept; the unused fourth byte, 0 in our images, becomes opacity 255.
void PrepareAlpha(const ImageBuffer& image, uint8_t* out) {
    for (int y = 0; y < image.Height(); ++y) {
        const uint8_t* src = image.Row(y);
        uint8_t* dst = out + static_cast<size_t>(y) * image.Stride();
        for (int x = 0; x < image.Width(); ++x, src += 4, dst += 4) {
            dst[0] = src[0];
            dst[1] = src[1];
            dst[2] = src[2];
            dst[3] = static_cast<uint8_t>(~src[3]);
        }
    }
}

}  // namespace

int WritePngFile(const char* path, const ImageBuffer& image, int significantBits) {
    if (!image.IsValid() || !IsSupportedBitCount(image.BitCount())) return 0;
    const int bits = image.BitCount();
    const uint8_t* pixels = image.Pixels();
    std::unique_ptr<uint8_t[]> prepared;
    if (bits != 8 && bits != 24) {
        prepared.reset(new (std::nothrow) uint8_t[image.SizeBytes()]);
        if (!prepared) {
            platform::Log(platform::LogCategory::kFile, 1, "libpng error: Out of memory\n");
            return 0;
        }
        if (bits == 32) {
            PrepareAlpha(image, prepared.get());
        } else {
            PrepareWide(image, significantBits, prepared.get());
        }
        pixels = prepared.get();
    }
    std::unique_ptr<png_bytep[]> rows(new (std::nothrow) png_bytep[image.Height()]);
    if (!rows) {
        platform::Log(platform::LogCategory::kFile, 1, "libpng error: Out of memory\n");
        return 0;
    }
    for (int y = 0; y < image.Height(); ++y) {
        // libpng transforms a copy of each row; the image itself is only read.
        rows[y] = const_cast<png_bytep>(pixels + static_cast<size_t>(y) * image.Stride());
    }

    PngLayout layout = LayoutFor(bits);
    if (layout.bitDepth == 16 && significantBits != 16) layout.significantBits = significantBits;
    return SaveFileContent(path, 0, [&](platform::RegularFile& file) {
        return EncodePng(&file, rows.get(), image.Width(), image.Height(), layout) == 1;
    });
}

}  // namespace lumora
