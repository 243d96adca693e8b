#include "platform/Thread.h"

#include <pthread.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <system_error>

namespace lumora::platform {

bool NameCurrentThread(const char* name) {
    if (name == nullptr) return false;
    // The kernel refuses names of 16 bytes or more rather than shortening them.
    const std::string shortened(name, strnlen(name, 15));
    return pthread_setname_np(pthread_self(), shortened.c_str()) == 0;
}

namespace {

// Above normal on Linux is a negative nice value of the thread alone (Linux keeps one per
// thread), not a real-time policy. A real-time thread that stays busy takes its core from every
// ordinary thread until the kernel's throttling steps in after 950 ms of each second: a queued
// run's callbacks, the X server drawing the preview, the libusb event thread the transfer loop
// waits on. A nice thread is preferred by the ordinary scheduler and still leaves the others
// their share. Below -15 the nice weights add little; above-normal keeps a clear step under it.
constexpr int kNiceTimeCritical = -15;
constexpr int kNiceAboveNormal = -5;

pid_t CurrentThreadId() {
    return static_cast<pid_t>(::syscall(SYS_gettid));
}

// The calling thread's nice value; 0 when it cannot be read.
int CurrentNice() {
    errno = 0;
    const int nice = ::getpriority(PRIO_PROCESS, static_cast<id_t>(CurrentThreadId()));
    return errno == 0 ? nice : 0;
}

bool SetNice(pid_t thread, int nice) {
    return ::setpriority(PRIO_PROCESS, static_cast<id_t>(thread), nice) == 0;
}

}  // namespace

bool CurrentThreadAboveNormal() {
    return CurrentNice() < 0;
}

bool StrictThreadPriorities() {
    return false;
}

NormalPriorityScope::NormalPriorityScope() {
    const int nice = CurrentNice();
    if (nice >= 0) return;
    priority_ = nice;
    lowered_ = SetNice(CurrentThreadId(), 0);
}

NormalPriorityScope::~NormalPriorityScope() {
    if (lowered_) SetNice(CurrentThreadId(), priority_);
}

Thread::~Thread() {
    Join();
}

bool Thread::Start(std::function<void()> body) {
    std::lock_guard lock(mutex_);
    if (thread_.joinable()) return false;
    threadId_.store(0);
    try {
        thread_ = std::thread([this, body = std::move(body)] {
            threadId_.store(CurrentThreadId(), std::memory_order_release);
            // Wait until Start has stored the handle, so the body may Join itself.
            { std::lock_guard started(mutex_); }
            body();
        });
    } catch (const std::system_error&) {
        return false;
    }
    // Known before Start returns (the thread's first step), so a priority can be set right away.
    while (threadId_.load(std::memory_order_acquire) == 0) std::this_thread::yield();
    return true;
}

void Thread::Join() {
    std::thread finished;
    {
        std::lock_guard lock(mutex_);
        if (!thread_.joinable()) return;
        if (thread_.get_id() == std::this_thread::get_id()) {
            thread_.detach();
            return;
        }
        finished = std::move(thread_);
    }
    finished.join();
}

bool Thread::Joinable() const {
    std::lock_guard lock(mutex_);
    return thread_.joinable();
}

bool Thread::IsCurrent() const {
    std::lock_guard lock(mutex_);
    return thread_.get_id() == std::this_thread::get_id();
}

bool Thread::SetPriority(ThreadPriority priority) {
    std::lock_guard lock(mutex_);
    if (!thread_.joinable()) return false;
    if (priority == ThreadPriority::Normal) return true;
    const pid_t id = threadId_.load();
    // An id of 0 would name the calling thread.
    return id > 0 && SetNice(id, priority == ThreadPriority::TimeCritical ? kNiceTimeCritical
                                                                          : kNiceAboveNormal);
}

}  // namespace lumora::platform
