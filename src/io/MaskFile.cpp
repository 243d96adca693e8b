#include "io/MaskFile.h"

#include <bit>
#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "platform/FileReplace.h"
#include "platform/LittleEndian.h"
#include "platform/RegularFile.h"

namespace lumora {
namespace {

// Block sizes and depths in file order.
constexpr int32_t kBlockSizes[4] = {kMaskBlock8Size, kMaskBlock8Size, kMaskBlock16Size,
                                    kMaskBlock16Size};
constexpr int kBlockBits[4] = {8, 8, 16, 16};

// The references in file order.
const ImageBuffer& PlaneAt(const MaskSet& masks, int i) {
    return masks.Reference(kBlockBits[i], i % 2 == 0 ? kMaskDark : kMaskBright);
}
ImageBuffer& PlaneAt(MaskSet& masks, int i) {
    return masks.Reference(kBlockBits[i], i % 2 == 0 ? kMaskDark : kMaskBright);
}

bool HasMaskShape(const ImageBuffer& image, int bits) {
    return image.IsValid() && image.Width() == kMaskWidth && image.Height() == kMaskHeight &&
           image.BitCount() == bits;
}

// One block at `out`: the image rows without padding, 16-bit samples little-endian.
void CopyBlockFrom(const ImageBuffer& image, uint8_t* out) {
    const size_t rowBytes = static_cast<size_t>(image.Width()) * image.BytesPerPixel();
    for (int y = 0; y < image.Height(); ++y, out += rowBytes) {
        const uint8_t* source = image.Row(y);
        if (image.BitCount() == 16 && std::endian::native != std::endian::little) {
            for (size_t i = 0; i < rowBytes; i += 2) {
                uint16_t v;
                std::memcpy(&v, source + i, 2);
                platform::StoreLe16(out + i, v);
            }
        } else {
            std::memcpy(out, source, rowBytes);
        }
    }
}

void CopyBlockInto(const uint8_t* block, ImageBuffer& image) {
    const size_t rowBytes = static_cast<size_t>(image.Width()) * image.BytesPerPixel();
    for (int y = 0; y < image.Height(); ++y) {
        uint8_t* target = image.Row(y);
        const uint8_t* source = block + rowBytes * static_cast<size_t>(y);
        if (image.BitCount() == 16 && std::endian::native != std::endian::little) {
            for (size_t i = 0; i < rowBytes; i += 2) {
                const uint16_t v = platform::LoadLe16(source + i);
                std::memcpy(target + i, &v, 2);
            }
        } else {
            std::memcpy(target, source, rowBytes);
        }
    }
}

}  // namespace

void EncodeMaskHeader(const MaskFileHeader& header, uint8_t* out) {
    std::memcpy(out + offsetof(MaskFileHeader, magic), header.magic, sizeof header.magic);
    platform::StoreLeInt32(out + offsetof(MaskFileHeader, width), header.width);
    platform::StoreLeInt32(out + offsetof(MaskFileHeader, height), header.height);
    for (int i = 0; i < 4; ++i) {
        platform::StoreLeInt32(out + offsetof(MaskFileHeader, blockSize) + 4 * i,
                               header.blockSize[i]);
    }
}

MaskFileHeader DecodeMaskHeader(const uint8_t* in) {
    MaskFileHeader header{};
    std::memcpy(header.magic, in + offsetof(MaskFileHeader, magic), sizeof header.magic);
    header.width = platform::LoadLeInt32(in + offsetof(MaskFileHeader, width));
    header.height = platform::LoadLeInt32(in + offsetof(MaskFileHeader, height));
    for (int i = 0; i < 4; ++i) {
        header.blockSize[i] =
            platform::LoadLeInt32(in + offsetof(MaskFileHeader, blockSize) + 4 * i);
    }
    return header;
}

bool IsValidMaskHeader(const MaskFileHeader& header) {
    if (std::memcmp(header.magic, kMaskMagic, sizeof kMaskMagic) != 0) return false;
    if (header.width != kMaskWidth || header.height != kMaskHeight) return false;
    for (int i = 0; i < 4; ++i) {
        if (header.blockSize[i] != kBlockSizes[i]) return false;
    }
    return true;
}

bool EncodeMaskFile(const MaskSet& masks, MaskFileContent& content) {
    content.bytes.reset();
    for (int i = 0; i < 4; ++i) {
        if (!HasMaskShape(PlaneAt(masks, i), kBlockBits[i])) return false;
    }
    std::unique_ptr<uint8_t[]> bytes(new (std::nothrow) uint8_t[kMaskFileSize]);
    if (!bytes) return false;
    MaskFileHeader header{};
    std::memcpy(header.magic, kMaskMagic, sizeof kMaskMagic);
    header.width = PlaneAt(masks, 0).Width();
    header.height = PlaneAt(masks, 0).Height();
    for (int i = 0; i < 4; ++i) {
        const ImageBuffer& plane = PlaneAt(masks, i);
        header.blockSize[i] = plane.Width() * plane.BytesPerPixel() * plane.Height();
    }
    EncodeMaskHeader(header, bytes.get());
    size_t offset = kMaskHeaderSize;
    for (int i = 0; i < 4; ++i) {
        CopyBlockFrom(PlaneAt(masks, i), bytes.get() + offset);
        offset += static_cast<size_t>(kBlockSizes[i]);
    }
    content.bytes = std::move(bytes);
    return true;
}

bool WriteMaskFile(const char* path, const MaskFileContent& content) {
    if (path == nullptr || *path == '\0' || !content.bytes) return false;
    platform::FileSave save;
    save.size = kMaskFileSize;
    // A user who may write the file may save over it, even in a folder they cannot create in.
    save.allowInPlace = true;
    save.write = [&](platform::RegularFile& file) {
        return file.Write(content.bytes.get(), kMaskFileSize);
    };
    return platform::SaveFile(path, save);
}

bool ReadMaskFile(const char* path, MaskFileContent& content) {
    content.bytes.reset();
    platform::RegularFile file;
    if (path == nullptr || !file.OpenForReading(path) || file.Size() != kMaskFileSize) {
        return false;
    }
    std::unique_ptr<uint8_t[]> bytes(new (std::nothrow) uint8_t[kMaskFileSize]);
    if (!bytes || !file.ReadExact(bytes.get(), kMaskFileSize)) return false;
    uint8_t extra;
    size_t got = 0;
    if (!file.Read(&extra, 1, &got) || got != 0) return false;  // grew while we read: not this file
    if (!IsValidMaskHeader(DecodeMaskHeader(bytes.get()))) return false;
    content.bytes = std::move(bytes);
    return true;
}

bool ApplyMaskFile(const MaskFileContent& content, MaskSet& masks) {
    if (!content.bytes) return false;
    for (int i = 0; i < 4; ++i) {
        if (!HasMaskShape(PlaneAt(masks, i), kBlockBits[i])) return false;
    }
    size_t offset = kMaskHeaderSize;
    for (int i = 0; i < 4; ++i) {
        CopyBlockInto(content.bytes.get() + offset, PlaneAt(masks, i));
        offset += static_cast<size_t>(kBlockSizes[i]);
    }
    masks.BuildAllDefectMaps();
    return true;
}

bool SaveMaskFile(const char* path, const MaskSet& masks) {
    MaskFileContent content;
    // A path that cannot hold a file is refused before the 70 MB content is made for it.
    return path != nullptr && *path != '\0' && platform::RegularFile::MayHoldAFile(path) &&
           EncodeMaskFile(masks, content) && WriteMaskFile(path, content);
}

bool LoadMaskFile(const char* path, MaskSet& masks) {
    for (int i = 0; i < 4; ++i) {
        if (!HasMaskShape(PlaneAt(masks, i), kBlockBits[i])) return false;
    }
    MaskFileContent content;
    return ReadMaskFile(path, content) && ApplyMaskFile(content, masks);
}

}  // namespace lumora
