#pragma once
// The process-wide table from handles to sessions. Every lookup, insertion and removal runs
// under one recursive lock; sessions are used after the lock is released.
#include <cstdint>
#include <functional>
#include <memory>

#include "api/CTRing.h"
#include "platform/CriticalSection.h"
#include "session/CLumora.h"

namespace lumora {

struct CSDKDATA {
    int32_t handle = 0;
    // Shared so that a call still running on another thread keeps its session alive while
    // Lumora_Release unlinks it; the session is torn down when the last user lets go.
    std::shared_ptr<CLumora> session;
};

class CSdkChain : public CTRing<CSDKDATA> {
public:
    using SessionFactory = std::function<std::shared_ptr<CLumora>()>;

    // The one registry of the process. It is never destroyed: sessions whose handles were never
    // released are not torn down at unload.
    static CSdkChain& Instance();

    // Creates a session with `factory`, registers it under a fresh nonzero handle that is not in
    // use, and returns the handle; 0 when the session could not be made.
    int32_t CreateSession(const SessionFactory& factory);
    // The session registered under `handle`, or null.
    std::shared_ptr<CLumora> Lookup(int32_t handle);
    // Unlinks `handle`; the session is destroyed after the lock is released. False if unknown.
    bool Release(int32_t handle);
    int32_t Size();

private:
    bool FindLocked(int32_t handle) LUMORA_REQUIRES(lock_);
    // Guards the ring this registry is (the base class), which the analysis cannot mark.
    platform::CriticalSection lock_;
};

}  // namespace lumora
