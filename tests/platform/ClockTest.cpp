#include <gtest/gtest.h>

#include "platform/Clock.h"

namespace lumora::platform {
namespace {

TEST(Clock, ElapsedTicksSurviveTheThirtyTwoBitWrap) {
    SetTickOffsetForTesting(0u - GetTickCount() - 5u);  // five ticks before the wrap
    const uint32_t before = GetTickCount();
    // Well past the coarsest tick a system counts in (15.6 ms on Windows), so at least 20
    // ticks show whatever the counter's resolution.
    Sleep(40);
    const uint32_t after = GetTickCount();
    SetTickOffsetForTesting(0);
    EXPECT_GT(before, 0xFFFF0000u);
    EXPECT_LT(after, 0x10000u);  // wrapped
    EXPECT_GE(TicksSince(before, after), 20u);
    EXPECT_LT(TicksSince(before, after), 2000u);
}

TEST(Clock, TickCountAndTimeGetTimeAreOneClock) {
    const uint32_t a = GetTickCount();
    const uint32_t b = TimeGetTime();
    EXPECT_LT(TicksSince(a, b), 100u);
}

}  // namespace
}  // namespace lumora::platform
