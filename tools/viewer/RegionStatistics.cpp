#include "RegionStatistics.h"

#include <algorithm>
#include <cmath>

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

RegionStatistics MeasureRegion(const Frame& frame, const PixelRect& rect) {
    RegionStatistics s;
    s.rect = rect.ClippedTo(frame.geometry.width, frame.geometry.height);
    if (s.rect.Empty() || !frame.geometry.Valid()) return s;
    // Exact sums: a full 12-bit frame's sum of squares needs 47 bits, and n times it 70.
    uint64_t sum = 0;
    Wide squares = 0;
    int lo = frame.Sample(s.rect.x, s.rect.y);
    int hi = lo;
    for (int y = s.rect.y; y < s.rect.y + s.rect.height; ++y) {
        uint64_t rowSum = 0;
        uint64_t rowSquares = 0;
        for (int x = s.rect.x; x < s.rect.x + s.rect.width; ++x) {
            const int v = frame.Sample(x, y);
            rowSum += static_cast<uint64_t>(v);
            rowSquares += static_cast<uint64_t>(v) * static_cast<uint64_t>(v);
            lo = std::min(lo, v);
            hi = std::max(hi, v);
        }
        sum += rowSum;
        squares += rowSquares;
    }
    const uint64_t n = static_cast<uint64_t>(s.rect.width) * static_cast<uint64_t>(s.rect.height);
    s.count = n;
    s.mean = static_cast<double>(sum) / static_cast<double>(n);
    // n * sum(v^2) - sum(v)^2 is exact in integers and never negative.
    const Wide spread =
        static_cast<Wide>(n) * squares -
        static_cast<Wide>(sum) * static_cast<Wide>(sum);
    s.standardDeviation =
        std::sqrt(static_cast<long double>(spread)) / static_cast<long double>(n);
    s.minimum = lo;
    s.maximum = hi;
    return s;
}

}  // namespace lumora_viewer
