#include "io/ImageFileWriter.h"

#include <cstring>
#include <limits>

#include "platform/FileReplace.h"
#include "platform/LittleEndian.h"

namespace lumora {
namespace {

void EncodeBmpFileHeader(const BmpFileHeader& header, uint8_t* out) {
    platform::StoreLe16(out + offsetof(BmpFileHeader, type), header.type);
    platform::StoreLe32(out + offsetof(BmpFileHeader, fileSize), header.fileSize);
    platform::StoreLe32(out + offsetof(BmpFileHeader, reserved), header.reserved);
    platform::StoreLe32(out + offsetof(BmpFileHeader, dataOffset), header.dataOffset);
}

void EncodeInfoHeader(const BitmapInfoHeader& header, uint8_t* out) {
    platform::StoreLe32(out + offsetof(BitmapInfoHeader, size), header.size);
    platform::StoreLeInt32(out + offsetof(BitmapInfoHeader, width), header.width);
    platform::StoreLeInt32(out + offsetof(BitmapInfoHeader, height), header.height);
    platform::StoreLe16(out + offsetof(BitmapInfoHeader, planes), header.planes);
    platform::StoreLe16(out + offsetof(BitmapInfoHeader, bitCount), header.bitCount);
    platform::StoreLe32(out + offsetof(BitmapInfoHeader, compression), header.compression);
    platform::StoreLe32(out + offsetof(BitmapInfoHeader, sizeImage), header.sizeImage);
    platform::StoreLeInt32(out + offsetof(BitmapInfoHeader, xPelsPerMeter), header.xPelsPerMeter);
    platform::StoreLeInt32(out + offsetof(BitmapInfoHeader, yPelsPerMeter), header.yPelsPerMeter);
    platform::StoreLe32(out + offsetof(BitmapInfoHeader, clrUsed), header.clrUsed);
    platform::StoreLe32(out + offsetof(BitmapInfoHeader, clrImportant), header.clrImportant);
}

}  // namespace

int WriteBmpFile(const char* path, const ImageBuffer& image) {
    const bool paletted = image.BitCount() <= 8;
    const uint32_t dataOffset = paletted ? kBmpPaletteOffset + kBmpPaletteSize : kBmpPaletteOffset;
    const uint64_t fileSize = dataOffset + static_cast<uint64_t>(image.SizeBytes());
    if (fileSize > std::numeric_limits<uint32_t>::max()) return 0;  // not expressible in BMP

    uint8_t headers[kBmpPaletteOffset + kBmpPaletteSize] = {};
    EncodeBmpFileHeader({kBmpType, static_cast<uint32_t>(fileSize), 0, dataOffset}, headers);
    BitmapInfoHeader info{};
    info.size = kBitmapInfoHeaderSize;
    info.width = image.Width();
    info.height = image.Height();  // positive: the rows follow bottom-up
    info.planes = 1;
    info.bitCount = static_cast<uint16_t>(image.BitCount());
    EncodeInfoHeader(info, headers + kBmpInfoOffset);
    if (paletted) {
        for (int i = 0; i < kPaletteEntries; ++i) {
            uint8_t* entry = headers + kBmpPaletteOffset + 4 * i;
            entry[0] = entry[1] = entry[2] = static_cast<uint8_t>(i);  // the gray ramp
        }
    }

    return SaveFileContent(path, static_cast<size_t>(fileSize), [&](platform::RegularFile& file) {
        bool ok = file.Write(headers, dataOffset);
        for (int y = image.Height() - 1; ok && y >= 0; --y) {
            ok = file.Write(image.Row(y), static_cast<size_t>(image.Stride()));
        }
        return ok;
    });
}

int WriteRawFile(const char* path, const ImageBuffer& image) {
    return SaveFileContent(path, image.SizeBytes(), [&](platform::RegularFile& file) {
        return file.Write(image.Pixels(), image.SizeBytes());
    });
}

int SaveFileContent(const char* path, size_t size,
                    const std::function<bool(platform::RegularFile& file)>& write) {
    if (path == nullptr || *path == '\0') return 0;
    platform::FileSave save;
    save.write = write;
    save.size = size;
    // A user who may write the file may save over it, even in a folder they cannot create in.
    save.allowInPlace = true;
    save.durable = false;
    return platform::SaveFile(path, save) ? 1 : 0;
}

int WriteImageFile(const char* path, const ImageBuffer& image, int format, int significantBits) {
    if (format < kSaveBmp || format > kSaveTiff) return 0;
    if (!image.IsValid() || !IsSupportedBitCount(image.BitCount())) return 0;
    if (significantBits != 10 && significantBits != 12 && significantBits != 16) return 0;
    switch (format) {
        case kSaveBmp:
            return WriteBmpFile(path, image);
        case kSaveRaw:
            return WriteRawFile(path, image);
        case kSaveJpeg100:
            return WriteJpegFile(path, image, 100, significantBits);
        case kSaveJpeg70:
            return WriteJpegFile(path, image, 70, significantBits);
        case kSaveJpeg20:
            return WriteJpegFile(path, image, 20, significantBits);
        case kSavePng:
            return WritePngFile(path, image, significantBits);
        case kSaveTiff:
            return WriteTiffFile(path, image, significantBits);
        default:
            return 0;
    }
}

}  // namespace lumora
