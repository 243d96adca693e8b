#include "imaging/RawFrame.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "imaging/PixelAccess.h"

namespace lumora {

bool RespreadRows(ImageBuffer& image) {
    if (!image.IsValid() || (image.BitCount() != 8 && image.BitCount() != 16)) return false;
    const size_t packed =
        static_cast<size_t>(image.Width()) * static_cast<size_t>(image.BytesPerPixel());
    const size_t stride = static_cast<size_t>(image.Stride());
    if (packed == stride) return true;
    // Last row first: a row's stride position is never before its packed position, so nothing
    // is overwritten before it has moved.
    uint8_t* base = image.Pixels();
    for (int y = image.Height() - 1; y > 0; --y) {
        std::memmove(base + static_cast<size_t>(y) * stride, base + static_cast<size_t>(y) * packed,
                     packed);
    }
    return true;
}

namespace {

template <class T>
void ReverseInto(T* dst, const T* src, int width) {
    for (int x = 0; x < width; ++x) dst[x] = src[width - 1 - x];
}

template <class T>
void Mirror(ImageBuffer& image, bool horizontal, bool vertical) {
    const int width = image.Width();
    const int height = image.Height();
    auto row = [&](int y) { return reinterpret_cast<T*>(image.Row(y)); };
    std::vector<T> a(static_cast<size_t>(width));
    std::vector<T> b(static_cast<size_t>(width));
    if (horizontal) {
        // Rows pairwise from both ends (the middle row alone when the count is odd); each row
        // reversed, and swapped with its partner when the vertical mirror is also due.
        for (int top = 0, bottom = height - 1; top <= bottom; ++top, --bottom) {
            ReverseInto(a.data(), row(top), width);
            if (top == bottom) {
                std::copy(a.begin(), a.end(), row(top));
                break;
            }
            ReverseInto(b.data(), row(bottom), width);
            std::copy(a.begin(), a.end(), row(vertical ? bottom : top));
            std::copy(b.begin(), b.end(), row(vertical ? top : bottom));
        }
    } else if (vertical) {
        const size_t bytes = static_cast<size_t>(width) * sizeof(T);
        for (int top = 0, bottom = height - 1; top < bottom; ++top, --bottom) {
            std::memcpy(a.data(), row(top), bytes);
            std::memcpy(row(top), row(bottom), bytes);
            std::memcpy(row(bottom), a.data(), bytes);
        }
    }
}

}  // namespace

void MirrorOnHost(ImageBuffer& image, const MirrorState& mirrors) {
    const bool h = mirrors.HostHorizontal();
    const bool v = mirrors.HostVertical();
    if (!image.IsValid() || (!h && !v)) return;
    if (image.BitCount() == 8) {
        Mirror<uint8_t>(image, h, v);
    } else if (image.BitCount() == 16) {
        Mirror<uint16_t>(image, h, v);
    }
}

}  // namespace lumora
