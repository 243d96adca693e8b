#pragma once
// The every-frame queue of a queued preview run: a fixed set of buffers passed between the
// capture thread, which fills free ones in camera order, and the application, which takes the
// filled ones oldest first and gives them back. A frame that finds no free buffer is dropped
// and counted, and the next frame queued carries the count.
//
// Threads: Acquire, Publish, Abandon and CountDrop on the capture thread; Wait and Release on
// application threads; Setup and Reset when no run uses the queue. mutex_ guards everything;
// a buffer's bytes belong to whoever holds its state (free: nobody, filling: the capture
// thread, queued: nobody, lent: the application).
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

#include "lumora/host.h"

namespace lumora {

class FrameQueue {
public:
    static constexpr int kMaxBuffers = 256;

    // Application buffers (`buffers` non-null: `count` of `bytes` each) or `count` buffers of
    // `bytes` made here. False for a bad argument or no memory; the queue is then empty.
    bool Setup(int count, unsigned char* const* buffers, size_t bytes);
    // Back to no buffers (library buffers are freed).
    void Reset();
    // A run begins: every buffer free, counts zero, the end not reached.
    void Begin();
    // The run has ended: waiters return -1 once the queue is empty.
    void End();
    bool Ready() const;
    size_t BufferBytes() const;

    // A free buffer for the next frame (its index in *index), or null when all are in use.
    unsigned char* Acquire(int* index);
    void Publish(int index, size_t bytes, int bitsPerPixel, const LumoraFrameMeta& meta);
    // The frame could not be filled after all; the buffer is free again.
    void Abandon(int index);
    void CountDrop();

    // 1 a frame, 0 none in time, -1 ended and empty (or no buffers).
    int Wait(int timeoutMs, LumoraQueuedFrame* frame);
    bool Release(int index, unsigned char* replacement);
    uint64_t Dropped() const;

private:
    enum class State { kFree, kFilling, kQueued, kLent };
    struct Buffer {
        unsigned char* data = nullptr;
        State state = State::kFree;
        LumoraQueuedFrame frame{};
    };
    mutable std::mutex mutex_;
    std::condition_variable ready_;
    std::vector<Buffer> buffers_;
    std::vector<std::unique_ptr<unsigned char[]>> owned_;  // library buffers
    std::deque<int> queued_;
    size_t bytes_ = 0;
    bool ended_ = true;
    uint64_t dropped_ = 0;
    uint64_t droppedSinceLast_ = 0;
};

}  // namespace lumora
