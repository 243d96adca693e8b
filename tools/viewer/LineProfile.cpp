#include "LineProfile.h"

#include <algorithm>
#include <cstdlib>

namespace lumora_viewer {
namespace {

// a + (b - a) * i / n rounded to the nearest integer, halves away from zero, in integers.
int Interpolate(int a, int b, int i, int n) {
    const long long num = static_cast<long long>(b - a) * i;
    const long long q = (std::llabs(num) * 2 + n) / (2LL * n);
    return a + static_cast<int>(num < 0 ? -q : q);
}

}  // namespace

LineProfile ProfileAlong(const Frame& frame, PixelPoint from, PixelPoint to) {
    LineProfile p;
    if (!frame.geometry.Valid()) return p;
    const int n = std::max(std::abs(to.x - from.x), std::abs(to.y - from.y));
    p.points.reserve(static_cast<size_t>(n) + 1);
    p.values.reserve(static_cast<size_t>(n) + 1);
    for (int i = 0; i <= n; ++i) {
        const PixelPoint q =
            n == 0 ? from
                   : PixelPoint{Interpolate(from.x, to.x, i, n), Interpolate(from.y, to.y, i, n)};
        if (!frame.Contains(q.x, q.y)) continue;
        p.points.push_back(q);
        p.values.push_back(frame.Sample(q.x, q.y));
    }
    return p;
}

}  // namespace lumora_viewer
