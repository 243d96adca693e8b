// Worker threads are system threads started through the C runtime (so that its per-thread
// state is set up and freed).
#include "platform/Thread.h"

#include <process.h>

#include <memory>
#include <string>

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

bool NameCurrentThread(const char* name) {
    if (name == nullptr) return false;
    // SetThreadDescription came with Windows 10 1607; looked up so older systems still load us.
    using SetDescription = HRESULT(WINAPI*)(HANDLE, PCWSTR);
    HMODULE kernel = ::GetModuleHandleW(L"kernel32.dll");
    auto set = kernel != nullptr ? reinterpret_cast<SetDescription>(reinterpret_cast<void (*)()>(
                                       ::GetProcAddress(kernel, "SetThreadDescription")))
                                 : nullptr;
    if (set == nullptr) return false;
    std::wstring wide;
    for (const char* c = name; *c != '\0'; ++c) wide.push_back(static_cast<unsigned char>(*c));
    return SUCCEEDED(set(::GetCurrentThread(), wide.c_str()));
}

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

bool CurrentThreadAboveNormal() {
    return ::GetThreadPriority(::GetCurrentThread()) > THREAD_PRIORITY_NORMAL;
}

bool StrictThreadPriorities() {
    return true;
}

NormalPriorityScope::NormalPriorityScope() {
    priority_ = ::GetThreadPriority(::GetCurrentThread());
    if (priority_ == THREAD_PRIORITY_ERROR_RETURN || priority_ <= THREAD_PRIORITY_NORMAL) return;
    lowered_ = ::SetThreadPriority(::GetCurrentThread(), THREAD_PRIORITY_NORMAL) != FALSE;
}

NormalPriorityScope::~NormalPriorityScope() {
    if (lowered_) ::SetThreadPriority(::GetCurrentThread(), priority_);
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
