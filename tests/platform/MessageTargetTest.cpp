#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

#include "lumora/host.h"
#include "platform/Event.h"
#include "platform/MessageTarget.h"

namespace lumora::platform {
namespace {

TEST(QueueWindow, DeliversInPostingOrderAndTimesOut) {
    HWND window = LumoraHost_CreateQueueWindow();
    ASSERT_NE(window, nullptr);
    for (int i = 0; i < 5; ++i) EXPECT_TRUE(PostMessage(window, 0x8003, 0, i));
    LumoraHostMessage message{};
    for (int i = 0; i < 5; ++i) {
        ASSERT_EQ(LumoraHost_WaitMessage(window, 0, &message), 1);
        EXPECT_EQ(message.window, window);
        EXPECT_EQ(message.message, 0x8003u);
        EXPECT_EQ(message.lParam, i);
    }
    EXPECT_EQ(LumoraHost_WaitMessage(window, 20, &message), 0);
    LumoraHost_DestroyWindow(window);
}

TEST(QueueWindow, WaiterWakesWhenAMessageArrivesOrTheWindowIsDestroyed) {
    HWND window = LumoraHost_CreateQueueWindow();
    std::thread poster([window] {
        Event(true, false).Wait(20);
        PostMessage(window, 0x8002, 7, 0);
    });
    LumoraHostMessage message{};
    EXPECT_EQ(LumoraHost_WaitMessage(window, -1, &message), 1);
    EXPECT_EQ(message.wParam, 7u);
    poster.join();

    std::thread destroyer([window] {
        Event(true, false).Wait(20);
        LumoraHost_DestroyWindow(window);
    });
    EXPECT_EQ(LumoraHost_WaitMessage(window, -1, &message), 0);
    destroyer.join();
}

TEST(QueueWindow, StaleAndInventedHandlesAreIgnored) {
    HWND window = LumoraHost_CreateQueueWindow();
    LumoraHost_DestroyWindow(window);
    EXPECT_FALSE(PostMessage(window, 0x8003, 0, 1));
    LumoraHostMessage message{};
    EXPECT_EQ(LumoraHost_WaitMessage(window, 0, &message), 0);
    LumoraHost_DestroyWindow(window);  // twice: harmless
    HWND invented = reinterpret_cast<HWND>(uintptr_t{0xDEADBEEF});
    EXPECT_FALSE(PostMessage(invented, 0x8003, 0, 1));
    EXPECT_EQ(LumoraHost_WaitMessage(invented, 0, &message), 0);
    LumoraHost_DestroyWindow(invented);
    // A new window never reuses a destroyed handle.
    HWND next = LumoraHost_CreateQueueWindow();
    EXPECT_NE(next, window);
    LumoraHost_DestroyWindow(next);
}

TEST(QueueWindow, AFullQueueRefusesInsteadOfGrowing) {
    HWND window = LumoraHost_CreateQueueWindow();
    for (size_t i = 0; i < kMaxQueuedMessages; ++i) ASSERT_TRUE(PostMessage(window, 1, 0, 0));
    EXPECT_FALSE(PostMessage(window, 1, 0, 0));
    LumoraHost_DestroyWindow(window);
}

struct Recorder {
    std::mutex mutex;
    std::vector<intptr_t> seen;
    std::thread::id thread;
    Event gate{true, false};
    Event got{false, false};
    bool block = false;
};

void Record(const LumoraHostMessage* message, void* user) {
    auto* recorder = static_cast<Recorder*>(user);
    if (recorder->block) recorder->gate.Wait(kInfinite);
    {
        std::lock_guard lock(recorder->mutex);
        recorder->seen.push_back(message->lParam);
        recorder->thread = std::this_thread::get_id();
    }
    recorder->got.Set();
}

TEST(CallbackWindow, DeliversInOrderOnItsOwnThreadAndASlowCallbackNeverBlocksThePoster) {
    Recorder recorder;
    recorder.block = true;
    HWND window = LumoraHost_CreateCallbackWindow(&Record, &recorder);
    ASSERT_NE(window, nullptr);
    // The callback is stuck on the first message; posting must still return at once.
    for (int i = 0; i < 100; ++i) ASSERT_TRUE(PostMessage(window, 0x8002, 0, i));
    {
        std::lock_guard lock(recorder.mutex);
        EXPECT_TRUE(recorder.seen.empty());
    }
    recorder.gate.Set();
    for (;;) {
        recorder.got.Wait(1000);
        std::lock_guard lock(recorder.mutex);
        if (recorder.seen.size() == 100) break;
    }
    LumoraHost_DestroyWindow(window);
    std::lock_guard lock(recorder.mutex);
    for (int i = 0; i < 100; ++i) EXPECT_EQ(recorder.seen[i], i);
    EXPECT_NE(recorder.thread, std::this_thread::get_id());
}

void DestroySelf(const LumoraHostMessage* message, void* user) {
    LumoraHost_DestroyWindow(message->window);
    static_cast<Event*>(user)->Set();
}

TEST(CallbackWindow, MayDestroyItselfFromItsCallback) {
    Event done(true, false);
    HWND window = LumoraHost_CreateCallbackWindow(&DestroySelf, &done);
    ASSERT_TRUE(PostMessage(window, 1, 0, 0));
    EXPECT_TRUE(done.Wait(5000));
    EXPECT_FALSE(PostMessage(window, 1, 0, 0));
    EXPECT_EQ(LumoraHost_CreateCallbackWindow(nullptr, nullptr), nullptr);
}

TEST(ThreadQueue, ANullWindowPostsToThePostingThreadsOwnQueue) {
    EXPECT_TRUE(PostMessage(nullptr, 0x8003, 0, 11));
    std::thread other([] {
        LumoraHostMessage message{};
        EXPECT_EQ(LumoraHost_WaitThreadMessage(0, &message), 0);  // not this thread's
    });
    other.join();
    LumoraHostMessage message{};
    ASSERT_EQ(LumoraHost_WaitThreadMessage(0, &message), 1);
    EXPECT_EQ(message.window, nullptr);
    EXPECT_EQ(message.lParam, 11);
    EXPECT_EQ(LumoraHost_WaitThreadMessage(0, &message), 0);
}

}  // namespace
}  // namespace lumora::platform
