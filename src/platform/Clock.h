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

// While one lives, the system's timer runs at 1 ms resolution, so that short sleeps and waits
// end on time: Windows otherwise rounds them up to its 15.6 ms tick. POSIX timers are fine
// already, and there it changes nothing. Instances nest.
class TimerResolution {
public:
    TimerResolution();
    ~TimerResolution();
    TimerResolution(const TimerResolution&) = delete;
    TimerResolution& operator=(const TimerResolution&) = delete;
    // True when the resolution was raised (Windows) or needs no raising.
    bool Active() const { return active_; }

private:
    bool active_;
};

}  // namespace lumora::platform
