#include <cstring>
#include <string>

#include "driver/SimCameraFixture.h"
#include "sim/SimScene.h"

namespace lumora {
namespace {

using test::SimCameraTest;

TEST_F(SimCameraTest, TemperatureApproachesTheSetPointWithTheCoolerOn) {
    CLumoraV3U2Base& driver = Open();
    ASSERT_EQ(driver.IsTemperatureAvailable(), 1);
    double start = 0;
    ASSERT_EQ(driver.GetTemperature(&start), 1);
    EXPECT_NEAR(start, sim::SimSensorModel::kAmbientCelsius, 0.5);
    ASSERT_EQ(driver.SetPeltier(1), 1);
    EXPECT_EQ(driver.GetPeltier(), 1);
    sim::AdvanceSimulatedTime(20000);
    double cooling = 0;
    ASSERT_EQ(driver.GetTemperature(&cooling), 1);
    EXPECT_LT(cooling, start - 10);
    EXPECT_GT(cooling, sim::SimSensorModel::kCoolerSetPointCelsius + 5);
    sim::AdvanceSimulatedTime(300000);
    double settled = 0;
    ASSERT_EQ(driver.GetTemperature(&settled), 1);
    EXPECT_NEAR(settled, sim::SimSensorModel::kCoolerSetPointCelsius, 0.25);
    ASSERT_EQ(driver.SetPeltier(0), 1);
    EXPECT_EQ(driver.GetPeltier(), 0);
    sim::AdvanceSimulatedTime(300000);
    double warm = 0;
    ASSERT_EQ(driver.GetTemperature(&warm), 1);
    EXPECT_NEAR(warm, sim::SimSensorModel::kAmbientCelsius, 0.25);
    EXPECT_EQ(driver.GetTemperature(nullptr), 0);
}

TEST_F(SimCameraTest, UnreadableTemperatureIsAFailureNotZero) {
    CLumoraV3U2Base& driver = Open();
    double degrees = 0;
    ASSERT_EQ(driver.GetTemperature(&degrees), 1);  // the capability word is known from here on
    LumoraSim_InjectFault(0, LUMORA_SIM_FAULT_I2C_REFUSE, 1000, 0);
    degrees = 99;
    EXPECT_EQ(driver.GetTemperature(&degrees), 0);
    LumoraSim_ClearFaults(0);
}

TEST_F(SimCameraTest, ConfigurationMemoryAndSerialNumber) {
    CLumoraV3U2Base& driver = Open();
    std::string serial;
    for (uint16_t address = 0x1040; address < 0x1060; ++address) {
        uint8_t byte = 0;
        ASSERT_EQ(driver.ReadSrom(address, &byte), 1);
        if (byte == 0 || byte == 0xFF) break;
        serial.push_back(static_cast<char>(byte));
    }
    char expected[64] = {};
    ASSERT_EQ(LumoraSim_GetSerialNumber(0, expected, sizeof expected), 1);
    EXPECT_EQ(serial, expected);
    ASSERT_EQ(driver.WriteSrom(0x0123, 0x5A), 1);
    uint8_t back = 0;
    ASSERT_EQ(driver.ReadSrom(0x0123, &back), 1);
    EXPECT_EQ(back, 0x5A);
    ASSERT_EQ(driver.WriteSromId(0x77), 1);
    ASSERT_EQ(driver.ReadSromId(&back), 1);
    EXPECT_EQ(back, 0x77);
    EXPECT_EQ(driver.ReadSrom(0x0123, nullptr), 0);
}

TEST_F(SimCameraTest, DefectCorrectionSwitchAndThreshold) {
    CLumoraV3U2Base& driver = Open();
    ASSERT_EQ(driver.IsDefectCorrectionAvailable(), 1);
    ASSERT_EQ(driver.IsDefectThresholdAvailable(), 1);
    EXPECT_EQ(driver.GetDefectThresholdMax(), 0xFFFF);
    EXPECT_EQ(driver.IsDefectCorrectionEnabled(), 0);
    int writes = 0;
    {
        auto camera = Camera();
        std::lock_guard lock(camera->Lock());
        EXPECT_EQ(camera->Fpga().Get(0xD1), 0x06);
        camera->Fpga().OnWrite(0xD1, [&](uint32_t, uint8_t, uint8_t) { ++writes; });
    }
    ASSERT_EQ(driver.EnableDefectCorrection(1), 1);
    EXPECT_EQ(Camera()->Fpga().Get(0xD1), 0x07);
    ASSERT_EQ(driver.EnableDefectCorrection(1), 1);
    EXPECT_EQ(writes, 1);  // already on: no second write
    EXPECT_EQ(driver.IsDefectCorrectionEnabled(), 1);
    ASSERT_EQ(driver.SetDefectThreshold(0x1234), 1);
    EXPECT_EQ(Camera()->Fpga().Get(0xD0), 0x34);
    EXPECT_EQ(Camera()->Fpga().Get(0xD2), 0x12);
    int threshold = 0;
    ASSERT_EQ(driver.GetDefectThreshold(&threshold), 1);
    EXPECT_EQ(threshold, 0x1234);
}

TEST_F(SimCameraTest, CameraSideDefectCorrectionIsVisible) {
    LumoraSim_SetStaticScene(1);
    CLumoraV3U2Base& driver = Open();
    ASSERT_EQ(driver.SetTransferBitDepth(1), 1);
    // As a capture is prepared: the exposure follows the depth, so the FPGA's output timing
    // is the 16-bit one.
    ASSERT_EQ(driver.SetExposureTimeEx(driver.GetExposureTimeEx()), 1);
    const sim::SimScene scene(0x5EED0000u);
    const auto defect = scene.Defects().front();  // a hot pixel
    ASSERT_TRUE(defect.hot);
    auto sample = [&](const std::vector<uint8_t>& f, int x, int y) {
        const size_t i = (static_cast<size_t>(y) * 2560 + x) * 2;
        return f[i] | (f[i + 1] << 8);
    };
    const auto raw = Snap(driver);
    EXPECT_EQ(sample(raw, defect.x, defect.y), 4095);
    ASSERT_EQ(driver.SetDefectThreshold(200), 1);
    ASSERT_EQ(driver.EnableDefectCorrection(1), 1);
    const auto corrected = Snap(driver);
    EXPECT_NEAR(sample(corrected, defect.x, defect.y), sample(corrected, defect.x + 1, defect.y),
                100);
    ASSERT_EQ(driver.EnableDefectCorrection(0), 1);
    EXPECT_EQ(Snap(driver), raw);
}

TEST_F(SimCameraTest, RegisterPassThrough) {
    CLumoraV3U2Base& driver = Open();
    ASSERT_EQ(driver.FpgaWrite(0x07, 0x1FF), 1);  // the IO port takes the low byte
    int ok = 0;
    EXPECT_EQ(driver.FpgaRead(0x07, &ok), 0xFF);
    EXPECT_EQ(ok, 1);
    EXPECT_EQ(driver.WaitFpgaIdle(0), 0);
    EXPECT_EQ(driver.WaitFpgaIdle(100), 1);
    ASSERT_EQ(driver.WriteSensorRegister(0, 0x3000, 0xAB), 1);
    EXPECT_EQ(driver.ReadSensorRegister(0, 0x3000, &ok), 0xAB);
    EXPECT_EQ(ok, 1);
    ASSERT_EQ(driver.WriteBusWord(0x24, 0x3010, 0x1234), 1);  // the sensor, as a 16-bit device
    int word = 0;
    ASSERT_EQ(driver.ReadBusWord(0x24, 0x3010, &word), 1);
    EXPECT_EQ(word, 0x1234);
    EXPECT_EQ(driver.ReadBusWord(0x11, 0x0000, &word), 0);  // nobody there
    EXPECT_EQ(driver.SyncFrameCounter(), 1);
}

TEST_F(SimCameraTest, DeviceCountsAndChoice) {
    CLumoraV3U2Base& driver = Open();
    EXPECT_EQ(driver.GetDeviceCount(0x3380), 1);
    EXPECT_GE(driver.GetDeviceCount(0), 1);
    EXPECT_EQ(driver.IsDeviceAvailable(0), 1);
    EXPECT_EQ(driver.IsDeviceAvailable(1), 0);
    EXPECT_EQ(driver.GetMaxDeviceCount(), 32);
    // An absent device leaves the open one as it was.
    EXPECT_EQ(driver.OpenDevice(1), 0);
    EXPECT_EQ(driver.GetSensorWidth(), 2560);
    EXPECT_EQ(driver.GetDeviceIndex(), 0);
    EXPECT_EQ(driver.ReopenDevice(0), 0);
    EXPECT_EQ(driver.ReopenDevice(5), -1);
    EXPECT_EQ(driver.GetEntryOrdinal(40), -1);
}

TEST_F(SimCameraTest, OpeningAgainDuringACaptureEndsTheThreadFirst) {
    CLumoraV3U2Base& driver = Open();
    ASSERT_EQ(driver.StartCapture(kCaptureContinuous), 1);
    ASSERT_EQ(WaitNewFrame(driver), 3);
    ASSERT_EQ(driver.OpenDevice(0), 1);
    EXPECT_FALSE(driver.IsCapturing());
    EXPECT_EQ(Snap(driver).size(), 2560u * 2048u);
    ASSERT_EQ(driver.StartCapture(kCaptureContinuous), 1);
    ASSERT_EQ(WaitNewFrame(driver), 3);
    ASSERT_EQ(driver.CreateController(nullptr, nullptr), 1);  // closes the camera first
    EXPECT_FALSE(driver.IsCapturing());
    EXPECT_EQ(driver.GetSensorWidth(), 0);
}

TEST(DriverWithoutCamera, EveryOperationAnswersItsDefault) {
    CLumoraUSB3T2SimpleSdk driver;
    EXPECT_EQ(driver.GetCameraType(), -1);
    EXPECT_EQ(driver.OpenDevice(0), 0);
    EXPECT_EQ(driver.ReopenDevice(0), -1);
    EXPECT_EQ(driver.GetDeviceCount(0), 0);
    EXPECT_EQ(driver.StartCapture(0), 0);
    EXPECT_EQ(driver.StopCapture(1), 1);
    EXPECT_EQ(driver.WaitFrame(0), 2);
    uint8_t frame[16] = {};
    EXPECT_EQ(driver.GetLatestFrame(frame, sizeof frame, 1), -1);
    EXPECT_EQ(driver.GetSingleFrame(nullptr, 0, 1), -2);
    EXPECT_EQ(driver.GrabSingleFrame(), 2);
    EXPECT_EQ(driver.GetGlobalGain(), 0);
    EXPECT_EQ(driver.SetExposureTimeEx(0.01), 0);
    EXPECT_EQ(driver.GetControlFlag(), -1);
    EXPECT_EQ(driver.GetGainStage(), -1);
    EXPECT_EQ(driver.SupportsOutputFormatA(), 1);
    EXPECT_EQ(driver.GetReadoutKind(), 0);
    EXPECT_EQ(driver.IsPeltierAvailable(), 0);
    double degrees = 0;
    EXPECT_EQ(driver.GetTemperature(&degrees), 0);
    int ok = 1;
    EXPECT_EQ(driver.FpgaRead(0x07, &ok), 0);
    EXPECT_EQ(ok, 0);
    EXPECT_EQ(driver.SetTransferBitDepth(1), 0);
    EXPECT_EQ(driver.SetTriggerMode(1, 0), 0);
    EXPECT_EQ(driver.PrepareBuffers(), 0);
    EXPECT_EQ(driver.CloseCamera(), 1);
}

TEST_F(SimCameraTest, FailedAllocationIsAllOrNothingAndStartFails) {
    CLumoraV3U2Base& driver = Open();
    ASSERT_EQ(driver.SetCaptureWindow(0, 0, 1024, 1024, 0), 1);
    FailFrameBufferAllocationForTesting(3);  // the transfer buffer and two ring slots succeed
    EXPECT_EQ(driver.StartCapture(kCaptureContinuous), 0);
    FailFrameBufferAllocationForTesting(-1);
    EXPECT_FALSE(driver.IsCapturing());
    EXPECT_EQ(driver.FrameSize(), 0u);
    EXPECT_EQ(driver.TransferCapacity(), 0u);
    EXPECT_TRUE(driver.BuffersStale());
    ASSERT_EQ(driver.StartCapture(kCaptureContinuous), 1);
    EXPECT_EQ(WaitNewFrame(driver), 3);
}

TEST_F(SimCameraTest, UnpluggedCameraEndsTheCaptureWithATransferError) {
    CLumoraV3U2Base& driver = Open();
    ASSERT_EQ(driver.StartCapture(kCaptureContinuous), 1);
    ASSERT_EQ(WaitNewFrame(driver), 3);
    ASSERT_EQ(LumoraSim_Unplug(0), 1);
    std::vector<uint8_t> frame(driver.FrameSize());
    int result = 3;
    for (int i = 0; i < 10 && result == 3; ++i) {  // frames stored before the cable went
        result = WaitNewFrame(driver, 60000);
        driver.GetLatestFrame(frame.data(), static_cast<uint32_t>(frame.size()), 1);
    }
    EXPECT_EQ(result, 1);
    driver.StopCapture(1);
    ASSERT_EQ(LumoraSim_Replug(0), 1);
    LumoraSim_SetStartupTime(0, 0);
    ASSERT_EQ(driver.OpenDevice(0), 1);
    EXPECT_EQ(Snap(driver).size(), 2560u * 2048u);
}

TEST_F(SimCameraTest, BringUpWaitsForASlowCamera) {
    LumoraSim_InjectFault(0, LUMORA_SIM_FAULT_SLOW_STARTUP, 1, 800);
    CLumoraV3U2Base& driver = Open();
    EXPECT_EQ(driver.GetSensorWidth(), 2560);
    EXPECT_TRUE(Camera()->IsReady());
}

TEST_F(SimCameraTest, GrabSingleFrameWithoutTheThread) {
    CLumoraV3U2Base& driver = Open();
    EXPECT_EQ(driver.GrabSingleFrame(), 0);
    EXPECT_FALSE(driver.TransferError());
    std::vector<uint8_t> frame(driver.FrameSize());
    EXPECT_EQ(driver.GetSingleFrame(frame.data(), static_cast<uint32_t>(frame.size()), 1), 0);
    EXPECT_EQ(driver.GetSingleFrame(frame.data(), static_cast<uint32_t>(frame.size()) - 1, 1), -1);
}

}  // namespace
}  // namespace lumora
