#include <chrono>
#include <vector>

#include "SimFixture.h"
#include "platform/Sanitizers.h"

namespace lumora::testing {
namespace {

constexpr size_t kFull8 = size_t{2560} * 2048;

// Frame messages with (or without) the frame information, waiting up to `timeoutMs` for the
// first `atLeast` of them, then taking what is queued.
long CountFrameMessages(HWND window, bool withInfo, long atLeast = 0, int timeoutMs = 0) {
    long n = 0;
    LumoraHostMessage m{};
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        const bool waiting = n < atLeast && std::chrono::steady_clock::now() < end;
        if (LumoraHost_WaitMessage(window, waiting ? 100 : 0, &m) != 1) {
            if (waiting) continue;
            return n;
        }
        if (m.message == LUMORA_MSG_FRAME && (m.wParam != 0) == withInfo) ++n;
    }
}

// A capture loop that pauses between frames while the camera streams at full speed: the
// frames it never took show as skipped, the ones it announced as delivered.
TEST_F(SimWorld, StreamStatsCountSkippedFramesFromTheCameraCounter) {
    const int h = Open();
    ASSERT_EQ(LumoraSim_SetFrameCounterStart(0, 240), 1);  // crosses the counter's wrap
    ASSERT_EQ(Lumora_SetColorMode(h, 8), 1);
    ASSERT_EQ(Lumora_SetWaitTime(h, 60), 1);
    HWND frames = LumoraHost_CreateQueueWindow();
    std::vector<unsigned char> buffer(kFull8);
    ASSERT_EQ(Lumora_CallBackPreview(h, frames, buffer.data(), static_cast<int>(buffer.size()), 1),
              1);
    long announced = CountFrameMessages(frames, true, 4, 30000);
    ASSERT_EQ(Lumora_StopPreview(h), 1);
    LumoraStreamStats stats{};
    ASSERT_EQ(LumoraHost_GetStreamStats(h, &stats), 1);
    announced += CountFrameMessages(frames, true);
    EXPECT_EQ(static_cast<long>(stats.framesDelivered), announced);
    EXPECT_GT(stats.framesDelivered, 0u);
#if !defined(LUMORA_UNDER_TSAN)
    // Under ThreadSanitizer the simulated camera itself can be slower than the loop's pause.
    EXPECT_GT(stats.framesSkipped, 0u);
#endif
    EXPECT_EQ(stats.framesFailed, 0u);
    EXPECT_EQ(stats.framesSent, stats.framesDelivered + stats.framesSkipped);
    Lumora_Close(h);
    LumoraHost_DestroyWindow(frames);
}

TEST_F(SimWorld, StreamStatsCountFramesThatCouldNotReachTheCallerAsFailed) {
    const int h = Open();
    ASSERT_EQ(Lumora_SetColorMode(h, 8), 1);
    HWND frames = LumoraHost_CreateQueueWindow();
    std::vector<unsigned char> buffer(100);
    ASSERT_EQ(Lumora_CallBackPreview(h, frames, buffer.data(), 100, 1), 1);
    EXPECT_GE(CountFrameMessages(frames, false, 2, 30000), 2);
    ASSERT_EQ(Lumora_StopPreview(h), 1);
    LumoraStreamStats stats{};
    ASSERT_EQ(LumoraHost_GetStreamStats(h, &stats), 1);
    EXPECT_EQ(stats.framesDelivered, 0u);
    EXPECT_GT(stats.framesFailed, 0u);
    EXPECT_EQ(stats.framesSent, stats.framesSkipped + stats.framesFailed);

    EXPECT_EQ(LumoraHost_GetStreamStats(h, nullptr), 0);
    EXPECT_EQ(LumoraHost_GetStreamStats(h + 1000, &stats), 0);
    Lumora_Close(h);
    LumoraHost_DestroyWindow(frames);
}

}  // namespace
}  // namespace lumora::testing
