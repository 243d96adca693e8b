#include "RegionStatistics.h"

#include <endian.h>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace lumora_viewer {
namespace {
__extension__ typedef unsigned __int128 Wide;
}  // namespace

PixelRect PixelRect::Spanning(int x0, int y0, int x1, int y1) {
    PixelRect r;
    r.x = std::min(x0, x1);
    r.y = std::min(y0, y1);
    r.width = std::max(x0, x1) - r.x + 1;
    r.height = std::max(y0, y1) - r.y + 1;
    return r;
}

PixelRect PixelRect::ClippedTo(int w, int h) const {
    const int left = std::max(x, 0);
    const int top = std::max(y, 0);
    // In 64 bits: a rectangle far outside must not wrap around into the picture.
    const int64_t right = std::min<int64_t>(static_cast<int64_t>(x) + width, w);
    const int64_t bottom = std::min<int64_t>(static_cast<int64_t>(y) + height, h);
    PixelRect r;
    if (right <= left || bottom <= top) return r;
    r.x = left;
    r.y = top;
    r.width = static_cast<int>(right - left);
    r.height = static_cast<int>(bottom - top);
    return r;
}

namespace {

struct Sums {
    uint64_t sum = 0;
    Wide squares = 0;
    int lo = 0;
    int hi = 0;
};

// One pass over the rectangle with the sample's layout fixed, so the inner loop has no branch
// on the depth and vectorises.
template <bool kWide>
Sums Accumulate(const Frame& frame, const PixelRect& r) {
    Sums s;
    const unsigned shift = static_cast<unsigned>(frame.valueShift);
    unsigned lo = ~0u;
    unsigned hi = 0;
    for (int y = r.y; y < r.y + r.height; ++y) {
        const uint8_t* row = frame.Row(y);
        // A row of 2560 values below 2^16 keeps its sum of squares within 64 bits.
        uint64_t rowSum = 0;
        uint64_t rowSquares = 0;
        for (int x = r.x; x < r.x + r.width; ++x) {
            unsigned v = 0;
            if constexpr (kWide) {
                uint16_t word = 0;
                std::memcpy(&word, row + 2 * static_cast<size_t>(x), 2);
                v = static_cast<unsigned>(le16toh(word)) >> shift;
            } else {
                v = row[x];
            }
            rowSum += v;
            rowSquares += static_cast<uint64_t>(v) * v;
            lo = std::min(lo, v);
            hi = std::max(hi, v);
        }
        s.sum += rowSum;
        s.squares += rowSquares;
    }
    s.lo = static_cast<int>(lo);
    s.hi = static_cast<int>(hi);
    return s;
}

}  // namespace

RegionStatistics MeasureRegion(const Frame& frame, const PixelRect& rect) {
    RegionStatistics s;
    s.rect = rect.ClippedTo(frame.geometry.width, frame.geometry.height);
    if (s.rect.Empty() || !frame.geometry.Valid()) return s;
    // Exact sums: a full 12-bit frame's sum of squares needs 47 bits, and n times it 70.
    const Sums sums = frame.geometry.bits == 8 ? Accumulate<false>(frame, s.rect)
                                               : Accumulate<true>(frame, s.rect);
    const uint64_t n = static_cast<uint64_t>(s.rect.width) * static_cast<uint64_t>(s.rect.height);
    s.count = n;
    s.mean = static_cast<double>(sums.sum) / static_cast<double>(n);
    // n * sum(v^2) - sum(v)^2 is exact in integers and never negative.
    const Wide spread = static_cast<Wide>(n) * sums.squares -
                        static_cast<Wide>(sums.sum) * static_cast<Wide>(sums.sum);
    s.standardDeviation =
        static_cast<double>(std::sqrt(static_cast<long double>(spread)) / static_cast<long double>(n));
    s.minimum = sums.lo;
    s.maximum = sums.hi;
    return s;
}

}  // namespace lumora_viewer
