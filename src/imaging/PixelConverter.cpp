#include "imaging/PixelConverter.h"

#include <algorithm>

namespace lumora {

int ApplyConverter(ImageBuffer& dst, PixelConverter converter, const ImageBuffer& src,
                   const PixelRect* rect, int dstX, int dstY, const void* params) {
    if (converter == nullptr || !dst.IsValid() || !src.IsValid()) return 0;
    // 64-bit arithmetic: caller rectangles and origins may be anything.
    using Wide = long long;
    Wide left = rect != nullptr ? rect->left : 0;
    Wide top = rect != nullptr ? rect->top : 0;
    Wide right = rect != nullptr ? rect->right : src.Width();
    Wide bottom = rect != nullptr ? rect->bottom : src.Height();
    Wide x = dstX;
    Wide y = dstY;
    // Clip against the source; whatever is cut on the left/top moves the destination origin.
    if (left < 0) {
        x -= left;
        left = 0;
    }
    if (top < 0) {
        y -= top;
        top = 0;
    }
    right = std::min<Wide>(right, src.Width());
    bottom = std::min<Wide>(bottom, src.Height());
    // A destination origin left of or above the image cuts the same amount off the source.
    if (x < 0) {
        left -= x;
        x = 0;
    }
    if (y < 0) {
        top -= y;
        y = 0;
    }
    right = std::min<Wide>(right, left + (dst.Width() - x));
    bottom = std::min<Wide>(bottom, top + (dst.Height() - y));
    if (right <= left || bottom <= top) return 0;
    const PixelRect r{static_cast<int>(left), static_cast<int>(top), static_cast<int>(right),
                      static_cast<int>(bottom)};
    return converter(dst.Pixels(), src.Pixels(), r, static_cast<int>(x), static_cast<int>(y),
                     dst.BytesPerPixel(), src.BytesPerPixel(), dst.Stride(), src.Stride(), params);
}

}  // namespace lumora
