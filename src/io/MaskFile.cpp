#include "io/MaskFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <bit>
#include <cerrno>
#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "platform/FileReplace.h"
#include "platform/LittleEndian.h"

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

class Fd {
public:
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd() {
        if (fd_ >= 0) ::close(fd_);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int Get() const { return fd_; }
    bool Close() {
        const int fd = fd_;
        fd_ = -1;
        return fd >= 0 && ::close(fd) == 0;
    }

private:
    int fd_;
};

bool WriteAll(int fd, const uint8_t* data, size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

bool ReadAll(int fd, uint8_t* data, size_t size) {
    while (size > 0) {
        const ssize_t n = ::read(fd, data, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;  // an error or a file shorter than it claimed
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

// One block: the image rows without padding, 16-bit samples little-endian.
bool WriteBlock(int fd, const ImageBuffer& image) {
    const size_t rowBytes = static_cast<size_t>(image.Width()) * image.BytesPerPixel();
    std::unique_ptr<uint8_t[]> row(new (std::nothrow) uint8_t[rowBytes]);
    if (!row) return false;
    for (int y = 0; y < image.Height(); ++y) {
        const uint8_t* source = image.Row(y);
        if (image.BitCount() == 16 && std::endian::native != std::endian::little) {
            for (size_t i = 0; i < rowBytes; i += 2) {
                uint16_t v;
                std::memcpy(&v, source + i, 2);
                platform::StoreLe16(row.get() + i, v);
            }
            source = row.get();
        }
        if (!WriteAll(fd, source, rowBytes)) return false;
    }
    return true;
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

bool SaveMaskFile(const char* path, const MaskSet& masks) {
    if (path == nullptr || *path == '\0') return false;
    for (int i = 0; i < 4; ++i) {
        if (!HasMaskShape(PlaneAt(masks, i), kBlockBits[i])) return false;
    }
    MaskFileHeader header{};
    std::memcpy(header.magic, kMaskMagic, sizeof kMaskMagic);
    header.width = PlaneAt(masks, 0).Width();
    header.height = PlaneAt(masks, 0).Height();
    for (int i = 0; i < 4; ++i) {
        const ImageBuffer& plane = PlaneAt(masks, i);
        header.blockSize[i] = plane.Width() * plane.BytesPerPixel() * plane.Height();
    }
    uint8_t encoded[kMaskHeaderSize];
    EncodeMaskHeader(header, encoded);

    platform::FileSave save;
    save.size = kMaskFileSize;
    // A user who may write the file may save over it, even in a folder they cannot create in.
    save.allowInPlace = true;
    save.write = [&](int fd) {
        bool ok = WriteAll(fd, encoded, sizeof encoded);
        for (int i = 0; ok && i < 4; ++i) ok = WriteBlock(fd, PlaneAt(masks, i));
        return ok;
    };
    return platform::SaveFile(path, save);
}

bool LoadMaskFile(const char* path, MaskSet& masks) {
    if (path == nullptr) return false;
    for (int i = 0; i < 4; ++i) {
        if (!HasMaskShape(PlaneAt(masks, i), kBlockBits[i])) return false;
    }
    Fd fd(::open(path, O_RDONLY | O_CLOEXEC));
    if (fd.Get() < 0) return false;
    struct stat info {};
    if (::fstat(fd.Get(), &info) != 0 || !S_ISREG(info.st_mode) ||
        static_cast<uint64_t>(info.st_size) != kMaskFileSize) {
        return false;
    }
    uint8_t encoded[kMaskHeaderSize];
    if (!ReadAll(fd.Get(), encoded, sizeof encoded)) return false;
    if (!IsValidMaskHeader(DecodeMaskHeader(encoded))) return false;

    const size_t blocksSize = kMaskFileSize - kMaskHeaderSize;
    std::unique_ptr<uint8_t[]> blocks(new (std::nothrow) uint8_t[blocksSize]);
    if (!blocks || !ReadAll(fd.Get(), blocks.get(), blocksSize)) return false;
    uint8_t extra;
    if (::read(fd.Get(), &extra, 1) != 0) return false;  // grew while we read: not this file

    size_t offset = 0;
    for (int i = 0; i < 4; ++i) {
        CopyBlockInto(blocks.get() + offset, PlaneAt(masks, i));
        offset += static_cast<size_t>(kBlockSizes[i]);
    }
    masks.BuildAllDefectMaps();
    return true;
}

}  // namespace lumora
