#pragma once
// Frames per second over a window of wall-clock time: each frame counts one; once the window has
// passed, the rate is reported and counting starts again.
//
// Threads: any; mutex_ guards the count and the window start.
#include <cstdint>
#include <mutex>
#include <optional>

#include "platform/Clock.h"

namespace lumora {

class FrameRateCounter {
public:
    explicit FrameRateCounter(uint32_t windowMs) : windowMs_(windowMs) {}

    // Counts one frame at `nowMs`; the rate when the window is complete.
    std::optional<float> Add(uint32_t nowMs) {
        std::lock_guard lock(mutex_);
        if (!started_) {
            started_ = true;
            windowStart_ = nowMs;
        }
        ++count_;
        const uint32_t elapsed = platform::TicksSince(windowStart_, nowMs);
        if (elapsed < windowMs_) return std::nullopt;
        const float rate = static_cast<float>(count_) * 1000.0f / static_cast<float>(elapsed);
        count_ = 0;
        windowStart_ = nowMs;
        return rate;
    }
    std::optional<float> Add() { return Add(platform::GetTickCount()); }
    void Reset() {
        std::lock_guard lock(mutex_);
        started_ = false;
        count_ = 0;
    }

private:
    const uint32_t windowMs_;
    std::mutex mutex_;
    bool started_ = false;
    uint32_t count_ = 0;
    uint32_t windowStart_ = 0;
};

}  // namespace lumora
