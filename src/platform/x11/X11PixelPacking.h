#pragma once
// Pictures into the pixels of an X image and back. A 32-bit image whose masks are 0xFF0000,
// 0xFF00 and 0xFF (the usual true-colour layout) takes the 0x00RRGGBB rows as they are; any
// other true-colour layout gets each channel scaled into its mask.
#include <X11/Xlib.h>

#include <cstdint>
#include <vector>

#include "platform/Window.h"

namespace lumora::platform {

class TrueColorLayout {
public:
    TrueColorLayout(unsigned long redMask, unsigned long greenMask, unsigned long blueMask);
    // 0x00RRGGBB into a pixel value: each 8-bit channel scaled into its field, rounded to
    // nearest. A channel whose mask is 0 is left out.
    unsigned long Pack(uint32_t rgb) const;
    // A pixel value into 0x00RRGGBB: each field scaled back to 8 bits, rounded down.
    uint32_t Unpack(unsigned long pixel) const;

private:
    struct Field {
        unsigned long mask = 0;
        int shift = 0;
        unsigned long top = 0;  // the field's largest value
    };
    Field fields_[3];  // red, green, blue
};

// Writes `image` (8-bit with its palette, or 24-bit) into the top-left of `target`, as much of
// it as fits.
void PackImage(XImage* target, const PixelView& image);
// Writes an 8-bit gray `image` (a palette whose entries are their own index in each channel)
// into the top-left of the depth-8 `target` as it is, top row first; false, writing nothing, for
// any other picture.
bool PackGrayImage(XImage* target, const PixelView& image);
// The top-left width × height pixels of `image` as 0x00RRGGBB words, row after row.
std::vector<uint32_t> UnpackImage(XImage* image, int width, int height);

}  // namespace lumora::platform
