#include "imaging/ImageBuffer.h"

#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <utility>

namespace lumora {

namespace {
// Pixel rows start on cache-line boundaries when the stride allows, which keeps vector loads
// aligned on full-width frames.
constexpr size_t kPixelAlignment = 64;
}  // namespace

// The block's own start is kept in the word before the aligned pixels.
void ImageBuffer::AlignedFree::operator()(uint8_t* p) const {
    if (p != nullptr) std::free(reinterpret_cast<void**>(p)[-1]);
}

std::unique_ptr<uint8_t[], ImageBuffer::AlignedFree> ImageBuffer::Allocate(size_t bytes,
                                                                           bool zeroed) {
    const size_t padding = kPixelAlignment + sizeof(void*);
    if (bytes > SIZE_MAX - padding) return nullptr;
    // A zeroed image comes from calloc: for frame-sized blocks the C library hands out fresh
    // pages that are zero already, so megabytes are not written before a frame is.
    void* block = zeroed ? std::calloc(1, bytes + padding) : std::malloc(bytes + padding);
    if (block == nullptr) return nullptr;
    const auto start = reinterpret_cast<uintptr_t>(block) + sizeof(void*);
    auto* pixels = reinterpret_cast<uint8_t*>((start + kPixelAlignment - 1) & ~(kPixelAlignment - 1));
    reinterpret_cast<void**>(pixels)[-1] = block;
    return std::unique_ptr<uint8_t[], AlignedFree>(pixels);
}

ImageBuffer::ImageBuffer() {
    info_.header.size = kBitmapInfoHeaderSize;
}

ImageBuffer::ImageBuffer(ImageBuffer&& other) noexcept
    : info_(other.info_),
      pixels_(std::move(other.pixels_)),
      width_(other.width_),
      height_(other.height_),
      stride_(other.stride_),
      bitCount_(other.bitCount_),
      significantBits_(other.significantBits_) {
    other.Reset();
}

ImageBuffer& ImageBuffer::operator=(ImageBuffer&& other) noexcept {
    if (this != &other) {
        info_ = other.info_;
        pixels_ = std::move(other.pixels_);
        width_ = other.width_;
        height_ = other.height_;
        stride_ = other.stride_;
        bitCount_ = other.bitCount_;
        significantBits_ = other.significantBits_;
        other.Reset();
    }
    return *this;
}

bool ImageBuffer::Create(int width, int height, int bits) {
    if (width <= 0 || height <= 0 || !IsSupportedBitCount(bits)) return false;
    const int bytesPerPixel = bits / 8;
    // The stride must fit an int and stride × height a size_t.
    if (width > (INT_MAX - 3) / bytesPerPixel) return false;
    const int stride = StrideFor(width, bits);
    const size_t bytes = static_cast<size_t>(stride) * static_cast<size_t>(height);

    Reset();
    info_.header.width = width;
    info_.header.height = height;
    info_.header.planes = 1;
    info_.header.bitCount = static_cast<uint16_t>(bits);
    info_.header.compression = 0;
    width_ = width;
    height_ = height;
    stride_ = stride;
    bitCount_ = bits;
    if (bits == 8) SetGrayPalette();

    pixels_ = Allocate(bytes);
    if (!pixels_) {
        Reset();
        return false;
    }
    return true;
}

bool ImageBuffer::CreateLike(const ImageBuffer& other) {
    if (other.width_ <= 0 || other.height_ <= 0 || other.bitCount_ == 0) return false;
    if (&other == this) {
        // Same geometry, fresh zeroed pixels.
        std::memset(pixels_.get(), 0, SizeBytes());
        return true;
    }
    auto pixels = Allocate(other.SizeBytes());
    Reset();
    if (!pixels) return false;
    info_ = other.info_;
    width_ = other.width_;
    height_ = other.height_;
    stride_ = other.stride_;
    bitCount_ = other.bitCount_;
    pixels_ = std::move(pixels);
    return true;
}

bool ImageBuffer::CopyFrom(const ImageBuffer& other) {
    if (&other == this) return other.IsValid();
    if (!other.IsValid()) return false;
    auto pixels = Allocate(other.SizeBytes(), false);
    Reset();
    if (!pixels) return false;
    std::memcpy(pixels.get(), other.pixels_.get(), other.SizeBytes());
    info_ = other.info_;
    width_ = other.width_;
    height_ = other.height_;
    stride_ = other.stride_;
    bitCount_ = other.bitCount_;
    significantBits_ = other.significantBits_;
    pixels_ = std::move(pixels);
    return true;
}

void ImageBuffer::Reset() {
    pixels_.reset();
    info_ = BitmapInfo{};
    info_.header.size = kBitmapInfoHeaderSize;
    width_ = 0;
    height_ = 0;
    stride_ = 0;
    bitCount_ = 0;
    significantBits_ = 0;
}

void ImageBuffer::SetGrayPalette() {
    for (int i = 0; i < kPaletteEntries; ++i) {
        const auto v = static_cast<uint8_t>(i);
        info_.colors[i] = RgbQuad{v, v, v, 0};
    }
}

void ImageBuffer::SetPalette(int first, int count, const RgbQuad* entries) {
    if (entries == nullptr || first < 0 || count <= 0 || first >= kPaletteEntries) return;
    if (count > kPaletteEntries - first) count = kPaletteEntries - first;
    std::memcpy(&info_.colors[first], entries, static_cast<size_t>(count) * sizeof(RgbQuad));
}

}  // namespace lumora
