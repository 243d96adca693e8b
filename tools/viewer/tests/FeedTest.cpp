// The frame feed and the camera session on a simulated camera, without a display: frames the
// display does not take are skipped and counted rather than copied or queued, the frame taken
// is the session's image in the run's geometry, and a lost camera ends the run once.
#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <vector>

#include "CameraSession.h"
#include "ProfileSettings.h"
#include "SimCamera.h"

namespace lumora_viewer::testing {
namespace {

class FeedTest : public SimCameraWorld {
protected:
    void SetUp() override {
        SimCameraWorld::SetUp();
        notifications_ = LumoraHost_CreateQueueWindow();
        FrameFeed::Events events;
        events.frameReady = [this] {
            std::lock_guard<std::mutex> lock(mutex_);
            ++ready_;
            changed_.notify_all();
        };
        events.runEnded = [this](int code) {
            std::lock_guard<std::mutex> lock(mutex_);
            ended_.push_back(code);
            changed_.notify_all();
        };
        camera_ = std::make_unique<CameraSession>();
        ASSERT_TRUE(camera_->Initialize(notifications_, -1, events));
        ASSERT_TRUE(camera_->IsOpen());
        ASSERT_TRUE(camera_->SetBits(8));
        ASSERT_TRUE(camera_->SetWindow({0, 0, 320, 256}));
        // About 40 frames a second: enough to skip, little work for a loaded machine.
        ASSERT_TRUE(camera_->SetExposureMs(25));
    }
    void TearDown() override {
        camera_.reset();
        LumoraHost_DestroyWindow(notifications_);
        SimCameraWorld::TearDown();
    }
    // Waits until `done` holds (checked whenever the feed reports), up to `seconds`.
    bool Until(const std::function<bool()>& done, double seconds = 20) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, std::chrono::duration<double>(seconds), [&] {
            lock.unlock();
            const bool d = done();
            lock.lock();
            return d;
        });
    }
    bool UntilFigures(const std::function<bool(const FeedFigures&)>& done, double seconds = 20) {
        return WaitFor([&] { return done(camera_->Feed().Figures()); }, seconds,
                       [] { ::usleep(5000); });
    }
    int Ready() {
        std::lock_guard<std::mutex> lock(mutex_);
        return ready_;
    }

    HWND notifications_ = nullptr;
    std::unique_ptr<CameraSession> camera_;
    std::mutex mutex_;
    std::condition_variable changed_;
    int ready_ = 0;
    std::vector<int> ended_;
};

TEST_F(FeedTest, FramesTheDisplayDoesNotTakeAreSkippedAndCountedNotCopied) {
    ASSERT_TRUE(camera_->Start(RunMode::kFreeRunning));
    ASSERT_TRUE(Until([&] { return Ready() >= 1; }));
    // Nobody takes the first frame: every later one is skipped without a copy.
    ASSERT_TRUE(UntilFigures([](const FeedFigures& f) { return f.skipped >= 8; }));
    EXPECT_EQ(camera_->Feed().Figures().taken, 1u);
    EXPECT_EQ(Ready(), 1);

    const auto analysis = camera_->Feed().Take();
    ASSERT_NE(analysis, nullptr);
    EXPECT_EQ(analysis->frame->geometry, (FrameGeometry{320, 256, 8}));
    EXPECT_EQ(analysis->histogram.Total(), 320u * 256u);
    EXPECT_EQ(camera_->Feed().Take(), nullptr);
    ASSERT_TRUE(Until([&] { return Ready() >= 2; }));
    EXPECT_NE(camera_->Feed().Take(), nullptr);
    camera_->Stop();

    const FeedFigures f = camera_->Feed().Figures();
    EXPECT_EQ(f.taken, 2u);
    EXPECT_EQ(f.shown, 2u);
    EXPECT_EQ(f.failed, 0u);
    // Every frame announced while the feed listened was either taken or skipped.
    EXPECT_LE(f.taken + f.skipped, camera_->StreamStats().framesDelivered);
}

TEST_F(FeedTest, TheFrameTakenIsTheSessionsImageInTheRunsGeometry) {
    LumoraSim_SetStaticScene(1);
    ASSERT_TRUE(camera_->SetBits(16));
    ASSERT_TRUE(camera_->SetWindow({64, 32, 256, 128}));
    ASSERT_TRUE(camera_->Start(RunMode::kFreeRunning));
    std::shared_ptr<const Analysis> a;
    ASSERT_TRUE(Until([&] { return (a = camera_->Feed().Take()) != nullptr; }));
    camera_->Stop();
    ASSERT_EQ(a->frame->geometry, (FrameGeometry{256, 128, 16}));
    // A still scene gives the same image again: the session's newest, top row first.
    std::vector<uint8_t> image(a->frame->geometry.Bytes());
    ASSERT_EQ(Lumora_GetImage(camera_->Handle(), image.data(), static_cast<int>(image.size()), 1),
              1);
    EXPECT_TRUE(image == a->frame->pixels);
    EXPECT_LE(a->histogram.Percentile(1.0), 4095);
}

TEST_F(FeedTest, AChangedBitDepthReachesTheFeedBeforeItsFirstFrame) {
    ASSERT_TRUE(camera_->Start(RunMode::kFreeRunning));
    ASSERT_TRUE(Until([&] { return camera_->Feed().Take() != nullptr; }));
    ASSERT_TRUE(camera_->SetBits(16));
    EXPECT_EQ(camera_->Mode(), RunMode::kFreeRunning);
    // Every frame after the change is a whole 16-bit frame of 12-bit values.
    for (int i = 0; i < 3; ++i) {
        std::shared_ptr<const Analysis> a;
        ASSERT_TRUE(Until([&] { return (a = camera_->Feed().Take()) != nullptr; }));
        EXPECT_EQ(a->frame->geometry, (FrameGeometry{320, 256, 16}));
        EXPECT_LE(a->histogram.Percentile(1.0), 4095);
        EXPECT_GT(a->histogram.Mean(), 16.0) << "an 8-bit frame read as 16-bit words";
    }
    EXPECT_EQ(camera_->Feed().Figures().failed, 0u);
}

TEST_F(FeedTest, AFrameLeftUntakenInOneRunDoesNotHoldUpTheNext) {
    // The display may never take a run's last frame (the run ended with the camera lost while
    // the frame's wake was pending); the next run must bring frames all the same.
    ASSERT_TRUE(camera_->Start(RunMode::kFreeRunning));
    ASSERT_TRUE(Until([&] { return Ready() >= 1; }));
    camera_->Stop();
    ASSERT_TRUE(camera_->SetWindow({0, 0, 640, 480}));
    ASSERT_TRUE(camera_->Start(RunMode::kFreeRunning));
    ASSERT_TRUE(Until([&] { return Ready() >= 2; }));
    const auto a = camera_->Feed().Take();
    camera_->Stop();
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->frame->geometry, (FrameGeometry{640, 480, 8}));
}

TEST_F(FeedTest, APausedFeedCopiesNothing) {
    ASSERT_TRUE(camera_->Start(RunMode::kFreeRunning));
    ASSERT_TRUE(Until([&] { return camera_->Feed().Take() != nullptr; }));
    camera_->Feed().Pause();
    const uint64_t taken = camera_->Feed().Figures().taken;
    const uint64_t delivered = camera_->StreamStats().framesDelivered;
    ASSERT_TRUE(WaitFor([&] { return camera_->StreamStats().framesDelivered >= delivered + 5; }, 20,
                        [] { ::usleep(5000); }));
    EXPECT_EQ(camera_->Feed().Figures().taken, taken);
    EXPECT_EQ(camera_->Feed().Take(), nullptr);
}

TEST_F(FeedTest, AnUnpluggedCameraEndsTheRunOnceWithItsCode) {
    ASSERT_TRUE(camera_->Start(RunMode::kFreeRunning));
    ASSERT_TRUE(Until([&] { return Ready() >= 1; }));
    ASSERT_EQ(LumoraSim_Unplug(0), 1);
    ASSERT_TRUE(Until([&] {
        std::lock_guard<std::mutex> lock(mutex_);
        return !ended_.empty();
    }));
    camera_->Lost();
    EXPECT_FALSE(camera_->IsOpen());
    std::lock_guard<std::mutex> lock(mutex_);
    EXPECT_EQ(ended_, std::vector<int>{ERR_DEVICE_LOST});
}

TEST_F(FeedTest, AProfileRoundTripsThroughTheCameraAndBadLinesAreNamed) {
    ASSERT_TRUE(camera_->SetBits(16));
    ASSERT_TRUE(camera_->SetWindow({64, 32, 640, 480}));
    ASSERT_TRUE(camera_->SetGain(50));
    ASSERT_TRUE(camera_->SetExposureMs(20));
    ASSERT_TRUE(camera_->SetFilter(kFilterBrightness, 10));
    ASSERT_TRUE(camera_->SetMirrorH(true));
    const SettingsProfile saved = CollectProfile(*camera_);

    ASSERT_TRUE(camera_->SetBits(8));
    ASSERT_TRUE(camera_->SetWindow(SensorWindow{}));
    ASSERT_TRUE(camera_->SetGain(7));
    ASSERT_TRUE(camera_->SetExposureMs(3));
    ASSERT_TRUE(camera_->SetFilter(kFilterBrightness, 0));
    ASSERT_TRUE(camera_->SetMirrorH(false));
    std::vector<std::string> problems;
    const auto parsed = SettingsProfile::Parse(saved.Text(), problems);
    ASSERT_TRUE(parsed);
    EXPECT_TRUE(ApplyProfile(*camera_, *parsed).empty());
    EXPECT_EQ(camera_->Bits(), 16);
    EXPECT_EQ(camera_->Window(), (SensorWindow{64, 32, 640, 480}));
    EXPECT_EQ(camera_->Gain(), 50);
    EXPECT_NEAR(camera_->ExposureMs(), 20, 0.1);
    EXPECT_EQ(camera_->Filter(kFilterBrightness), 10);
    EXPECT_TRUE(camera_->MirrorH());

    SettingsProfile bad;
    bad.Set("gain", "lots");
    bad.Set("window", "3 0 100 100");
    bad.Set("bits", "12");
    bad.Set("colour", "1");
    bad.Set("brightness", "300");
    bad.Set("contrast", "-20");
    problems = ApplyProfile(*camera_, bad);
    ASSERT_EQ(problems.size(), 5u);
    EXPECT_EQ(problems[0], "colour: not a setting of this viewer");
    EXPECT_EQ(camera_->Filter(kFilterContrast), -20) << "good lines apply beside bad ones";
    EXPECT_EQ(camera_->Gain(), 50);
    EXPECT_EQ(camera_->Window(), (SensorWindow{64, 32, 640, 480}));
}

}  // namespace
}  // namespace lumora_viewer::testing
