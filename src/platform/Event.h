#pragma once
// Manual- and auto-reset events with timed waits, and a process-wide table of named events.
// Thread-safe: any thread may set, reset or wait.
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "platform/Clock.h"

namespace lumora::platform {

class Event {
public:
    Event(bool manualReset, bool initiallySet) : manualReset_(manualReset), set_(initiallySet) {}
    Event(const Event&) = delete;
    Event& operator=(const Event&) = delete;

    void Set();
    void Reset();
    // True when the event was signalled within `timeoutMs` (kInfinite waits without limit).
    // An auto-reset event is cleared by the wait that consumes it; one Set wakes one waiter.
    bool Wait(uint32_t timeoutMs);
    bool IsSet() const;
    bool IsManualReset() const { return manualReset_; }

private:
    const bool manualReset_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    bool set_;
};

// The same name always yields the same event while anyone holds it; the flags apply only when
// the event is created.
std::shared_ptr<Event> OpenNamedEvent(const std::string& name, bool manualReset, bool initiallySet);

}  // namespace lumora::platform
