#pragma once
// A joinable worker thread. The owner must Join before destroying what the body uses; the
// destructor joins as a last resort so a forgotten thread never outlives its object.
#include <functional>
#include <thread>

namespace lumora::platform {

enum class ThreadPriority { Normal, AboveNormal, TimeCritical };

class Thread {
public:
    Thread() = default;
    ~Thread();
    Thread(const Thread&) = delete;
    Thread& operator=(const Thread&) = delete;

    // False when a thread is already running or the system refused a new one.
    bool Start(std::function<void()> body);
    void Join();
    bool Joinable() const { return thread_.joinable(); }
    bool IsCurrent() const { return thread_.get_id() == std::this_thread::get_id(); }
    // Best effort: raising priority usually needs privileges; failure changes nothing.
    bool SetPriority(ThreadPriority priority);

private:
    std::thread thread_;
};

}  // namespace lumora::platform
