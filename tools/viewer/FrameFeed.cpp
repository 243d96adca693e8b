#include "FrameFeed.h"

#include <pthread.h>

#include <algorithm>
#include <chrono>

namespace lumora_viewer {
namespace {

double Now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// How long one wait for an announcement lasts before the thread looks at its quit flag.
constexpr int kWaitMs = 50;
constexpr double kRateSpan = 2.0;

}  // namespace

Analysis Analyse(std::shared_ptr<const Frame> frame, const MeasureRequest& request) {
    Analysis a;
    a.histogram = Histogram::Of(*frame);
    if (request.region) a.region = MeasureRegion(*frame, *request.region);
    if (request.line) a.profile = ProfileAlong(*frame, request.line->first, request.line->second);
    a.frame = std::move(frame);
    return a;
}

FrameFeed::FrameFeed(int handle, Events events) : handle_(handle), events_(std::move(events)) {
    window_ = LumoraHost_CreateQueueWindow();
    thread_ = std::thread([this] {
        // Named, so a profiler (top -H, the viewer's benchmark) tells its time apart.
        pthread_setname_np(pthread_self(), "lumora-feed");
        Run();
    });
}

FrameFeed::~FrameFeed() {
    quit_.store(true);
    if (thread_.joinable()) thread_.join();
    LumoraHost_DestroyWindow(window_);
}

void FrameFeed::Pause() {
    std::unique_lock<std::mutex> lock(mutex_);
    paused_ = true;
    idle_.wait(lock, [this] { return !copying_; });
}

void FrameFeed::Resume(const FrameGeometry& geometry) {
    std::lock_guard<std::mutex> lock(mutex_);
    geometry_ = geometry;
    paused_ = false;
    // A result the display never took belongs to the run before (its wake may have been spent
    // on the run's end); left in the slot, it would have every frame of this run skipped.
    slot_.reset();
}

bool FrameFeed::Paused() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return paused_;
}

void FrameFeed::SetMeasure(const MeasureRequest& request) {
    std::lock_guard<std::mutex> lock(mutex_);
    measure_ = request;
}

std::shared_ptr<const Analysis> FrameFeed::Take() {
    std::lock_guard<std::mutex> lock(mutex_);
    std::shared_ptr<const Analysis> result = std::move(slot_);
    slot_.reset();
    if (result != nullptr) ++figures_.shown;
    return result;
}

FeedFigures FrameFeed::Figures() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return figures_;
}

void FrameFeed::ResetFigures() {
    std::lock_guard<std::mutex> lock(mutex_);
    figures_ = FeedFigures{};
    takenAt_.clear();
}

double FrameFeed::FramesPerSecond() const {
    std::lock_guard<std::mutex> lock(mutex_);
    const double now = Now();
    size_t recent = 0;
    double first = now;
    for (double t : takenAt_) {
        if (t < now - kRateSpan) continue;
        ++recent;
        first = std::min(first, t);
    }
    if (recent < 2) return 0.0;
    // The intervals between the frames seen, over the time from the first of them to now.
    return static_cast<double>(recent - 1) / std::max(now - first, 1e-3);
}

void FrameFeed::Run() {
    LumoraHostMessage message{};
    while (!quit_.load()) {
        if (LumoraHost_WaitMessage(window_, kWaitMs, &message) != 1) continue;
        // Only the newest announcement is answered: the ones queued before it are skipped.
        bool haveFrame = false;
        HandleAnnouncement(message, haveFrame);
        while (LumoraHost_WaitMessage(window_, 0, &message) == 1)
            HandleAnnouncement(message, haveFrame);
        if (haveFrame) TakeFrame();
    }
}

void FrameFeed::HandleAnnouncement(const LumoraHostMessage& message, bool& haveFrame) {
    if (message.message != LUMORA_MSG_FRAME) return;
    bool ended = false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (paused_) return;
        if (message.wParam == 0) {
            ++figures_.failed;
            ended = message.lParam == ERR_DEVICE_LOST;
        } else {
            if (haveFrame) ++figures_.skipped;
            haveFrame = true;
        }
    }
    if (ended && events_.runEnded) events_.runEnded(static_cast<int>(message.lParam));
}

void FrameFeed::TakeFrame() {
    FrameGeometry geometry;
    MeasureRequest measure;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (paused_) return;
        if (slot_ != nullptr) {  // the display has not taken the last one yet
            ++figures_.skipped;
            return;
        }
        geometry = geometry_;
        measure = measure_;
        copying_ = true;
    }
    std::shared_ptr<Frame> frame = geometry.Valid() ? pool_->Acquire(geometry) : nullptr;
    const bool copied =
        frame != nullptr &&
        Lumora_GetImage(handle_, frame->pixels.data(), static_cast<int>(geometry.Bytes()), 1) == 1;
    std::shared_ptr<const Analysis> analysis;
    if (copied) {
        frame->valueShift = geometry.bits == 16 ? valueShift_.load() : 0;
        frame->number = sequence_.fetch_add(1) + 1;
        analysis = std::make_shared<const Analysis>(Analyse(std::move(frame), measure));
    }
    bool ready = false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        copying_ = false;
        if (!copied) {
            ++figures_.failed;
        } else if (!paused_) {
            ++figures_.taken;
            const double now = Now();
            takenAt_.push_back(now);
            while (!takenAt_.empty() && takenAt_.front() < now - kRateSpan) takenAt_.pop_front();
            slot_ = std::move(analysis);
            ready = true;
        }
    }
    idle_.notify_all();
    if (ready && events_.frameReady) events_.frameReady();
}

}  // namespace lumora_viewer
