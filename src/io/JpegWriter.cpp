// JPEG output through libjpeg: an 8-bit gray or 24-bit RGB progressive file.
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#include <jpeglib.h>
// After jpeglib.h, which it needs.
#include <jerror.h>

#include "imaging/PixelAccess.h"
#include "imaging/SampleRows.h"
#include "io/ImageFileWriter.h"
#include "platform/Log.h"

namespace lumora {
namespace {

// The library's error manager plus the place its fatal errors unwind to. Its default fatal
// handler ends the process; ours reports like the default one and returns to the writer.
struct JpegErrorManager {
    jpeg_error_mgr library;
    std::jmp_buf unwind;
};

void LogJpegMessage(j_common_ptr cinfo) {
    char text[JMSG_LENGTH_MAX];
    (*cinfo->err->format_message)(cinfo, text);
    platform::Log(platform::LogCategory::kFile, 1, "libjpeg: %s\n", text);
}

[[noreturn]] void UnwindOnJpegError(j_common_ptr cinfo) {
    (*cinfo->err->output_message)(cinfo);
    std::longjmp(reinterpret_cast<JpegErrorManager*>(cinfo->err)->unwind, 1);
}

// The compressed stream's way into the file, through a buffer; a failed write is the library's
// write error (which unwinds).
struct FileDestination {
    jpeg_destination_mgr library;  // first: the library hands back a pointer to it
    platform::RegularFile* file;
    JOCTET buffer[64 * 1024];
};

void StartBuffer(j_compress_ptr cinfo) {
    auto* dest = reinterpret_cast<FileDestination*>(cinfo->dest);
    dest->library.next_output_byte = dest->buffer;
    dest->library.free_in_buffer = sizeof dest->buffer;
}

boolean WriteFullBuffer(j_compress_ptr cinfo) {
    auto* dest = reinterpret_cast<FileDestination*>(cinfo->dest);
    if (!dest->file->Write(dest->buffer, sizeof dest->buffer)) ERREXIT(cinfo, JERR_FILE_WRITE);
    StartBuffer(cinfo);
    return TRUE;
}

void WriteRest(j_compress_ptr cinfo) {
    auto* dest = reinterpret_cast<FileDestination*>(cinfo->dest);
    const size_t used = sizeof dest->buffer - dest->library.free_in_buffer;
    if (used > 0 && !dest->file->Write(dest->buffer, used)) ERREXIT(cinfo, JERR_FILE_WRITE);
}

// The setjmp frame: it holds nothing with a destructor, and the compressor and error manager
// live in the caller's frame, so the jump skips no cleanup and leaves no indeterminate local.
// `rows` holds height packed rows of width × components bytes, top row first.
int Compress(jpeg_compress_struct* cinfo, JpegErrorManager* error, FileDestination* dest,
             const uint8_t* rows, int width, int height, int components, int quality) {
    cinfo->err = jpeg_std_error(&error->library);
    error->library.error_exit = UnwindOnJpegError;
    error->library.output_message = LogJpegMessage;
    if (setjmp(error->unwind) != 0) {
        jpeg_destroy_compress(cinfo);
        return 0;
    }
    jpeg_create_compress(cinfo);
    dest->library.init_destination = StartBuffer;
    dest->library.empty_output_buffer = WriteFullBuffer;
    dest->library.term_destination = WriteRest;
    cinfo->dest = &dest->library;
    cinfo->image_width = static_cast<JDIMENSION>(width);
    cinfo->image_height = static_cast<JDIMENSION>(height);
    cinfo->input_components = components;
    cinfo->in_color_space = components == 1 ? JCS_GRAYSCALE : JCS_RGB;
    jpeg_set_defaults(cinfo);
    jpeg_set_quality(cinfo, quality, TRUE);
    jpeg_simple_progression(cinfo);
    jpeg_start_compress(cinfo, TRUE);
    const size_t pitch = static_cast<size_t>(width) * static_cast<size_t>(components);
    while (cinfo->next_scanline < cinfo->image_height) {
        JSAMPROW row = const_cast<JSAMPROW>(rows + pitch * cinfo->next_scanline);
        jpeg_write_scanlines(cinfo, &row, 1);
    }
    jpeg_finish_compress(cinfo);  // writes the rest of the buffer and checks it
    jpeg_destroy_compress(cinfo);
    return 1;
}

// Fills `out` with the image as 8-bit gray (8- and 16-bit sources) or RGB (colour sources).
void PrepareRows(const ImageBuffer& image, int significantBits, uint8_t* out) {
    const int width = image.Width();
    // The top 8 of a 16-bit sample's significant bits, as the preview shows them: where the
    // image says where its data lies (right-aligned 12 bits, or left-aligned by the flat
    // field), that; otherwise 12 right-aligned bits unless the caller says 10.
    const int grayBits = significantBits == 10 ? 10 : 12;
    const int colorBits = image.SignificantBits();
    const int imageBits = image.SignificantBits();
    const int grayShift = (imageBits >= 8 && imageBits <= 16 ? imageBits : grayBits) - 8;
    const auto topBytes = SampleRows().topBytes;
    for (int y = 0; y < image.Height(); ++y) {
        const uint8_t* src = image.Row(y);
        switch (image.BitCount()) {
            case 8:
                std::memcpy(out, src, static_cast<size_t>(width));
                out += width;
                break;
            case 16:
                topBytes(out, Words(src), width, grayShift);
                out += width;
                break;
            case 24:
            case 32: {
                const int bpp = image.BytesPerPixel();
                for (int x = 0; x < width; ++x, src += bpp) {
                    *out++ = src[2];
                    *out++ = src[1];
                    *out++ = src[0];
                }
                break;
            }
            default: {  // 48 and 64: the top byte of each of B, G, R (the high byte unless said)
                const uint16_t* words = Words(src);
                const int samples = image.BytesPerPixel() / 2;
                for (int x = 0; x < width; ++x, words += samples) {
                    *out++ = TopByteOf(words[2], colorBits, 16);
                    *out++ = TopByteOf(words[1], colorBits, 16);
                    *out++ = TopByteOf(words[0], colorBits, 16);
                }
                break;
            }
        }
    }
}

}  // namespace

int WriteJpegFile(const char* path, const ImageBuffer& image, int quality, int significantBits) {
    if (!image.IsValid() || !IsSupportedBitCount(image.BitCount())) return 0;
    const int components = image.BitCount() <= 16 ? 1 : 3;
    const size_t bytes = static_cast<size_t>(image.Width()) * static_cast<size_t>(image.Height()) *
                         static_cast<size_t>(components);
    std::unique_ptr<uint8_t[]> rows(new (std::nothrow) uint8_t[bytes]);
    if (!rows) return 0;
    PrepareRows(image, significantBits, rows.get());

    return SaveFileContent(path, 0, [&](platform::RegularFile& file) {
        jpeg_compress_struct cinfo{};
        JpegErrorManager error{};
        std::unique_ptr<FileDestination> dest(new (std::nothrow) FileDestination);
        if (!dest) return false;
        dest->file = &file;
        return Compress(&cinfo, &error, dest.get(), rows.get(), image.Width(), image.Height(),
                        components, quality) == 1;
    });
}

}  // namespace lumora
