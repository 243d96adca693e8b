#pragma once
// A joinable worker thread. The owner must Join before destroying what the body uses; the
// destructor joins as a last resort so a forgotten thread never outlives its object.
// Thread-safe: mutex_ guards thread_, so the body may Join its own Thread.
#include <functional>
#include <mutex>
#include <thread>

namespace lumora::platform {

enum class ThreadPriority { Normal, AboveNormal, TimeCritical };

// Names the calling thread for debuggers, profilers and `top -H` (at most 15 characters show on
// Linux). Best effort: false when the system keeps no names.
bool NameCurrentThread(const char* name);

class Thread {
public:
    Thread() = default;
    ~Thread();
    Thread(const Thread&) = delete;
    Thread& operator=(const Thread&) = delete;

    // False when a thread is already running or the system refused a new one.
    bool Start(std::function<void()> body);
    // Waits for the thread; called from the thread itself it detaches instead.
    void Join();
    bool Joinable() const;
    bool IsCurrent() const;
    // Best effort: raising priority usually needs privileges; failure changes nothing.
    bool SetPriority(ThreadPriority priority);

private:
    mutable std::mutex mutex_;  // guards the thread's handle and id
#if defined(_WIN32)
    void* handle_ = nullptr;  // the thread's HANDLE
    unsigned long id_ = 0;
#else
    std::thread thread_;
#endif
};

}  // namespace lumora::platform
