#include "driver/AnalogHistory.h"

#include <chrono>
#include <cmath>

#include "driver/FrameRing.h"

namespace lumora {

int64_t AnalogHistory::NowNs() {
    using namespace std::chrono;
    return duration_cast<nanoseconds>(steady_clock::now().time_since_epoch()).count();
}

void AnalogHistory::Note(AnalogEntry entry) {
    if (entry.sinceNs == 0) entry.sinceNs = NowNs();
    // A setting becomes lines by whole lines past the fixed offset, and the shutter's even line or
    // a lengthened frame moves that by one at most.
    entry.linesFromSetting = false;
    if (entry.lineTimeUs > 0.0) {
        const double wanted =
            std::floor((entry.exposureSeconds * 1e6 - entry.offsetUs) / entry.lineTimeUs);
        entry.linesFromSetting = std::fabs(wanted - entry.exposureLines) <= 1.0;
    }
    platform::MutexLock lock(lock_);
    if (!entries_.empty()) {
        const AnalogEntry& last = entries_.back();
        if (last.exposureLines == entry.exposureLines &&
            last.exposureSeconds == entry.exposureSeconds && last.lineTimeUs == entry.lineTimeUs &&
            last.offsetUs == entry.offsetUs && last.gain == entry.gain &&
            last.blackLevel == entry.blackLevel) {
            return;
        }
    }
    entries_.push_back(entry);
    while (entries_.size() > kMaxEntries) entries_.pop_front();
}

void AnalogHistory::Clear() {
    platform::MutexLock lock(lock_);
    entries_.clear();
}

bool AnalogHistory::Describe(const FrameRecord& record, FrameAnalog* out) const {
    platform::MutexLock lock(lock_);
    if (entries_.empty()) return false;
    // The settings in place when the header arrived: the last entry before it. A frame older
    // than every entry kept gets the oldest; one never stamped, the newest.
    const int64_t header = record.headerNs;
    size_t held = entries_.size() - 1;
    if (header != 0) {
        held = 0;
        for (size_t i = 0; i < entries_.size() && entries_[i].sinceNs <= header; ++i) held = i;
    }
    const AnalogEntry& h = entries_[held];
    out->gain = h.gain;
    out->blackLevel = h.blackLevel;
    out->exposureSeconds = h.exposureSeconds;
    out->exposureFromFrame = false;
    const uint32_t lines = record.wordA;
    if (lines == FrameRecord::kEmptyWord || !(h.lineTimeUs > 0.0)) return true;
    out->exposureFromFrame = true;
    // A setting that gave these lines at this line time: the one in place latest before the
    // header, else one noted just after it (the camera took the lines before the driver had
    // finished with the rest of the change).
    auto same = [&](const AnalogEntry& e) {
        return e.linesFromSetting && e.exposureLines == lines && e.lineTimeUs == h.lineTimeUs;
    };
    for (size_t i = held + 1; i-- > 0;) {
        if (same(entries_[i])) {
            out->exposureSeconds = entries_[i].exposureSeconds;
            return true;
        }
    }
    for (size_t i = held + 1; i < entries_.size(); ++i) {
        if (same(entries_[i])) {
            out->exposureSeconds = entries_[i].exposureSeconds;
            return true;
        }
    }
    out->exposureSeconds = (lines * h.lineTimeUs + h.offsetUs) / 1e6;
    return true;
}

}  // namespace lumora
