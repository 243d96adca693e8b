#include "AllocationFailure.h"

#include <cstdlib>
#include <new>
#include "platform/Sanitizers.h"

namespace {
thread_local int countdown = 0;
thread_local bool failed = false;

[[maybe_unused]] void* Allocate(std::size_t size) {
    if (countdown > 0 && --countdown == 0) {
        failed = true;
        throw std::bad_alloc();
    }
    if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
    throw std::bad_alloc();
}
}  // namespace

namespace lumora::testing {
void FailAllocationAfter(int n) {
    countdown = n;
    failed = false;
}
bool AllocationFailed() {
    return failed;
}
bool AllocationFailureAvailable() {
#if defined(LUMORA_UNDER_ASAN)
    return false;
#else
    return true;
#endif
}
}  // namespace lumora::testing

// AddressSanitizer keeps its own operator new, which a replacement here would mismatch; its
// builds run without the hook and the tests that need it skip.
#if !defined(LUMORA_UNDER_ASAN)
void* operator new(std::size_t size) {
    return Allocate(size);
}
void* operator new[](std::size_t size) {
    return Allocate(size);
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete[](void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    std::free(p);
}
#endif
