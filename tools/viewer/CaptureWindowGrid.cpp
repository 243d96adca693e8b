#include "CaptureWindowGrid.h"

#include <algorithm>

namespace lumora_viewer {
namespace {

int Down(int v) {
    return v >= 0 ? v / kWindowStep * kWindowStep
                  : -((-v + kWindowStep - 1) / kWindowStep) * kWindowStep;
}

int Up(int v) {
    return -Down(-v);
}

// One axis: [start, end) snapped outward, inside [0, size), at least one step long.
void Axis(long long start, long long length, int size, int& outStart, int& outLength) {
    long long end = start + std::max(length, 0LL);
    start = std::clamp<long long>(start, 0, size);
    end = std::clamp<long long>(end, 0, size);
    int s = Down(static_cast<int>(start));
    int e = Up(static_cast<int>(end));
    if (e - s < kWindowStep) {
        e = s + kWindowStep;
        if (e > size) {
            e = size;
            s = size - kWindowStep;
        }
    }
    outStart = s;
    outLength = e - s;
}

}  // namespace

SensorWindow SnapToGrid(const SensorWindow& wanted) {
    SensorWindow w;
    Axis(wanted.x, wanted.width, kSensorWidth, w.x, w.width);
    Axis(wanted.y, wanted.height, kSensorHeight, w.y, w.height);
    return w;
}

SensorWindow WindowForPictureRect(const PixelRect& rect, const SensorWindow& current, int divisor) {
    divisor = std::max(divisor, 1);
    SensorWindow wanted;
    wanted.x = current.x + rect.x * divisor;
    wanted.y = current.y + rect.y * divisor;
    wanted.width = rect.width * divisor;
    wanted.height = rect.height * divisor;
    return SnapToGrid(wanted);
}

PixelRect PictureRectOf(const SensorWindow& window, const SensorWindow& current, int divisor) {
    divisor = std::max(divisor, 1);
    PixelRect r;
    r.x = (window.x - current.x) / divisor;
    r.y = (window.y - current.y) / divisor;
    r.width = window.width / divisor;
    r.height = window.height / divisor;
    return r;
}

}  // namespace lumora_viewer
