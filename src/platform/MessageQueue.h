#pragma once
// A bounded FIFO of posted messages with a timed wait. Thread-safe.
#include <condition_variable>
#include <deque>
#include <mutex>

#include "lumora/host.h"

namespace lumora::platform {

class MessageQueue {
public:
    explicit MessageQueue(size_t capacity) : capacity_(capacity) {}

    bool Push(const LumoraHostMessage& message);
    // timeoutMs < 0 waits without limit. False when nothing came in time or the queue closed.
    bool Pop(int timeoutMs, LumoraHostMessage& message);
    void Close();
    bool IsClosed() const;

private:
    const size_t capacity_;
    mutable std::mutex mutex_;
    std::condition_variable arrived_;
    std::deque<LumoraHostMessage> messages_;
    bool closed_ = false;
};

}  // namespace lumora::platform
