// Faults at the seams between the session, the driver and the stored settings: runs started and
// stopped from several threads, settings of a session that never opened a camera, values that
// pass from one setter to another's stored field, and images read in another colour mode.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "SimFixture.h"
#include "io/CameraSettings.h"

namespace lumora::testing {
namespace {

using Clock = std::chrono::steady_clock;

bool HasCode(const std::vector<int>& codes, int code) {
    return std::find(codes.begin(), codes.end(), code) != codes.end();
}

// Runs `body` on two threads until `duration` has passed.
template <typename A, typename B>
void RaceFor(std::chrono::milliseconds duration, A a, B b) {
    std::atomic<bool> stop{false};
    std::thread first([&] {
        while (!stop.load()) a();
    });
    std::thread second([&] {
        while (!stop.load()) b();
    });
    std::this_thread::sleep_for(duration);
    stop = true;
    first.join();
    second.join();
}

// ---- runs and images from several threads --------------------------------------------------
// The races below assert little beyond the final state: what they prove is what the
// sanitizer builds see while they run. Under AddressSanitizer an image freed or rebuilt under
// a reader, or a run's buffers released while another run uses them, is a use after free;
// under ThreadSanitizer two runs preparing the capture at once, or a reader copying while a
// snapshot rebuilds, is a data race. In a plain build they show only that nothing deadlocks or
// crashes and that the session ends idle and usable. They carry the label `race`, so a
// sanitizer build can run them alone (ctest --preset tsan -L race).

TEST_F(SimWorld, SnapShotsFromIdleNeverRebuildTheImagesUnderAReader) {
    const int h = Open();
    ASSERT_EQ(Lumora_SetColorMode(h, 16), 1);
    ASSERT_EQ(Lumora_SetCaptureWindowEx(h, 2560, 0, 256, 2048, 0, 128), 1);
    ASSERT_EQ(Lumora_SnapShot(h, nullptr, 0, 1), 1);
    std::vector<unsigned char> image(256 * 128 * 2);
    std::atomic<int> shots{0}, reads{0};
    RaceFor(
        std::chrono::milliseconds(800), [&] { shots += Lumora_SnapShot(h, nullptr, 0, 1); },
        [&] { reads += Lumora_GetImage(h, image.data(), static_cast<int>(image.size()), 1); });
    EXPECT_GT(shots.load(), 0);
    EXPECT_GT(reads.load(), 0);
}

TEST_F(SimWorld, RunsStartedAndStoppedFromTwoThreadsNeverOverlap) {
    const int h = Open();
    ASSERT_EQ(Lumora_SetCaptureWindowEx(h, 2560, 0, 256, 2048, 0, 128), 1);
    std::vector<unsigned char> buffer(256 * 128 * 2);
    RaceFor(
        std::chrono::milliseconds(1000),
        [&] {
            Lumora_CallBackPreview(h, nullptr, buffer.data(), static_cast<int>(buffer.size()), 1);
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
            Lumora_StopPreview(h);
        },
        [&] {
            // Prepares from idle whenever the other thread has just stopped its run.
            Lumora_SnapShot(h, nullptr, 0, 1);
            Lumora_StartPreview(h);
            Lumora_StopPreview(h);
        });
    EXPECT_EQ(Lumora_StopPreview(h), 1);
    EXPECT_EQ(Session(h)->State(), kStateIdle);
    EXPECT_EQ(Lumora_SnapShot(h, nullptr, 0, 1), 1);  // still usable
}

TEST_F(SimWorld, ReadoutModeChangedDuringSnapshotsNeverReachesAPreparationHalfway) {
    const int h = Open();
    ASSERT_EQ(Lumora_SetCaptureWindowEx(h, 2560, 0, 256, 2048, 0, 128), 1);
    std::atomic<int> shots{0};
    RaceFor(
        std::chrono::milliseconds(600),
        [&] {
            Lumora_SetSubSample(h, 1);
            Lumora_SetSubSample(h, 0);
        },
        [&] { shots += Lumora_SnapShot(h, nullptr, 0, 1); });
    EXPECT_GT(shots.load(), 0);
    ASSERT_EQ(Lumora_SetSubSample(h, 0), 1);
    EXPECT_EQ(Lumora_GetSubSample(h), 0);
    EXPECT_EQ(Lumora_SnapShot(h, nullptr, 0, 1), 1);
}

TEST_F(SimWorld, CaptureWindowReadWhileAnotherThreadSetsItIsOneWindowOrTheOther) {
    const int h = Open();
    ASSERT_EQ(Lumora_SetCaptureWindowEx(h, 2560, 0, 256, 2048, 0, 128), 1);
    std::atomic<int> torn{0}, reads{0};
    RaceFor(
        std::chrono::milliseconds(600),
        [&] {
            Lumora_SetCaptureWindowEx(h, 2560, 0, 256, 2048, 0, 128);
            Lumora_SetCaptureWindowEx(h, 2560, 64, 512, 2048, 32, 256);
        },
        [&] {
            int ht = 0, hs = 0, he = 0, vt = 0, vs = 0, ve = 0;
            Lumora_GetCaptureWindowEx(h, &ht, &hs, &he, &vt, &vs, &ve);
            const bool first = hs == 0 && he == 256 && vs == 0 && ve == 128;
            const bool second = hs == 64 && he == 512 && vs == 32 && ve == 256;
            const int width = Lumora_Width(h);
            if (!(first || second) || (width != 256 && width != 512)) ++torn;
            ++reads;
        });
    EXPECT_GT(reads.load(), 0);
    EXPECT_EQ(torn.load(), 0);
}

// Only the picture of the last frame, and only in the colour mode asked for now: an image kept
// from an earlier mode would be an older capture, in a format the application no longer expects.
TEST_F(SimWorld, ImageReadIsTheLastFrameInTheCurrentColourModeOrNothing) {
    const int h = Open();
    ASSERT_EQ(Lumora_SetCaptureWindowEx(h, 2560, 0, 64, 2048, 0, 4), 1);
    std::vector<unsigned char> image(64 * 4 * 2);
    const int size = static_cast<int>(image.size());
    const std::string path = (configDir_ / "image.raw").string();
    ASSERT_EQ(Lumora_SetColorMode(h, 8), 1);
    EXPECT_EQ(Lumora_GetImage(h, image.data(), size, 1), 0);  // nothing taken yet
    EXPECT_EQ(Codes(h), std::vector<int>{ERR_NOT_READY});

    ASSERT_EQ(Lumora_SetColorMode(h, 16), 1);
    ASSERT_EQ(Lumora_SnapShot(h, nullptr, 0, 1), 1);
    ASSERT_EQ(Lumora_SetColorMode(h, 8), 1);
    ASSERT_EQ(Lumora_SnapShot(h, nullptr, 0, 1), 1);
    ASSERT_EQ(Lumora_SetColorMode(h, 16), 1);
    // The 16-bit picture is older than the last frame.
    EXPECT_EQ(Lumora_GetImage(h, image.data(), size, 1), 0);
    EXPECT_EQ(Lumora_SaveImage(h, path.c_str(), 1), 0);
    EXPECT_EQ(Codes(h), (std::vector<int>{ERR_NOT_READY, ERR_NOT_READY}));
    EXPECT_FALSE(std::filesystem::exists(path));

    ASSERT_EQ(Lumora_SetColorMode(h, 8), 1);
    EXPECT_EQ(Lumora_GetImage(h, image.data(), size, 1), 1);
    ASSERT_EQ(Lumora_SetColorMode(h, 16), 1);
    ASSERT_EQ(Lumora_SnapShot(h, nullptr, 0, 1), 1);
    EXPECT_EQ(Lumora_GetImage(h, image.data(), size, 1), 1);
    EXPECT_EQ(Lumora_SaveImage(h, path.c_str(), 1), 1);
    EXPECT_EQ(std::filesystem::file_size(path), image.size());
}

// An application sizes its buffer from Lumora_Width/Lumora_Height: during a run they tell the
// size of the frames it delivers, and a window set meanwhile shows from the next run on.
TEST_F(SimWorld, WidthAndHeightDuringARunAreThoseOfTheFramesItDelivers) {
    const int h = Open();
    ASSERT_EQ(Lumora_SetColorMode(h, 8), 1);
    ASSERT_EQ(Lumora_SetCaptureWindowEx(h, 2560, 0, 640, 2048, 0, 480), 1);
    HWND frames = LumoraHost_CreateQueueWindow();
    ASSERT_EQ(Lumora_CallBackPreview(h, frames, nullptr, 0, 1), 1);
    // The record a frame message points to; read once the run has stopped (it is rewritten for
    // each frame).
    auto waitFrame = [&] {
        LumoraHostMessage m{};
        for (int i = 0; i < 200; ++i) {
            if (LumoraHost_WaitMessage(frames, 50, &m) == 1 && m.message == LUMORA_MSG_FRAME &&
                m.wParam != 0) {
                return reinterpret_cast<const LUMORA_FRAME_INFO*>(m.wParam);
            }
        }
        return static_cast<const LUMORA_FRAME_INFO*>(nullptr);
    };
    ASSERT_NE(waitFrame(), nullptr);
    ASSERT_EQ(Lumora_SetCaptureWindowEx(h, 2560, 0, 320, 2048, 0, 240), 1);
    EXPECT_EQ(Lumora_Width(h), 640);
    EXPECT_EQ(Lumora_Height(h), 480);
    Messages(frames);
    const LUMORA_FRAME_INFO* info = waitFrame();
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(Lumora_StopPreview(h), 1);
    EXPECT_EQ(info->width, 640);
    EXPECT_EQ(info->height, 480);
    EXPECT_EQ(Lumora_Width(h), 320);
    EXPECT_EQ(Lumora_Height(h), 240);
    // Frame messages the first run posted after the one read above must not pass for the
    // second run's.
    Messages(frames);
    ASSERT_EQ(Lumora_CallBackPreview(h, frames, nullptr, 0, 1), 1);
    info = waitFrame();
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(Lumora_Width(h), 320);
    EXPECT_EQ(Lumora_StopPreview(h), 1);
    EXPECT_EQ(info->width, 320);
    LumoraHost_DestroyWindow(frames);
}

// The mask planes (some 70 MB) cost nothing until a mask operation or a correction needs them.
TEST_F(SimWorld, MaskPlanesAreMadeWhenFirstNeededNotAtInitialisation) {
    const int h = Open();
    ASSERT_EQ(Lumora_SetCaptureWindowEx(h, 2560, 0, 64, 2048, 0, 4), 1);
    ASSERT_EQ(Lumora_SnapShot(h, nullptr, 0, 1), 1);
    EXPECT_FALSE(Session(h)->MaskPlanesMade());
    const std::string path = (configDir_ / "masks.msk").string();
    EXPECT_EQ(Lumora_SaveMaskFile(h, path.c_str()), 1);
    EXPECT_TRUE(Session(h)->MaskPlanesMade());

    const int loading = Open();
    EXPECT_FALSE(Session(loading)->MaskPlanesMade());
    EXPECT_EQ(Lumora_LoadMaskFile(loading, path.c_str()), 1);
    EXPECT_TRUE(Session(loading)->MaskPlanesMade());

    const int correcting = Open();
    ASSERT_EQ(Lumora_SetFilterValue(correcting, 103, 1), 1);  // flat field on
    ASSERT_EQ(Lumora_SnapShot(correcting, nullptr, 0, 1), 1);
    EXPECT_TRUE(Session(correcting)->MaskPlanesMade());
    EXPECT_TRUE(Codes(h).empty());
    EXPECT_TRUE(Codes(correcting).empty());
}

TEST_F(SimWorld, RefusedOrUnchangedDeviceNumberLeavesThePreviewRunning) {
    const int h = Open();
    ASSERT_EQ(Lumora_SetCaptureWindowEx(h, 2560, 0, 64, 2048, 0, 4), 1);
    HWND frames = LumoraHost_CreateQueueWindow();
    std::vector<unsigned char> buffer(64 * 4 * 2);
    ASSERT_EQ(Lumora_CallBackPreview(h, frames, buffer.data(), static_cast<int>(buffer.size()), 1),
              1);
    EXPECT_EQ(Lumora_SetDeviceNumber(h, 0), 1);
    EXPECT_EQ(Lumora_SetDeviceNumber(h, 7), 0);
    EXPECT_EQ(Session(h)->State(), kStatePreview);
    Messages(frames);
    const auto later = Messages(frames, 2000);
    const bool framed = std::any_of(later.begin(), later.end(), [](const LumoraHostMessage& m) {
        return m.message == LUMORA_MSG_FRAME && m.wParam != 0;
    });
    EXPECT_TRUE(framed);
    EXPECT_EQ(Lumora_StopPreview(h), 1);
    LumoraHost_DestroyWindow(frames);
}

TEST_F(SimWorld, TriggerRunWithAZeroSizedBufferReportsMemoryPerFrame) {
    const int h = Open();
    ASSERT_EQ(Lumora_SetColorMode(h, 8), 1);
    ASSERT_EQ(Lumora_SetCaptureWindowEx(h, 2560, 0, 64, 2048, 0, 4), 1);
    HWND frames = LumoraHost_CreateQueueWindow();
    unsigned char buffer[16];
    ASSERT_EQ(Lumora_Trigger(h, frames, buffer, 0, 1), 1);
    std::vector<LumoraHostMessage> got;
    for (int attempt = 0; attempt < 50 && got.empty(); ++attempt) {
        LumoraSim_FireTrigger(0);
        for (const auto& m : Messages(frames, 200)) {
            if (m.message == LUMORA_MSG_FRAME) got.push_back(m);
        }
    }
    ASSERT_FALSE(got.empty());
    EXPECT_EQ(got.front().wParam, 0u);
    EXPECT_EQ(got.front().lParam, ERR_MEMORY);
    EXPECT_EQ(Lumora_Close(h), 1);
    EXPECT_TRUE(HasCode(Codes(h), ERR_MEMORY));
    LumoraHost_DestroyWindow(frames);
}

// ---- stored settings ---------------------------------------------------------------------------

int StoredGain(const platform::SettingsStore& store, const char* name) {
    const platform::SettingsKey root = store.Read();
    const platform::SettingsKey* gain = root.Open(CameraKeyPath(0) + "\\Gain");
    if (gain == nullptr) return -1;
    const auto value = gain->QueryDword(name);
    return value ? static_cast<int>(*value) : -1;
}

TEST_F(SimWorld, ASessionThatNeverOpensACameraKeepsCameraZerosSettings) {
    int h = Open();
    ASSERT_EQ(Lumora_SetGlobalGain(h, 300), 1);
    platform::SettingsStore store = Session(h)->Store();
    Release(h);
    ASSERT_EQ(StoredGain(store, "Global"), 300);

    LumoraSim_SetCameraCount(2);  // two cameras and none chosen
    h = Open();
    EXPECT_EQ(Session(h)->DeviceNumber(), -1);
    Release(h);
    EXPECT_EQ(StoredGain(store, "Global"), 300);

    LumoraSim_SetCameraCount(1);
    h = Open();
    EXPECT_EQ(Lumora_GetGlobalGain(h, nullptr), 300);
}

TEST_F(SimWorld, ColourGainsStoredByTheGlobalGainSurviveTheNextProcess) {
    int h = Open();
    ASSERT_EQ(Lumora_SetGlobalGain(h, 50), 1);
    platform::SettingsStore store = Session(h)->Store();
    Release(h);
    ASSERT_EQ(StoredGain(store, "ColorR"), 50);
    h = Open();
    Release(h);
    for (const char* name : {"ColorG1", "ColorR", "ColorB", "ColorG2"}) {
        EXPECT_EQ(StoredGain(store, name), 50) << name;
    }
}

TEST_F(SimWorld, ANewCameraKeyStoresTheColourModeTheCameraDelivers) {
    const int h = Open();
    const platform::SettingsKey root = Session(h)->Store().Read();
    const platform::SettingsKey* camera = root.Open(CameraKeyPath(0));
    ASSERT_NE(camera, nullptr);
    EXPECT_EQ(camera->QueryDword("Color"), 1u);  // 16-bit monochrome, not colour
    EXPECT_EQ(Lumora_GetColorMode(h), 16);
}

// ---- values that must reach their consumer ------------------------------------------------

TEST_F(SimWorld, FilterIdTwentyEightRunsOneGrayGainEstimate) {
    const int h = Open();
    ASSERT_EQ(Lumora_SetColorMode(h, 8), 1);
    ASSERT_EQ(Lumora_SetCaptureWindowEx(h, 2560, 0, 256, 2048, 0, 128), 1);
    ASSERT_EQ(Lumora_SetFilterValue(h, 19, 1), 1);  // gray mode 1
    for (int id = 20; id <= 23; ++id) ASSERT_EQ(Lumora_SetFilterValue(h, id, 200), 1);
    ASSERT_EQ(Lumora_SetFilterValue(h, 28, 1), 1);
    ASSERT_EQ(Lumora_SnapShot(h, nullptr, 0, 1), 1);
    EXPECT_EQ(Lumora_GetFilterValue(h, 21, nullptr), 128);  // G1 is the reference
    for (int id = 20; id <= 23; ++id) EXPECT_NE(Lumora_GetFilterValue(h, id, nullptr), 200);
    // One estimate only: gains set afterwards stay.
    ASSERT_EQ(Lumora_SetFilterValue(h, 21, 200), 1);
    ASSERT_EQ(Lumora_SnapShot(h, nullptr, 0, 1), 1);
    EXPECT_EQ(Lumora_GetFilterValue(h, 21, nullptr), 200);
}

TEST_F(SimWorld, FailedConfigurationMemoryAccessRecordsNotReady) {
    const int h = Open();
    Codes(h);
    ASSERT_EQ(LumoraSim_InjectFault(0, LUMORA_SIM_FAULT_EEPROM_WRITE, 100, 0), 1);
    EXPECT_EQ(Lumora_WriteSromID(h, 0x10, 0x5A), 0);
    EXPECT_TRUE(HasCode(Codes(h), ERR_NOT_READY));
    LumoraSim_ClearFaults(0);
    ASSERT_EQ(LumoraSim_InjectFault(0, LUMORA_SIM_FAULT_I2C_REFUSE, 100, 0), 1);
    int valid = 1;
    Lumora_ReadSromID(h, 0x10, &valid);
    LumoraSim_ClearFaults(0);
    EXPECT_EQ(valid, 0);
    EXPECT_TRUE(HasCode(Codes(h), ERR_NOT_READY));
}

}  // namespace
}  // namespace lumora::testing
