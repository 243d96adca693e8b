#include "platform/MessageQueue.h"

#include <chrono>

namespace lumora::platform {

bool MessageQueue::Push(const LumoraHostMessage& message) {
    {
        std::lock_guard lock(mutex_);
        if (closed_ || messages_.size() >= capacity_) return false;
        messages_.push_back(message);
    }
    arrived_.notify_one();
    return true;
}

bool MessageQueue::Pop(int timeoutMs, LumoraHostMessage& message) {
    std::unique_lock lock(mutex_);
    auto ready = [this] { return closed_ || !messages_.empty(); };
    if (timeoutMs < 0) {
        arrived_.wait(lock, ready);
    } else {
        arrived_.wait_for(lock, std::chrono::milliseconds(timeoutMs), ready);
    }
    if (closed_ || messages_.empty()) return false;
    message = messages_.front();
    messages_.pop_front();
    return true;
}

void MessageQueue::Close() {
    {
        std::lock_guard lock(mutex_);
        closed_ = true;
        messages_.clear();
    }
    arrived_.notify_all();
}

bool MessageQueue::IsClosed() const {
    std::lock_guard lock(mutex_);
    return closed_;
}

}  // namespace lumora::platform
