// The session at the camera's own timing: a preview stopped in the middle of a long exposure.
#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

#include "e2e/SimFixture.h"

namespace lumora::testing {
namespace {

TEST_F(SimWorld, StopPreviewInALongExposureReturnsPromptly) {
    LumoraSim_SetFastMode(0);
    const int h = Open();
    ASSERT_EQ(Lumora_SetColorMode(h, 8), 1);
    ASSERT_EQ(Lumora_SetExposureTimeEx(h, 2.0), 1);
    HWND frames = LumoraHost_CreateQueueWindow();
    std::vector<unsigned char> buffer(size_t{2560} * 2048);
    ASSERT_EQ(Lumora_CallBackPreview(h, frames, buffer.data(), static_cast<int>(buffer.size()), 1),
              1);
    std::this_thread::sleep_for(std::chrono::milliseconds(900));  // the header read retries
    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(Lumora_StopPreview(h), 1);
    const double ms =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    std::printf("Lumora_StopPreview during a 2 s exposure: %.1f ms\n", ms);
    EXPECT_LT(ms, 300.0);  // 50 ms on an idle machine; a loaded one gets room
    EXPECT_EQ(Codes(h), std::vector<int>{});
    Lumora_Close(h);
    LumoraHost_DestroyWindow(frames);
    LumoraSim_SetFastMode(1);
}

}  // namespace
}  // namespace lumora::testing
