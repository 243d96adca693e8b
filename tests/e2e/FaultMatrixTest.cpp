// The camera and its cable misbehaving under every kind of operation: each case bounds the time
// the failing call takes, checks what it reports, and that the next operation works.
#include <chrono>

#include "SimFixture.h"

namespace lumora::testing {
namespace {

constexpr int kFull8 = 2560 * 2048;

class FaultMatrix : public SimWorld {
protected:
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

TEST_F(FaultMatrix, AFewFailedTransfersAreRiddenOutAndTheSnapshotSucceedsWhenTheyStop) {
    const int h = OpenEight();
    for (int failures = 1; failures <= 5; ++failures) {
        ASSERT_EQ(LumoraSim_InjectFault(0, LUMORA_SIM_FAULT_BULK_FAIL, failures, 0), 1);
        int result = 0;
        EXPECT_LT(Timed([&] { result = Snap(h); }), 15000) << failures;
        const auto codes = Codes(h);
        if (result == 0) {
            EXPECT_FALSE(codes.empty()) << failures;
        }
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

TEST_F(FaultMatrix, ShortAndOverlongPayloadsAreNeverDeliveredAsFrames) {
    const int h = OpenEight();
    for (int fault : {LUMORA_SIM_FAULT_SHORT_PAYLOAD, LUMORA_SIM_FAULT_LONG_PAYLOAD}) {
        ASSERT_EQ(LumoraSim_InjectFault(0, fault, 100, 0), 1);
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
