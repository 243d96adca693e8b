// TIFF output through libtiff: one uncompressed strip of gray or RGB samples.
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#include <tiffio.h>

#include "imaging/PixelAccess.h"
#include "io/ImageFileWriter.h"
#include "platform/Log.h"

namespace lumora {
namespace {

struct TiffLayout {
    uint16_t bitsPerSample;
    uint16_t photometric;
    uint16_t samplesPerPixel;
};

TiffLayout LayoutFor(int bitCount) {
    switch (bitCount) {
        case 8:
            return {8, PHOTOMETRIC_MINISBLACK, 1};
        case 16:
            return {16, PHOTOMETRIC_MINISBLACK, 1};
        case 24:
            return {8, PHOTOMETRIC_RGB, 3};
        case 32:
            return {8, PHOTOMETRIC_RGB, 4};
        case 48:
            return {16, PHOTOMETRIC_RGB, 3};
        default:
            return {16, PHOTOMETRIC_RGB, 4};
    }
}

// libtiff reads and writes through these, on the file the save gives it.
platform::RegularFile& FileOf(thandle_t handle) {
    return *static_cast<platform::RegularFile*>(handle);
}

tmsize_t ReadFile(thandle_t handle, void* data, tmsize_t size) {
    size_t got = 0;
    if (size < 0 || !FileOf(handle).Read(data, static_cast<size_t>(size), &got)) return -1;
    return static_cast<tmsize_t>(got);
}

tmsize_t WriteFile(thandle_t handle, void* data, tmsize_t size) {
    if (size < 0 || !FileOf(handle).Write(data, static_cast<size_t>(size))) return -1;
    return size;
}

toff_t SeekFile(thandle_t handle, toff_t offset, int whence) {
    platform::RegularFile& file = FileOf(handle);
    toff_t target = offset;
    if (whence == SEEK_CUR) target += file.Position();
    if (whence == SEEK_END) target += file.Size();
    return file.Seek(target) ? target : static_cast<toff_t>(-1);
}

int CloseNothing(thandle_t) {
    return 0;  // the save owns the file
}

toff_t SizeOfFile(thandle_t handle) {
    return FileOf(handle).Size();
}

int MapNothing(thandle_t, void**, toff_t*) {
    return 0;
}

void UnmapNothing(thandle_t, void*, toff_t) {}

// The library's errors and warnings go to the debug log, never to the application's standard
// error; claiming them keeps libtiff's process-wide handlers out of it.
[[gnu::format(printf, 4, 0)]] int LogTiffMessage(TIFF*, void*, const char* module,
                                                 const char* format, va_list arguments) {
    char text[512];
    std::vsnprintf(text, sizeof text, format, arguments);
    platform::Log(platform::LogCategory::kFile, 1, "libtiff: %s: %s\n",
                  module != nullptr ? module : "", text);
    return 1;
}

uint16_t Widen(uint16_t v, int significantBits) {
    if (significantBits == 10) return static_cast<uint16_t>(v << 6);
    if (significantBits == 12) return static_cast<uint16_t>(v << 4);
    return v;
}

// Rows packed to exactly width × bytes per pixel: a strip has no room for the image's row
// padding, which every reader would take for pixels. Colour samples become R, G, B; the
// fourth byte of 32-bit pixels is 0 and the fourth sample of 64-bit pixels 0xFFFF.
void PrepareStrip(const ImageBuffer& image, int significantBits, uint8_t* out) {
    const int bits = image.BitCount();
    const size_t rowBytes = static_cast<size_t>(image.Width()) * image.BytesPerPixel();
    for (int y = 0; y < image.Height(); ++y, out += rowBytes) {
        const uint8_t* src = image.Row(y);
        if (bits == 8) {
            std::memcpy(out, src, rowBytes);
        } else if (bits == 24 || bits == 32) {
            const int bpp = bits / 8;
            for (int x = 0; x < image.Width(); ++x) {
                const uint8_t* p = src + x * bpp;
                uint8_t* q = out + x * bpp;
                q[0] = p[2];
                q[1] = p[1];
                q[2] = p[0];
                if (bpp == 4) q[3] = 0;
            }
        } else {
            const int samples = bits / 16;
            const uint16_t* p = Words(src);
            uint16_t* q = Words(out);
            for (int x = 0; x < image.Width(); ++x, p += samples, q += samples) {
                if (samples == 1) {
                    q[0] = Widen(p[0], significantBits);
                    continue;
                }
                q[0] = Widen(p[2], significantBits);
                q[1] = Widen(p[1], significantBits);
                q[2] = Widen(p[0], significantBits);
                if (samples == 4) q[3] = 0xFFFF;
            }
        }
    }
}

}  // namespace

int WriteTiffFile(const char* path, const ImageBuffer& image, int significantBits) {
    if (path == nullptr || *path == '\0') return 0;
    if (!image.IsValid() || !IsSupportedBitCount(image.BitCount())) return 0;
    const TiffLayout layout = LayoutFor(image.BitCount());
    const size_t stripBytes = static_cast<size_t>(image.Width()) * image.BytesPerPixel() *
                              static_cast<size_t>(image.Height());
    std::unique_ptr<uint8_t[]> strip(new (std::nothrow) uint8_t[stripBytes]);
    if (!strip) return 0;
    PrepareStrip(image, significantBits, strip.get());

    TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
    if (options == nullptr) return 0;
    TIFFOpenOptionsSetErrorHandlerExtR(options, LogTiffMessage, nullptr);
    TIFFOpenOptionsSetWarningHandlerExtR(options, LogTiffMessage, nullptr);
    const int saved = SaveFileContent(path, 0, [&](platform::RegularFile& file) {
        TIFF* tif = TIFFClientOpenExt(path, "w", &file, ReadFile, WriteFile, SeekFile, CloseNothing,
                                      SizeOfFile, MapNothing, UnmapNothing, options);
        if (tif == nullptr) return false;
        bool ok = TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, static_cast<uint32_t>(image.Width())) &&
                  TIFFSetField(tif, TIFFTAG_IMAGELENGTH, static_cast<uint32_t>(image.Height())) &&
                  TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_NONE) &&
                  TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG) &&
                  TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, layout.bitsPerSample) &&
                  TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, layout.photometric) &&
                  TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, layout.samplesPerPixel) &&
                  TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, static_cast<uint32_t>(image.Height()));
        if (ok && layout.samplesPerPixel == 4) {
            // Say what the fourth sample is: the always-zero byte of 32-bit pixels means nothing
            // (as alpha it would hide the picture); the 0xFFFF of 64-bit pixels is opacity.
            const uint16_t extra =
                image.BitCount() == 64 ? EXTRASAMPLE_UNASSALPHA : EXTRASAMPLE_UNSPECIFIED;
            ok = TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, 1, &extra);
        }
        ok = ok && TIFFWriteEncodedStrip(tif, 0, strip.get(), static_cast<tmsize_t>(stripBytes)) ==
                       static_cast<tmsize_t>(stripBytes);
        ok = ok && TIFFFlush(tif) == 1;
        TIFFClose(tif);  // frees the handle; the file stays the save's
        return ok;
    });
    TIFFOpenOptionsFree(options);
    return saved;
}

}  // namespace lumora
