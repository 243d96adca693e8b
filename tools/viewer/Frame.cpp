#include "Frame.h"

#include <new>

namespace lumora_viewer {

namespace {
// More idle frames than this are freed: they are left over from an earlier geometry or from a
// burst in which the display held several frames at once.
constexpr size_t kMaxIdle = 4;
}  // namespace

std::shared_ptr<Frame> FramePool::Acquire(const FrameGeometry& geometry) {
    std::unique_ptr<Frame> frame;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        for (auto it = idle_.begin(); it != idle_.end(); ++it) {
            if ((*it)->geometry == geometry) {
                frame = std::move(*it);
                idle_.erase(it);
                break;
            }
        }
    }
    if (frame == nullptr) {
        frame.reset(new (std::nothrow) Frame());
        if (frame == nullptr) return nullptr;
        try {
            frame->pixels.resize(geometry.Bytes());
        } catch (const std::bad_alloc&) {
            return nullptr;
        }
        frame->geometry = geometry;
    }
    frame->valueShift = 0;
    frame->number = 0;
    // The pool outlives none of its frames' users by force: a frame dropped after the pool is
    // gone is simply deleted.
    std::weak_ptr<FramePool> pool = weak_from_this();
    return std::shared_ptr<Frame>(frame.release(), [pool](Frame* f) {
        if (auto owner = pool.lock()) {
            owner->Return(f);
        } else {
            delete f;
        }
    });
}

void FramePool::Return(Frame* frame) {
    std::unique_ptr<Frame> owned(frame);
    std::lock_guard<std::mutex> lock(mutex_);
    if (idle_.size() >= kMaxIdle) idle_.erase(idle_.begin());
    idle_.push_back(std::move(owned));
}

size_t FramePool::Idle() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return idle_.size();
}

}  // namespace lumora_viewer
