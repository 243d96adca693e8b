#pragma once
// A recursive lock with the semantics of the critical sections the layers above were designed
// around: the owning thread may enter again. On Windows it is a critical section.
#include <mutex>

#include "platform/ThreadSafety.h"

namespace lumora::platform {

class LUMORA_CAPABILITY("critical section") CriticalSection {
public:
#if defined(_WIN32)
    CriticalSection();
    ~CriticalSection();
    void Enter() LUMORA_ACQUIRE();
    bool TryEnter() LUMORA_TRY_ACQUIRE(true);
    void Leave() LUMORA_RELEASE();
#else
    CriticalSection() = default;
    void Enter() LUMORA_ACQUIRE() { mutex_.lock(); }
    bool TryEnter() LUMORA_TRY_ACQUIRE(true) { return mutex_.try_lock(); }
    void Leave() LUMORA_RELEASE() { mutex_.unlock(); }
#endif
    CriticalSection(const CriticalSection&) = delete;
    CriticalSection& operator=(const CriticalSection&) = delete;

    // BasicLockable, so std::lock_guard / std::unique_lock work.
    void lock() LUMORA_ACQUIRE() { Enter(); }
    void unlock() LUMORA_RELEASE() { Leave(); }

private:
#if defined(_WIN32)
    // Room for a CRITICAL_SECTION (40 bytes on x64; checked where it is used), so this header
    // need not include the system headers.
    alignas(8) unsigned char section_[40];
#else
    std::recursive_mutex mutex_;
#endif
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
