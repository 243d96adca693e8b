// The whole SDK, through its exports, on libusb over the emulated kernel interface: what an
// application sees with real cameras.
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "lumora/host.h"
#include "lumora/lumora.h"
#include "port/LibusbPort.h"
#include "sim/SimSensorModel.h"
#include "tests/usbdevfs/BenchWorld.h"
#include "tests/usbdevfs/BridgeInfoRequest.h"

extern char** environ;

namespace lumora::testing {
namespace {

using namespace std::chrono_literals;

constexpr unsigned kDeviceChange = 0x0219;
constexpr uintptr_t kArrival = 0x8000;

class RealCameraWorld : public ::testing::Test {
protected:
    void SetUp() override {
        LumoraSim_SetFastMode(1);
        events_ = LumoraHost_CreateQueueWindow();
        frames_ = LumoraHost_CreateQueueWindow();
    }
    void TearDown() override {
        for (int handle : handles_) {
            FinishesWithin(10s, "release", [handle] { Lumora_Release(handle); });
        }
        LumoraHost_DestroyWindow(frames_);
        LumoraHost_DestroyWindow(events_);
    }
    int Open() {
        const int handle = Lumora_Initialize(events_);
        EXPECT_NE(handle, 0);
        handles_.push_back(handle);
        return handle;
    }
    // Device number of bench camera `index` (its row's ordinal), found by its path's order.
    static std::vector<int> PresentDevices(int handle) {
        std::vector<int> devices;
        char name[64];
        for (int n = 0; n < 32; ++n) {
            if (Lumora_GetDeviceName(handle, n, name, sizeof name) == 1) devices.push_back(n);
        }
        while (Lumora_GetLastError(handle) != 0) {
        }
        return devices;
    }
    // Frame messages on the frame window within `limit`: (wParam, lParam) pairs.
    std::vector<LumoraHostMessage> Frames(size_t count, std::chrono::milliseconds limit) {
        std::vector<LumoraHostMessage> got;
        const auto end = std::chrono::steady_clock::now() + limit;
        LumoraHostMessage m{};
        while (got.size() < count && std::chrono::steady_clock::now() < end) {
            if (LumoraHost_WaitMessage(frames_, 50, &m) == 1 && m.message == 0x8002)
                got.push_back(m);
        }
        return got;
    }
    bool WaitArrival(std::chrono::milliseconds limit) {
        const auto end = std::chrono::steady_clock::now() + limit;
        LumoraHostMessage m{};
        while (std::chrono::steady_clock::now() < end) {
            if (LumoraHost_WaitMessage(events_, 50, &m) == 1 && m.message == kDeviceChange &&
                m.wParam == kArrival)
                return true;
        }
        return false;
    }
    int OpenCamera(int benchIndex) {
        const int h = Open();
        const auto devices = PresentDevices(h);
        EXPECT_EQ(devices.size(), 2u);
        if (devices.size() != 2u) return h;
        EXPECT_EQ(Lumora_SetDeviceNumber(h, devices[static_cast<size_t>(benchIndex)]), 1);
        return h;
    }

    HWND events_ = nullptr;
    HWND frames_ = nullptr;
    std::vector<int> handles_;
};

TEST_F(RealCameraWorld, TwoCamerasAreNumberedAndSnapshotsComeAtEightAndSixteenBits) {
    const int h = Open();
    const auto devices = PresentDevices(h);
    ASSERT_EQ(devices.size(), 2u);
    EXPECT_EQ(devices[0], 0);
    EXPECT_EQ(devices[1], 1);  // two cameras of one type: ordinals 0 and 1
    ASSERT_EQ(Lumora_SetDeviceNumber(h, devices[0]), 1);
    char serial[64] = {};
    ASSERT_EQ(Lumora_ReadSerialNumberA(h, serial, sizeof serial), 1);
    EXPECT_STREQ(serial, "EMU00001");

    ASSERT_EQ(Lumora_SetColorMode(h, 8), 1);
    const int pixels = Lumora_Width(h) * Lumora_Height(h);
    ASSERT_EQ(pixels, 2560 * 2048);
    std::vector<unsigned char> image(static_cast<size_t>(pixels) * 2);
    FinishesWithin(20s, "an 8-bit snapshot",
                   [&] { EXPECT_EQ(Lumora_SnapShot(h, image.data(), pixels, 1), 1); });
    unsigned char low = 255;
    unsigned char high = 0;
    for (int i = 0; i < pixels; i += 997) {
        low = std::min(low, image[static_cast<size_t>(i)]);
        high = std::max(high, image[static_cast<size_t>(i)]);
    }
    EXPECT_LT(low, high);  // a picture, not a constant

    ASSERT_EQ(Lumora_SetColorMode(h, 16), 1);
    FinishesWithin(20s, "a 16-bit snapshot",
                   [&] { EXPECT_EQ(Lumora_SnapShot(h, image.data(), pixels * 2, 1), 1); });
    EXPECT_EQ(Lumora_GetLastError(h), 0);
}

TEST_F(RealCameraWorld, CallbackPreviewDeliversFiftyFramesAndStops) {
    const int h = OpenCamera(0);
    ASSERT_EQ(Lumora_SetColorMode(h, 8), 1);
    ASSERT_EQ(Lumora_CallBackPreview(h, frames_, nullptr, 0, 1), 1);
    const auto frames = Frames(50, 30s);
    EXPECT_EQ(frames.size(), 50u);
    for (const auto& m : frames) EXPECT_NE(m.wParam, 0u);
    FinishesWithin(10s, "stop of the preview", [&] { EXPECT_EQ(Lumora_StopPreview(h), 1); });
}

TEST_F(RealCameraWorld, TriggerModeDeliversAFramePerTrigger) {
    const int h = OpenCamera(0);
    ASSERT_EQ(Lumora_SetColorMode(h, 8), 1);
    ASSERT_EQ(Lumora_Trigger(h, frames_, nullptr, 0, 1), 1);
    EXPECT_TRUE(Frames(1, 400ms).empty());  // nothing without a trigger
    std::vector<LumoraHostMessage> got;
    for (int attempt = 0; attempt < 50 && got.size() < 2; ++attempt) {
        auto& camera = BenchWorld::Camera(0)->Sim();
        {
            std::lock_guard lock(camera.Lock());
            auto* model = dynamic_cast<sim::SimSensorModel*>(&camera.Model());
            if (model && model->Triggered(camera)) model->FireTrigger(camera);
        }
        auto more = Frames(1, 200ms);
        got.insert(got.end(), more.begin(), more.end());
    }
    EXPECT_GE(got.size(), 2u);
    for (const auto& m : got) EXPECT_NE(m.wParam, 0u);
    FinishesWithin(10s, "close of a trigger run", [&] { EXPECT_EQ(Lumora_Close(h), 1); });
}

TEST_F(RealCameraWorld, RegistersAndStalledTransfersWork) {
    const int h = OpenCamera(0);
    int valid = 0;
    EXPECT_EQ(Lumora_WriteRegisterEx(h, 0x07C0, 0x34), 1);
    EXPECT_EQ(Lumora_ReadRegisterEx(h, 0x07C0, &valid), 0x34);
    EXPECT_EQ(valid, 1);
    ASSERT_EQ(Lumora_Fpga_WriteRegister(h, 0x07, 0x5A), 1);
    EXPECT_EQ(Lumora_Fpga_ReadRegister(h, 0x07, &valid), 0x5A);
    // A frame transfer that never completes is aborted at its time-out and the snapshot retried.
    ASSERT_EQ(Lumora_SetColorMode(h, 8), 1);
    BenchWorld::Camera(0)->Sim().InjectFault(sim::SimFault::BulkStall, 1, 0);
    FinishesWithin(20s, "a snapshot over a stalled transfer",
                   [&] { EXPECT_EQ(Lumora_SnapShot(h, nullptr, 0, 1), 1); });
    BenchWorld::Camera(0)->Sim().ClearFaults();
}

TEST_F(RealCameraWorld, UnplugDuringPreviewPostsOneDeviceLostAndAReplugStreamsAgain) {
    const int h = OpenCamera(0);
    ASSERT_EQ(Lumora_SetColorMode(h, 8), 1);
    ASSERT_EQ(Lumora_CallBackPreview(h, frames_, nullptr, 0, 1), 1);
    ASSERT_EQ(Frames(3, 10s).size(), 3u);
    BenchWorld::Unplug(0);
    int lost = 0;
    for (const auto& m : Frames(1000, 4s)) lost += m.wParam == 0 && m.lParam == ERR_DEVICE_LOST;
    EXPECT_EQ(lost, 1);
    FinishesWithin(10s, "stop after an unplug", [&] { Lumora_StopPreview(h); });

    BenchWorld::Replug(0);
    EXPECT_TRUE(WaitArrival(5s));
    const auto devices = PresentDevices(h);
    ASSERT_EQ(devices.size(), 2u);  // same port, same row
    ASSERT_EQ(Lumora_SetDeviceNumber(h, devices[0]), 1);
    ASSERT_EQ(Lumora_SetColorMode(h, 8), 1);
    ASSERT_EQ(Lumora_CallBackPreview(h, frames_, nullptr, 0, 1), 1);
    EXPECT_EQ(Frames(3, 10s).size(), 3u);
    FinishesWithin(10s, "stop after the replug", [&] { Lumora_StopPreview(h); });
}

TEST_F(RealCameraWorld, ASecondProcessIsRefusedWhileTheFirstKeepsStreaming) {
    const int h = OpenCamera(0);
    ASSERT_EQ(Lumora_SetColorMode(h, 8), 1);
    ASSERT_EQ(Lumora_CallBackPreview(h, frames_, nullptr, 0, 1), 1);
    ASSERT_EQ(Frames(2, 10s).size(), 2u);

    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) env.emplace_back(*e);
    env.emplace_back("LUMORA_BENCH_HELPER=second-open");
    std::vector<char*> envp;
    for (auto& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    std::string self = std::filesystem::read_symlink("/proc/self/exe");
    char* argv[] = {self.data(), nullptr};
    pid_t child = 0;
    ASSERT_EQ(::posix_spawn(&child, self.c_str(), nullptr, nullptr, argv, envp.data()), 0);
    int status = -1;
    FinishesWithin(30s, "the second process", [&] { ::waitpid(child, &status, 0); });
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "the second process opened a camera in use";
    EXPECT_EQ(Frames(5, 10s).size(), 5u);  // the first is undisturbed
    FinishesWithin(10s, "stop", [&] { Lumora_StopPreview(h); });
}

TEST_F(RealCameraWorld, ReleaseWithTransfersInFlightReturns) {
    const int h = OpenCamera(1);
    ASSERT_EQ(Lumora_SetColorMode(h, 8), 1);
    ASSERT_EQ(Lumora_CallBackPreview(h, frames_, nullptr, 0, 1), 1);
    ASSERT_EQ(Frames(1, 10s).size(), 1u);
    FinishesWithin(10s, "release during a preview", [&] { EXPECT_EQ(Lumora_Release(h), 1); });
    handles_.clear();
}

}  // namespace

// The second process: the camera the first one streams from must refuse it clearly and at
// once, while a presence check still finds it.
int RunHelperProcess() {
    const std::string path = BenchWorld::PathOf(0);
    if (path.empty()) return 3;
    uint32_t error = 0;
    auto file = platform::LibusbPort::Instance().Open(path, false, &error);
    if (!file) return 4;
    constexpr uint32_t kErrorBusy = 170;
    return ReadBridgeInfo(*file) == kErrorBusy ? 0 : 1;
}

}  // namespace lumora::testing
