#pragma once
// Frames per second over a window of wall-clock time: each frame counts one; once the window has
// passed, the rate is reported and counting starts again.
//
// Threads: any; mutex_ guards the count and the window start.
#include <cstdint>
#include <optional>

#include "platform/Clock.h"
#include "platform/Mutex.h"

namespace lumora {

class FrameRateCounter {
public:
    explicit FrameRateCounter(uint32_t windowMs) : windowMs_(windowMs) {}

    // Counts one frame at `nowMs`; the rate when the window is complete.
    std::optional<float> Add(uint32_t nowMs) {
        platform::MutexLock lock(mutex_);
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
        platform::MutexLock lock(mutex_);
        started_ = false;
        count_ = 0;
    }

private:
    const uint32_t windowMs_;
    platform::Mutex mutex_;
    bool started_ LUMORA_GUARDED_BY(mutex_) = false;
    uint32_t count_ LUMORA_GUARDED_BY(mutex_) = 0;
    uint32_t windowStart_ LUMORA_GUARDED_BY(mutex_) = 0;
};

}  // namespace lumora
