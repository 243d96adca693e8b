#pragma once
// The analog settings the driver gave the camera, each stamped with the moment it was in place,
// so that a frame can be described by what it was taken with rather than by what is set when
// someone looks at it.
//
// The exposure comes from the frame itself: its header says how many sensor lines it was
// exposed for. Lines that a logged setting gave at the same line time come back as that
// setting's seconds (exactly what the exposure getters report for it); other lines are converted
// at the line time in effect when the frame's header arrived. Gain and black level are not in
// the header: a frame gets those whose change had completed when its header arrived.
//
// Threads: Note from any thread that changes a setting, Describe from any reader; lock_ guards
// the entries.
#include <cstdint>
#include <deque>

#include "platform/Mutex.h"

namespace lumora {

struct FrameRecord;

struct AnalogEntry {
    int64_t sinceNs = 0;  // monotonic clock: the setting was in place from here on
    uint32_t exposureLines = 0;
    double exposureSeconds = 0.0;  // as the exposure getters report it
    double lineTimeUs = 0.0;       // 0: the sensor cannot convert lines
    double offsetUs = 0.0;
    int32_t gain = 0;
    int32_t blackLevel = 0;
    // The lines are those the exposure setting gives at this line time (set by Note): after a
    // change of line time the sensor keeps its lines until the exposure is set again.
    bool linesFromSetting = false;
};

struct FrameAnalog {
    double exposureSeconds = 0.0;
    bool exposureFromFrame = false;  // from the frame's header, not the host's setting
    int32_t gain = 0;
    int32_t blackLevel = 0;
};

class AnalogHistory {
public:
    // Enough for a frame that waits in a full ring while the application (or the automatic
    // exposure) changes settings at every frame.
    static constexpr size_t kMaxEntries = 64;

    // Appends `entry` (its sinceNs is stamped now when 0). An entry equal to the last one in
    // every setting is not added again.
    void Note(AnalogEntry entry);
    void Clear();
    // What `record`'s frame was taken with; false when nothing was noted yet.
    bool Describe(const FrameRecord& record, FrameAnalog* out) const;

    static int64_t NowNs();

private:
    mutable platform::Mutex lock_;
    std::deque<AnalogEntry> entries_ LUMORA_GUARDED_BY(lock_);
};

}  // namespace lumora
