#pragma once
// A joinable worker thread. The owner must Join before destroying what the body uses; the
// destructor joins as a last resort so a forgotten thread never outlives its object.
// Thread-safe: mutex_ guards thread_, so the body may Join its own Thread.
#include <atomic>
#include <functional>
#include <mutex>
#include <thread>

namespace lumora::platform {

enum class ThreadPriority { Normal, AboveNormal, TimeCritical };

// Names the calling thread for debuggers, profilers and `top -H` (at most 15 characters show on
// Linux). Best effort: false when the system keeps no names.
bool NameCurrentThread(const char* name);

// Whether the calling thread runs above normal priority (a negative nice value on Linux).
bool CurrentThreadAboveNormal();

// Whether a thread above normal priority runs whenever it is ready, ahead of every ordinary one
// (Windows), rather than taking a larger share of the processors beside them (Linux, where the
// priorities are nice values).
bool StrictThreadPriorities();

// Runs the calling thread at normal priority for its scope when it runs above it, and puts the
// old priority back at the end. For work that is not the thread's own and must not take its
// priority: a thread above every other one that stays busy starves them, the holders of locks it
// is waiting for included.
class NormalPriorityScope {
public:
    NormalPriorityScope();
    ~NormalPriorityScope();
    NormalPriorityScope(const NormalPriorityScope&) = delete;
    NormalPriorityScope& operator=(const NormalPriorityScope&) = delete;

private:
    bool lowered_ = false;
    int priority_ = 0;  // the priority level (Windows) or nice value (Linux) to go back to
};

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
    std::atomic<int> threadId_{0};  // the kernel's id of the thread, for its nice value
#endif
};

}  // namespace lumora::platform
