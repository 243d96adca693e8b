// The sensor temperature over time, for the cooler's plot: the newest readings, one per poll,
// and the span of values the plot should show.
#pragma once

#include <cstddef>
#include <deque>

namespace lumora_viewer {

struct TemperatureReading {
    double seconds = 0;  // since the viewer started
    double degrees = 0;
};

class TemperatureHistory {
public:
    explicit TemperatureHistory(double keepSeconds = 600) : keep_(keepSeconds) {}

    // Readings older than the kept span (from the newest one) are dropped; a reading from the
    // past (a clock step) starts the history afresh.
    void Add(double seconds, double degrees);
    void Clear() { readings_.clear(); }
    const std::deque<TemperatureReading>& Readings() const { return readings_; }
    bool Empty() const { return readings_.empty(); }

    // The value span of the plot: the readings' range widened to at least `minSpan` degrees
    // around its middle, so a steady temperature draws as a level line, not as noise.
    void ValueSpan(double minSpan, double& low, double& high) const;

private:
    double keep_;
    std::deque<TemperatureReading> readings_;
};

}  // namespace lumora_viewer
