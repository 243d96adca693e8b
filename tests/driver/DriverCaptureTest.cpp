#include <thread>

#include "driver/SimCameraFixture.h"

namespace lumora {
namespace {

using test::SimCameraTest;

std::vector<uint8_t> Buffer(CLumoraV3U2Base& driver) {
    return std::vector<uint8_t>(driver.FrameSize());
}

TEST_F(SimCameraTest, SingleFrameModeStoresExactlyOneFrameAndEnds) {
    CLumoraV3U2Base& driver = Open();
    ASSERT_EQ(driver.StartCapture(kCaptureSingleFrame), 1);
    ASSERT_EQ(WaitNewFrame(driver), 3);
    while (driver.IsCapturing()) std::this_thread::yield();
    EXPECT_EQ(driver.FramesStored(), 1u);
    auto frame = Buffer(driver);
    EXPECT_EQ(driver.GetLatestFrame(frame.data(), static_cast<uint32_t>(frame.size()), 1), 0);
    EXPECT_EQ(driver.WaitFrame(0), 2);  // taken, nothing new
    driver.StopCapture(1);
    EXPECT_EQ(driver.WaitFrame(0), 2);  // stopped: the event is closed
}

TEST_F(SimCameraTest, CountedTriggerModeCountsOneFrameAndEnds) {
    CLumoraV3U2Base& driver = Open();
    ASSERT_EQ(driver.StartCapture(kCaptureCountedTrigger), 1);
    ASSERT_EQ(WaitNewFrame(driver), 3);
    while (driver.IsCapturing()) std::this_thread::yield();
    EXPECT_EQ(driver.CountedFrames(), 1u);
    EXPECT_EQ(driver.FramesStored(), 1u);
}

TEST_F(SimCameraTest, CounterOnlyModeReadsAHeaderAndStoresNoFrame) {
    CLumoraV3U2Base& driver = Open();
    LumoraSim_SetFrameCounterStart(0, 0x42);
    ASSERT_EQ(driver.StartCapture(kCaptureCounterOnly), 1);
    while (driver.IsCapturing()) std::this_thread::yield();
    EXPECT_EQ(driver.FramesStored(), 0u);
    EXPECT_EQ(driver.LastFrameCounter(), 0x42u);
    EXPECT_EQ(driver.WaitFrame(0), 2);
}

TEST_F(SimCameraTest, ContinuousModeKeepsStoringFramesWithRisingCounters) {
    CLumoraV3U2Base& driver = Open();
    ASSERT_EQ(driver.StartCapture(kCaptureContinuous), 1);
    auto frame = Buffer(driver);
    int previous = -1;
    for (int i = 0; i < 10; ++i) {
        ASSERT_EQ(WaitNewFrame(driver), 3);
        int counter = -1;
        ASSERT_EQ(driver.GetLatestFrameEx(frame.data(), static_cast<uint32_t>(frame.size()),
                                          &counter, nullptr, nullptr, nullptr, nullptr, 1),
                  0);
        if (previous >= 0) {
            EXPECT_NE(counter, previous);
        }
        previous = counter;
    }
    EXPECT_TRUE(driver.IsCapturing());
    driver.StopCapture(1);
    EXPECT_FALSE(driver.IsCapturing());
}

TEST_F(SimCameraTest, FourFailuresThenAGoodFrameGoOn) {
    CLumoraV3U2Base& driver = Open();
    LumoraSim_InjectFault(0, LUMORA_SIM_FAULT_SHORT_PAYLOAD, 4, 0);
    ASSERT_EQ(driver.StartCapture(kCaptureContinuous), 1);
    ASSERT_EQ(WaitNewFrame(driver, 20000), 3);
    EXPECT_FALSE(driver.TransferError());
    ASSERT_EQ(WaitNewFrame(driver, 20000), 3);
    EXPECT_TRUE(driver.IsCapturing());
    driver.StopCapture(1);
}

TEST_F(SimCameraTest, FiveFailuresEndTheThreadWithTheErrorFlag) {
    CLumoraV3U2Base& driver = Open();
    LumoraSim_InjectFault(0, LUMORA_SIM_FAULT_SHORT_PAYLOAD, 5, 0);
    ASSERT_EQ(driver.StartCapture(kCaptureContinuous), 1);
    EXPECT_EQ(WaitNewFrame(driver, 20000), 1);
    while (driver.IsCapturing()) std::this_thread::yield();
    EXPECT_TRUE(driver.TransferError());
    EXPECT_EQ(driver.FramesStored(), 0u);
    EXPECT_EQ(driver.WaitFrame(0), 1);
    // A new start clears the flag.
    ASSERT_EQ(driver.StartCapture(kCaptureSingleFrame), 1);
    EXPECT_EQ(WaitNewFrame(driver), 3);
}

// A frame announcing more than the buffer holds is refused without its payload being read; the
// rest of it must not be taken for the next header, so it costs one failure, not the run.
TEST_F(SimCameraTest, AFrameTooLongForTheBufferCostsOneFailureAndTheRunGoesOn) {
    CLumoraV3U2Base& driver = Open();
    // Free-running as a session leaves it after its first run: the sensor's second free-run
    // request finds the camera free-running already and turns the restart pulse off.
    ASSERT_EQ(driver.SetTriggerMode(0, 0), 1);
    ASSERT_EQ(driver.SetTriggerMode(0, 0), 1);
    ASSERT_EQ(driver.StartCapture(kCaptureContinuous), 1);
    auto frame = Buffer(driver);
    ASSERT_EQ(WaitNewFrame(driver), 3);
    const auto size = static_cast<uint32_t>(frame.size());
    ASSERT_EQ(driver.GetLatestFrame(frame.data(), size, 1), 0);
    ASSERT_EQ(LumoraSim_InjectFault(0, LUMORA_SIM_FAULT_LONG_PAYLOAD, 1, 8 << 20), 1);
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(WaitNewFrame(driver, 20000), 3) << i;
        ASSERT_EQ(driver.GetLatestFrame(frame.data(), size, 1), 0);
    }
    EXPECT_FALSE(driver.TransferError());
    EXPECT_TRUE(driver.IsCapturing());
    driver.StopCapture(1);

    // The single grab retries on the next frame instead of reading the rest as headers.
    ASSERT_EQ(LumoraSim_InjectFault(0, LUMORA_SIM_FAULT_LONG_PAYLOAD, 1, 8 << 20), 1);
    EXPECT_EQ(driver.GrabSingleFrame(), 0);
    EXPECT_FALSE(driver.TransferError());
}

// A reader held up between choosing the newest slot and reading it can find the writer, a lap of
// the ring later, filling that very slot: it takes the frame that is newest by then instead of
// failing, whether it copies the frame or takes the slot's buffer.
TEST_F(SimCameraTest, AReaderLappedByTheWriterTakesTheNewerFrameInstead) {
    CLumoraV3U2Base& driver = Open();
    ASSERT_EQ(driver.StartCapture(kCaptureContinuous), 1);
    ASSERT_EQ(WaitNewFrame(driver, 20000), 3);
    driver.StopCapture(1);
    auto frame = Buffer(driver);
    const auto size = static_cast<uint32_t>(frame.size());
    // Each reader of the newest frame: copied (old record), exchanged, copied with its record.
    for (const int reader : {0, 1, 2}) {
        SCOPED_TRACE(reader);
        FrameRing* ring = nullptr;
        int newest = -1;
        driver.SetSlotReadHookForTesting([&](FrameRing& r) {
            if (ring != nullptr) return;
            ring = &r;
            for (int i = 0; i < r.SlotCount() - 1; ++i) {
                FrameRecord record;
                record.frameCounter = newest = 100 + i;
                ASSERT_TRUE(r.Store(frame.data(), size, record));
            }
            ASSERT_NE(r.BeginStore(), nullptr);
        });
        int counter = -1;
        FrameRecord record;
        if (reader == 1) {
            std::unique_ptr<uint8_t[]> buffer;
            size_t capacity = 0;
            size_t bytes = 0;
            EXPECT_EQ(driver.TakeLatestFrame(buffer, capacity, &bytes, &record), 0);
            EXPECT_EQ(bytes, size);
            counter = record.frameCounter;
        } else if (reader == 2) {
            EXPECT_EQ(driver.CopyLatestFrame(frame.data(), size, 1, &record), 0);
            counter = record.frameCounter;
        } else {
            EXPECT_EQ(driver.GetLatestFrameEx(frame.data(), size, &counter, nullptr, nullptr,
                                              nullptr, nullptr, 1),
                      0);
        }
        driver.SetSlotReadHookForTesting(nullptr);
        ASSERT_NE(ring, nullptr);
        ring->AbandonStore();
        EXPECT_EQ(counter, newest);
    }
}

// A payload longer than the frame that fits the buffer (padding, a trailer) is the frame and
// its tail; a shorter one would leave an older frame's bytes in this one's tail and is refused.
TEST_F(SimCameraTest, APayloadWithATailIsStoredAsItsFrameAndAShortOneIsNot) {
    CLumoraV3U2Base& driver = Open();
    LumoraSim_SetStaticScene(1);
    ASSERT_EQ(driver.StartCapture(kCaptureSingleFrame), 1);
    ASSERT_EQ(WaitNewFrame(driver, 20000), 3);
    auto plain = Buffer(driver);
    auto tailed = Buffer(driver);
    const auto size = static_cast<uint32_t>(plain.size());
    ASSERT_EQ(driver.GetLatestFrame(plain.data(), size, 1), 0);
    LumoraSim_InjectFault(0, LUMORA_SIM_FAULT_LONG_PAYLOAD, 5, 4096);
    ASSERT_EQ(driver.StartCapture(kCaptureContinuous), 1);
    for (int i = 0; i < 5; ++i) ASSERT_EQ(WaitNewFrame(driver, 20000), 3) << i;
    ASSERT_EQ(driver.GetLatestFrame(tailed.data(), size, 1), 0);
    driver.StopCapture(1);
    EXPECT_EQ(tailed, plain);
    EXPECT_EQ(driver.GrabSingleFrame(), 0);
    EXPECT_FALSE(driver.TransferError());

    LumoraSim_InjectFault(0, LUMORA_SIM_FAULT_SHORT_PAYLOAD, 5, 4096);
    const uint64_t stored = driver.FramesStored();
    ASSERT_EQ(driver.StartCapture(kCaptureContinuous), 1);
    EXPECT_EQ(WaitNewFrame(driver, 20000), 1);
    EXPECT_EQ(driver.FramesStored(), stored);
    LumoraSim_SetStaticScene(0);
}

TEST_F(SimCameraTest, TriggeredCameraSendsFramesOnlyOnTrigger) {
    CLumoraV3U2Base& driver = Open();
    ASSERT_EQ(driver.SetTriggerMode(1, 0), 1);
    EXPECT_EQ(driver.GetTriggerMode(), 1);
    ASSERT_EQ(driver.StartCapture(kCaptureContinuous), 1);
    EXPECT_EQ(driver.WaitFrame(300), 2);
    EXPECT_EQ(driver.FramesStored(), 0u);
    auto frame = Buffer(driver);
    for (int i = 1; i <= 3; ++i) {
        ASSERT_EQ(LumoraSim_FireTrigger(0), 1);
        ASSERT_EQ(WaitNewFrame(driver), 3);
        ASSERT_EQ(driver.GetLatestFrame(frame.data(), static_cast<uint32_t>(frame.size()), 1), 0);
        EXPECT_EQ(driver.FramesStored(), static_cast<uint64_t>(i));
    }
    EXPECT_EQ(driver.WaitFrame(300), 2);
    driver.StopCapture(1);
    ASSERT_EQ(driver.SetTriggerMode(0, 1), 1);
    EXPECT_EQ(LumoraSim_FireTrigger(0), 0);  // free-running again
    const auto free = Snap(driver);
    EXPECT_EQ(free.size(), frame.size());
}

TEST_F(SimCameraTest, RefusedTriggerModeIsRetriedNextTime) {
    CLumoraV3U2Base& driver = Open();
    LumoraSim_InjectFault(0, LUMORA_SIM_FAULT_I2C_REFUSE, 1000, 0);
    EXPECT_EQ(driver.SetTriggerMode(1, 0), 0);
    LumoraSim_ClearFaults(0);
    EXPECT_EQ(driver.SetTriggerMode(1, 0), 1);
    EXPECT_EQ(driver.GetTriggerMode(), 1);
}

TEST_F(SimCameraTest, StopAndRestartInALoop) {
    CLumoraV3U2Base& driver = Open();
    for (int i = 0; i < 15; ++i) {
        ASSERT_EQ(driver.StartCapture(i % 3 == 2 ? kCaptureSingleFrame : kCaptureContinuous), 1);
        ASSERT_EQ(WaitNewFrame(driver), 3) << i;
        driver.StopCapture(i % 2);
        ASSERT_FALSE(driver.IsCapturing());
    }
    // Restarting without a stop joins the old thread first.
    ASSERT_EQ(driver.StartCapture(kCaptureContinuous), 1);
    ASSERT_EQ(driver.StartCapture(kCaptureContinuous), 1);
    ASSERT_EQ(WaitNewFrame(driver), 3);
    driver.CloseCamera();
    EXPECT_EQ(Camera()->PendingTransfers(), 0u);
}

TEST_F(SimCameraTest, WindowChangeDuringCaptureTakesEffectAtTheNextStart) {
    CLumoraV3U2Base& driver = Open();
    ASSERT_EQ(driver.StartCapture(kCaptureContinuous), 1);
    ASSERT_EQ(WaitNewFrame(driver), 3);
    ASSERT_EQ(driver.SetCaptureWindow(0, 0, 1024, 512, 0), 1);
    EXPECT_TRUE(driver.BuffersStale());
    ASSERT_EQ(driver.StartCapture(kCaptureContinuous), 1);
    EXPECT_EQ(driver.FrameSize(), 1024u * 512u);
    ASSERT_EQ(WaitNewFrame(driver), 3);
    std::vector<uint8_t> frame(driver.FrameSize());
    EXPECT_EQ(driver.GetLatestFrame(frame.data(), static_cast<uint32_t>(frame.size()), 1), 0);
}

class TwoCameras : public SimCameraTest {
protected:
    TwoCameras() { cameras_ = 2; }
};

TEST_F(TwoCameras, StreamAtOnceWithoutCouplingEachOther) {
    CLumoraV3U2Base& first = Open(0);
    CLumoraV3U2Base& second = Open(1);
    ASSERT_EQ(first.StartCapture(kCaptureContinuous), 1);
    ASSERT_EQ(second.StartCapture(kCaptureContinuous), 1);
    auto a = Buffer(first);
    auto b = Buffer(second);
    for (int i = 0; i < 8; ++i) {
        ASSERT_EQ(WaitNewFrame(first), 3);
        ASSERT_EQ(WaitNewFrame(second), 3);
        EXPECT_EQ(first.GetLatestFrame(a.data(), static_cast<uint32_t>(a.size()), 1), 0);
        EXPECT_EQ(second.GetLatestFrame(b.data(), static_cast<uint32_t>(b.size()), 1), 0);
    }
    // Stopping one leaves the other streaming.
    first.StopCapture(1);
    const uint64_t before = second.FramesStored();
    for (int i = 0; i < 100 && second.FramesStored() <= before; ++i) second.WaitFrame(100);
    EXPECT_GT(second.FramesStored(), before);
    EXPECT_TRUE(second.IsCapturing());
    EXPECT_NE(a, b);  // each camera its own dark pattern and defects
}

}  // namespace
}  // namespace lumora
