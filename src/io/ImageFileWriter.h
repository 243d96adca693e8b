#pragma once
// Writes an image to a file in the format the caller's code names (never guessed from the file
// name): BMP and headerless raw written here, JPEG, PNG and TIFF through their libraries.
//
// Threads: every call owns its working state; concurrent writes of different images are safe.
// The caller keeps the image unchanged while it is written.
#include <cstddef>
#include <cstdint>
#include <functional>

#include "imaging/ImageBuffer.h"
#include "platform/RegularFile.h"

namespace lumora {

enum SaveFormat : int {
    kSaveBmp = 0,
    kSaveRaw = 1,
    kSaveJpeg100 = 2,
    kSaveJpeg70 = 3,
    kSaveJpeg20 = 4,
    kSavePng = 5,
    kSaveTiff = 6,
};

// The BMP file header as it lies in the file (little-endian, no padding).
#pragma pack(push, 1)
struct BmpFileHeader {
    uint16_t type;  // "BM"
    uint32_t fileSize;
    uint32_t reserved;
    uint32_t dataOffset;
};
#pragma pack(pop)
static_assert(sizeof(BmpFileHeader) == 14);
static_assert(offsetof(BmpFileHeader, fileSize) == 2);
static_assert(offsetof(BmpFileHeader, dataOffset) == 10);

inline constexpr uint16_t kBmpType = 0x4D42;
inline constexpr uint32_t kBmpInfoOffset = 14;
inline constexpr uint32_t kBmpPaletteOffset = 54;
inline constexpr uint32_t kBmpPaletteSize = 1024;

// Every writer saves through SaveFileContent: the path must name a regular file or nothing (a
// device or a pipe is refused, never written to or waited for), the new file takes the old
// one's place only once it is complete, and a failed save leaves an existing file as it was
// and no new file behind. The codecs' own complaints go to the debug log, never to the
// application's standard error.

// Writes `image` to `path` as `format`. `significantBits` (10, 12 or 16) says how many low bits
// of each 16-bit sample carry data. Returns 1 when the whole file was written and closed, else
// 0: an unknown format (no file is created), an image that is empty or of an unsupported depth,
// an unusable significantBits, or any failure to open, write, flush or close the file.
int WriteImageFile(const char* path, const ImageBuffer& image, int format, int significantBits);

// The individual writers behind WriteImageFile, with the same results.
int WriteBmpFile(const char* path, const ImageBuffer& image);
int WriteRawFile(const char* path, const ImageBuffer& image);
int WriteJpegFile(const char* path, const ImageBuffer& image, int quality, int significantBits);
int WritePngFile(const char* path, const ImageBuffer& image, int significantBits);
int WriteTiffFile(const char* path, const ImageBuffer& image, int significantBits);

// The writers' way to a file: `write` produces the whole content (about `size` bytes, 0 when
// unknown) into the file from its start. 1 when it was saved, else 0.
int SaveFileContent(const char* path, size_t size,
                    const std::function<bool(platform::RegularFile& file)>& write);

}  // namespace lumora
