#include "platform/x11/X11PixelPacking.h"

#include <X11/Xutil.h>

#include <algorithm>

#include "platform/SimdLevel.h"
#include "platform/WindowPixels.h"

namespace lumora::platform {

TrueColorLayout::TrueColorLayout(unsigned long redMask, unsigned long greenMask,
                                 unsigned long blueMask) {
    const unsigned long masks[3] = {redMask, greenMask, blueMask};
    for (int c = 0; c < 3; ++c) {
        Field& field = fields_[c];
        field.mask = masks[c];
        if (field.mask == 0) continue;
        field.shift = __builtin_ctzl(field.mask);
        field.top = field.mask >> field.shift;
    }
}

unsigned long TrueColorLayout::Pack(uint32_t rgb) const {
    unsigned long pixel = 0;
    for (int c = 0; c < 3; ++c) {
        const Field& field = fields_[c];
        if (field.mask == 0) continue;
        const unsigned long value = (rgb >> (16 - 8 * c)) & 0xFF;
        pixel |= ((value * field.top + 127) / 255) << field.shift;
    }
    return pixel;
}

uint32_t TrueColorLayout::Unpack(unsigned long pixel) const {
    uint32_t rgb = 0;
    for (int c = 0; c < 3; ++c) {
        const Field& field = fields_[c];
        if (field.mask == 0) continue;
        const unsigned long channel = ((pixel & field.mask) >> field.shift) * 255 / field.top;
        rgb |= static_cast<uint32_t>(channel) << (16 - 8 * c);
    }
    return rgb;
}

void PackImage(XImage* target, const PixelView& image) {
    const int rows = std::min(target->height, image.height);
    const int cols = std::min(target->width, image.width);
    const bool direct = target->bits_per_pixel == 32 && target->red_mask == 0xFF0000 &&
                        target->green_mask == 0xFF00 && target->blue_mask == 0xFF &&
                        target->byte_order == LSBFirst;
    const TrueColorLayout layout(target->red_mask, target->green_mask, target->blue_mask);
    uint32_t table[256];
    const bool gray = image.bitCount == 8 && IsGrayPalette(image.palette);
    if (image.bitCount == 8 && !gray) PaletteWords(image.palette, table);
    std::vector<uint32_t> scratch(direct ? 0 : static_cast<size_t>(cols));
    // Source rows in ascending order, as for gray rows below.
    const int first = image.bottomUp ? image.height - rows : 0;
    for (int sourceRow = first; sourceRow < first + rows; ++sourceRow) {
        const int y = image.bottomUp ? image.height - 1 - sourceRow : sourceRow;
        const uint8_t* src = image.pixels + static_cast<size_t>(sourceRow) * image.stride;
        uint32_t* out = direct ? reinterpret_cast<uint32_t*>(
                                     target->data + static_cast<size_t>(y) * target->bytes_per_line)
                               : scratch.data();
        if (gray) {
            ExpandGrayRow(out, src, cols);
        } else if (image.bitCount == 8) {
            ExpandPaletteRow(out, src, cols, table);
        } else {
            ExpandBgrRow(out, src, cols);
        }
        if (direct) continue;
        for (int x = 0; x < cols; ++x) XPutPixel(target, x, y, layout.Pack(scratch[x]));
    }
    FenceStreamedStores();
}

bool PackGrayImage(XImage* target, const PixelView& image) {
    if (image.bitCount != 8 || target->bits_per_pixel != 8 || !IsGrayPalette(image.palette)) {
        return false;
    }
    const int rows = std::min(target->height, image.height);
    const auto cols = static_cast<size_t>(std::max(std::min(target->width, image.width), 0));
    // The source is read in ascending rows whichever way it is stored: only the reads need the
    // prefetchers (long rows are written around the caches), and they follow ascending
    // addresses far better than descending rows.
    const int first = image.bottomUp ? image.height - rows : 0;
    for (int sourceRow = first; sourceRow < first + rows; ++sourceRow) {
        const int y = image.bottomUp ? image.height - 1 - sourceRow : sourceRow;
        CopyGrayRow(reinterpret_cast<uint8_t*>(target->data) +
                        static_cast<size_t>(y) * target->bytes_per_line,
                    image.pixels + static_cast<size_t>(sourceRow) * image.stride,
                    static_cast<int>(cols));
    }
    FenceStreamedStores();
    return true;
}

std::vector<uint32_t> UnpackImage(XImage* image, int width, int height) {
    std::vector<uint32_t> pixels(static_cast<size_t>(std::max(width, 0)) * std::max(height, 0));
    const TrueColorLayout layout(image->red_mask, image->green_mask, image->blue_mask);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            pixels[static_cast<size_t>(y) * width + x] = layout.Unpack(XGetPixel(image, x, y));
        }
    }
    return pixels;
}

}  // namespace lumora::platform
