// What a hostile application or a damaged machine can throw at the exports: placements no
// window can take, allocation failing inside an operation, a settings file built to exhaust the
// reader, and a camera that refuses every setting.
#include <algorithm>
#include <climits>
#include <fstream>
#include <functional>

#include "AllocationFailure.h"
#include "SimFixture.h"
#include "platform/SettingsStore.h"

namespace lumora::testing {
namespace {

bool HasCode(const std::vector<int>& codes, int code) {
    return std::find(codes.begin(), codes.end(), code) != codes.end();
}

std::vector<int> DrainCodes(int handle) {
    std::vector<int> codes;
    for (int code; (code = Lumora_GetLastError(handle)) != 0;) codes.push_back(code);
    return codes;
}

TEST_F(SimWorld, PreviewPlacementNoWindowCanTakeIsRefusedAndTheOldOneKept) {
    const int h = Open();
    ASSERT_EQ(Lumora_SetColorMode(h, 8), 1);
    ASSERT_EQ(Lumora_SetPreviewWindow(h, events_, 0, 0, 640, 512), 1);
    const int hostile[][4] = {{0, 0, INT_MAX, INT_MAX}, {0, 0, -1, 512},        {0, 0, 640, -5},
                              {INT_MAX, 0, 640, 512},   {0, INT_MIN, 640, 512}, {0, 0, 8193, 1}};
    for (const auto& p : hostile) {
        EXPECT_EQ(Lumora_SetPreviewWindow(h, events_, p[0], p[1], p[2], p[3]), 0);
        EXPECT_EQ(Codes(h), std::vector<int>{ERR_PARAMETER});
    }
    // The placement in force is still the good one, and the preview runs in it.
    ASSERT_EQ(Lumora_Preview(h), 1);
    EXPECT_EQ(Session(h)->Preview_().Get()->ClientWidth(), 640);
    EXPECT_EQ(Lumora_Close(h), 1);
    // Without a parent the window takes the picture's size, so any non-zero values will do.
    EXPECT_EQ(Lumora_SetPreviewWindow(h, nullptr, 0, 0, INT_MAX, INT_MAX), 1);
    ASSERT_EQ(Lumora_Preview(h), 1);
    EXPECT_EQ(Lumora_Close(h), 1);
}

// Fails the 1st, 2nd, 3rd, 4th, 6th, 8th, 12th ... allocation of `call` until it gets through
// untouched. A failed run must return `failure` with a code recorded (5 where the exception
// reached the export's guard), and the process must live on.
void FailEachAllocation(int h, const std::function<int()>& call, int failure,
                        const std::function<void()>& undo) {
    bool sawMemory = false;
    bool anyHit = false;
    for (int n = 1; n < (1 << 22); n = n < 4 ? n + 1 : n + n / 2) {
        FailAllocationAfter(n);
        const int result = call();
        const bool hit = AllocationFailed();
        FailAllocationAfter(0);
        if (!hit) {
            EXPECT_NE(result, failure) << "untouched run failed";
            undo();
            EXPECT_TRUE(sawMemory || !anyHit);
            return;
        }
        anyHit = true;
        const std::vector<int> codes = DrainCodes(h);
        if (result == failure) {
            EXPECT_FALSE(codes.empty()) << "allocation " << n << " failed silently";
            sawMemory = sawMemory || HasCode(codes, ERR_MEMORY);
        } else {
            undo();  // the failure was absorbed inside; the operation still did its work
        }
    }
    ADD_FAILURE() << "the operation never completed without an allocation failure";
}

TEST_F(SimWorld, AllocationFailureInsideAnExportIsItsFailureValueAndCode5) {
    if (!AllocationFailureAvailable()) GTEST_SKIP() << "no allocation hook in this build";
    const int h = Open();
    ASSERT_EQ(Lumora_SetColorMode(h, 8), 1);
    ASSERT_EQ(Lumora_SetPreviewWindow(h, events_, 0, 0, 320, 256), 1);
    FailEachAllocation(
        h, [h] { return Lumora_Preview(h); }, 0, [h] { Lumora_Close(h); });
    ASSERT_EQ(Lumora_SnapShot(h, nullptr, 0, 1), 1);
    const auto path = (configDir_ / "a.bmp").string();
    FailEachAllocation(
        h, [&] { return Lumora_SaveImage(h, path.c_str(), 0); }, 0, [] {});
    FailEachAllocation(
        h, [&] { return Lumora_SaveMaskFile(h, path.c_str()); }, 0, [] {});
    FailEachAllocation(
        h, [&] { return Lumora_SnapShot(h, nullptr, 0, 1); }, 0, [] {});
    // The session is whole afterwards.
    std::vector<unsigned char> image(2560 * 2048);
    EXPECT_EQ(Lumora_SnapShot(h, image.data(), static_cast<int>(image.size()), 1), 1);
    EXPECT_EQ(Lumora_SaveImage(h, path.c_str(), 0), 1);
}

TEST_F(SimWorld, AllocationFailureInInitializeGivesNoHandleOrAWorkingOne) {
    if (!AllocationFailureAvailable()) GTEST_SKIP() << "no allocation hook in this build";
    for (int n = 1; n < (1 << 22); n = n < 4 ? n + 1 : n + n / 2) {
        FailAllocationAfter(n);
        const int handle = Lumora_Initialize(events_);
        const bool hit = AllocationFailed();
        FailAllocationAfter(0);
        if (handle != 0) {
            EXPECT_EQ(Lumora_Release(handle), 1);
        }
        if (!hit) return;
    }
}

TEST_F(SimWorld, DeeplyNestedSettingsFileIsSetAsideAndDefaultsApply) {
    const auto file = configDir_ / platform::SettingsStore::kFileName;
    {
        std::ofstream out(file, std::ios::binary);
        out << "LumoraSettings 1\n[a";
        for (int i = 0; i < 100000; ++i) out << "\\k";
        out << "]\n\"x\" = dword:1\nend\n";
    }
    ::testing::internal::CaptureStderr();
    const int h = Open();
    const std::string report = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(report.find("damaged"), std::string::npos) << report;
    EXPECT_TRUE(std::filesystem::exists(file.string() + ".bad"));
    int valid = 0;
    EXPECT_EQ(Lumora_GetBrightness(h, &valid), 0);
    EXPECT_EQ(valid, 1);
    EXPECT_EQ(Lumora_SnapShot(h, nullptr, 0, 1), 1);
}

TEST_F(SimWorld, SettersTheCameraRefusesLeaveEveryValueAsItWas) {
    const int h = Open();
    ASSERT_EQ(Lumora_SetColorMode(h, 8), 1);
    ASSERT_EQ(Lumora_SetRealExposureTime(h, 10000), 1);
    ASSERT_EQ(Lumora_SetGlobalGain(h, 100), 1);
    int valid = 0;
    const int gain = Lumora_GetGlobalGain(h, &valid);
    const int red = Lumora_GetColorGainRed(h, &valid);
    const double seconds = Lumora_GetExposureTimeEx(h, &valid);
    const int mirrorH = Lumora_GetMirrorH(h);
    const int mirrorV = Lumora_GetMirrorV(h);
    int window[6] = {};
    Lumora_GetCaptureWindowEx(h, &window[0], &window[1], &window[2], &window[3], &window[4],
                              &window[5]);
    Codes(h);
    LumoraSim_InjectFault(0, LUMORA_SIM_FAULT_I2C_REFUSE, 100000, 0);

    EXPECT_EQ(Lumora_SetExposureTime(h, 250), 0);
    EXPECT_EQ(Codes(h), std::vector<int>{ERR_IO});
    EXPECT_EQ(Lumora_SetRealExposureTime(h, 45600), 0);
    EXPECT_EQ(Codes(h), std::vector<int>{ERR_IO});
    EXPECT_EQ(Lumora_GetRealExposureTime(h, &valid), 10000);
    EXPECT_EQ(Lumora_GetExposureTimeEx(h, &valid), seconds);
    EXPECT_EQ(Lumora_SetExposureTimeEx(h, 0.02), 0);
    EXPECT_EQ(Codes(h), std::vector<int>{ERR_IO});
    EXPECT_EQ(Lumora_GetExposureTimeEx(h, &valid), seconds);

    EXPECT_EQ(Lumora_SetGlobalGain(h, 101), 0);
    EXPECT_EQ(Codes(h), std::vector<int>{ERR_IO});
    EXPECT_EQ(Lumora_GetGlobalGain(h, &valid), gain);
    EXPECT_EQ(Lumora_GetColorGainRed(h, &valid), red);

    EXPECT_EQ(Lumora_SetMirrorH(h, !mirrorH), 0);
    EXPECT_EQ(Codes(h), std::vector<int>{ERR_IO});
    EXPECT_EQ(Lumora_SetMirrorV(h, !mirrorV), 0);
    EXPECT_EQ(Lumora_GetMirrorH(h), mirrorH);
    EXPECT_EQ(Lumora_GetMirrorV(h), mirrorV);
    Codes(h);

    EXPECT_EQ(Lumora_SetCaptureWindowEx(h, 2560, 96, 640, 2048, 200, 480), 0);
    EXPECT_EQ(Codes(h), std::vector<int>{ERR_IO});
    int after[6] = {};
    Lumora_GetCaptureWindowEx(h, &after[0], &after[1], &after[2], &after[3], &after[4], &after[5]);
    EXPECT_TRUE(std::equal(std::begin(window), std::end(window), std::begin(after)));

    // A temperature read the camera does not answer is a transfer failure, not a text one.
    Lumora_GetTemperatureEx(h, &valid);
    EXPECT_EQ(valid, 0);
    EXPECT_EQ(Codes(h), std::vector<int>{ERR_IO});

    // Once the camera answers again the same session takes every setting.
    LumoraSim_ClearFaults(0);
    EXPECT_EQ(Lumora_SetRealExposureTime(h, 45600), 1);
    EXPECT_EQ(Lumora_GetRealExposureTime(h, &valid), 45600);
    EXPECT_EQ(Lumora_SetCaptureWindowEx(h, 2560, 96, 640, 2048, 200, 480), 1);
    std::vector<unsigned char> image(640 * 480);
    EXPECT_EQ(Lumora_SnapShot(h, image.data(), static_cast<int>(image.size()), 1), 1);
}

}  // namespace
}  // namespace lumora::testing
