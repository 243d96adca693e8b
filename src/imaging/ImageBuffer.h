#pragma once
// ImageBuffer: one device-independent bitmap as the rest of the system sees it. The header and
// the 256-entry palette sit back to back so that `Info()` is a valid BITMAPINFO in memory; the
// pixel rows are stored top-down (memory row 0 is the top image row) although the header
// declares a positive height, so anything that hands the buffer to a bottom-up consumer reverses
// the rows. Drawing surfaces belong to the preview layer, not to the buffer.
//
// Threads: not synchronised; the session guards its images with its capture lock.
#include <cstddef>
#include <cstdint>
#include <memory>

namespace lumora {

// The in-memory layout of a BITMAPINFOHEADER (little-endian host).
struct BitmapInfoHeader {
    uint32_t size;  // always 40
    int32_t width;
    int32_t height;  // positive although the rows are stored top-down
    uint16_t planes;
    uint16_t bitCount;
    uint32_t compression;  // 0: uncompressed RGB
    uint32_t sizeImage;
    int32_t xPelsPerMeter;
    int32_t yPelsPerMeter;
    uint32_t clrUsed;
    uint32_t clrImportant;
};
static_assert(sizeof(BitmapInfoHeader) == 40);
static_assert(offsetof(BitmapInfoHeader, bitCount) == 14);
static_assert(offsetof(BitmapInfoHeader, compression) == 16);
static_assert(offsetof(BitmapInfoHeader, clrImportant) == 36);

struct RgbQuad {
    uint8_t blue;
    uint8_t green;
    uint8_t red;
    uint8_t reserved;
};
static_assert(sizeof(RgbQuad) == 4);

constexpr int kPaletteEntries = 256;

// Header plus palette: a BITMAPINFO with room for a full 8-bit colour table.
struct BitmapInfo {
    BitmapInfoHeader header;
    RgbQuad colors[kPaletteEntries];
};
static_assert(sizeof(BitmapInfo) == 40 + 4 * kPaletteEntries);
static_assert(offsetof(BitmapInfo, colors) == 40);

constexpr uint32_t kBitmapInfoHeaderSize = 40;

// Row pitch of an image: rows padded to 4 bytes.
constexpr int StrideFor(int width, int bitCount) {
    return (width * (bitCount / 8) + 3) & ~3;
}

// True for the depths an ImageBuffer holds: 8, 16, 24, 32, 48, 64.
constexpr bool IsSupportedBitCount(int bitCount) {
    return bitCount == 8 || bitCount == 16 || bitCount == 24 || bitCount == 32 || bitCount == 48 ||
           bitCount == 64;
}

class ImageBuffer {
public:
    ImageBuffer();
    ~ImageBuffer() = default;
    ImageBuffer(const ImageBuffer&) = delete;
    ImageBuffer& operator=(const ImageBuffer&) = delete;
    ImageBuffer(ImageBuffer&&) noexcept;
    ImageBuffer& operator=(ImageBuffer&&) noexcept;

    // Re-creates the buffer as width × height at `bits` per pixel with zero-filled pixels (8-bit
    // images get the gray palette). Returns false and changes nothing when width or height is
    // not positive, the depth is not one of the six supported ones, or the size does not fit;
    // returns false with the buffer reset when the memory cannot be had.
    bool Create(int width, int height, int bits);
    // Re-creates the buffer with the other's header, palette, size and depth and new zero-filled
    // pixels (pixels are not copied). Fails, changing nothing, when the other is empty.
    bool CreateLike(const ImageBuffer& other);
    // Re-creates the buffer as a copy of the other: header, palette, pixels and significant
    // bits. Fails when the other is empty (changing nothing) or the memory cannot be had (the
    // buffer is then reset).
    bool CopyFrom(const ImageBuffer& other);
    // Frees the pixels and zeroes the record; the header size stays 40.
    void Reset();

    // Writes the gray ramp (i, i, i, 0) into all 256 palette entries.
    void SetGrayPalette();
    // Writes `count` caller-given entries from `first` on; entries past 255 are ignored.
    void SetPalette(int first, int count, const RgbQuad* entries);

    bool IsValid() const { return pixels_ != nullptr; }
    int Width() const { return width_; }
    int Height() const { return height_; }
    int Stride() const { return stride_; }
    int BitCount() const { return bitCount_; }
    int BytesPerPixel() const { return bitCount_ / 8; }
    // stride × height: the bytes of pixel memory.
    size_t SizeBytes() const { return static_cast<size_t>(stride_) * static_cast<size_t>(height_); }

    uint8_t* Pixels() { return pixels_.get(); }
    const uint8_t* Pixels() const { return pixels_.get(); }
    uint8_t* Row(int y) { return pixels_.get() + static_cast<ptrdiff_t>(y) * stride_; }
    const uint8_t* Row(int y) const { return pixels_.get() + static_cast<ptrdiff_t>(y) * stride_; }

    // Where the data lies in 16-bit samples: the number of bits from bit 0 up to the highest
    // one that carries data. 12 for the camera's samples as delivered (right-aligned), 16 once
    // the flat field has spread them over the whole word; 0 when nobody said. Re-creating the
    // buffer clears it.
    int SignificantBits() const { return significantBits_; }
    void SetSignificantBits(int bits) { significantBits_ = bits; }

    const BitmapInfo& Info() const { return info_; }
    const BitmapInfoHeader& Header() const { return info_.header; }
    const RgbQuad* Palette() const { return info_.colors; }

private:
    struct AlignedFree {
        void operator()(uint8_t* p) const;
    };
    static std::unique_ptr<uint8_t[], AlignedFree> Allocate(size_t bytes, bool zeroed = true);

    BitmapInfo info_{};
    std::unique_ptr<uint8_t[], AlignedFree> pixels_;
    int width_ = 0;
    int height_ = 0;
    int stride_ = 0;
    int bitCount_ = 0;
    int significantBits_ = 0;
};

// The 8 bits of a 16-bit sample a screen or an 8-bit file shows: the top 8 of its significant
// bits (`significantBits` as ImageBuffer keeps it; 0 is taken as `assumed`). Stray bits above
// the significant ones saturate instead of wrapping.
inline uint8_t TopByteOf(unsigned sample, int significantBits, int assumed = 12) {
    const int bits = significantBits >= 8 && significantBits <= 16 ? significantBits : assumed;
    const unsigned top = sample >> (bits - 8);
    return static_cast<uint8_t>(top > 255 ? 255 : top);
}

}  // namespace lumora
