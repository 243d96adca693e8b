#pragma once
// A recursive lock with the semantics of the critical sections the layers above were designed
// around: the owning thread may enter again.
#include <mutex>

#include "platform/ThreadSafety.h"

namespace lumora::platform {

class LUMORA_CAPABILITY("critical section") CriticalSection {
public:
    void Enter() LUMORA_ACQUIRE() { mutex_.lock(); }
    bool TryEnter() LUMORA_TRY_ACQUIRE(true) { return mutex_.try_lock(); }
    void Leave() LUMORA_RELEASE() { mutex_.unlock(); }

    // BasicLockable, so std::lock_guard / std::unique_lock work.
    void lock() LUMORA_ACQUIRE() { Enter(); }
    void unlock() LUMORA_RELEASE() { Leave(); }

private:
    std::recursive_mutex mutex_;
};

// Holds a critical section for its scope.
class LUMORA_SCOPED_CAPABILITY CriticalSectionLock {
public:
    explicit CriticalSectionLock(CriticalSection& section) LUMORA_ACQUIRE(section)
        : section_(section) {
        section_.Enter();
    }
    ~CriticalSectionLock() LUMORA_RELEASE() { section_.Leave(); }
    CriticalSectionLock(const CriticalSectionLock&) = delete;
    CriticalSectionLock& operator=(const CriticalSectionLock&) = delete;

private:
    CriticalSection& section_;
};

}  // namespace lumora::platform
