#include "platform/Thread.h"

#include <pthread.h>
#include <sched.h>

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

bool CurrentThreadAboveNormal() {
    int policy = SCHED_OTHER;
    sched_param param{};
    return pthread_getschedparam(pthread_self(), &policy, &param) == 0 &&
           (policy == SCHED_FIFO || policy == SCHED_RR);
}

NormalPriorityScope::NormalPriorityScope() {
    sched_param param{};
    if (pthread_getschedparam(pthread_self(), &policy_, &param) != 0) return;
    if (policy_ != SCHED_FIFO && policy_ != SCHED_RR) return;
    priority_ = param.sched_priority;
    const sched_param normal{};
    lowered_ = pthread_setschedparam(pthread_self(), SCHED_OTHER, &normal) == 0;
}

NormalPriorityScope::~NormalPriorityScope() {
    if (!lowered_) return;
    sched_param param{};
    param.sched_priority = priority_;
    pthread_setschedparam(pthread_self(), policy_, &param);
}

Thread::~Thread() {
    Join();
}

bool Thread::Start(std::function<void()> body) {
    std::lock_guard lock(mutex_);
    if (thread_.joinable()) return false;
    try {
        thread_ = std::thread([this, body = std::move(body)] {
            // Wait until Start has stored the handle, so the body may Join itself.
            { std::lock_guard started(mutex_); }
            body();
        });
    } catch (const std::system_error&) {
        return false;
    }
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
    sched_param param{};
    const int policy = SCHED_FIFO;
    const int maxPriority = sched_get_priority_max(policy);
    param.sched_priority = priority == ThreadPriority::TimeCritical ? maxPriority : maxPriority / 2;
    return pthread_setschedparam(thread_.native_handle(), policy, &param) == 0;
}

}  // namespace lumora::platform
