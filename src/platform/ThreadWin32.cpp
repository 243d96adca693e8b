// Worker threads are system threads started through the C runtime (so that its per-thread
// state is set up and freed).
#include "platform/Thread.h"

#include <process.h>

#include <memory>

#include "platform/Win32Api.h"

namespace lumora::platform {
namespace {

struct StartBlock {
    std::function<void()> body;
    std::mutex* started;
};

unsigned __stdcall RunThread(void* argument) {
    std::unique_ptr<StartBlock> block(static_cast<StartBlock*>(argument));
    // Wait until Start has stored the handle, so the body may Join itself.
    { std::lock_guard started(*block->started); }
    block->body();
    return 0;
}

}  // namespace

Thread::~Thread() {
    Join();
}

bool Thread::Start(std::function<void()> body) {
    std::lock_guard lock(mutex_);
    if (handle_ != nullptr) return false;
    auto block = std::make_unique<StartBlock>(StartBlock{std::move(body), &mutex_});
    unsigned id = 0;
    const uintptr_t handle = ::_beginthreadex(nullptr, 0, RunThread, block.get(), 0, &id);
    if (handle == 0) return false;
    block.release();  // the thread owns it now
    handle_ = reinterpret_cast<void*>(handle);
    id_ = id;
    return true;
}

void Thread::Join() {
    void* finished = nullptr;
    {
        std::lock_guard lock(mutex_);
        if (handle_ == nullptr) return;
        finished = handle_;
        const bool self = id_ == ::GetCurrentThreadId();
        handle_ = nullptr;
        id_ = 0;
        if (self) {  // detach: the thread runs on and ends by itself
            ::CloseHandle(finished);
            return;
        }
    }
    ::WaitForSingleObject(finished, INFINITE);
    ::CloseHandle(finished);
}

bool Thread::Joinable() const {
    std::lock_guard lock(mutex_);
    return handle_ != nullptr;
}

bool Thread::IsCurrent() const {
    std::lock_guard lock(mutex_);
    return handle_ != nullptr && id_ == ::GetCurrentThreadId();
}

bool Thread::SetPriority(ThreadPriority priority) {
    std::lock_guard lock(mutex_);
    if (handle_ == nullptr) return false;
    int level = THREAD_PRIORITY_NORMAL;
    if (priority == ThreadPriority::AboveNormal) level = THREAD_PRIORITY_ABOVE_NORMAL;
    if (priority == ThreadPriority::TimeCritical) level = THREAD_PRIORITY_TIME_CRITICAL;
    return ::SetThreadPriority(handle_, level) != FALSE;
}

}  // namespace lumora::platform
