#include "TemperatureHistory.h"

#include <algorithm>

namespace lumora_viewer {

void TemperatureHistory::Add(double seconds, double degrees) {
    if (!readings_.empty() && seconds < readings_.back().seconds) readings_.clear();
    readings_.push_back({seconds, degrees});
    while (!readings_.empty() && readings_.front().seconds < seconds - keep_) readings_.pop_front();
}

void TemperatureHistory::ValueSpan(double minSpan, double& low, double& high) const {
    if (readings_.empty()) {
        low = 0;
        high = minSpan;
        return;
    }
    low = high = readings_.front().degrees;
    for (const TemperatureReading& r : readings_) {
        low = std::min(low, r.degrees);
        high = std::max(high, r.degrees);
    }
    if (high - low < minSpan) {
        const double middle = (low + high) / 2;
        low = middle - minSpan / 2;
        high = middle + minSpan / 2;
    }
}

}  // namespace lumora_viewer
