#pragma once
// Millisecond tick counts from one monotonic clock. Like the system counters the camera code was
// written against, they wrap at 32 bits (about 49.7 days): compare ticks only by subtracting.
#include <cstdint>

namespace lumora::platform {

inline constexpr uint32_t kInfinite = 0xFFFFFFFFu;

uint32_t GetTickCount();
uint32_t TimeGetTime();  // the same clock; kept as a name because the callers distinguish them
void Sleep(uint32_t milliseconds);

// Ticks from `start` to `now`, correct across one wrap.
inline uint32_t TicksSince(uint32_t start, uint32_t now) {
    return now - start;
}

// Shifts every tick count by `offset` so tests can run code across the 32-bit wrap.
void SetTickOffsetForTesting(uint32_t offset);

}  // namespace lumora::platform
