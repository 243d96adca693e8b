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
    Event(bool manualReset, bool initiallySet);
    ~Event();
    Event(const Event&) = delete;
    Event& operator=(const Event&) = delete;

    void Set();
    void Reset();
    // True when the event was signalled within `timeoutMs` (kInfinite waits without limit).
    // An auto-reset event is cleared by the wait that consumes it; one Set wakes one waiter.
    bool Wait(uint32_t timeoutMs);
    bool IsSet() const;
    bool IsManualReset() const { return manualReset_; }

#if defined(_WIN32)
    // A kernel event with a name (null: none).
    Event(bool manualReset, bool initiallySet, const char* kernelName);
    // The kernel event's HANDLE, for waits on several objects.
    void* NativeHandle() const { return handle_; }
#endif

private:
    const bool manualReset_;
#if defined(_WIN32)
    void* handle_;  // the kernel event; the kernel guards its state
#else
    mutable std::mutex mutex_;  // guards set_
    std::condition_variable changed_;
    bool set_;
#endif
};

// The same name always yields the same event while anyone holds it; the flags apply only when
// the event is created.
std::shared_ptr<Event> OpenNamedEvent(const std::string& name, bool manualReset, bool initiallySet);

#if defined(_WIN32)
// The kernel object name of a named event. Named kernel objects are seen by every process of the
// session, and one application's acquisition thread must never end another one's wait, so the
// name is qualified with the process id: the event is as process-wide as the name promises.
std::string NamedEventKernelName(const std::string& name);
#endif

}  // namespace lumora::platform
