// The IMX992 driver through the real controller against the simulated camera: what it programs
// is what the camera then does.
#include <gtest/gtest.h>

#include <mutex>
#include <tuple>
#include <utility>

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

// The camera takes from its registers exactly what the driver programs and refuses what it
// cannot do: each setting below, changed by hand after the driver's, spoils the frame (noise)
// or stops the stream until the driver's value is back.
TEST_F(SensorOnSimTest, CameraRefusesWhatTheSensorAndFpgaCannotDo) {
    ASSERT_EQ(sensor->SetExposureSeconds(0.005), 1);
    ASSERT_EQ(sensor->SetReadoutWindow(0, 640, 0, 480, 0), 1);
    ASSERT_EQ(sensor->SetExposureSeconds(0.001), 1);
    auto check = [&](const char* what, auto&& spoil, auto&& judge) {
        std::lock_guard lock(camera->Lock());
        EXPECT_TRUE(judge()) << what << " as the driver left it";
        spoil();
        EXPECT_FALSE(judge()) << what;
    };
    auto sensorByte = [&](uint32_t reg, uint8_t value) {
        ASSERT_EQ(sensor->WriteRegisterLocked(static_cast<uint16_t>(reg), value), 1);
    };
    const auto saved = [&] {
        std::lock_guard lock(camera->Lock());
        return std::make_pair(camera->Sensor().ValuesCopy(), camera->Fpga().ValuesCopy());
    }();
    auto restore = [&] {
        std::lock_guard lock(camera->Lock());
        for (uint32_t r = 0; r < 0x10000; ++r) camera->Sensor().Set(r, saved.first.Get(r));
        for (uint32_t r = 0; r < 0x100; ++r) camera->Fpga().Set(r, saved.second.Get(r));
    };
    auto geometry = [&] { return Model().SensorGeometry(*camera).has_value(); };
    auto framing = [&] { return Model().FramingAgrees(*camera); };
    auto shutter = [&] { return Model().ShutterValid(*camera); };
    auto freeRuns = [&] { return Model().FrameDelayMs(*camera).has_value(); };

    // Window off the 8-column grid, or past the sensor's edge.
    check(
        "window x", [&] { camera->Sensor().Set(0x0320, 4); }, geometry);
    restore();
    check(
        "window end", [&] { camera->Sensor().Set(0x0321, 8); }, geometry);  // x = 2048
    restore();
    // Output timing that does not match the sample depth (the framing the driver's buffers
    // would program for a full 8-bit frame, otherwise).
    ASSERT_EQ(sensor->SetReadoutWindow(0, 2560, 0, 2048, 0), 1);
    {
        std::lock_guard lock(camera->Lock());
        camera->Fpga().Set16(0x48, 0x49, 33);
        camera->Fpga().Set16(0x4C, 0x4D, 112);
    }
    check(
        "output timing", [&] { camera->Fpga().Set(0x54, 200); }, framing);
    restore();
    // Shutter line: odd, or before line 52 (judged as its last byte is written), or no room for
    // two exposed lines.
    sensorByte(0x0440, 0x33);
    sensorByte(0x0441, 0x00);
    sensorByte(0x0442, 0x00);
    {
        std::lock_guard lock(camera->Lock());
        EXPECT_FALSE(shutter()) << "odd shutter line";
    }
    sensorByte(0x0440, 50);
    sensorByte(0x0442, 0x00);
    {
        std::lock_guard lock(camera->Lock());
        EXPECT_FALSE(shutter()) << "shutter line 50";
    }
    ASSERT_EQ(sensor->SetExposureSeconds(0.001), 1);
    const auto now = [&] {
        std::lock_guard lock(camera->Lock());
        return camera->Sensor().ValuesCopy();
    }();
    check(
        "exposure of no line",
        [&] {
            for (uint32_t i = 0; i < 3; ++i) camera->Sensor().Set(0x02D4 + i, now.Get(0x0440 + i));
        },
        shutter);
    restore();
    check(
        "odd frame length", [&] { camera->Sensor().Set(0x02D4, now.Get(0x02D4) | 1); }, shutter);
    restore();
    // Free run stops in standby and with the trigger register set for triggers.
    check(
        "standby", [&] { camera->Sensor().Set(0x0702, 1); }, freeRuns);
    restore();
    check(
        "trigger register", [&] { camera->Sensor().Set(0x0430, 0x2B); }, freeRuns);
    restore();
    // Either hold register holds the timing.
    ASSERT_EQ(sensor->WriteRegisterLocked(imx992::kHold2, 1), 1);
    ASSERT_EQ(sensor->SetExposureSeconds(0.1), 1);
    {
        std::lock_guard lock(camera->Lock());
        EXPECT_LT(Model().ExposureUs(*camera), 50000.0);
    }
    ASSERT_EQ(sensor->WriteRegisterLocked(imx992::kHold2, 0), 1);
    std::lock_guard lock(camera->Lock());
    EXPECT_NEAR(Model().ExposureUs(*camera), 100000.0, 500.0);
}

// A trigger starts an exposure only with the sensor's trigger registers and the FPGA's exposure
// control as the driver programs them.
TEST_F(SensorOnSimTest, TriggerNeedsTheTriggerRegistersAndTheFpgasExposureControl) {
    ASSERT_EQ(sensor->SetTriggerMode(1), 1);
    for (const auto& [fpga, reg, value] :
         {std::tuple{false, 0x0430u, uint8_t{0x29}}, std::tuple{false, 0x0432u, uint8_t{0}},
          std::tuple{true, 0x50u, uint8_t{0}}, std::tuple{true, 0x52u, uint8_t{1}}}) {
        std::lock_guard lock(camera->Lock());
        auto& file = fpga ? camera->Fpga() : camera->Sensor();
        const uint8_t kept = file.Get(reg);
        EXPECT_TRUE(Model().Triggered(*camera)) << std::hex << reg;
        file.Set(reg, value);
        EXPECT_FALSE(Model().Triggered(*camera)) << std::hex << reg;
        file.Set(reg, kept);
    }
}

}  // namespace
}  // namespace lumora
