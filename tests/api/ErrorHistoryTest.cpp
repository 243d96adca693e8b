#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "api/CSdkChain.h"
#include "lumora/host.h"
#include "lumora/lumora.h"
#include "session/ErrorHistory.h"

namespace lumora {
namespace {

class SessionHistory : public ::testing::Test {
protected:
    void Open(HWND window) {
        handle_ = Lumora_Initialize(window);
        ASSERT_NE(handle_, 0);
        session_ = CSdkChain::Instance().Lookup(handle_);
    }
    void TearDown() override {
        session_.reset();
        Lumora_Release(handle_);
    }
    int handle_ = 0;
    std::shared_ptr<CLumora> session_;
};

TEST_F(SessionHistory, PopsNewestFirstThenZero) {
    Open(nullptr);
    EXPECT_EQ(Lumora_GetLastError(handle_), 0);
    session_->RecordError(1);
    session_->RecordError(9);
    session_->RecordError(5);
    EXPECT_EQ(Lumora_GetLastError(handle_), 5);
    EXPECT_EQ(Lumora_GetLastError(handle_), 9);
    EXPECT_EQ(Lumora_GetLastError(handle_), 1);
    EXPECT_EQ(Lumora_GetLastError(handle_), 0);
}

TEST_F(SessionHistory, KeepsTheNewestTwentyCodes) {
    Open(nullptr);
    for (int code = 1; code <= 25; ++code) session_->RecordError(code);
    for (int code = 25; code > 5; --code) EXPECT_EQ(Lumora_GetLastError(handle_), code);
    EXPECT_EQ(Lumora_GetLastError(handle_), 0);
}

TEST_F(SessionHistory, PostsEachRecordedCodeToTheNotificationWindow) {
    HWND window = LumoraHost_CreateQueueWindow();
    Open(window);
    session_->RecordError(ERR_PARAMETER);
    session_->RecordError(ERR_NONE);  // some successes are announced too
    LumoraHostMessage message{};
    ASSERT_EQ(LumoraHost_WaitMessage(window, 0, &message), 1);
    EXPECT_EQ(message.message, static_cast<unsigned>(LUMORA_MSG_ERROR));
    EXPECT_EQ(message.wParam, 0u);
    EXPECT_EQ(message.lParam, ERR_PARAMETER);
    ASSERT_EQ(LumoraHost_WaitMessage(window, 0, &message), 1);
    EXPECT_EQ(message.lParam, ERR_NONE);
    EXPECT_EQ(LumoraHost_WaitMessage(window, 0, &message), 0);
    LumoraHost_DestroyWindow(window);
}

TEST_F(SessionHistory, WithoutAWindowNothingIsPostedButCodesAreKept) {
    Open(nullptr);
    session_->RecordError(ERR_IO);
    LumoraHostMessage message{};
    EXPECT_EQ(LumoraHost_WaitThreadMessage(0, &message), 0);
    EXPECT_EQ(Lumora_GetLastError(handle_), ERR_IO);
}

TEST_F(SessionHistory, PostOnlyPathsLeaveTheHistoryAloneAndFallBackToTheThreadQueue) {
    Open(nullptr);
    session_->RecordError(ERR_FRAME);
    session_->PostErrorOnly(ERR_UNSUPPORTED);
    LumoraHostMessage message{};
    ASSERT_EQ(LumoraHost_WaitThreadMessage(0, &message), 1);
    EXPECT_EQ(message.lParam, ERR_UNSUPPORTED);
    EXPECT_EQ(Lumora_GetLastError(handle_), ERR_FRAME);
    EXPECT_EQ(Lumora_GetLastError(handle_), 0);
}

TEST_F(SessionHistory, ReleasedSessionsHistoryIsGone) {
    Open(nullptr);
    session_->RecordError(ERR_IO);
    session_.reset();
    ASSERT_EQ(Lumora_Release(handle_), 1);
    EXPECT_EQ(Lumora_GetLastError(handle_), 0);
}

TEST(ErrorHistory, ConcurrentPushesAndPopsNeitherLoseNorInventCodes) {
    ErrorHistory history;
    constexpr int kPerThread = 5000;
    std::atomic<long> popped{0};
    std::thread pusherA([&] {
        for (int i = 0; i < kPerThread; ++i) history.Push(1);
    });
    std::thread pusherB([&] {
        for (int i = 0; i < kPerThread; ++i) history.Push(2);
    });
    std::thread popper([&] {
        for (int i = 0; i < kPerThread; ++i) {
            const int code = history.Pop();
            if (code != 0 && code != 1 && code != 2) popped = -1000000;
            if (code != 0 && popped >= 0) ++popped;
        }
    });
    pusherA.join();
    pusherB.join();
    popper.join();
    EXPECT_GE(popped.load(), 0);
    for (int i = 0; i < ErrorHistory::kDepth; ++i) {
        const int code = history.Peek(i);
        EXPECT_TRUE(code == 0 || code == 1 || code == 2);
    }
}

}  // namespace
}  // namespace lumora
