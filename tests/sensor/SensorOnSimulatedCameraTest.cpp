// The IMX992 driver through the real controller against the simulated camera: what it programs
// is what the camera then does.
#include <gtest/gtest.h>

#include <mutex>

#include "lumora/host.h"
#include "sensor/CSensorIMX992.h"
#include "sensor/Imx992Registers.h"
#include "sim/SimCamera.h"
#include "sim/SimCameraSet.h"
#include "sim/SimSensorModel.h"
#include "usb/CLumCy3Cam.h"

namespace lumora {
namespace {

class SensorOnSimTest : public ::testing::Test {
protected:
    void SetUp() override {
        sim::UsePlainCameraModel(false);
        ASSERT_EQ(LumoraSim_SetCameraCount(0), 0);
        ASSERT_EQ(LumoraSim_SetCameraCount(1), 1);
        SetSensorPausesForTesting(false);
        camera = sim::SimCameraSet::Instance().Camera(0);
        controller = std::make_unique<usb::CLumCy3Cam>();
        controller->EnumerateDevices();
        const int row = controller->GetDeviceTable().FindPath(camera->InterfacePath());
        ASSERT_GE(row, 0);
        ASSERT_EQ(controller->SelectDevice(row), 1);
        sensor = std::make_unique<CSensorIMX992>(controller.get(), CSensorIMX992::kBusAddress);
        sensor->SetTypeCode(CSensorIMX992::kTypeCodeCooled);
        ASSERT_EQ(sensor->InitializeSensor(), 1);
    }
    void TearDown() override {
        sensor.reset();
        controller.reset();
        LumoraSim_SetCameraCount(0);
        SetSensorPausesForTesting(true);
    }
    sim::SimSensorModel& Model() { return dynamic_cast<sim::SimSensorModel&>(camera->Model()); }

    std::shared_ptr<sim::SimCamera> camera;
    std::unique_ptr<usb::CLumCy3Cam> controller;
    std::unique_ptr<CSensorIMX992> sensor;
};

TEST_F(SensorOnSimTest, ExposureAndFramePeriodFollowTheRegisters) {
    ASSERT_EQ(sensor->SetExposureSeconds(0.005), 1);
    const int frameTimeMs =
        sensor->FrameTimeMs();  // the sensor's lock is never taken under the camera's
    std::lock_guard lock(camera->Lock());
    const double lineUs = imx992::LineTimeUs(489);
    EXPECT_NEAR(Model().ExposureUs(*camera), 5000.0, 2 * lineUs);
    // The full frame at 8-bit timing: about 72 frames per second.
    EXPECT_NEAR(1e6 / Model().FramePeriodUs(*camera), 71.7, 0.2);
    EXPECT_EQ(frameTimeMs, static_cast<int>(Model().FramePeriodUs(*camera) / 1000.0));
}

TEST_F(SensorOnSimTest, SixteenBitTimingHalvesTheFrameRate) {
    ASSERT_EQ(sensor->SetHighBitDepth(1), 1);
    ASSERT_EQ(sensor->SetExposureSeconds(0.005), 1);
    std::lock_guard lock(camera->Lock());
    EXPECT_NEAR(1e6 / Model().FramePeriodUs(*camera), 35.8, 0.2);
    EXPECT_NEAR(Model().ExposureUs(*camera), 5000.0, 2 * imx992::LineTimeUs(978));
}

TEST_F(SensorOnSimTest, LongExposureLengthensTheFrame) {
    ASSERT_EQ(sensor->SetExposureSeconds(0.1), 1);
    std::lock_guard lock(camera->Lock());
    EXPECT_NEAR(Model().FramePeriodUs(*camera), 100000.0, 500.0);
}

// Timing written under the sensor's hold is stored at once but takes effect only on release.
TEST_F(SensorOnSimTest, HeldTimingTakesEffectWhenTheHoldIsReleased) {
    ASSERT_EQ(sensor->SetExposureSeconds(0.005), 1);
    ASSERT_EQ(sensor->WriteRegisterLocked(imx992::kHold, 1), 1);
    ASSERT_EQ(sensor->SetExposureSeconds(0.1), 1);
    {
        std::lock_guard lock(camera->Lock());
        EXPECT_NEAR(Model().ExposureUs(*camera), 5000.0, 2 * imx992::LineTimeUs(489));
        EXPECT_NEAR(1e6 / Model().FramePeriodUs(*camera), 71.7, 0.2);
        EXPECT_NE(camera->Sensor().Get(imx992::kHold), 0);
    }
    ASSERT_EQ(sensor->WriteRegisterLocked(imx992::kHold, 0), 1);
    std::lock_guard lock(camera->Lock());
    EXPECT_NEAR(Model().ExposureUs(*camera), 100000.0, 500.0);
    EXPECT_NEAR(Model().FramePeriodUs(*camera), 100000.0, 500.0);
}

TEST_F(SensorOnSimTest, CoolerAndTemperatureThroughTheFpga) {
    ASSERT_EQ(sensor->IsInternalCorrectionAvailable(), 1);
    double before = 0;
    ASSERT_EQ(sensor->GetSensorTemperature(&before), 1);
    ASSERT_EQ(sensor->SetCoolerOn(1), 1);
    sim::AdvanceSimulatedTime(600000);
    double after = 0;
    ASSERT_EQ(sensor->GetSensorTemperature(&after), 1);
    EXPECT_NEAR(after, sim::SimSensorModel::kCoolerSetPointCelsius, 0.2);
    EXPECT_LT(after, before);
}

TEST_F(SensorOnSimTest, RefusedBusFailsTheSetterAndKeepsTheValue) {
    ASSERT_EQ(sensor->SetGain(100), 1);
    LumoraSim_InjectFault(0, LUMORA_SIM_FAULT_I2C_REFUSE, 1000, 0);
    EXPECT_EQ(sensor->SetGain(200), 0);
    LumoraSim_ClearFaults(0);
    int gain = 0;
    sensor->GetGain(&gain);
    EXPECT_EQ(gain, 100);
    std::lock_guard lock(camera->Lock());
    EXPECT_EQ(camera->Sensor().Get(imx992::kGain), 100);
    EXPECT_EQ(camera->Fpga().Get(imx992::kFpgaSensorBusRequest), 0);
}

}  // namespace
}  // namespace lumora

namespace lumora {
namespace {

// The FPGA shares the sensor's bus: a transfer without the bus requested and granted is refused,
// the grant takes a poll, and the arbitrated access always hands the bus back.
TEST_F(SensorOnSimTest, SensorBusMustBeRequestedAndGranted) {
    int value = 0;
    EXPECT_EQ(sensor->WriteRegister(imx992::kBlackLevel, 0x12), 0);
    EXPECT_EQ(sensor->ReadRegister(imx992::kBlackLevel, &value), 0);
    ASSERT_EQ(controller->WriteFpgaRegister(0x9F, 1), 1);
    EXPECT_EQ(sensor->WriteRegister(imx992::kBlackLevel, 0x12), 0);  // not granted yet
    uint8_t status = 0;
    ASSERT_EQ(controller->ReadFpgaRegister(0x02, &status), 1);
    EXPECT_EQ(status & 2, 2);  // the FPGA is still on the bus
    ASSERT_EQ(controller->ReadFpgaRegister(0x02, &status), 1);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(sensor->WriteRegister(imx992::kBlackLevel, 0x12), 1);
    ASSERT_EQ(controller->WriteFpgaRegister(0x9F, 0), 1);
    EXPECT_EQ(sensor->ReadRegister(imx992::kBlackLevel, &value), 0);  // released again
    ASSERT_EQ(sensor->ReadRegisterLocked(imx992::kBlackLevel, &value), 1);
    EXPECT_EQ(value, 0x12);
    std::lock_guard lock(camera->Lock());
    EXPECT_EQ(camera->Fpga().Get(0x9F), 0);
}

// Triggered operation follows the arming sequence; a bare write of the mode register disarms.
TEST_F(SensorOnSimTest, TriggeredOperationNeedsTheArmingSequence) {
    ASSERT_EQ(controller->WriteFpgaRegister(0x58, 2), 1);
    EXPECT_EQ(LumoraSim_FireTrigger(0), 0);  // not armed: the edge starts nothing
    ASSERT_EQ(sensor->SetTriggerMode(1), 1);
    {
        std::lock_guard lock(camera->Lock());
        EXPECT_TRUE(Model().Triggered(*camera));
    }
    ASSERT_EQ(controller->WriteFpgaRegister(0x58, 2), 1);
    EXPECT_EQ(LumoraSim_FireTrigger(0), 0);
    ASSERT_EQ(sensor->SetTriggerMode(1), 1);
    LumoraSim_SetFastMode(1);
    EXPECT_EQ(LumoraSim_FireTrigger(0), 1);
    LumoraSim_SetFastMode(0);
    ASSERT_EQ(sensor->SetTriggerMode(0), 1);
    std::lock_guard lock(camera->Lock());
    EXPECT_FALSE(Model().Triggered(*camera));
}

}  // namespace
}  // namespace lumora
