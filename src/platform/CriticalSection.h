#pragma once
// A recursive lock with the semantics of the critical sections the layers above were designed
// around: the owning thread may enter again.
#include <mutex>

namespace lumora::platform {

class CriticalSection {
public:
    void Enter() { mutex_.lock(); }
    bool TryEnter() { return mutex_.try_lock(); }
    void Leave() { mutex_.unlock(); }

    // BasicLockable, so std::lock_guard / std::unique_lock work.
    void lock() { Enter(); }
    void unlock() { Leave(); }

private:
    std::recursive_mutex mutex_;
};

using CriticalSectionLock = std::lock_guard<CriticalSection>;

}  // namespace lumora::platform
