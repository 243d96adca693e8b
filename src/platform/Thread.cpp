#include "platform/Thread.h"

#include <pthread.h>
#include <sched.h>

#include <system_error>

namespace lumora::platform {

Thread::~Thread() { Join(); }

bool Thread::Start(std::function<void()> body) {
    if (thread_.joinable()) return false;
    try {
        thread_ = std::thread(std::move(body));
    } catch (const std::system_error&) {
        return false;
    }
    return true;
}

void Thread::Join() {
    // A thread that ends itself through its owner must not join itself.
    if (thread_.joinable() && !IsCurrent()) thread_.join();
    if (thread_.joinable() && IsCurrent()) thread_.detach();
}

bool Thread::SetPriority(ThreadPriority priority) {
    if (!thread_.joinable()) return false;
    if (priority == ThreadPriority::Normal) return true;
    sched_param param{};
    const int policy = SCHED_FIFO;
    const int maxPriority = sched_get_priority_max(policy);
    param.sched_priority = priority == ThreadPriority::TimeCritical ? maxPriority : maxPriority / 2;
    return pthread_setschedparam(thread_.native_handle(), policy, &param) == 0;
}

}  // namespace lumora::platform
