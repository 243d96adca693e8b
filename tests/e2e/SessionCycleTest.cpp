// Sessions opened, used and released again and again: nothing may stay behind - no thread, no
// descriptor, no allocation - and the memory a released session held goes back to the system.
#include <malloc.h>

#include <fstream>
#include <string>

#include "ProcessEntries.h"
#include "SimFixture.h"
#include "platform/Sanitizers.h"

namespace lumora::testing {
namespace {

long ResidentKiB() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
    return 0;
}

// Bytes allocated and not freed, as the C library's allocator counts them (sanitizers bring
// allocators of their own, which it does not see).
size_t LiveHeap() {
    const struct mallinfo2 heap = ::mallinfo2();
    return heap.uordblks + heap.hblkhd;
}

#if defined(LUMORA_UNDER_SANITIZER)
constexpr bool kOwnAllocator = false;
#else
constexpr bool kOwnAllocator = true;
#endif

void OneSession() {
    const int h = Lumora_Initialize(nullptr);
    ASSERT_NE(h, 0);
    EXPECT_EQ(Lumora_SetColorMode(h, 8), 1);
    EXPECT_EQ(Lumora_SnapShot(h, nullptr, 0, 1), 1);
    EXPECT_EQ(Lumora_StartPreview(h), 1);
    EXPECT_EQ(Lumora_StopPreview(h), 1);
    EXPECT_EQ(Lumora_Release(h), 1);
}

TEST_F(SimWorld, ReleasedSessionsLeaveNoThreadDescriptorOrAllocationBehind) {
    OneSession();  // what the process sets up once is not counted
    const int threads = CountEntries("/proc/self/task");
    const int descriptors = CountEntries("/proc/self/fd");
    const size_t heap = LiveHeap();
    const long resident = ResidentKiB();
    // Under a sanitizer only threads and descriptors are counted, and sessions are slow: two do.
    for (int i = 0; i < (kOwnAllocator ? 5 : 2); ++i) OneSession();
    EXPECT_EQ(CountEntries("/proc/self/task"), threads);
    EXPECT_EQ(CountEntries("/proc/self/fd"), descriptors);
    if (kOwnAllocator) {
        // A session holds some 100 MB of frame and image buffers: a leak of any of them, or of
        // a fraction of one per session, shows here.
        EXPECT_LT(LiveHeap(), heap + (1u << 20));
        // Kept by the allocator instead of given back, five sessions' buffers would be well
        // over this.
        EXPECT_LT(ResidentKiB(), resident + 48 * 1024);
    }
}

}  // namespace
}  // namespace lumora::testing
