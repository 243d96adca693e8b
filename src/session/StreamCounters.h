#pragma once
// The figures of one preview or trigger run, counted from the camera's frame counter: every
// frame the camera numbered from the first one the session took ends in exactly one bucket.
//   delivered  processed and announced to the application;
//   skipped    sent by the camera but never delivered: overwritten in the ring while the
//              session was busy with an earlier one, lost on the way, or taken when the run
//              was already stopping;
//   failed     reached the session but could not be delivered (read or copy failed).
// The camera's counter is eight bits wide, so a gap of 256 frames or more between two frames
// taken is counted modulo 256.
//
// Threads: the capture thread counts, any thread reads; mutex_ guards everything.
#include <algorithm>
#include <cstdint>
#include <mutex>

namespace lumora {

struct StreamFigures {
    uint64_t sent = 0;
    uint64_t delivered = 0;
    uint64_t skipped = 0;
    uint64_t failed = 0;
};

class StreamCounters {
public:
    // A new run: all figures 0, no counter seen yet.
    void Begin() {
        std::lock_guard lock(mutex_);
        figures_ = StreamFigures{};
        lastCounter_ = -1;
        unnumberedFailures_ = 0;
    }
    // A frame was taken from the ring carrying `counter`; frames the camera numbered since the
    // previous one are skipped, except those already counted as failed without a number.
    // Returns the frames skipped right before this one.
    uint64_t Taken(int counter) {
        std::lock_guard lock(mutex_);
        uint64_t skipped = 0;
        if (lastCounter_ >= 0) {
            const uint64_t gap = static_cast<uint64_t>((counter - lastCounter_ - 1) & 0xFF);
            const uint64_t known = std::min<uint64_t>(gap, unnumberedFailures_);
            skipped = gap - known;
            figures_.skipped += skipped;
        }
        unnumberedFailures_ = 0;
        lastCounter_ = counter & 0xFF;
        return skipped;
    }
    // The outcome of the frame last taken.
    void Delivered() {
        std::lock_guard lock(mutex_);
        ++figures_.delivered;
    }
    void Failed() {
        std::lock_guard lock(mutex_);
        ++figures_.failed;
    }
    void Discarded() {
        std::lock_guard lock(mutex_);
        ++figures_.skipped;
    }
    // A frame failed before its number could be read; the next gap accounts for it.
    void FailedUnnumbered() {
        std::lock_guard lock(mutex_);
        ++figures_.failed;
        ++unnumberedFailures_;
    }
    StreamFigures Figures() const {
        std::lock_guard lock(mutex_);
        StreamFigures f = figures_;
        f.sent = f.delivered + f.skipped + f.failed;
        return f;
    }

private:
    mutable std::mutex mutex_;
    StreamFigures figures_;
    int lastCounter_ = -1;
    uint64_t unnumberedFailures_ = 0;
};

}  // namespace lumora
