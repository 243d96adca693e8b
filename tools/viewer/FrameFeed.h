// The frames' road from the SDK to the display. The SDK announces each processed frame on a
// queue window; the feed's own thread answers the newest announcement by copying the session's
// newest image out (Lumora_GetImage), measures it (histogram, the user's rectangle and line)
// and leaves the result in a one-frame slot for the display. While the display still holds an
// untaken result, announcements are counted as skipped and not copied at all: frames the
// display cannot keep up with cost neither memory nor the copy, and nothing is queued. Drawing
// happens on the display's thread, never on the SDK's capture thread.
//
// Threads: the feed thread reads frames; any one other thread (the display's) calls the rest.
// mutex_ guards the slot, the measure request, the geometry and the pause state.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

#include "Frame.h"
#include "Histogram.h"
#include "LineProfile.h"
#include "RegionStatistics.h"
#include "lumora/host.h"

namespace lumora_viewer {

struct MeasureRequest {
    std::optional<PixelRect> region;
    std::optional<std::pair<PixelPoint, PixelPoint>> line;
};

// A frame with what was measured on it.
struct Analysis {
    std::shared_ptr<const Frame> frame;
    Histogram histogram;
    std::optional<RegionStatistics> region;
    std::optional<LineProfile> profile;
};

// Measures a frame as the feed does (also used by the display for a frame it already holds).
Analysis Analyse(std::shared_ptr<const Frame> frame, const MeasureRequest& request);

struct FeedFigures {
    uint64_t taken = 0;    // frames copied from the session
    uint64_t shown = 0;    // frames the display took
    uint64_t skipped = 0;  // announced frames not taken because the display was busy
    uint64_t failed = 0;   // announcements of frames the session could not deliver
};

class FrameFeed {
public:
    struct Events {
        // A result is waiting in the slot. Runs on the feed thread: hand it over, do not draw.
        std::function<void()> frameReady;
        // The run ended with the camera lost (or another error code). Feed thread, as above.
        std::function<void(int code)> runEnded;
    };

    FrameFeed(int handle, Events events);
    ~FrameFeed();
    FrameFeed(const FrameFeed&) = delete;
    FrameFeed& operator=(const FrameFeed&) = delete;

    // The queue window the run announces its frames to (Lumora_CallBackPreview, Lumora_Trigger).
    HWND Window() const { return window_; }

    // Stops taking frames and returns once no copy is under way; announcements that arrive
    // meanwhile are dropped uncounted. Resume with the geometry of the frames the next run
    // delivers; a result of the run before that was never taken is dropped.
    void Pause();
    void Resume(const FrameGeometry& geometry);
    bool Paused() const;
    // 4 when 16-bit words carry the 12-bit value in their top bits (flat field on), else 0.
    void SetValueShift(int shift) { valueShift_.store(shift); }

    void SetMeasure(const MeasureRequest& request);
    // The waiting result, or null; taking it frees the slot for the next frame.
    std::shared_ptr<const Analysis> Take();

    FeedFigures Figures() const;
    void ResetFigures();
    // Frames copied per second over the last two seconds (0 after a pause of that length).
    double FramesPerSecond() const;

private:
    void Run();
    void HandleAnnouncement(const LumoraHostMessage& message, bool& haveFrame);
    void TakeFrame();

    const int handle_;
    const Events events_;
    HWND window_ = nullptr;
    std::shared_ptr<FramePool> pool_ = FramePool::Create();

    mutable std::mutex mutex_;
    std::condition_variable idle_;  // signalled when a copy ends
    bool paused_ = true;
    bool copying_ = false;
    FrameGeometry geometry_;
    MeasureRequest measure_;
    std::shared_ptr<const Analysis> slot_;
    FeedFigures figures_;
    std::deque<double> takenAt_;  // seconds on the steady clock, the last two seconds

    std::atomic<int> valueShift_{0};
    std::atomic<uint64_t> sequence_{0};  // numbers the frames copied, from 1
    std::atomic<bool> quit_{false};
    std::thread thread_;
};

}  // namespace lumora_viewer
