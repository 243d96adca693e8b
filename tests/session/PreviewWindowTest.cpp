// The preview window: placement, class names, and frames drawn upright at any client size.
#include <gtest/gtest.h>

#include <memory>

#include "imaging/FramePipeline.h"
#include "lumora/host.h"
#include "platform/WindowOffscreen.h"
#include "session/PreviewWindow.h"

namespace lumora {
namespace {

class PreviewWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        system_ = std::make_shared<platform::OffscreenWindowSystem>(1920, 1080);
        platform::WindowSystem::Install(system_);
        parent_ = LumoraHost_CreateQueueWindow();
    }
    void TearDown() override {
        LumoraHost_DestroyWindow(parent_);
        platform::WindowSystem::Install(nullptr);
    }
    // A gray picture whose pixel (x, y) is 10 × y + x + 1.
    void MakePicture(int width, int height) {
        ASSERT_TRUE(images_.rawImage8.Create(width, height, 8));
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x)
                images_.rawImage8.Row(y)[x] = static_cast<uint8_t>(10 * y + x + 1);
        }
    }
    static uint32_t Gray(int v) { return static_cast<uint32_t>(v) * 0x010101u; }

    std::shared_ptr<platform::OffscreenWindowSystem> system_;
    HWND parent_ = nullptr;
    PipelineImages images_;
    ImageBuffer display_;
};

TEST_F(PreviewWindowTest, ChildWindowTakesThePlacementAndShowsThePictureUpright) {
    PreviewWindow preview;
    ASSERT_TRUE(preview.Create(this, PreviewPlacement{parent_, 0, 0, 4, 2}, 4, 2));
    platform::Window* window = preview.Get();
    EXPECT_EQ(window->Title(), "ActiveMovie Window");
    EXPECT_EQ(window->Style(), 0x52000000u);
    EXPECT_EQ(window->Parent(), parent_);
    MakePicture(4, 2);
    preview.Draw(0, images_, display_);
    const auto pixels = window->ClientPixels();
    EXPECT_EQ(pixels[0], Gray(1));   // top-left
    EXPECT_EQ(pixels[3], Gray(4));   // top-right
    EXPECT_EQ(pixels[4], Gray(11));  // bottom-left
}

TEST_F(PreviewWindowTest, ScaledDrawingKeepsThePictureUpright) {
    PreviewWindow preview;
    ASSERT_TRUE(preview.Create(this, PreviewPlacement{parent_, 0, 0, 2, 2}, 4, 4));
    MakePicture(4, 4);
    preview.Draw(0, images_, display_);
    const auto pixels = preview.Get()->ClientPixels();
    ASSERT_EQ(pixels.size(), 4u);
    // Rows are sampled from the picture's bottom up, every second one; columns from the left.
    EXPECT_EQ(pixels[0], Gray(11));  // picture row 1, column 0
    EXPECT_EQ(pixels[1], Gray(13));  // picture row 1, column 2
    EXPECT_EQ(pixels[2], Gray(31));  // picture row 3
    EXPECT_EQ(pixels[3], Gray(33));
}

TEST_F(PreviewWindowTest, SixteenBitFramesShowBitsFourToEleven) {
    PreviewWindow preview;
    ASSERT_TRUE(preview.Create(this, PreviewPlacement{parent_, 0, 0, 2, 1}, 2, 1));
    ASSERT_TRUE(images_.rawImage16.Create(2, 1, 16));
    ASSERT_TRUE(images_.rawImage8.Create(2, 1, 8));
    auto* samples = reinterpret_cast<uint16_t*>(images_.rawImage16.Row(0));
    samples[0] = 0x0ABC;
    samples[1] = 0x0FFF;
    // Same size as the client, yet mode 1 still goes through the scaled path.
    preview.Draw(1, images_, display_);
    const auto pixels = preview.Get()->ClientPixels();
    EXPECT_EQ(pixels[0], Gray(0xAB));
    EXPECT_EQ(pixels[1], Gray(0xFF));
}

TEST_F(PreviewWindowTest, TopLevelWindowIsCentredAndSizedToThePicture) {
    PreviewWindow preview;
    ASSERT_TRUE(preview.Create(this, PreviewPlacement{nullptr, 1, 1, 1, 1}, 1280, 1024));
    platform::Window* window = preview.Get();
    EXPECT_EQ(window->Title(), "Active Window");
    EXPECT_EQ(window->ClientWidth(), 1280);
    EXPECT_EQ(window->ClientHeight(), 1024);
    const platform::Rect frame = window->Frame();
    EXPECT_EQ(frame.left, (1920 - frame.Width()) / 2);
    EXPECT_EQ(frame.top, (1080 - frame.Height()) / 2);

    PreviewWindow huge;
    ASSERT_TRUE(huge.Create(this, PreviewPlacement{nullptr, 1, 1, 1, 1}, 2560, 2048));
    EXPECT_EQ(huge.Get()->Frame().left, 0);  // larger than the screen: placed at 0
    EXPECT_EQ(huge.Get()->Frame().top, 0);
}

TEST_F(PreviewWindowTest, EveryWindowGetsItsOwnClassAndCloseLeavesNothingBehind) {
    PreviewWindow first;
    PreviewWindow second;
    ASSERT_TRUE(first.Create(this, PreviewPlacement{parent_, 0, 0, 8, 8}, 8, 8));
    ASSERT_TRUE(second.Create(this, PreviewPlacement{parent_, 0, 0, 8, 8}, 8, 8));
    EXPECT_NE(first.ClassName(), second.ClassName());
    EXPECT_EQ(first.ClassName().rfind("VideoRenderer_", 0), 0u);
    // A second Create replaces the window and its class.
    ASSERT_TRUE(first.Create(this, PreviewPlacement{parent_, 0, 0, 8, 8}, 8, 8));
    EXPECT_EQ(system_->LiveWindowCount(), 2u);
    EXPECT_EQ(system_->ClassCount(), 2u);
    first.Close();
    second.Close();
    EXPECT_EQ(system_->LiveWindowCount(), 0u);
    EXPECT_EQ(system_->ClassCount(), 0u);
}

TEST_F(PreviewWindowTest, NoPlacementMeansNoWindow) {
    PreviewWindow preview;
    EXPECT_FALSE(preview.Create(this, PreviewPlacement{}, 8, 8));
    EXPECT_FALSE(preview.Exists());
    EXPECT_EQ(system_->ClassCount(), 0u);
    MakePicture(4, 2);
    preview.Draw(0, images_, display_);  // harmless
}

}  // namespace
}  // namespace lumora
