#include "api/CSdkChain.h"

#include <cstdlib>
#include <new>

#include "platform/Clock.h"
#include "platform/Memory.h"
#include "sim/SimCameraSet.h"

namespace lumora {

CSdkChain& CSdkChain::Instance() {
    static CSdkChain* chain = [] {
        // Every session comes from here, so the simulated cameras join the port before any
        // session can list devices.
        sim::JoinPort();
        return new CSdkChain;
    }();
    return *chain;
}

bool CSdkChain::FindLocked(int32_t handle) {
    return Find([handle](const CSDKDATA& data) { return data.handle == handle; });
}

int32_t CSdkChain::CreateSession(const SessionFactory& factory) {
    std::shared_ptr<CLumora> session;
    try {
        session = factory();
    } catch (const std::bad_alloc&) {
        return 0;
    }
    if (session == nullptr) return 0;
    platform::CriticalSectionLock lock(lock_);
    // Handles are not sequential; draw again while the value is 0 or already registered.
    int32_t handle = 0;
    do {
        const uint32_t raw = platform::GetTickCount() + static_cast<uint32_t>(std::rand()) +
                             static_cast<uint32_t>(Count());
        handle = static_cast<int32_t>(raw);
    } while (handle == 0 || FindLocked(handle));
    Insert(CSDKDATA{handle, std::move(session)});
    return handle;
}

std::shared_ptr<CLumora> CSdkChain::Lookup(int32_t handle) {
    if (handle == 0) return nullptr;
    platform::CriticalSectionLock lock(lock_);
    if (!FindLocked(handle)) return nullptr;
    return Head()->value.session;
}

bool CSdkChain::Release(int32_t handle) {
    std::shared_ptr<CLumora> session;
    {
        platform::CriticalSectionLock lock(lock_);
        if (handle == 0 || !FindLocked(handle)) return false;
        session = std::move(Head()->value.session);
        RemoveHead();
    }
    // Teardown outside the registry lock. When this was the last user, the session's buffers
    // are gone now and the memory they held goes back to the system.
    const bool last = session.use_count() == 1;
    session.reset();
    if (last) platform::ReturnFreeMemory();
    return true;
}

int32_t CSdkChain::Size() {
    platform::CriticalSectionLock lock(lock_);
    return Count();
}

}  // namespace lumora
