// The camera and its cable misbehaving under every kind of operation: each case bounds the time
// the failing call takes, checks what it reports, and that the next operation works. Every case
// ends with as many threads and open descriptors as the process had before it began.

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>
#include <thread>
#include <utility>

#include "ProcessEntries.h"
#include "SimFixture.h"
#include "sim/SimCameraSet.h"

namespace lumora::testing {
namespace {

constexpr int kFull8 = 2560 * 2048;

struct Resources {
    int threads = 0;
    int descriptors = 0;
};

Resources Now() {
    return {CountEntries("/proc/self/task"), CountEntries("/proc/self/fd") - 1};
}

bool WaitUntil(long ms, const std::function<bool()>& condition) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end) return condition();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

class FaultMatrix : public SimWorld {
protected:
    static void SetUpTestSuite() {
        // Whatever the process starts once and keeps (pools, the first session's tables) is
        // started here, before any case counts.
        const auto home = std::filesystem::temp_directory_path() /
                          ("lumora-e2e-warm-" + std::to_string(::getpid()));
        std::filesystem::create_directories(home);
        ::setenv("LUMORA_CONFIG_HOME", home.c_str(), 1);
        LumoraSim_SetFastMode(1);
        LumoraSim_SetCameraCount(1);
        const int h = Lumora_Initialize(nullptr);
        Lumora_SetColorMode(h, 8);
        Lumora_SnapShot(h, nullptr, 0, 1);
        Lumora_Release(h);
        LumoraSim_SetCameraCount(0);
        std::filesystem::remove_all(home);
    }
    void SetUp() override {
        start_ = Now();
        SimWorld::SetUp();
    }
    void TearDown() override {
        SimWorld::TearDown();
        // Joined threads leave the task list at once, but a released session's last files may
        // close a moment later.
        WaitUntil(3000, [&] {
            const Resources now = Now();
            return now.threads <= start_.threads && now.descriptors <= start_.descriptors;
        });
        const Resources end = Now();
        EXPECT_LE(end.threads, start_.threads) << "threads left behind";
        EXPECT_LE(end.descriptors, start_.descriptors) << "descriptors left open";
    }

    // Milliseconds `call` took.
    template <typename Call>
    static long Timed(Call&& call) {
        const auto start = std::chrono::steady_clock::now();
        call();
        return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                     std::chrono::steady_clock::now() - start)
                                     .count());
    }
    static bool Has(const std::vector<int>& codes, int code) {
        return std::find(codes.begin(), codes.end(), code) != codes.end();
    }
    int OpenEight() {
        const int h = Open();
        EXPECT_EQ(Lumora_SetColorMode(h, 8), 1);
        return h;
    }
    std::vector<unsigned char> image_ = std::vector<unsigned char>(kFull8);
    int Snap(int h) { return Lumora_SnapShot(h, image_.data(), kFull8, 1); }

    // Frame messages (wParam, lParam) until `count` arrived or `ms` passed.
    static std::vector<LumoraHostMessage> Frames(HWND window, size_t count, long ms) {
        std::vector<LumoraHostMessage> got;
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        LumoraHostMessage m{};
        while (got.size() < count && std::chrono::steady_clock::now() < end) {
            if (LumoraHost_WaitMessage(window, 50, &m) == 1 && m.message == LUMORA_MSG_FRAME)
                got.push_back(m);
        }
        return got;
    }
    // The frame messages already queued, without waiting.
    static std::vector<LumoraHostMessage> Drain(HWND window) {
        std::vector<LumoraHostMessage> got;
        for (const auto& m : Messages(window))
            if (m.message == LUMORA_MSG_FRAME) got.push_back(m);
        return got;
    }
    static size_t Delivered(const std::vector<LumoraHostMessage>& frames) {
        return static_cast<size_t>(std::count_if(frames.begin(), frames.end(),
                                                 [](const auto& m) { return m.wParam != 0; }));
    }
    // Frames the camera has sent, whole or spoilt.
    static uint64_t FramesSent() { return sim::SimCameraSet::Instance().Camera(0)->FramesSent(); }
    static int FaultsPending() { return sim::SimCameraSet::Instance().Camera(0)->FaultsPending(); }
    // The frame messages as "frame" or the code each carried.
    static std::string Described(const std::vector<LumoraHostMessage>& frames) {
        std::string text;
        for (const auto& m : frames)
            text += m.wParam != 0 ? "frame " : "code " + std::to_string(m.lParam) + " ";
        return text;
    }
    // Waits for the run to announce its end: a frame message without a frame, carrying `code`.
    static long WaitEndOfRun(HWND window, int code, long ms) {
        const auto start = std::chrono::steady_clock::now();
        const auto end = start + std::chrono::milliseconds(ms);
        LumoraHostMessage m{};
        while (std::chrono::steady_clock::now() < end) {
            if (LumoraHost_WaitMessage(window, 50, &m) == 1 && m.message == LUMORA_MSG_FRAME &&
                m.wParam == 0 && m.lParam == code)
                break;
        }
        return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                     std::chrono::steady_clock::now() - start)
                                     .count());
    }
    // True when the notification window was told of `code`.
    bool Told(int code) {
        for (const auto& m : Messages(events_))
            if (m.message == LUMORA_MSG_ERROR && m.lParam == code) return true;
        return false;
    }
    // Chooses the one camera present again (after a replug) and sets the 8-bit mode.
    static void ChooseAgain(int h) {
        char names[10 * 256];
        ASSERT_EQ(Lumora_EnumDevice(h, names), 1);
        const auto devices = PresentDevices(h);
        ASSERT_EQ(devices.size(), 1u);
        ASSERT_EQ(Lumora_SetDeviceNumber(h, devices[0]), 1);
        ASSERT_EQ(Lumora_SetColorMode(h, 8), 1);
    }

    Resources start_;
};

TEST_F(FaultMatrix, UnplugWhileIdleFailsTheNextSnapshotPromptlyAndReplugRecovers) {
    const int h = OpenEight();
    ASSERT_EQ(LumoraSim_Unplug(0), 1);
    int result = 1;
    EXPECT_LT(Timed([&] { result = Snap(h); }), 10000);
    EXPECT_EQ(result, 0);
    EXPECT_FALSE(Codes(h).empty());
    ASSERT_EQ(LumoraSim_Replug(0), 1);
    // The same port: choosing the camera again opens it afresh.
    const auto devices = PresentDevices(h);
    ASSERT_EQ(devices.size(), 1u);
    ASSERT_EQ(Lumora_SetDeviceNumber(h, devices[0]), 1);
    EXPECT_EQ(Snap(h), 1);
}

TEST_F(FaultMatrix, UnplugDuringASnapshotFailsItPromptlyAndACameraOnANewPortServesTheNext) {
    const int h = OpenEight();
    ASSERT_EQ(Snap(h), 1);
    Messages(events_);
    // The frame transfer hangs, so the cable is pulled while the snapshot waits for it.
    ASSERT_EQ(LumoraSim_InjectFault(0, LUMORA_SIM_FAULT_BULK_STALL, 1000, 0), 1);
    int result = 1;
    long took = 0;
    std::thread snapshot([&] { took = Timed([&] { result = Snap(h); }); });
    EXPECT_TRUE(WaitUntil(5000, [] { return LumoraSim_GetPendingTransfers(0) > 0; }));
    ASSERT_EQ(LumoraSim_Unplug(0), 1);
    snapshot.join();
    EXPECT_LT(took, 10000);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(Codes(h), std::vector<int>{ERR_FRAME});
    EXPECT_TRUE(Told(ERR_FRAME));
    EXPECT_EQ(LumoraSim_GetPendingTransfers(0), 0);

    LumoraSim_ClearFaults(0);
    ASSERT_EQ(LumoraSim_ReplugOnNewPort(0), 1);
    ChooseAgain(h);
    EXPECT_EQ(Snap(h), 1);
    EXPECT_TRUE(Codes(h).empty());
}

TEST_F(FaultMatrix, UnplugDuringARunningPreviewEndsItOnceAndAReplugPreviewsAgain) {
    const int h = OpenEight();
    HWND frames = LumoraHost_CreateQueueWindow();
    ASSERT_EQ(Lumora_CallBackPreview(h, frames, nullptr, 0, 1), 1);
    ASSERT_EQ(Delivered(Frames(frames, 3, 10000)), 3u);
    Messages(events_);
    ASSERT_EQ(LumoraSim_Unplug(0), 1);
    EXPECT_LT(WaitEndOfRun(frames, ERR_DEVICE_LOST, 10000), 10000);
    EXPECT_LT(Timed([&] { EXPECT_EQ(Lumora_StopPreview(h), 1); }), 5000);
    EXPECT_EQ(Codes(h), std::vector<int>{ERR_DEVICE_LOST});
    EXPECT_TRUE(Told(ERR_DEVICE_LOST));
    // Nothing more comes of the ended run.
    EXPECT_TRUE(Frames(frames, 1, 200).empty());

    ASSERT_EQ(LumoraSim_Replug(0), 1);
    ChooseAgain(h);
    ASSERT_EQ(Lumora_CallBackPreview(h, frames, nullptr, 0, 1), 1);
    EXPECT_EQ(Delivered(Frames(frames, 3, 10000)), 3u);
    EXPECT_LT(Timed([&] { EXPECT_EQ(Lumora_StopPreview(h), 1); }), 5000);
    EXPECT_TRUE(Codes(h).empty());
    LumoraHost_DestroyWindow(frames);
}

TEST_F(FaultMatrix, ACameraBackOnTheSamePortIsOpenedAfreshWithItsWindow) {
    // A replugged camera is powered on anew with its default (full) window: choosing it again
    // must bring it up and program the session's window, or every frame is the wrong size.
    const int h = OpenEight();
    ASSERT_EQ(Lumora_SetCaptureWindowEx(h, 2560, 64, 320, 2048, 32, 256), 1);
    HWND frames = LumoraHost_CreateQueueWindow();
    ASSERT_EQ(Lumora_CallBackPreview(h, frames, nullptr, 0, 1), 1);
    ASSERT_EQ(Delivered(Frames(frames, 3, 10000)), 3u);
    ASSERT_EQ(LumoraSim_Unplug(0), 1);
    EXPECT_LT(WaitEndOfRun(frames, ERR_DEVICE_LOST, 10000), 10000);
    EXPECT_EQ(Lumora_StopPreview(h), 1);
    Codes(h);

    ASSERT_EQ(LumoraSim_Replug(0), 1);
    ChooseAgain(h);
    ASSERT_EQ(Lumora_CallBackPreview(h, frames, nullptr, 0, 1), 1);
    const auto after = Frames(frames, 3, 10000);
    EXPECT_EQ(Delivered(after), 3u) << Described(after);
    ASSERT_FALSE(after.empty());
    if (after.front().wParam != 0) {
        const auto* info = reinterpret_cast<const LUMORA_FRAME_INFO*>(after.front().wParam);
        EXPECT_EQ(info->width, 320);
        EXPECT_EQ(info->height, 256);
    }
    EXPECT_EQ(Lumora_StopPreview(h), 1);
    EXPECT_TRUE(Codes(h).empty());
    LumoraHost_DestroyWindow(frames);
}

// Failed bulk transfers are retried inside the frame's header read, so a run rides out a few
// of them; frames the camera spoils on the way count one failure each, and the fifth in a row
// ends the run as a lost device.
TEST_F(FaultMatrix, FailedTransfersDuringARunningStreamAreRiddenOutUntilFiveFramesInARowFail) {
    const int h = OpenEight();
    HWND frames = LumoraHost_CreateQueueWindow();
    ASSERT_EQ(Lumora_CallBackPreview(h, frames, nullptr, 0, 1), 1);
    ASSERT_EQ(Delivered(Frames(frames, 2, 10000)), 2u);
    // Each round ends only when the camera has spent every fault and the driver has taken a
    // whole frame after them, so the next round's faults never join this round's into a longer
    // series (an injection replaces a count still pending).
    auto round = [&](int fault, int failures, const char* what) {
        ASSERT_EQ(LumoraSim_InjectFault(0, fault, failures, 0), 1);
        ASSERT_TRUE(WaitUntil(10000, [] { return FaultsPending() == 0; }))
            << failures << what << "; messages meanwhile: " << Described(Drain(frames));
        // The last spoilt frame may still be on its way; the second frame after it is whole.
        const uint64_t spent = FramesSent();
        ASSERT_TRUE(WaitUntil(10000, [&] { return FramesSent() >= spent + 2; }))
            << failures << what;
        auto got = Drain(frames);
        const auto more = Frames(frames, 3, 10000);
        ASSERT_EQ(Delivered(more), 3u)
            << failures << what << ": " << Described(got) << Described(more);
        got.insert(got.end(), more.begin(), more.end());
        for (const auto& m : got) EXPECT_NE(m.lParam, ERR_DEVICE_LOST) << failures << what;
    };
    for (int failures = 1; failures <= 5; ++failures)
        round(LUMORA_SIM_FAULT_BULK_FAIL, failures, " failed transfers");
    for (int failures = 1; failures <= 4; ++failures)
        round(LUMORA_SIM_FAULT_SHORT_PAYLOAD, failures, " spoilt frames");
    EXPECT_TRUE(Codes(h).empty());
    Messages(events_);

    ASSERT_EQ(LumoraSim_InjectFault(0, LUMORA_SIM_FAULT_SHORT_PAYLOAD, 5, 0), 1);
    EXPECT_LT(WaitEndOfRun(frames, ERR_DEVICE_LOST, 10000), 10000);
    EXPECT_LT(Timed([&] { EXPECT_EQ(Lumora_StopPreview(h), 1); }), 5000);
    EXPECT_EQ(Codes(h), std::vector<int>{ERR_DEVICE_LOST});
    EXPECT_TRUE(Told(ERR_DEVICE_LOST));

    // The camera is still there: the next run streams.
    LumoraSim_ClearFaults(0);
    ASSERT_EQ(Lumora_CallBackPreview(h, frames, nullptr, 0, 1), 1);
    EXPECT_EQ(Delivered(Frames(frames, 3, 10000)), 3u);
    EXPECT_EQ(Lumora_StopPreview(h), 1);
    LumoraHost_DestroyWindow(frames);
}

TEST_F(FaultMatrix, UnplugDuringATriggerRunEndsItAndReleaseDoesNotHang) {
    const int h = OpenEight();
    HWND frames = LumoraHost_CreateQueueWindow();
    ASSERT_EQ(Lumora_Trigger(h, frames, nullptr, 0, 1), 1);
    ASSERT_EQ(LumoraSim_Unplug(0), 1);
    EXPECT_LT(Timed([&] { EXPECT_EQ(Lumora_Close(h), 1); }), 10000);
    EXPECT_LT(Timed([&] { Release(h); }), 10000);
    LumoraHost_DestroyWindow(frames);
    ASSERT_EQ(LumoraSim_Replug(0), 1);
    const int again = OpenEight();
    EXPECT_EQ(Snap(again), 1);
}

// A failed transfer costs one of the frame header's retries, so a few in a row never fail the
// snapshot nor record a code; the camera answers again at once.
TEST_F(FaultMatrix, AFewFailedTransfersAreRiddenOutAndTheSnapshotSucceedsWhenTheyStop) {
    const int h = OpenEight();
    for (int failures = 1; failures <= 5; ++failures) {
        ASSERT_EQ(LumoraSim_InjectFault(0, LUMORA_SIM_FAULT_BULK_FAIL, failures, 0), 1);
        int result = 0;
        EXPECT_LT(Timed([&] { result = Snap(h); }), 15000) << failures;
        EXPECT_EQ(result, 1) << failures;
        EXPECT_EQ(Codes(h), std::vector<int>{}) << failures;
        LumoraSim_ClearFaults(0);
        EXPECT_EQ(Snap(h), 1) << "after " << failures << " failed transfers";
        Codes(h);
    }
}

TEST_F(FaultMatrix, AStalledTransferIsAbortedWithinTheWaitTime) {
    const int h = OpenEight();
    ASSERT_EQ(Lumora_SetWaitTime(h, 1000), 1);
    ASSERT_EQ(LumoraSim_InjectFault(0, LUMORA_SIM_FAULT_BULK_STALL, 100, 0), 1);
    int result = 1;
    EXPECT_LT(Timed([&] { result = Snap(h); }), 15000);
    EXPECT_EQ(result, 0);
    EXPECT_FALSE(Codes(h).empty());
    LumoraSim_ClearFaults(0);
    EXPECT_EQ(LumoraSim_GetPendingTransfers(0), 0);
    EXPECT_EQ(Snap(h), 1);
}

// A payload shorter than the frame, or longer than the buffer, is never delivered as a frame.
TEST_F(FaultMatrix, ShortAndOverlongPayloadsAreNeverDeliveredAsFrames) {
    const int h = OpenEight();
    for (const auto& [fault, bytes] : {std::pair{LUMORA_SIM_FAULT_SHORT_PAYLOAD, 0},
                                       std::pair{LUMORA_SIM_FAULT_LONG_PAYLOAD, 8 << 20}}) {
        ASSERT_EQ(LumoraSim_InjectFault(0, fault, 100, bytes), 1);
        int result = 1;
        EXPECT_LT(Timed([&] { result = Snap(h); }), 15000) << fault;
        EXPECT_EQ(result, 0) << fault;
        const auto codes = Codes(h);
        EXPECT_FALSE(codes.empty()) << fault;
        LumoraSim_ClearFaults(0);
        EXPECT_EQ(Snap(h), 1) << fault;
        Codes(h);
    }
}

// The camera setters beside the exposure, gain, mirror and window ones: with the camera's bus
// refusing every transfer each fails with code 6 at once, and once the camera answers again
// its getter reports the value from before.
TEST_F(FaultMatrix, CameraSettersTheBusRefusesFailWithCodeSixAndKeepTheirValue) {
    const int h = OpenEight();
    int valid = 0;
    unsigned char port = 0;
    struct Setter {
        const char* name;
        std::function<int()> set;
        std::function<int()> get;
    };
    const std::vector<Setter> setters = {
        {"cooler", [&] { return Lumora_SetPeltier(h, 0); },
         [&] { return Lumora_GetPeltier(h, &valid); }},
        {"IO port", [&] { return Lumora_SetIOPort(h, 3); },
         [&] { return Lumora_GetIOPort(h, &port) ? port : -1; }},
    };
    std::vector<int> before;
    for (const auto& s : setters) before.push_back(s.get());
    Codes(h);
    ASSERT_EQ(LumoraSim_InjectFault(0, LUMORA_SIM_FAULT_I2C_REFUSE, 1000000, 0), 1);
    for (const auto& s : setters) {
        int result = 1;
        EXPECT_LT(Timed([&] { result = s.set(); }), 5000) << s.name;
        EXPECT_EQ(result, 0) << s.name;
        EXPECT_EQ(Codes(h), std::vector<int>{ERR_IO}) << s.name;
    }
    LumoraSim_ClearFaults(0);
    for (size_t i = 0; i < setters.size(); ++i)
        EXPECT_EQ(setters[i].get(), before[i]) << setters[i].name;
    EXPECT_EQ(Snap(h), 1);
}

TEST_F(FaultMatrix, EepromWriteFailureFailsTheWriteAndTheOldContentStays) {
    const int h = OpenEight();
    int valid = 0;
    const int before = Lumora_ReadSromID(h, 0x1300, &valid);
    ASSERT_EQ(valid, 1);
    ASSERT_EQ(LumoraSim_InjectFault(0, LUMORA_SIM_FAULT_EEPROM_WRITE, 100, 0), 1);
    int result = 1;
    EXPECT_LT(Timed([&] { result = Lumora_WriteSromID(h, 0x1300, before ^ 0x5A); }), 5000);
    EXPECT_EQ(result, 0);
    LumoraSim_ClearFaults(0);
    EXPECT_EQ(Lumora_ReadSromID(h, 0x1300, &valid), before);
    EXPECT_EQ(Lumora_WriteSromID(h, 0x1300, before ^ 0x5A), 1);
    EXPECT_EQ(Snap(h), 1);
}

TEST_F(FaultMatrix, ASlowStartingCameraIsWaitedForWithinABound) {
    ASSERT_EQ(LumoraSim_InjectFault(0, LUMORA_SIM_FAULT_SLOW_STARTUP, 1, 1500), 1);
    int h = 0;
    EXPECT_LT(Timed([&] { h = OpenEight(); }), 15000);
    int result = 0;
    EXPECT_LT(Timed([&] { result = Snap(h); }), 15000);
    EXPECT_EQ(result, 1) << ::testing::PrintToString(Codes(h));
    LumoraSim_ClearFaults(0);
}

}  // namespace
}  // namespace lumora::testing
