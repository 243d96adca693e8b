// The preview window on a real X server: placement, names and centring as the server reports
// them, and pixels read back from the server equal to what the offscreen windows keep for the
// same frames.
#include <gtest/gtest.h>

#include <memory>

#include "X11TestDisplay.h"
#include "imaging/FramePipeline.h"
#include "lumora/host.h"
#include "platform/WindowOffscreen.h"
#include "platform/WindowX11.h"
#include "session/PreviewWindow.h"

namespace lumora {
namespace {

using lumora::testing::X11TestDisplay;

struct DrawCase {
    const char* name;
    int colorMode;
    int pictureWidth;
    int pictureHeight;
    int clientWidth;
    int clientHeight;
};

// Frames with a pattern in which every row and column differs, so a flip, a shift or a wrong
// sampling rule shows.
void MakeFrames(PipelineImages& images, int mode, int width, int height) {
    switch (mode) {
        case 0:
            ASSERT_TRUE(images.rawImage8.Create(width, height, 8));
            for (int y = 0; y < height; ++y) {
                for (int x = 0; x < width; ++x) {
                    images.rawImage8.Row(y)[x] = static_cast<uint8_t>(7 * x + 13 * y);
                }
            }
            break;
        case 1: {
            ASSERT_TRUE(images.rawImage16.Create(width, height, 16));
            ASSERT_TRUE(images.rawImage8.Create(width, height, 8));
            for (int y = 0; y < height; ++y) {
                auto* row = reinterpret_cast<uint16_t*>(images.rawImage16.Row(y));
                for (int x = 0; x < width; ++x)
                    row[x] = static_cast<uint16_t>((37 * x + 91 * y) & 0xFFF);
            }
            break;
        }
        default:
            ASSERT_TRUE(images.colorImage24.Create(width, height, 24));
            for (int y = 0; y < height; ++y) {
                for (int x = 0; x < width; ++x) {
                    uint8_t* p = images.colorImage24.Row(y) + 3 * x;
                    p[0] = static_cast<uint8_t>(5 * x);
                    p[1] = static_cast<uint8_t>(11 * y);
                    p[2] = static_cast<uint8_t>(x + 3 * y);
                }
            }
            break;
    }
}

class PreviewWindowX11Test : public ::testing::TestWithParam<DrawCase> {
protected:
    void SetUp() override {
        LUMORA_REQUIRE_X11(app_);
        x11_ = platform::X11WindowSystem::Open();
        ASSERT_NE(x11_, nullptr);
        appWindow_ = app_.CreateAppWindow(400, 300);
        parent_ = LumoraHost_WrapX11Window(appWindow_);
        ASSERT_NE(parent_, nullptr);
    }
    void TearDown() override {
        platform::WindowSystem::Install(nullptr);
        if (parent_ != nullptr) LumoraHost_DestroyWindow(parent_);
        if (appWindow_ != 0) XDestroyWindow(app_.Get(), appWindow_);
    }
    // What the backend shows for the case, read back from it.
    std::vector<uint32_t> Shown(std::shared_ptr<platform::WindowSystem> system, HWND parent,
                                const DrawCase& c) {
        platform::WindowSystem::Install(system);
        PreviewWindow preview;
        EXPECT_TRUE(preview.Create(this,
                                   PreviewPlacement{parent, 3, 4, c.clientWidth, c.clientHeight},
                                   c.pictureWidth, c.pictureHeight));
        if (!preview.Exists()) return {};
        PipelineImages images;
        ImageBuffer display;
        MakeFrames(images, c.colorMode, c.pictureWidth, c.pictureHeight);
        preview.Draw(c.colorMode, images, display);
        // A second frame through the same display image, as a run draws them.
        preview.Draw(c.colorMode, images, display);
        auto pixels = preview.Get()->ClientPixels();
        preview.Close();
        platform::WindowSystem::Install(nullptr);
        return pixels;
    }

    X11TestDisplay app_;
    std::shared_ptr<platform::X11WindowSystem> x11_;
    ::Window appWindow_ = 0;
    HWND parent_ = nullptr;
};

TEST_P(PreviewWindowX11Test, ServerShowsWhatTheOffscreenWindowKeeps) {
    const DrawCase c = GetParam();
    HWND queue = LumoraHost_CreateQueueWindow();
    const auto expected = Shown(std::make_shared<platform::OffscreenWindowSystem>(), queue, c);
    LumoraHost_DestroyWindow(queue);
    const auto shown = Shown(x11_, parent_, c);
    ASSERT_EQ(shown.size(), static_cast<size_t>(c.clientWidth) * c.clientHeight);
    ASSERT_EQ(expected.size(), shown.size());
    size_t differing = 0;
    for (size_t i = 0; i < shown.size(); ++i) differing += shown[i] != expected[i];
    EXPECT_EQ(differing, 0u) << "first pixels " << std::hex << shown[0] << " vs " << expected[0];
    EXPECT_EQ(x11_->ErrorCount(), 0u);
}

INSTANTIATE_TEST_SUITE_P(SameSizeAndScaled, PreviewWindowX11Test,
                         ::testing::Values(DrawCase{"Gray8SameSize", 0, 64, 48, 64, 48},
                                           DrawCase{"Gray8Down", 0, 160, 128, 40, 32},
                                           DrawCase{"Gray8UpOdd", 0, 30, 20, 77, 51},
                                           DrawCase{"Gray16SameSize", 1, 64, 48, 64, 48},
                                           DrawCase{"Gray16Down", 1, 160, 128, 64, 51},
                                           DrawCase{"Color24SameSize", 2, 33, 17, 33, 17},
                                           DrawCase{"Color24Down", 2, 120, 90, 41, 30}),
                         [](const auto& param) { return std::string(param.param.name); });

TEST(PreviewWindowOnX11, ChildAndTopLevelAreWhereAndWhatTheyShouldBe) {
    X11TestDisplay app;
    LUMORA_REQUIRE_X11(app);
    auto x11 = platform::X11WindowSystem::Open();
    ASSERT_NE(x11, nullptr);
    platform::WindowSystem::Install(x11);
    const ::Window appWindow = app.CreateAppWindow(700, 600);
    HWND parent = LumoraHost_WrapX11Window(appWindow);

    PreviewWindow child;
    ASSERT_TRUE(child.Create(this, PreviewPlacement{parent, 0, 0, 640, 512}, 2560, 2048));
    const unsigned long childId = LumoraHost_GetX11Window(child.Get()->Handle());
    EXPECT_EQ(app.ParentOf(childId), appWindow);
    EXPECT_EQ(app.Name(childId), "ActiveMovie Window");
    int x, y, width, height;
    ASSERT_TRUE(app.Geometry(childId, x, y, width, height));
    EXPECT_EQ(x, 0);
    EXPECT_EQ(y, 0);
    EXPECT_EQ(width, 640);
    EXPECT_EQ(height, 512);

    // A top-level window with the picture's client size, centred on the screen, at 0 on an axis
    // where it is larger than the screen.
    const int screenWidth = DisplayWidth(app.Get(), DefaultScreen(app.Get()));
    const int screenHeight = DisplayHeight(app.Get(), DefaultScreen(app.Get()));
    PreviewWindow top;
    ASSERT_TRUE(top.Create(this, PreviewPlacement{nullptr, 1, 1, 1, 1}, 640, 480));
    const unsigned long topId = LumoraHost_GetX11Window(top.Get()->Handle());
    EXPECT_EQ(app.Name(topId), "Active Window");
    ASSERT_TRUE(app.Geometry(topId, x, y, width, height));
    EXPECT_EQ(width, 640);
    EXPECT_EQ(height, 480);
    const platform::Rect frame = top.Get()->Frame();
    EXPECT_EQ(frame.left, (screenWidth - frame.Width()) / 2);
    EXPECT_EQ(frame.top, (screenHeight - frame.Height()) / 2);
    ::Window unused = 0;
    int rootX = 0;
    int rootY = 0;
    XTranslateCoordinates(app.Get(), topId, app.Root(), 0, 0, &rootX, &rootY, &unused);
    // The client area lies inside the frame (without a window manager, it is the frame).
    EXPECT_GE(rootX, frame.left);
    EXPECT_GE(rootY, frame.top);
    EXPECT_LE(rootX + width, frame.right);
    EXPECT_LE(rootY + height, frame.bottom);

    PreviewWindow huge;
    ASSERT_TRUE(huge.Create(this, PreviewPlacement{nullptr, 1, 1, 1, 1}, screenWidth + 100,
                            screenHeight + 100));
    EXPECT_EQ(huge.Get()->Frame().left, 0);
    EXPECT_EQ(huge.Get()->Frame().top, 0);
    child.Close();
    top.Close();
    huge.Close();
    EXPECT_EQ(app.Children(appWindow).size(), 0u);
    EXPECT_EQ(x11->Resources().windows, 0u);
    platform::WindowSystem::Install(nullptr);
    LumoraHost_DestroyWindow(parent);
    XDestroyWindow(app.Get(), appWindow);
}

}  // namespace
}  // namespace lumora
