#include "session/FrameQueue.h"

#include <chrono>
#include <cstring>
#include <new>

namespace lumora {

bool FrameQueue::Setup(int count, unsigned char* const* buffers, size_t bytes) {
    std::lock_guard lock(mutex_);
    buffers_.clear();
    owned_.clear();
    queued_.clear();
    bytes_ = 0;
    if (count < 1 || count > kMaxBuffers || bytes == 0) return false;
    buffers_.resize(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) {
        unsigned char* data = nullptr;
        if (buffers != nullptr) {
            data = buffers[i];
        } else {
            // Written once now, so the first frames of the run do not pay for the pages.
            owned_.emplace_back(new (std::nothrow) unsigned char[bytes]);
            data = owned_.back().get();
            if (data != nullptr) std::memset(data, 0, bytes);
        }
        if (data == nullptr) {
            buffers_.clear();
            owned_.clear();
            return false;
        }
        buffers_[static_cast<size_t>(i)].data = data;
    }
    bytes_ = bytes;
    return true;
}

void FrameQueue::Reset() {
    std::lock_guard lock(mutex_);
    buffers_.clear();
    owned_.clear();
    queued_.clear();
    bytes_ = 0;
    ended_ = true;
    ready_.notify_all();
}

void FrameQueue::Begin() {
    std::lock_guard lock(mutex_);
    for (Buffer& b : buffers_) b.state = State::kFree;
    queued_.clear();
    ended_ = false;
    dropped_ = 0;
    droppedSinceLast_ = 0;
}

void FrameQueue::End() {
    std::lock_guard lock(mutex_);
    ended_ = true;
    ready_.notify_all();
}

bool FrameQueue::Ready() const {
    std::lock_guard lock(mutex_);
    return !buffers_.empty();
}

size_t FrameQueue::BufferBytes() const {
    std::lock_guard lock(mutex_);
    return bytes_;
}

unsigned char* FrameQueue::Acquire(int* index) {
    std::lock_guard lock(mutex_);
    for (size_t i = 0; i < buffers_.size(); ++i) {
        if (buffers_[i].state == State::kFree) {
            buffers_[i].state = State::kFilling;
            *index = static_cast<int>(i);
            return buffers_[i].data;
        }
    }
    return nullptr;
}

void FrameQueue::Publish(int index, size_t bytes, int bitsPerPixel, const LumoraFrameMeta& meta) {
    std::lock_guard lock(mutex_);
    Buffer& b = buffers_.at(static_cast<size_t>(index));
    b.state = State::kQueued;
    b.frame.buffer = b.data;
    b.frame.bytes = bytes;
    b.frame.index = index;
    b.frame.bitsPerPixel = bitsPerPixel;
    b.frame.meta = meta;
    b.frame.droppedBefore = droppedSinceLast_;
    b.frame.droppedTotal = dropped_;
    droppedSinceLast_ = 0;
    queued_.push_back(index);
    ready_.notify_one();
}

void FrameQueue::Abandon(int index) {
    std::lock_guard lock(mutex_);
    buffers_.at(static_cast<size_t>(index)).state = State::kFree;
}

void FrameQueue::CountDrop() {
    std::lock_guard lock(mutex_);
    ++dropped_;
    ++droppedSinceLast_;
}

int FrameQueue::Wait(int timeoutMs, LumoraQueuedFrame* frame) {
    std::unique_lock lock(mutex_);
    auto available = [this] { return !queued_.empty() || ended_; };
    if (timeoutMs < 0) {
        ready_.wait(lock, available);
    } else if (!ready_.wait_for(lock, std::chrono::milliseconds(timeoutMs), available)) {
        return 0;
    }
    if (queued_.empty()) return -1;
    const int index = queued_.front();
    queued_.pop_front();
    Buffer& b = buffers_[static_cast<size_t>(index)];
    b.state = State::kLent;
    *frame = b.frame;
    return 1;
}

bool FrameQueue::Release(int index, unsigned char* replacement) {
    std::lock_guard lock(mutex_);
    if (index < 0 || static_cast<size_t>(index) >= buffers_.size()) return false;
    Buffer& b = buffers_[static_cast<size_t>(index)];
    if (b.state != State::kLent) return false;
    if (replacement != nullptr) {
        if (!owned_.empty()) return false;
        b.data = replacement;
    }
    b.state = State::kFree;
    return true;
}

uint64_t FrameQueue::Dropped() const {
    std::lock_guard lock(mutex_);
    return dropped_;
}

}  // namespace lumora
