#pragma once
// A plain (not recursive) lock the thread-safety analysis knows, and the guard that holds it for
// a scope. Condition variables wait on the guard's Native() lock, which they release while they
// wait and hold again when they return.
#include <mutex>

#include "platform/ThreadSafety.h"

namespace lumora::platform {

class LUMORA_CAPABILITY("mutex") Mutex {
public:
    void lock() LUMORA_ACQUIRE() { mutex_.lock(); }
    void unlock() LUMORA_RELEASE() { mutex_.unlock(); }
    bool try_lock() LUMORA_TRY_ACQUIRE(true) { return mutex_.try_lock(); }
    std::mutex& Native() LUMORA_RETURN_CAPABILITY(this) { return mutex_; }
    // Tells the analysis that the caller holds the lock where it cannot follow it (a callee
    // reached through an object that holds no reference to the lock's owner); checks nothing.
    void AssertHeld() const LUMORA_ASSERT_CAPABILITY(this) {}

private:
    std::mutex mutex_;
};

class LUMORA_SCOPED_CAPABILITY MutexLock {
public:
    explicit MutexLock(Mutex& mutex) LUMORA_ACQUIRE(mutex) : lock_(mutex.Native()) {}
    ~MutexLock() LUMORA_RELEASE() {}
    MutexLock(const MutexLock&) = delete;
    MutexLock& operator=(const MutexLock&) = delete;

    std::unique_lock<std::mutex>& Native() { return lock_; }

private:
    std::unique_lock<std::mutex> lock_;
};

}  // namespace lumora::platform
