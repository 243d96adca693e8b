// The SDK's messages to an application's own windows: posted with the system's PostMessageA and
// dispatched by the application's ordinary message loop, on the window's thread.
#if defined(_WIN32)

#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "Win32TestWindow.h"
#include "lumora/host.h"
#include "lumora/lumora.h"
#include "platform/MessageTarget.h"
#include "platform/Win32Api.h"

namespace lumora::platform {
namespace {

struct Received {
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    DWORD thread;
};

// An application's top-level window, never shown, with the messages its window procedure saw.
struct AppWindow : RecordingWindow<Received> {
    AppWindow()
        : RecordingWindow(
              [](UINT message, WPARAM wParam, LPARAM lParam) -> std::optional<Received> {
                  if (message == LUMORA_MSG_FRAME || message == LUMORA_MSG_ERROR) {
                      return Received{message, wParam, lParam, ::GetCurrentThreadId()};
                  }
                  return std::nullopt;
              }) {}
};

size_t CountOf(const std::vector<Received>& log, UINT message) {
    size_t n = 0;
    for (const Received& r : log) n += r.message == message ? 1 : 0;
    return n;
}

TEST(Win32Messages, PostedFromAnotherThreadAndDispatchedByTheWindowsOwnLoop) {
    AppWindow app;
    ASSERT_NE(app.Handle(), nullptr);
    // The poster returns before the window procedure runs: nothing is dispatched until the
    // window's thread reads its queue.
    std::thread poster([&] {
        EXPECT_TRUE(PostMessage(app.Handle(), LUMORA_MSG_FRAME, 0x1234, 0));
        EXPECT_TRUE(PostMessage(app.Handle(), LUMORA_MSG_ERROR, 0, ERR_PARAMETER));
    });
    poster.join();
    EXPECT_TRUE(app.Log().empty());
    ASSERT_TRUE(PumpMessagesUntil([&] { return app.Log().size() >= 2; }));
    ASSERT_EQ(app.Log().size(), 2u);
    EXPECT_EQ(app.Log()[0].message, static_cast<UINT>(LUMORA_MSG_FRAME));
    EXPECT_EQ(app.Log()[0].wParam, 0x1234u);
    EXPECT_EQ(app.Log()[1].message, static_cast<UINT>(LUMORA_MSG_ERROR));
    EXPECT_EQ(app.Log()[1].lParam, ERR_PARAMETER);
    for (const Received& r : app.Log()) EXPECT_EQ(r.thread, ::GetCurrentThreadId());
}

TEST(Win32Messages, AWindowThatIsGoneRefusesThePostInsteadOfReachingAnother) {
    HWND gone = nullptr;
    {
        AppWindow app;
        gone = app.Handle();
    }
    EXPECT_FALSE(PostMessage(gone, LUMORA_MSG_FRAME, 1, 0));
}

TEST(Win32Messages, TheSdkPostsFramesAndErrorsToTheApplicationsWindows) {
    AppWindow notify;
    AppWindow frames;
    ASSERT_NE(notify.Handle(), nullptr);
    ASSERT_NE(frames.Handle(), nullptr);
    LumoraSim_SetFastMode(1);
    ASSERT_EQ(LumoraSim_SetCameraCount(1), 1);
    const int handle = Lumora_Initialize(notify.Handle());
    ASSERT_NE(handle, 0);

    // A refused setting is an error message to the notification window.
    EXPECT_EQ(Lumora_SetColorMode(handle, 99), 0);
    ASSERT_TRUE(PumpMessagesUntil([&] { return CountOf(notify.Log(), LUMORA_MSG_ERROR) >= 1; }));
    EXPECT_EQ(notify.Log()[0].lParam, ERR_PARAMETER);

    // Frames of a callback preview go to the frame window, each with its frame information.
    ASSERT_NE(Lumora_SetColorMode(handle, 8), 0);
    const size_t stride = (static_cast<size_t>(Lumora_Width(handle)) + 3) & ~size_t{3};
    std::vector<unsigned char> buffer(stride * static_cast<size_t>(Lumora_Height(handle)));
    ASSERT_NE(Lumora_CallBackPreview(handle, frames.Handle(), buffer.data(),
                                     static_cast<int>(buffer.size()), 1),
              0);
    const bool got =
        PumpMessagesUntil([&] { return CountOf(frames.Log(), LUMORA_MSG_FRAME) >= 3; });
    Lumora_Close(handle);
    Lumora_Release(handle);
    ASSERT_TRUE(got);
    for (const Received& r : frames.Log()) {
        if (r.message == LUMORA_MSG_FRAME) {
            EXPECT_NE(r.wParam, 0u);
        }
    }
}

}  // namespace
}  // namespace lumora::platform

#endif  // _WIN32
