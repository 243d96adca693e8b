#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <iterator>
#include <limits>
#include <thread>
#include <vector>

#include "sensor/CSensorIMX992.h"
#include "sensor/FakeBus.h"
#include "sensor/Imx992Registers.h"

namespace lumora {
namespace {

using test::FakeBus;

class Imx992Test : public ::testing::Test {
protected:
    void SetUp() override {
        SetSensorPausesForTesting(false);
        sensor.SetTypeCode(CSensorIMX992::kTypeCodeCooled);
    }
    void TearDown() override { SetSensorPausesForTesting(true); }

    FakeBus bus;
    CSensorIMX992 sensor{&bus, CSensorIMX992::kBusAddress};
};

TEST_F(Imx992Test, TypeCodeChoosesOrientationAndCooler) {
    CSensorIMX992 uncooled(&bus, 0x48);
    SensorInfo info{};
    ASSERT_TRUE(uncooled.GetSensorInfo(&info));
    EXPECT_EQ(info.orientation, 4);
    EXPECT_EQ(uncooled.TypeCode(), 129);
    EXPECT_EQ(uncooled.HasCooler(), 0);
    ASSERT_TRUE(sensor.GetSensorInfo(&info));
    EXPECT_EQ(info.orientation, 1);
    EXPECT_EQ(sensor.HasCooler(), 1);
    EXPECT_EQ(sensor.SetTypeCode(77), 0);
    EXPECT_EQ(sensor.TypeCode(), 130);
    EXPECT_EQ(sensor.GetSensorInfo(nullptr), 0);
}

TEST_F(Imx992Test, InvalidWindowsAreRejectedBeforeAnyWrite) {
    EXPECT_EQ(sensor.SetReadoutWindow(4, 64, 0, 64, 0), 0);    // x not a multiple of 8
    EXPECT_EQ(sensor.SetReadoutWindow(0, 2688, 0, 64, 0), 0);  // wider than the sensor
    EXPECT_EQ(sensor.SetReadoutWindow(0, 64, 2, 64, 0), 0);
    EXPECT_EQ(sensor.SetReadoutWindow(-8, 64, 0, 64, 0), 0);
    EXPECT_EQ(sensor.SetReadoutWindow(8, 64, 0, 64, 1), 0);  // binned modes start at 0
    EXPECT_EQ(sensor.SetReadoutWindow(0, 48, 0, 64, 17), 0);
    EXPECT_EQ(sensor.SetReadoutWindow(0, 64, 0, 64, 5), 0);
    EXPECT_EQ(sensor.SetReadoutWindow(2552, 16, 0, 64, 0), 0);
    EXPECT_TRUE(bus.log.empty());
}

TEST_F(Imx992Test, WindowHeightSetsFrameLengthAndCropping) {
    ASSERT_EQ(sensor.SetReadoutWindow(0, 2560, 0, 2048, 0), 1);
    EXPECT_EQ(bus.Sensor24(imx992::kFrameLength), 2140u);
    EXPECT_EQ(bus.sensor[imx992::kCropping] & 2, 0);
    ASSERT_EQ(sensor.SetReadoutWindow(64, 1024, 128, 1024, 0), 1);
    EXPECT_EQ(bus.Sensor24(imx992::kFrameLength), 1108u);
    EXPECT_EQ(bus.sensor[imx992::kCropping], 3);
    EXPECT_EQ(bus.Sensor16(imx992::kWindowX), 64u);
    EXPECT_EQ(bus.Sensor16(imx992::kWindowY), 128u);
    EXPECT_EQ(bus.Sensor16(imx992::kWindowWidth), 1024u);
    EXPECT_EQ(bus.Sensor16(imx992::kWindowHeight), 1024u);
    int x = -1, w = -1, y = -1, h = -1, m = -1;
    ASSERT_TRUE(sensor.GetReadoutWindow(&x, &w, &y, &h, &m));
    EXPECT_EQ(x, 64);
    EXPECT_EQ(w, 1024);
    EXPECT_EQ(y, 128);
    EXPECT_EQ(h, 1024);
    EXPECT_EQ(m, 0);
}

TEST_F(Imx992Test, VerticalStartFollowsTheTypeCode) {
    CSensorIMX992 uncooled(&bus, 0x48);
    ASSERT_EQ(uncooled.SetReadoutWindow(0, 512, 100, 400, 0), 1);
    EXPECT_EQ(bus.Sensor16(imx992::kWindowY), 2048u - 100 - 400);
    ASSERT_EQ(sensor.SetReadoutWindow(0, 512, 100, 400, 0), 1);
    EXPECT_EQ(bus.Sensor16(imx992::kWindowY), 100u);
}

TEST_F(Imx992Test, BinnedModesProgramTheFullSensorAndStoreHalfSize) {
    ASSERT_EQ(sensor.SetReadoutWindow(0, 2560, 0, 2048, 1), 1);
    EXPECT_EQ(bus.sensor[imx992::kReadoutBinning], 17);
    EXPECT_EQ(bus.fpga[imx992::kFpgaReadoutMode], 1);
    EXPECT_EQ(bus.Sensor24(imx992::kFrameLength), 1116u);
    EXPECT_EQ(bus.Sensor16(imx992::kWindowY), 4u);
    SensorInfo info{};
    sensor.GetSensorInfo(&info);
    EXPECT_EQ(info.windowWidth, 1280);
    EXPECT_EQ(info.windowHeight, 1024);
    ASSERT_EQ(sensor.SetReadoutWindow(0, 2560, 0, 2048, 17), 1);
    EXPECT_EQ(bus.sensor[imx992::kReadoutSelect], 172);
    EXPECT_EQ(bus.fpga[imx992::kFpgaReadoutMode], 2);
}

TEST_F(Imx992Test, ExposureLinesLengthenTheFrameWhenNeeded) {
    ASSERT_EQ(sensor.SetReadoutWindow(0, 2560, 0, 2048, 0), 1);
    ASSERT_EQ(sensor.SetExposureLines(3000), 1);
    EXPECT_EQ(bus.Sensor24(imx992::kFrameLength), 3052u);
    EXPECT_EQ(bus.Sensor24(imx992::kShutter), 52u);
    int lines = 0;
    sensor.GetExposureLines(&lines);
    EXPECT_EQ(lines, 3000);
    ASSERT_EQ(sensor.SetExposureLines(1000), 1);
    EXPECT_EQ(bus.Sensor24(imx992::kFrameLength), 2140u);
    EXPECT_EQ(bus.Sensor24(imx992::kShutter), 1140u);
    sensor.GetExposureLines(&lines);
    EXPECT_EQ(lines, 1000);
    // The FPGA learns the exposure too.
    EXPECT_EQ(bus.fpga[imx992::kFpgaExposureLow] | (bus.fpga[imx992::kFpgaExposureMid] << 8), 1000);
    EXPECT_EQ(bus.fpga[imx992::kFpgaOutputTiming], 100);
}

TEST_F(Imx992Test, LengtheningAcrossAMiddleByteWritesTheMiddleByteFirst) {
    ASSERT_EQ(sensor.SetReadoutWindow(0, 2560, 0, 2048, 0), 1);
    ASSERT_EQ(sensor.SetExposureLines(70000), 1);  // frame length 0x11184: above 16 bits
    bus.ClearLog();
    ASSERT_EQ(sensor.SetExposureLines(3000), 1);  // 3052 = 0x0BEC, middle byte 0x0B < 0x11
    std::vector<uint32_t> order;
    for (const auto& w : bus.log)
        if (!w.fpga && w.reg >= imx992::kFrameLength && w.reg <= imx992::kFrameLength + 2)
            order.push_back(w.reg);
    EXPECT_EQ(order, (std::vector<uint32_t>{0x02D5, 0x02D6, 0x02D4}));
}

TEST_F(Imx992Test, LongestExposureKeepsTheFrameLengthWithin24Bits) {
    ASSERT_EQ(sensor.SetExposureLines(0xFFFFFFFFu), 1);
    const uint32_t frame = bus.Sensor24(imx992::kFrameLength);
    const uint32_t shutter = bus.Sensor24(imx992::kShutter);
    EXPECT_GE(frame, shutter);
    int lines = 0;
    sensor.GetExposureLines(&lines);
    EXPECT_EQ(static_cast<uint32_t>(lines), frame - shutter);
    EXPECT_EQ(lines, static_cast<int>(CSensorIMX992::kMaxExposureLines));
}

TEST_F(Imx992Test, ExposureSecondsAreClampedAndNonFiniteRefused) {
    ASSERT_EQ(sensor.SetExposureSeconds(0.00001), 1);
    double seconds = 0;
    sensor.GetExposureSeconds(&seconds);
    EXPECT_DOUBLE_EQ(seconds, 0.000027842);
    int lines = 0;
    sensor.GetExposureLines(&lines);
    EXPECT_EQ(lines, 2);
    bus.ClearLog();
    EXPECT_EQ(sensor.SetExposureSeconds(std::numeric_limits<double>::quiet_NaN()), 0);
    EXPECT_EQ(sensor.SetExposureSeconds(std::numeric_limits<double>::infinity()), 0);
    EXPECT_TRUE(bus.log.empty());
    ASSERT_EQ(sensor.SetExposureSeconds(0.01), 1);
    int tenths = 0;
    sensor.GetExposureTime(&tenths);
    EXPECT_EQ(tenths, 100);
    sensor.GetExposureLines(&lines);
    // 10 ms at 6.5212 us per line is 1531 lines; the shutter line is even, so 1530.
    EXPECT_EQ(lines, 1530);
}

TEST_F(Imx992Test, ExposureTimeInTenthsOfMilliseconds) {
    ASSERT_EQ(sensor.SetExposureTime(50), 1);
    double seconds = 0;
    sensor.GetExposureSeconds(&seconds);
    EXPECT_DOUBLE_EQ(seconds, 0.005);
    ASSERT_EQ(sensor.SetExposureTime(0), 1);  // clamped to 1
    int tenths = -1;
    sensor.GetExposureTime(&tenths);
    EXPECT_EQ(tenths, 1);
}

TEST_F(Imx992Test, SixteenBitOutputDoublesTheLineLengthAndRaisesTheMinimum) {
    ASSERT_EQ(sensor.SetHighBitDepth(1), 1);
    EXPECT_EQ(bus.Sensor16(imx992::kLineLength), 978u);
    EXPECT_EQ(sensor.LineLengthWritten(), 978);
    double minimum = 0;
    sensor.GetExposureSecondsMin(&minimum);
    EXPECT_NEAR(minimum, (2 * 13.0425 + 14.802) / 1e6, 1e-9);
    ASSERT_EQ(sensor.SetHighBitDepth(0), 1);
    EXPECT_EQ(bus.Sensor16(imx992::kLineLength), 489u);
}

TEST_F(Imx992Test, GainAndBlackLevelAreClampedIntoTheirRegisters) {
    ASSERT_EQ(sensor.SetGain(500), 1);
    EXPECT_EQ(bus.sensor[imx992::kGain], 420 & 0xFF);
    EXPECT_EQ(bus.sensor[imx992::kGain + 1], 1);
    int gain = 0;
    sensor.GetGain(&gain);
    EXPECT_EQ(gain, 420);
    ASSERT_EQ(sensor.SetBlackLevel(0xABC), 1);
    EXPECT_EQ(bus.sensor[imx992::kBlackLevel], 0xBC);
    EXPECT_EQ(bus.sensor[imx992::kBlackLevel + 1], 0x0A);
    ASSERT_EQ(sensor.SetBlackLevel(5000), 1);
    int level = 0;
    sensor.GetBlackLevel(&level);
    EXPECT_EQ(level, 4095);
}

TEST_F(Imx992Test, FailedWriteKeepsTheStoredValue) {
    bus.refusedSensorRegs.insert(imx992::kGain);
    EXPECT_EQ(sensor.SetGain(100), 0);
    int gain = -1;
    sensor.GetGain(&gain);
    EXPECT_EQ(gain, 0);
}

TEST_F(Imx992Test, MirrorsShareOneRegisterAndMoveTheFpgaLineStart) {
    ASSERT_EQ(sensor.SetMirrorV(1), 1);
    EXPECT_EQ(bus.sensor[imx992::kMirror], 1);
    ASSERT_EQ(sensor.SetMirrorH(1), 1);
    EXPECT_EQ(bus.sensor[imx992::kMirror], 3);
    EXPECT_EQ(bus.fpga[imx992::kFpgaAlignV2], 16);
    ASSERT_EQ(sensor.SetMirrorH(0), 1);
    EXPECT_EQ(bus.fpga[imx992::kFpgaAlignV2], 112);
    EXPECT_EQ(bus.sensor[imx992::kMirror], 1);
}

TEST_F(Imx992Test, FreeRunWithoutChangeReturnsAtOnce) {
    bus.fpga[imx992::kFpgaTriggerMode] = 0;
    ASSERT_EQ(sensor.SetTriggerMode(0), 1);
    EXPECT_TRUE(bus.log.empty());
    EXPECT_FALSE(sensor.ResetPulseEnabled());
    EXPECT_EQ(sensor.PulseStreamRestart(), 1);  // skipped while disabled
    EXPECT_TRUE(bus.log.empty());
}

TEST_F(Imx992Test, TriggeredModeProgramsSensorAndFpga) {
    ASSERT_EQ(sensor.SetTriggerMode(1), 1);
    EXPECT_EQ(bus.fpga[imx992::kFpgaTriggerMode], 2);
    EXPECT_EQ(bus.sensor[imx992::kTriggerA], 0x2B);
    EXPECT_EQ(bus.sensor[imx992::kTriggerEnable], 1);
    EXPECT_EQ(bus.FpgaWrites(imx992::kFpgaTriggerControl), (std::vector<uint8_t>{4, 0x84, 4, 0}));
    EXPECT_EQ(bus.FpgaWrites(imx992::kFpgaStreamRestart), (std::vector<uint8_t>{1, 0}));
    int mode = -1;
    sensor.GetTriggerMode(&mode);
    EXPECT_EQ(mode, 1);
    ASSERT_EQ(sensor.SetTriggerMode(0), 1);
    EXPECT_EQ(bus.fpga[imx992::kFpgaTriggerMode], 0);
    EXPECT_EQ(bus.sensor[imx992::kTriggerA], 0x29);
    EXPECT_EQ(bus.sensor[imx992::kTriggerEnable], 0);
    EXPECT_EQ(sensor.SetTriggerMode(2), 0);
}

TEST_F(Imx992Test, RefusedTriggerModeIsNotStored) {
    bus.refusedSensorRegs.insert(imx992::kTriggerA);
    EXPECT_EQ(sensor.SetTriggerMode(1), 0);
    int mode = -1;
    sensor.GetTriggerMode(&mode);
    EXPECT_EQ(mode, 0);
}

TEST_F(Imx992Test, ArbitratedAccessGivesUpWhileTheFpgaHoldsTheBusAndReleasesIt) {
    bus.status = 2;
    EXPECT_EQ(sensor.WriteRegisterLocked(0x0702, 5), 0);
    EXPECT_EQ(bus.fpgaReads[0x02], 100);
    EXPECT_EQ(bus.fpga[0x9F], 0);
    EXPECT_EQ(bus.sensor[0x0702], 0);
    bus.status = 0;
    EXPECT_EQ(sensor.WriteRegisterLocked(0x0702, 5), 1);
    EXPECT_EQ(bus.FpgaWrites(0x9F).back(), 0);
    EXPECT_EQ(bus.sensor[0x0702], 5);
}

TEST_F(Imx992Test, RawRegisterAccess) {
    ASSERT_EQ(sensor.WriteRegister(0x1234, 0x1AB), 1);
    EXPECT_EQ(bus.sensor[0x1234], 0xAB);
    int value = 0;
    ASSERT_EQ(sensor.ReadRegister(0x1234, &value), 1);
    EXPECT_EQ(value, 0xAB);
    bus.refuseSensor = true;
    EXPECT_EQ(sensor.ReadRegister(0x1234, &value), 0);
    CSensorIMX992 detached(nullptr, 0x48);
    EXPECT_EQ(detached.WriteRegister(1, 1), 0);
    EXPECT_EQ(detached.SetGain(1), 0);
}

TEST_F(Imx992Test, GainModeFlagIsBitZeroInverted) {
    bus.sensor[imx992::kGainMode] = 0x40;
    EXPECT_EQ(sensor.GetControlFlag(), 1);  // low gain
    ASSERT_EQ(sensor.SetControlFlag(0), 1);
    EXPECT_EQ(bus.sensor[imx992::kGainMode], 0x41);
    EXPECT_EQ(sensor.GetControlFlag(), 0);
    ASSERT_EQ(sensor.SetControlFlag(1), 1);
    EXPECT_EQ(bus.sensor[imx992::kGainMode], 0x40);
    ASSERT_EQ(sensor.SetControlFlag(7), 1);
    EXPECT_EQ(bus.sensor[imx992::kGainMode], 0);
    bus.refusedSensorReads.insert(imx992::kGainMode);
    EXPECT_EQ(sensor.GetControlFlag(), -1);
}

TEST_F(Imx992Test, SensorModeReadBackAtStartUp) {
    bus.sensor[imx992::kSensorModeA] = 0x50;
    bus.sensor[imx992::kSensorModeB] = 1;
    ASSERT_EQ(sensor.InitializeSensor(), 1);
    int mode = 0;
    sensor.GetSensorMode(&mode);
    EXPECT_EQ(mode, 1);
    EXPECT_EQ(bus.Sensor16(imx992::kBlackLevel), 240u);
}

TEST(Imx992Temperature, RawWordIsTwelveBitTwosComplementInEighths) {
    EXPECT_DOUBLE_EQ(imx992::TemperatureFromRaw(0x0C8), 25.0);
    EXPECT_DOUBLE_EQ(imx992::TemperatureFromRaw(0xF38), -25.0);
    EXPECT_DOUBLE_EQ(imx992::TemperatureFromRaw(0x001), 0.125);
    EXPECT_DOUBLE_EQ(imx992::TemperatureFromRaw(0x800), -256.0);
    EXPECT_DOUBLE_EQ(imx992::TemperatureFromRaw(0x7FF), 255.875);
}

TEST_F(Imx992Test, TemperatureFromTheFpgaRetriesZeroReadingsAndReportsFailedReads) {
    bus.fpga[0x10] = 0x05;
    bus.fpga[0x11] = 0x81;
    bus.fpga[imx992::kFpgaTemperatureLow] = 0x38;
    bus.fpga[imx992::kFpgaTemperatureHigh] = 0xFF;  // only the low nibble counts
    double degrees = 0;
    ASSERT_EQ(sensor.GetSensorTemperature(&degrees), 1);
    EXPECT_DOUBLE_EQ(degrees, -25.0);
    bus.fpga[imx992::kFpgaTemperatureLow] = 0;
    bus.fpga[imx992::kFpgaTemperatureHigh] = 0;
    const int before = bus.fpgaReads[imx992::kFpgaTemperatureLow];
    ASSERT_EQ(sensor.GetSensorTemperature(&degrees), 1);
    EXPECT_EQ(bus.fpgaReads[imx992::kFpgaTemperatureLow] - before, 5);
    EXPECT_DOUBLE_EQ(degrees, 0.0);
    bus.refusedFpgaReads.insert(imx992::kFpgaTemperatureHigh);
    EXPECT_EQ(sensor.GetSensorTemperature(&degrees), 0);
    EXPECT_EQ(sensor.GetSensorTemperature(nullptr), 0);
}

TEST_F(Imx992Test, TemperatureFromTheSensorLatchesAndRestores) {
    bus.fpga[0x10] = 0x04;  // capability word 0x0104: the sensor's own thermometer
    bus.fpga[0x11] = 0x01;
    bus.sensor[imx992::kTemperatureLatch] = 0x80;
    bus.sensor[imx992::kTemperature] = 0xC8;
    bus.sensor[imx992::kTemperature + 1] = 0x00;
    double degrees = 0;
    ASSERT_EQ(sensor.GetSensorTemperature(&degrees), 1);
    EXPECT_DOUBLE_EQ(degrees, 25.0);
    EXPECT_EQ(bus.SensorWrites(imx992::kTemperatureLatch), (std::vector<uint8_t>{0x81, 0x80}));
    bus.ClearLog();
    bus.refusedSensorReads.insert(imx992::kTemperatureLatch);
    EXPECT_EQ(sensor.GetSensorTemperature(&degrees), 0);
    EXPECT_TRUE(bus.SensorWrites(imx992::kTemperatureLatch).empty());  // never written blind
}

TEST_F(Imx992Test, CoolerSwitchKeepsTheOtherBits) {
    bus.fpga[imx992::kFpgaCooler] = 0xA4;
    ASSERT_EQ(sensor.SetCoolerOn(1), 1);
    EXPECT_EQ(bus.fpga[imx992::kFpgaCooler], 0xA5);
    EXPECT_EQ(sensor.IsCoolerOn(), 1);
    ASSERT_EQ(sensor.SetCoolerOn(0), 1);
    EXPECT_EQ(bus.fpga[imx992::kFpgaCooler], 0xA4);
    ASSERT_EQ(sensor.SetCoolerOn(2), 1);
    EXPECT_EQ(sensor.IsCoolerOn(), 1);
    ASSERT_EQ(sensor.SetCoolerOn(-1), 1);
    EXPECT_EQ(sensor.IsCoolerOn(), 0);
    CSensorIMX992 uncooled(&bus, 0x48);
    EXPECT_EQ(uncooled.SetCoolerOn(1), 0);
    EXPECT_EQ(uncooled.IsCoolerOn(), 0);
}

TEST_F(Imx992Test, DefectCorrectionAvailabilityIsCapabilityBit15) {
    bus.fpga[0x11] = 0x81;
    bus.fpga[0x10] = 0x05;
    EXPECT_EQ(sensor.IsInternalCorrectionAvailable(), 1);
    CSensorIMX992 other(&bus, 0x48);
    bus.fpga[0x11] = 0x01;
    EXPECT_EQ(other.IsInternalCorrectionAvailable(), 0);
}

TEST_F(Imx992Test, ConcurrentSettersLeaveConsistentRegisters) {
    ASSERT_EQ(sensor.SetReadoutWindow(0, 2560, 0, 2048, 0), 1);
    std::thread exposure([&] {
        for (int i = 0; i < 50; ++i) sensor.SetExposureLines(500 + 97 * i);
    });
    std::thread window([&] {
        for (int i = 0; i < 50; ++i) sensor.SetReadoutWindow(0, 2560, 0, 2048, 0);
    });
    exposure.join();
    window.join();
    ASSERT_EQ(sensor.SetExposureLines(1234), 1);
    int lines = 0;
    sensor.GetExposureLines(&lines);
    EXPECT_EQ(static_cast<int>(bus.Sensor24(imx992::kFrameLength) - bus.Sensor24(imx992::kShutter)),
              lines);
}

TEST(SensorBase, DefaultsAnswerNothingButTheDocumentedValues) {
    CSensorBase base(nullptr, 0);
    EXPECT_EQ(base.GetControlFlag(), -1);
    EXPECT_EQ(base.GetGainStage(), -1);
    EXPECT_EQ(base.SupportsOutputFormatA(), 1);
    EXPECT_EQ(base.SetGain(5), 0);
    int value = 99;
    EXPECT_EQ(base.GetGainMax(&value), 0);  // unsupported group, stored value still written
    EXPECT_EQ(value, 0);
    EXPECT_EQ(base.GetTriggerModeValue(), 15);
    EXPECT_EQ(base.PulseStreamRestart(), 0);  // no controller
    EXPECT_EQ(base.GetSensorInfo(nullptr), 0);
}

// Every getter the base answers from SensorInfo reads its own group: each word of the record
// holds a different value, so a getter that reads a neighbour's field or returns another
// group's supported word shows.
TEST(SensorBase, RangeGettersReadTheirOwnGroupOfTheRecord) {
    struct Filled : CSensorBase {
        Filled() : CSensorBase(nullptr, 0x48) {
            int32_t words[sizeof(SensorInfo) / 4];
            for (size_t i = 0; i < std::size(words); ++i) words[i] = static_cast<int32_t>(100 + i);
            std::memcpy(&info_, words, sizeof words);
            info_.exposureSecondsMin = 0.25;
            info_.exposureSecondsMax = 1.25;
            info_.exposureSeconds = 2.25;
            info_.exposureSecondsDefault = 3.25;
        }
    } sensor;
    SensorInfo i{};
    ASSERT_EQ(sensor.GetSensorInfo(&i), 1);
    using Getter = int (CSensorBase::*)(int*);
    const struct {
        Getter getter;
        int32_t value;
        int32_t supported;
    } ranges[] = {
        {&CSensorBase::GetExposureLines, i.exposureLines.current, i.exposureLines.supported},
        {&CSensorBase::GetExposureLinesMin, i.exposureLines.min, i.exposureLines.supported},
        {&CSensorBase::GetExposureLinesMax, i.exposureLines.max, i.exposureLines.supported},
        {&CSensorBase::GetExposureLinesDefault, i.exposureLines.defaultValue,
         i.exposureLines.supported},
        {&CSensorBase::GetGain, i.gain.current, i.gain.supported},
        {&CSensorBase::GetGainMin, i.gain.min, i.gain.supported},
        {&CSensorBase::GetGainMax, i.gain.max, i.gain.supported},
        {&CSensorBase::GetGainDefault, i.gain.defaultValue, i.gain.supported},
        {&CSensorBase::GetRedGain, i.redGain.current, i.redGain.supported},
        {&CSensorBase::GetGreen1Gain, i.green1Gain.current, i.green1Gain.supported},
        {&CSensorBase::GetGreen2Gain, i.green2Gain.current, i.green2Gain.supported},
        {&CSensorBase::GetBlueGain, i.blueGain.current, i.blueGain.supported},
        {&CSensorBase::GetColorGainMin, i.redGain.min, i.redGain.supported},
        {&CSensorBase::GetColorGainMax, i.redGain.max, i.redGain.supported},
        {&CSensorBase::GetColorGainDefault, i.redGain.defaultValue, i.redGain.supported},
        {&CSensorBase::GetBlackLevel, i.blackLevel.current, i.blackLevel.supported},
        {&CSensorBase::GetBlackLevelMin, i.blackLevel.min, i.blackLevel.supported},
        {&CSensorBase::GetBlackLevelMax, i.blackLevel.max, i.blackLevel.supported},
        {&CSensorBase::GetBlackLevelDefault, i.blackLevel.defaultValue, i.blackLevel.supported},
        {&CSensorBase::GetSensorMode, i.sensorMode, i.sensorModeSupported},
        {&CSensorBase::GetLevelPairMin, i.levelPairMin, i.levelPairSupported},
        {&CSensorBase::GetLevelPairMax, i.levelPairMax, i.levelPairSupported},
        {&CSensorBase::GetLevelADefault, i.levelADefault, i.levelPairSupported},
        {&CSensorBase::GetLevelBDefault, i.levelBDefault, i.levelPairSupported},
        {&CSensorBase::GetLevelA, i.levelA, i.levelPairSupported},
        {&CSensorBase::GetLevelB, i.levelB, i.levelPairSupported},
        {&CSensorBase::GetExposureTime, i.exposureTime.current, i.exposureTime.supported},
        {&CSensorBase::GetExposureTimeMin, i.exposureTime.min, i.exposureTime.supported},
        {&CSensorBase::GetExposureTimeMax, i.exposureTime.max, i.exposureTime.supported},
        {&CSensorBase::GetExposureTimeDefault, i.exposureTime.defaultValue,
         i.exposureTime.supported},
        {&CSensorBase::GetMirrorV, i.mirrorV, i.mirrorVSupported},
        {&CSensorBase::GetMirrorH, i.mirrorH, i.mirrorHSupported},
    };
    int row = 0;
    for (const auto& range : ranges) {
        const auto getter = range.getter;
        int value = -1;
        EXPECT_EQ((sensor.*getter)(&value), range.supported) << "row " << row;
        EXPECT_EQ(value, range.value) << "row " << row;
        EXPECT_EQ((sensor.*getter)(nullptr), range.supported) << "row " << row;
        ++row;
    }
    EXPECT_EQ(sensor.IsBlackLevelSupported(), i.blackLevel.supported);
    EXPECT_EQ(sensor.IsSensorModeSupported(), i.sensorModeSupported);
    EXPECT_EQ(sensor.IsLevelPairSupported(), i.levelPairSupported);
    EXPECT_EQ(sensor.IsMirrorVSupported(), i.mirrorVSupported);
    EXPECT_EQ(sensor.IsMirrorHSupported(), i.mirrorHSupported);
    EXPECT_EQ(sensor.GetMirrorVDefault(), i.mirrorVDefault);
    EXPECT_EQ(sensor.GetMirrorHDefault(), i.mirrorHDefault);
    EXPECT_EQ(sensor.IsExposureSecondsSupported(), i.exposureSecondsSupported);
    // The bounds come back as doubles, the supported word as the result.
    double seconds = 0;
    EXPECT_EQ(sensor.GetExposureSecondsMin(&seconds), i.exposureSecondsSupported);
    EXPECT_EQ(seconds, 0.25);
    EXPECT_EQ(sensor.GetExposureSecondsMax(&seconds), i.exposureSecondsSupported);
    EXPECT_EQ(seconds, 1.25);
    EXPECT_EQ(sensor.GetExposureSeconds(&seconds), i.exposureSecondsSupported);
    EXPECT_EQ(seconds, 2.25);
    EXPECT_EQ(sensor.GetExposureSecondsDefault(&seconds), i.exposureSecondsSupported);
    EXPECT_EQ(seconds, 3.25);
    int x = 0, width = 0, y = 0, height = 0, mode = 0;
    EXPECT_EQ(sensor.GetReadoutWindow(&x, &width, &y, &height, &mode), 0);
    EXPECT_EQ(
        std::vector<int>({x, width, y, height, mode}),
        std::vector<int>({i.windowX, i.windowWidth, i.windowY, i.windowHeight, i.readoutMode}));
}

}  // namespace
}  // namespace lumora
