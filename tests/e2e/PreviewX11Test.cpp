// Preview runs with real X11 windows: the exports place and draw them, and run after run leaves
// no window, image, shared-memory segment or graphics context behind.
#include <gtest/gtest.h>

#include "SimFixture.h"
#include "X11TestDisplay.h"
#include "platform/WindowX11.h"

namespace lumora::testing {
namespace {

class PreviewX11 : public SimWorld {
protected:
    void SetUp() override {
        SimWorld::SetUp();
        LUMORA_REQUIRE_X11(app_);
        x11_ = platform::X11WindowSystem::Shared();
        ASSERT_NE(x11_, nullptr);
        platform::WindowSystem::Install(x11_);
        appWindow_ = app_.CreateAppWindow(700, 560);
        parent_ = LumoraHost_WrapX11Window(appWindow_);
        ASSERT_NE(parent_, nullptr);
    }
    void TearDown() override {
        SimWorld::TearDown();  // releases the sessions and their windows first
        platform::WindowSystem::Install(nullptr);
        if (parent_ != nullptr) LumoraHost_DestroyWindow(parent_);
        if (appWindow_ != 0) XDestroyWindow(app_.Get(), appWindow_);
    }

    X11TestDisplay app_;
    std::shared_ptr<platform::X11WindowSystem> x11_;
    ::Window appWindow_ = 0;
    HWND parent_ = nullptr;
};

TEST_F(PreviewX11, PreviewDrawsTheScaledPictureIntoAChildOfTheApplicationsWindow) {
    const int h = Open();
    ASSERT_EQ(Lumora_SetPreviewWindow(h, parent_, 0, 0, 640, 512), 1);
    ASSERT_EQ(Lumora_Preview(h), 1);
    ASSERT_TRUE(WaitUntil([&] { return app_.Children(appWindow_).size() == 1; }));
    const ::Window child = app_.Children(appWindow_)[0];
    EXPECT_EQ(app_.Name(child), "ActiveMovie Window");
    int x, y, width, height;
    ASSERT_TRUE(app_.Geometry(child, x, y, width, height));
    EXPECT_EQ(width, 640);
    EXPECT_EQ(height, 512);
    // The simulated scene is never black across a whole row.
    const platform::Window* window = Session(h)->Preview_().Get();
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(LumoraHost_GetX11Window(window->Handle()), child);
    EXPECT_TRUE(WaitUntil(
        [&] {
            const auto pixels = window->ClientPixels();
            size_t lit = 0;
            for (size_t i = 0; i < 640; ++i) lit += pixels[256 * 640 + i] != 0;
            return lit > 600;
        },
        15000));  // the first frame takes long under a sanitizer on a busy machine
    EXPECT_EQ(Lumora_Close(h), 1);
    EXPECT_TRUE(app_.Children(appWindow_).empty());
}

TEST_F(PreviewX11, StartStopCyclesLeaveNothingBehind) {
    const int h = Open();
    const int segmentsBefore = LiveSharedSegmentsOfThisProcess();
    const size_t errorsBefore = x11_->ErrorCount();
    for (int cycle = 0; cycle < 6; ++cycle) {
        // Child and top-level windows by turns, 8- and 16-bit.
        if (cycle % 2 == 0) {
            ASSERT_EQ(Lumora_SetPreviewWindow(h, parent_, 10, 10, 320 + cycle, 256), 1);
        } else {
            ASSERT_EQ(Lumora_SetPreviewWindow(h, nullptr, 1, 1, 1, 1), 1);
        }
        ASSERT_EQ(Lumora_SetColorMode(h, cycle % 4 < 2 ? 8 : 16), 1);
        ASSERT_EQ(Lumora_Preview(h), 1);
        EXPECT_TRUE(WaitUntil([&] { return x11_->Resources().windows == 1; }, 10000));
        ASSERT_EQ(Lumora_StopPreview(h), 1);
        ASSERT_EQ(Lumora_Close(h), 1);
        EXPECT_EQ(x11_->Resources().windows, 0u) << cycle;
    }
    x11_->Flush(1000);
    const platform::X11Resources left = x11_->Resources();
    EXPECT_EQ(left.windows, 0u);
    EXPECT_EQ(left.images, 0u);
    EXPECT_EQ(left.sharedSegments, 0u);
    EXPECT_EQ(left.graphicsContexts, 0u);
    EXPECT_EQ(LiveSharedSegmentsOfThisProcess(), segmentsBefore);
    EXPECT_TRUE(app_.Children(appWindow_).empty());
    EXPECT_EQ(x11_->ErrorCount(), errorsBefore);
}

TEST_F(PreviewX11, ClosingTheTopLevelWindowLeavesTheRunGoing) {
    const int h = Open();
    HWND frames = LumoraHost_CreateQueueWindow();
    ASSERT_EQ(Lumora_SetPreviewWindow(h, nullptr, 1, 1, 1, 1), 1);
    ASSERT_EQ(Lumora_CallBackPreview(h, frames, nullptr, 0, 0), 1);
    const platform::Window* window = Session(h)->Preview_().Get();
    ASSERT_NE(window, nullptr);
    app_.SendDelete(LumoraHost_GetX11Window(window->Handle()));
    ASSERT_TRUE(WaitUntil([&] { return !window->IsVisible(); }, 10000));
    Messages(frames);  // what came before the close
    const auto after = Messages(frames, 10000);
    ASSERT_FALSE(after.empty()) << "frames stopped with the window";
    EXPECT_NE(after.back().wParam, 0u);
    EXPECT_EQ(Lumora_Close(h), 1);
    LumoraHost_DestroyWindow(frames);
}

}  // namespace
}  // namespace lumora::testing
