// Frames that no stage changes go from the ring to the caller without passing through the
// session's images; what the caller and GetImage see must not differ from the full path.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <thread>
#include <vector>

#include "SimFixture.h"

namespace lumora::testing {
namespace {

struct Delivered {
    std::vector<unsigned char> callback;  // the caller's buffer after the last frame message
    std::vector<unsigned char> image;     // GetImage in the run's row order, after the stop
    std::vector<unsigned char> during;    // GetImage while the run still went on
    uint64_t direct = 0;                  // frames that took the direct path
};

bool WaitFrames(HWND window, int count) {
    LumoraHostMessage m{};
    for (int seen = 0, polls = 0; seen < count && polls < 200; ++polls) {
        if (LumoraHost_WaitMessage(window, 100, &m) == 1 && m.message == LUMORA_MSG_FRAME &&
            m.lParam == 0) {
            ++seen;
            if (seen == count) return true;
        }
    }
    return false;
}

class DirectFramePath : public SimWorld {
protected:
    void SetUp() override {
        SimWorld::SetUp();
        LumoraSim_SetStaticScene(1);  // every frame the same bytes, so two runs can be compared
    }

    Delivered Run(int bits, int rowOrder, bool withBuffer, bool direct) {
        Delivered d;
        const int h = Open();
        EXPECT_EQ(Lumora_SetColorMode(h, bits), 1);
        const size_t bytes = size_t{2560} * 2048 * (bits / 8);
        auto session = Session(h);
        session->SetDirectFramePath(direct);
        const uint64_t before = session->DirectFrames();
        HWND frames = LumoraHost_CreateQueueWindow();
        d.callback.assign(bytes, 0xA5);
        EXPECT_EQ(Lumora_CallBackPreview(h, frames, withBuffer ? d.callback.data() : nullptr,
                                         withBuffer ? static_cast<int>(bytes) : 0, rowOrder),
                  1);
        EXPECT_TRUE(WaitFrames(frames, 3));
        d.during.assign(bytes, 0);
        EXPECT_EQ(Lumora_GetImage(h, d.during.data(), static_cast<int>(bytes), rowOrder), 1);
        EXPECT_TRUE(WaitFrames(frames, 2));
        EXPECT_EQ(Lumora_StopPreview(h), 1);
        d.image.assign(bytes, 0);
        EXPECT_EQ(Lumora_GetImage(h, d.image.data(), static_cast<int>(bytes), rowOrder), 1);
        d.direct = session->DirectFrames() - before;
        EXPECT_EQ(Codes(h), std::vector<int>{});
        Lumora_Close(h);
        LumoraHost_DestroyWindow(frames);
        Release(h);
        return d;
    }
};

TEST_F(DirectFramePath, CallerBufferAndGetImageMatchTheFullPathInBothDepthsAndRowOrders) {
    for (int bits : {8, 16}) {
        for (int rowOrder : {0, 1}) {
            SCOPED_TRACE(::testing::Message() << bits << "-bit, row order " << rowOrder);
            const Delivered full = Run(bits, rowOrder, true, false);
            const Delivered fast = Run(bits, rowOrder, true, true);
            EXPECT_EQ(full.direct, 0u);
            // A picture, not an untouched buffer or an empty image.
            EXPECT_NE(std::count(full.image.begin(), full.image.end(), 0), std::ssize(full.image));
            EXPECT_GT(fast.direct, 0u);
            EXPECT_TRUE(full.callback == fast.callback);
            EXPECT_TRUE(full.image == fast.image);
            EXPECT_TRUE(fast.image == fast.callback);
            EXPECT_TRUE(fast.during == fast.callback);
            if (rowOrder != 0) continue;
            // Without a caller's buffer nothing copies the frame during the run; GetImage
            // still has it, during the run and after.
            const Delivered bare = Run(bits, rowOrder, false, true);
            EXPECT_GT(bare.direct, 0u);
            EXPECT_TRUE(bare.image == full.image);
            EXPECT_TRUE(bare.during == full.image);
        }
    }
}

TEST_F(DirectFramePath, AFilterSwitchedOnMidRunTakesTheFullPathAtOnce) {
    const int h = Open();
    ASSERT_EQ(Lumora_SetColorMode(h, 8), 1);
    auto session = Session(h);
    HWND frames = LumoraHost_CreateQueueWindow();
    std::vector<unsigned char> buffer(size_t{2560} * 2048);
    ASSERT_EQ(Lumora_CallBackPreview(h, frames, buffer.data(), static_cast<int>(buffer.size()), 1),
              1);
    ASSERT_TRUE(WaitFrames(frames, 2));
    std::vector<unsigned char> plain(buffer.size());
    ASSERT_EQ(Lumora_GetImage(h, plain.data(), static_cast<int>(plain.size()), 1), 1);
    EXPECT_GT(session->DirectFrames(), 0u);
    ASSERT_EQ(Lumora_SetGamma(h, 50), 1);
    // Counted by the session, not by messages: frame messages from before the change may still
    // wait in the queue on a slow build.
    const auto deliveredSince = [&](uint64_t from, uint64_t count) {
        for (int polls = 0; polls < 400; ++polls) {
            if (session->StreamStats().delivered >= from + count) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return false;
    };
    // One frame may have been judged before the change.
    ASSERT_TRUE(deliveredSince(session->StreamStats().delivered, 2));
    const uint64_t direct = session->DirectFrames();
    ASSERT_TRUE(deliveredSince(session->StreamStats().delivered, 2));
    EXPECT_EQ(session->DirectFrames(), direct);
    Lumora_StopPreview(h);
    std::vector<unsigned char> gamma(buffer.size());
    ASSERT_EQ(Lumora_GetImage(h, gamma.data(), static_cast<int>(gamma.size()), 1), 1);
    EXPECT_TRUE(gamma == buffer);
    EXPECT_FALSE(gamma == plain);
    Lumora_Close(h);
    LumoraHost_DestroyWindow(frames);
}

// A run's frames are taken over from the ring, and the flat field reads them where they arrived
// instead of from a copy: the result is what a snapshot (which copies) gives, whether the dot
// filter runs in the same pass or not, at both depths.
TEST_F(DirectFramePath, AFrameFlattenedWhereItArrivedMatchesOneCopiedFirst) {
    for (int bits : {8, 16}) {
        for (bool dots : {true, false}) {
            SCOPED_TRACE(::testing::Message() << bits << "-bit, dot filter " << dots);
            const int h = Open();
            ASSERT_EQ(Lumora_SetColorMode(h, bits), 1);
            const size_t bytes = size_t{2560} * 2048 * (bits / 8);
            const int size = static_cast<int>(bytes);
            std::vector<unsigned char> plain(bytes);
            ASSERT_EQ(Lumora_SnapShot(h, plain.data(), size, 1), 1);
            const int exposure = Lumora_GetExposureTime(h, nullptr);
            ASSERT_EQ(Lumora_SetExposureTime(h, 1), 1);
            ASSERT_EQ(Lumora_SnapShot(h, nullptr, 0, 1), 1);
            ASSERT_EQ(Lumora_UpdateMaskData(h, 0), 1);
            ASSERT_EQ(Lumora_SetExposureTime(h, exposure), 1);
            ASSERT_EQ(LumoraSim_ShowFlatTarget(0, 1), 1);
            ASSERT_EQ(Lumora_SnapShot(h, nullptr, 0, 1), 1);
            ASSERT_EQ(Lumora_UpdateMaskData(h, 1), 1);
            ASSERT_EQ(LumoraSim_ShowFlatTarget(0, 0), 1);
            ASSERT_EQ(Lumora_SetMaskFilter(h, 1), 1);
            ASSERT_EQ(Lumora_SetDotFilter(h, dots ? 1 : 0), 1);
            std::vector<unsigned char> copied(bytes);
            ASSERT_EQ(Lumora_SnapShot(h, copied.data(), size, 1), 1);
            EXPECT_FALSE(copied == plain);

            HWND frames = LumoraHost_CreateQueueWindow();
            std::vector<unsigned char> delivered(bytes, 0xA5);
            ASSERT_EQ(Lumora_CallBackPreview(h, frames, delivered.data(), size, 1), 1);
            EXPECT_TRUE(WaitFrames(frames, 3));
            EXPECT_EQ(Lumora_StopPreview(h), 1);
            EXPECT_TRUE(delivered == copied);
            std::vector<unsigned char> image(bytes);
            EXPECT_EQ(Lumora_GetImage(h, image.data(), size, 1), 1);
            EXPECT_TRUE(image == copied);
            EXPECT_EQ(Codes(h), std::vector<int>{});
            Lumora_Close(h);
            LumoraHost_DestroyWindow(frames);
            Release(h);
        }
    }
}

}  // namespace
}  // namespace lumora::testing
