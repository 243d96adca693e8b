#include "sim/SimSensorModel.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <vector>

#include "platform/Clock.h"
#include "sim/SimCamera.h"

namespace lumora::sim {

namespace {

std::atomic<bool> gFastMode{false};
std::atomic<int> gStaticScene{-1};  // -1: not decided yet, read the environment
std::atomic<uint32_t> gTimeOffset{0};
std::atomic<bool> gPlainModel{false};

// Sensor registers the camera acts on.
constexpr uint32_t kSensorHold = 0x0200;
constexpr uint32_t kSensorHold2 = 0x020C;
constexpr uint32_t kSensorTriggerA = 0x0430;
constexpr uint32_t kSensorTriggerB = 0x0432;
constexpr uint32_t kSensorStandby = 0x0702;
constexpr uint32_t kSensorFrameLength = 0x02D4;
constexpr uint32_t kSensorLineLength = 0x02D8;
constexpr uint32_t kSensorWindowX = 0x0320;
constexpr uint32_t kSensorWindowY = 0x0322;
constexpr uint32_t kSensorWindowWidth = 0x0324;
constexpr uint32_t kSensorWindowHeight = 0x0326;
constexpr uint32_t kSensorMirror = 0x0404;
constexpr uint32_t kSensorShutter = 0x0440;
constexpr uint32_t kSensorBinning = 0x023C;
constexpr uint32_t kSensorCropping = 0x0304;
constexpr uint32_t kSensorReadoutSelect = 0x0400;
constexpr uint32_t kSensorTriggerEnable = 0x0600;
constexpr uint32_t kSensorTemperature = 0x0690;
constexpr uint32_t kSensorGainMode = 0x0710;
constexpr uint32_t kSensorGain = 0x0714;
constexpr uint32_t kSensorModeA = 0x0720;
constexpr uint32_t kSensorTemperatureLatch = 0x0788;
constexpr uint32_t kSensorBlackLevel = 0x07C0;
// FPGA registers.
constexpr uint32_t kFpgaFrameCounter = 0x08;
constexpr uint32_t kFpgaCapabilityLow = 0x10;
constexpr uint32_t kFpgaCapabilityHigh = 0x11;
constexpr uint32_t kFpgaStatus = 0x02;
constexpr uint32_t kFpgaDepth = 0x3C;
constexpr uint32_t kFpgaHeight = 0x40;
constexpr uint32_t kFpgaWidth = 0x44;
constexpr uint32_t kFpgaAlignV1 = 0x48;
constexpr uint32_t kFpgaAlignV2 = 0x4C;
constexpr uint32_t kFpgaExposureControl = 0x50;  // 0x50, 0x51, 0x52
constexpr uint32_t kFpgaOutputTiming = 0x54;     // 0x54, 0x55
constexpr uint32_t kFpgaTriggerMode = 0x58;
constexpr uint32_t kFpgaTriggerArm = 0x59;
constexpr uint32_t kFpgaReadoutMode = 0x5A;
constexpr uint32_t kFpgaExposureLow = 0x85;
constexpr uint32_t kFpgaExposureMiddle = 0x86;
constexpr uint32_t kFpgaExposureHigh = 0x9B;
constexpr uint32_t kFpgaSensorBusRequest = 0x9F;
constexpr uint8_t kStatusBusy = 0x02;
constexpr uint8_t kTriggeredOperation = 2;
constexpr std::array<uint8_t, 4> kArmSequence{4, 0x84, 4, 0};
constexpr int kFullWidth = 2560;
constexpr int kFullHeight = 2048;
constexpr uint32_t kLongLine = 978;
// What the sensor and the FPGA take, and nothing else.
constexpr uint8_t kTriggerAFreeRun = 0x29;
constexpr uint8_t kTriggerATriggered = 0x2B;
constexpr uint8_t kTriggerBTriggered = 1;
constexpr std::array<uint8_t, 3> kExposureControl{43, 8, 0};
constexpr std::array<uint8_t, 2> kOutputTiming8{100, 1};
constexpr std::array<uint8_t, 2> kOutputTiming16{200, 2};
constexpr uint32_t kMinShutterLine = 52;  // the first line the sensor can start exposing
constexpr uint32_t kMinExposureLines = 2;
// Normal-mode window: starts and sizes on an 8-column and 4-row grid, inside the sensor.
constexpr int kColumnStep = 8;
constexpr int kRowStep = 4;
// The two-by-two modes read the whole sensor from row 4.
constexpr int kHalvedWindowY = 4;

// The sensor's readout modes by their register values, with the FPGA's code for each.
struct ReadoutMode {
    uint8_t binning;
    uint8_t select;
    uint8_t fpgaCode;
    bool halved;
    uint32_t frameLines;  // lines read out per frame (0: window height + 84, or 2140 at full)
    int alignV1;          // 0: by window height
    int alignV2Plain;
    int alignV2Mirrored;
};
constexpr std::array<ReadoutMode, 3> kReadoutModes{{
    {0, 0x24, 0, false, 0, 0, 112, 16},
    {17, 0x24, 1, true, 1116, 31, 52, 8},
    {0, 0xAC, 2, true, 2140, 17, 52, 8},
}};
constexpr uint32_t kFpgaCooler = 0x97;
constexpr uint32_t kFpgaDefectThresholdLow = 0xD0;
constexpr uint32_t kFpgaDefectEnable = 0xD1;
constexpr uint32_t kFpgaDefectThresholdHigh = 0xD2;
constexpr uint32_t kFpgaTemperatureLow = 0xE5;
constexpr uint32_t kFpgaTemperatureHigh = 0xE6;

uint32_t Sensor24(const SimRegisterFile& s, uint32_t reg) {
    return s.Get(reg) | (s.Get(reg + 1) << 8) | (s.Get(reg + 2) << 16);
}

uint32_t Sensor13(const SimRegisterFile& s, uint32_t reg) {
    return s.Get(reg) | ((s.Get(reg + 1) & 0x1F) << 8);
}

uint32_t Sensor16(const SimRegisterFile& s, uint32_t reg) {
    return s.Get(reg) | (s.Get(reg + 1) << 8);
}

double LineTimeUs(uint32_t lineLength) {
    return lineLength / 489.0 * 355.7 * 1000.0 / 54545.0;
}

}  // namespace

void SetFastMode(bool on) {
    gFastMode.store(on);
}
bool FastMode() {
    return gFastMode.load();
}

void SetStaticScene(bool on) {
    gStaticScene.store(on ? 1 : 0);
}
bool StaticScene() {
    int value = gStaticScene.load();
    if (value < 0) {
        const char* env = std::getenv("LUMORA_SIM_STATIC");
        const int fromEnvironment = env != nullptr && std::strcmp(env, "1") == 0 ? 1 : 0;
        gStaticScene.compare_exchange_strong(value, fromEnvironment);
        value = gStaticScene.load();
    }
    return value == 1;
}

void UsePlainCameraModel(bool on) {
    gPlainModel.store(on);
}
bool PlainCameraModel() {
    return gPlainModel.load();
}

void AdvanceSimulatedTime(uint32_t milliseconds) {
    gTimeOffset.fetch_add(milliseconds);
}

SimSensorModel::SimSensorModel(uint32_t seed) : scene_(seed), startMs_(NowMs()) {
    thermalSince_ = startMs_;
}

uint32_t SimSensorModel::NowMs() {
    return platform::GetTickCount() + gTimeOffset.load();
}

void SimSensorModel::PowerOn(SimCamera& camera) {
    SimRegisterFile& fpga = camera.Fpga();
    SimRegisterFile& sensor = camera.Sensor();
    fpga.Set16(kFpgaCapabilityLow, kFpgaCapabilityHigh, kCapabilityWord);
    fpga.Set(kFpgaCooler, 0xA4);        // cooler off; the other bits are the camera's own
    fpga.Set(kFpgaDefectEnable, 0x06);  // correction off
    fpga.Set16(kFpgaDefectThresholdLow, kFpgaDefectThresholdHigh, 0x0100);
    fpga.Set16(0x44, 0x45, 2560);
    fpga.Set16(0x40, 0x41, 2048);
    fpga.Set(0x3C, 1);
    // The sensor's own power-on state: full window, 8-bit timing, mode 0, low gain.
    sensor.Set(kSensorWindowWidth, 2560 & 0xFF);
    sensor.Set(kSensorWindowWidth + 1, 2560 >> 8);
    sensor.Set(kSensorWindowHeight, 2048 & 0xFF);
    sensor.Set(kSensorWindowHeight + 1, 2048 >> 8);
    sensor.Set(kSensorFrameLength, 2140 & 0xFF);
    sensor.Set(kSensorFrameLength + 1, 2140 >> 8);
    sensor.Set(kSensorLineLength, 489 & 0xFF);
    sensor.Set(kSensorLineLength + 1, 489 >> 8);
    sensor.Set(kSensorShutter, 52);
    sensor.Set(kSensorModeA, 0x5F);
    sensor.Set(kSensorBlackLevel, 240);
    sensor.Set(kSensorTriggerA, kTriggerAFreeRun);
    sensor.Set(kSensorStandby, 1);  // the host wakes the sensor (0x0702 := 0) at start-up
    fpga.Set(kFpgaOutputTiming, kOutputTiming8[0]);
    fpga.Set(kFpgaOutputTiming + 1, kOutputTiming8[1]);
    shutterLineValid_ = true;

    thermalStart_ = kAmbientCelsius;
    thermalTarget_ = kAmbientCelsius;
    thermalSince_ = NowMs();
    frameWaitsForTrigger_ = false;
    timingValid_ = false;
    armStep_ = 0;
    armed_ = false;
    triggeredDue_.clear();
    frameExposureLines_.reset();
    triggerBusyUntil_ = 0.0;
    triggeredStarted_ = 0;
    busRequested_ = busGranted_ = grantPending_ = false;

    fpga.OnWrite(kFpgaCooler, [this](uint32_t, uint8_t value, uint8_t previous) {
        if ((value ^ previous) & 1) UpdateThermalTarget(value & 1);
    });
    fpga.OnRead(kFpgaTemperatureLow, [this](uint32_t, uint8_t) {
        // Both bytes come from one reading, taken when the low byte is read.
        const uint16_t raw = RawTemperature();
        latchedTemperatureHigh_ = static_cast<uint8_t>((raw >> 8) & 0x0F);
        return static_cast<uint8_t>(raw & 0xFF);
    });
    fpga.OnRead(kFpgaTemperatureHigh,
                [this](uint32_t, uint8_t) { return latchedTemperatureHigh_; });
    fpga.OnRead(kFpgaFrameCounter, [this, &camera](uint32_t, uint8_t) {
        // The counter of the frame last read out of the sensor. A triggered frame counts once its
        // readout is over; at most one can still be under way (later triggers are ignored).
        if (!armed_) return static_cast<uint8_t>((camera.FrameCounter() - 1) & 0xFF);
        const double now = static_cast<double>(static_cast<uint32_t>(NowMs() - startMs_));
        const uint32_t ready = triggeredStarted_ - (triggerBusyUntil_ > now ? 1u : 0u);
        return static_cast<uint8_t>((triggeredBase_ + ready - 1) & 0xFF);
    });
    fpga.OnWrite(kFpgaSensorBusRequest, [this](uint32_t, uint8_t value, uint8_t) {
        busRequested_ = (value & 1) != 0;
        busGranted_ = grantPending_ = false;
    });
    fpga.OnRead(kFpgaStatus, [this](uint32_t, uint8_t) -> uint8_t {
        if (!busRequested_) return 0;
        if (busGranted_) return 0;
        // The first poll after a request finds the FPGA still on the bus; the next one hands it
        // over.
        if (!grantPending_) {
            grantPending_ = true;
            return kStatusBusy;
        }
        grantPending_ = false;
        busGranted_ = true;
        return 0;
    });
    sensor.OnWrite(kSensorTemperatureLatch, [this, &camera](uint32_t, uint8_t value, uint8_t) {
        if ((value & 1) == 0) return;
        const uint16_t raw = RawTemperature();
        camera.Sensor().Set(kSensorTemperature, static_cast<uint8_t>(raw & 0xFF));
        camera.Sensor().Set(kSensorTemperature + 1, static_cast<uint8_t>((raw >> 8) & 0x0F));
    });
    heldSensor_.reset();
    // Either hold register holds the sensor; it goes on only when both are released.
    auto hold = [this, &camera](uint32_t, uint8_t, uint8_t) {
        const SimRegisterFile& registers = camera.Sensor();
        const bool held = ((registers.Get(kSensorHold) | registers.Get(kSensorHold2)) & 1) != 0;
        if (!held) {
            heldSensor_.reset();
            OnTimingChange(camera);  // what was written under the hold takes effect now
        } else if (!heldSensor_) {
            // The hold was taken after this write stored the hold bit; the bit is not timing.
            heldSensor_ = registers.ValuesCopy();
        }
    };
    sensor.OnWrite(kSensorHold, hold);
    sensor.OnWrite(kSensorHold2, hold);
    // The shutter line is written low byte first; its last byte completes it.
    sensor.OnWrite(kSensorShutter + 2, [this, &camera](uint32_t, uint8_t, uint8_t) {
        const uint32_t shutter = Sensor24(camera.Sensor(), kSensorShutter);
        shutterLineValid_ = shutter % 2 == 0 && shutter >= kMinShutterLine;
    });
    // The sensor runs free from power-on; frame and line length set its frame period.
    clockRunning_ = false;
    clockPeriod_ = FramePeriodUs(camera) / 1000.0;
    AdvanceFrameClock(ModelNow());
    for (const uint32_t reg : {kSensorFrameLength, kSensorFrameLength + 1, kSensorFrameLength + 2,
                               kSensorLineLength, kSensorLineLength + 1}) {
        sensor.OnWrite(reg,
                       [this, &camera](uint32_t, uint8_t, uint8_t) { OnTimingChange(camera); });
    }
    fpga.OnWrite(kFpgaTriggerMode, [this](uint32_t, uint8_t, uint8_t) {
        armed_ = false;
        armStep_ = 0;
        triggeredDue_.clear();
        triggerBusyUntil_ = 0.0;
        timingValid_ = false;
        // Out of (or into) triggered operation the sensor starts its free run afresh.
        clockRunning_ = false;
    });
    fpga.OnWrite(kFpgaTriggerArm, [this, &camera](uint32_t, uint8_t value, uint8_t) {
        if (value == kArmSequence[static_cast<size_t>(armStep_)]) {
            ++armStep_;
        } else {
            armStep_ = value == kArmSequence[0] ? 1 : 0;
        }
        if (armStep_ < static_cast<int>(kArmSequence.size())) return;
        armStep_ = 0;
        if (camera.Fpga().Get(kFpgaTriggerMode) != kTriggeredOperation || armed_) return;
        armed_ = true;
        triggeredBase_ = camera.FrameCounter();
        triggeredStarted_ = 0;
        triggeredDue_.clear();
        triggerBusyUntil_ = 0.0;
    });
}

double SimSensorModel::ModelNow() {
    return static_cast<double>(static_cast<uint32_t>(NowMs() - startMs_));
}

void SimSensorModel::AdvanceFrameClock(double now) {
    if (!clockRunning_) {
        clockRunning_ = true;
        clockFrameStart_ = now;
        clockFramePeriod_ = clockPeriod_;
        return;
    }
    const double end = clockFrameStart_ + clockFramePeriod_;
    if (now < end) return;
    // Every frame after the one under way began with the period in effect since.
    const double frames = std::floor((now - end) / clockPeriod_);
    clockFrameStart_ = end + frames * clockPeriod_;
    clockFramePeriod_ = clockPeriod_;
}

void SimSensorModel::OnTimingChange(SimCamera& camera) {
    AdvanceFrameClock(ModelNow());
    clockPeriod_ = std::max(FramePeriodUs(camera) / 1000.0, 0.001);
}

void SimSensorModel::UpdateThermalTarget(bool coolerOn) {
    thermalStart_ = TemperatureCelsius();
    thermalSince_ = NowMs();
    thermalTarget_ = coolerOn ? kCoolerSetPointCelsius : kAmbientCelsius;
}

double SimSensorModel::TemperatureCelsius() {
    const double elapsed = static_cast<double>(static_cast<uint32_t>(NowMs() - thermalSince_));
    return thermalTarget_ +
           (thermalStart_ - thermalTarget_) * std::exp(-elapsed / kThermalTimeConstantMs);
}

uint16_t SimSensorModel::RawTemperature() {
    const long eighths = std::lround(std::clamp(TemperatureCelsius(), -256.0, 255.875) * 8.0);
    return static_cast<uint16_t>(eighths & 0xFFF);
}

const SimRegisterFile& SimSensorModel::SensorInEffect(SimCamera& camera) const {
    return heldSensor_ ? *heldSensor_ : camera.Sensor();
}

double SimSensorModel::ExposureUs(SimCamera& camera) const {
    const SimRegisterFile& sensor = SensorInEffect(camera);
    const uint32_t frame = Sensor24(sensor, kSensorFrameLength);
    const uint32_t shutter = Sensor24(sensor, kSensorShutter);
    const uint32_t line = Sensor16(sensor, kSensorLineLength);
    const double lines = frame > shutter ? frame - shutter : 0;
    return lines * LineTimeUs(line) + 14.802;
}

double SimSensorModel::FramePeriodUs(SimCamera& camera) const {
    const SimRegisterFile& sensor = SensorInEffect(camera);
    const uint32_t frame = Sensor24(sensor, kSensorFrameLength);
    const uint32_t line = Sensor16(sensor, kSensorLineLength);
    return std::max(1u, frame) * LineTimeUs(std::max(1u, line));
}

bool SimSensorModel::Triggered(SimCamera& camera) const {
    const SimRegisterFile& sensor = SensorInEffect(camera);
    const SimRegisterFile& fpga = camera.Fpga();
    for (size_t i = 0; i < kExposureControl.size(); ++i) {
        if (fpga.Get(kFpgaExposureControl + static_cast<uint32_t>(i)) != kExposureControl[i])
            return false;  // the FPGA cannot time the exposure a trigger starts
    }
    return armed_ && !Standby(camera) && fpga.Get(kFpgaTriggerMode) == kTriggeredOperation &&
           (sensor.Get(kSensorTriggerEnable) & 1) != 0 &&
           sensor.Get(kSensorTriggerA) == kTriggerATriggered &&
           sensor.Get(kSensorTriggerB) == kTriggerBTriggered;
}

bool SimSensorModel::Standby(SimCamera& camera) const {
    return camera.Sensor().Get(kSensorStandby) != 0;
}

bool SimSensorModel::ShutterValid(SimCamera& camera) const {
    const SimRegisterFile& sensor = SensorInEffect(camera);
    const uint32_t frame = Sensor24(sensor, kSensorFrameLength);
    const uint32_t shutter = Sensor24(sensor, kSensorShutter);
    return shutterLineValid_ && frame % 2 == 0 && shutter + kMinExposureLines <= frame;
}

bool SimSensorModel::WindowValid(SimCamera& camera, bool halved) const {
    const SimRegisterFile& sensor = SensorInEffect(camera);
    const int x = static_cast<int>(Sensor13(sensor, kSensorWindowX));
    const int y = static_cast<int>(Sensor13(sensor, kSensorWindowY));
    const int width = static_cast<int>(Sensor13(sensor, kSensorWindowWidth));
    const int height = static_cast<int>(Sensor13(sensor, kSensorWindowHeight));
    if (halved)
        return x == 0 && y == kHalvedWindowY && width == kFullWidth && height == kFullHeight;
    return x % kColumnStep == 0 && width % kColumnStep == 0 && width >= kColumnStep &&
           x + width <= kFullWidth && y % kRowStep == 0 && height % kRowStep == 0 &&
           height >= kRowStep && y + height <= kFullHeight;
}

uint32_t SimSensorModel::TriggeredExposureLines(SimCamera& camera) const {
    const SimRegisterFile& fpga = camera.Fpga();
    return fpga.Get(kFpgaExposureLow) | (fpga.Get(kFpgaExposureMiddle) << 8) |
           (fpga.Get(kFpgaExposureHigh) << 16);
}

double SimSensorModel::TriggeredExposureUs(SimCamera& camera) const {
    const uint32_t lines = TriggeredExposureLines(camera);
    const uint32_t line = Sensor16(SensorInEffect(camera), kSensorLineLength);
    return lines * LineTimeUs(std::max(1u, line)) + 14.802;
}

double SimSensorModel::ReadoutUs(SimCamera& camera) const {
    const SimRegisterFile& sensor = SensorInEffect(camera);
    const uint32_t line = Sensor16(sensor, kSensorLineLength);
    uint32_t lines = 2140;
    for (const ReadoutMode& mode : kReadoutModes) {
        if (sensor.Get(kSensorBinning) != mode.binning ||
            sensor.Get(kSensorReadoutSelect) != mode.select) {
            continue;
        }
        const uint32_t height = Sensor13(sensor, kSensorWindowHeight);
        lines = mode.frameLines ? mode.frameLines : (height < kFullHeight ? height + 84 : 2140);
    }
    return lines * LineTimeUs(std::max(1u, line));
}

std::optional<FrameGeometry> SimSensorModel::SensorGeometry(SimCamera& camera) const {
    const SimRegisterFile& sensor = SensorInEffect(camera);
    for (const ReadoutMode& mode : kReadoutModes) {
        if (sensor.Get(kSensorBinning) != mode.binning ||
            sensor.Get(kSensorReadoutSelect) != mode.select) {
            continue;
        }
        if (!WindowValid(camera, mode.halved)) return std::nullopt;
        FrameGeometry geometry;
        geometry.width = Sensor13(sensor, kSensorWindowWidth);
        geometry.height = Sensor13(sensor, kSensorWindowHeight);
        const uint8_t cropping = sensor.Get(kSensorCropping);
        if (mode.halved) {
            geometry.width /= 2;
            geometry.height /= 2;
            if (cropping != 0) return std::nullopt;
        } else {
            const uint8_t expected =
                (geometry.width < kFullWidth ? 1 : 0) + (geometry.height < kFullHeight ? 2 : 0);
            if (cropping != expected) return std::nullopt;
        }
        // A 16-bit normal-mode line needs the long line time; a short one cannot carry it.
        const bool wide = camera.Fpga().Get(kFpgaDepth) == 2;
        if (wide && !mode.halved && Sensor16(sensor, kSensorLineLength) < kLongLine)
            return std::nullopt;
        geometry.bytesPerPixel = wide ? 2 : 1;
        return geometry;
    }
    return std::nullopt;
}

bool SimSensorModel::FramingAgrees(SimCamera& camera) const {
    const auto sensorGeometry = SensorGeometry(camera);
    if (!sensorGeometry) return false;
    const SimRegisterFile& sensor = SensorInEffect(camera);
    const SimRegisterFile& fpga = camera.Fpga();
    const uint8_t depth = fpga.Get(kFpgaDepth);
    if (depth != 1 && depth != 2) return false;
    const auto& timing = depth == 2 ? kOutputTiming16 : kOutputTiming8;
    if (fpga.Get(kFpgaOutputTiming) != timing[0] || fpga.Get(kFpgaOutputTiming + 1) != timing[1])
        return false;
    if (fpga.Get16(kFpgaWidth, kFpgaWidth + 1) != sensorGeometry->width ||
        fpga.Get16(kFpgaHeight, kFpgaHeight + 1) != sensorGeometry->height) {
        return false;
    }
    for (const ReadoutMode& mode : kReadoutModes) {
        if (sensor.Get(kSensorBinning) != mode.binning ||
            sensor.Get(kSensorReadoutSelect) != mode.select) {
            continue;
        }
        const bool mirrored = (sensor.Get(kSensorMirror) & 2) != 0;
        const int v1 =
            mode.alignV1 ? mode.alignV1 : (sensorGeometry->height == kFullHeight ? 33 : 25);
        const int v2 = mirrored ? mode.alignV2Mirrored : mode.alignV2Plain;
        return fpga.Get(kFpgaReadoutMode) == mode.fpgaCode &&
               fpga.Get16(kFpgaAlignV1, kFpgaAlignV1 + 1) == v1 &&
               fpga.Get16(kFpgaAlignV2, kFpgaAlignV2 + 1) == v2;
    }
    return false;
}

bool SimSensorModel::SensorBusGranted(SimCamera&) {
    return busRequested_ && busGranted_;
}

SceneSettings SimSensorModel::Settings(SimCamera& camera, const FrameGeometry& geometry) const {
    const SimRegisterFile& sensor = SensorInEffect(camera);
    const SimRegisterFile& fpga = camera.Fpga();
    SceneSettings s;
    // The picture is what the sensor reads out; the FPGA's framing does not resample it.
    const FrameGeometry out = SensorGeometry(camera).value_or(geometry);
    s.outWidth = static_cast<int>(out.width);
    s.outHeight = static_cast<int>(out.height);
    s.bytesPerPixel = static_cast<int>(geometry.bytesPerPixel);
    s.sensorX = static_cast<int>(Sensor13(sensor, kSensorWindowX));
    s.sensorY = static_cast<int>(Sensor13(sensor, kSensorWindowY));
    s.sensorWidth = std::max(1, static_cast<int>(Sensor13(sensor, kSensorWindowWidth)));
    s.sensorHeight = std::max(1, static_cast<int>(Sensor13(sensor, kSensorWindowHeight)));
    s.mirrorV = (sensor.Get(kSensorMirror) & 1) != 0;
    s.mirrorH = (sensor.Get(kSensorMirror) & 2) != 0;
    if (frameExposureLines_) {
        const uint32_t line = std::max(1u, Sensor16(sensor, kSensorLineLength));
        s.exposureUs = *frameExposureLines_ * LineTimeUs(line) + 14.802;
    } else {
        s.exposureUs = ExposureUs(camera);
    }
    s.gain = sensor.Get(kSensorGain) | ((sensor.Get(kSensorGain + 1) & 1) << 8);
    s.highGain = (sensor.Get(kSensorGainMode) & 1) != 0;
    s.blackLevel =
        sensor.Get(kSensorBlackLevel) | ((sensor.Get(kSensorBlackLevel + 1) & 0x0F) << 8);
    s.defectCorrection = (fpga.Get(kFpgaDefectEnable) & 1) != 0;
    s.defectThreshold = fpga.Get16(kFpgaDefectThresholdLow, kFpgaDefectThresholdHigh);
    s.flatTarget = flatTarget_;
    return s;
}

void SimSensorModel::RenderPayload(SimCamera& camera, const FrameGeometry& geometry,
                                   uint32_t counter, std::span<uint8_t> payload) {
    CapturePayload(camera, geometry, counter)(payload);
}

// A long drawing (the picture rebuilt after a settings change) is the simulator's own pause, not
// the camera's: the frame schedule moves on by it so no frame counts as lost for it.
void SimSensorModel::PictureDrawn(SimCamera& /*camera*/,
                                  std::chrono::steady_clock::duration took) {
    const double ms = std::chrono::duration<double, std::milli>(took).count();
    if (ms > 5.0 && timingValid_) dueFraction_ += ms;
}

// The registers are read now, when the frame is taken; the picture is drawn from them later.
SimCameraModel::PayloadDrawing SimSensorModel::CapturePayload(SimCamera& camera,
                                                              const FrameGeometry& geometry,
                                                              uint32_t counter) {
    if (!SensorGeometry(camera) || !ShutterValid(camera)) {
        // A readout the sensor does not have, or an exposure it cannot make: what reaches the
        // FPGA is noise.
        return [counter](std::span<uint8_t> payload) {
            uint32_t x = counter * 2654435761u + 1;
            for (auto& byte : payload) {
                x ^= x << 13, x ^= x >> 17, x ^= x << 5;
                byte = static_cast<uint8_t>(x);
            }
        };
    }
    const SceneSettings settings = Settings(camera, geometry);
    // The FPGA cuts the sensor's sample stream at its own line length and frame size, and a
    // wrong alignment moves where it starts.
    std::optional<size_t> skew;
    if (!FramingAgrees(camera)) {
        const SimRegisterFile& fpga = camera.Fpga();
        skew = static_cast<size_t>(1 + (fpga.Get(kFpgaAlignV1) ^ fpga.Get(kFpgaAlignV2))) *
               geometry.bytesPerPixel;
    }
    const bool still = StaticScene();
    return [this, settings, skew, still, counter](std::span<uint8_t> payload) {
        const size_t bytes = SimScene::FrameBytes(settings);
        if (skew && bytes > 0) {
            std::vector<uint8_t> stream(bytes);
            scene_.Render(settings, counter, still, stream.data(), stream.size());
            for (size_t i = 0; i < payload.size(); ++i) {
                const size_t from = i + *skew;
                payload[i] = from < stream.size() ? stream[from] : 0;
            }
            return;
        }
        if (bytes == 0) {
            std::fill(payload.begin(), payload.end(), uint8_t{0});
            return;
        }
        if (payload.size() >= bytes) {
            scene_.Render(settings, counter, still, payload.data(), bytes);
            std::fill(payload.begin() + static_cast<std::ptrdiff_t>(bytes), payload.end(),
                      uint8_t{0});
            return;
        }
        // A cut payload (fault injection) carries the beginning of the picture.
        std::vector<uint8_t> whole(bytes);
        scene_.Render(settings, counter, still, whole.data(), whole.size());
        std::copy_n(whole.begin(), payload.size(), payload.begin());
    };
}

FrameHeaderWords SimSensorModel::HeaderWords(SimCamera& camera, uint32_t) {
    FrameHeaderWords words;
    const SimRegisterFile& sensor = SensorInEffect(camera);
    const uint32_t frame = Sensor24(sensor, kSensorFrameLength);
    const uint32_t shutter = Sensor24(sensor, kSensorShutter);
    // The exposure lines of this frame (the sensor's frame length less its shutter line when it
    // began, or those the FPGA timed a triggered frame with).
    words.wordA =
        frameExposureLines_ ? *frameExposureLines_ : (frame > shutter ? frame - shutter : 0);
    // The camera's time stamp in milliseconds: when the frame's readout ended on the camera's
    // clock, which for a frame the camera kept for a late host is before the host took it.
    words.wordC =
        claimedEnd_ ? static_cast<uint32_t>(std::llround(*claimedEnd_)) : NowMs() - startMs_;
    claimedEnd_.reset();
    words.wordD = static_cast<uint32_t>(RawTemperature());
    return words;
}

std::optional<uint32_t> SimSensorModel::FrameDelayMs(SimCamera& camera) {
    claimedEnd_.reset();
    const double now = static_cast<double>(static_cast<uint32_t>(NowMs() - startMs_));
    const SimRegisterFile& sensor = SensorInEffect(camera);
    const bool sensorTriggered = (sensor.Get(kSensorTriggerEnable) & 1) != 0 ||
                                 sensor.Get(kSensorTriggerA) != kTriggerAFreeRun;
    if (camera.Fpga().Get(kFpgaTriggerMode) == kTriggeredOperation || sensorTriggered ||
        Standby(camera)) {
        // Triggered (or set up halfway, when no trigger ever starts a frame): the oldest frame a
        // trigger started, when its readout is over.
        frameExposureLines_.reset();
        if (Triggered(camera) && !triggeredDue_.empty()) {
            const double due = triggeredDue_.front().due;
            frameExposureLines_ = triggeredDue_.front().lines;
            triggeredDue_.erase(triggeredDue_.begin());
            claimedEnd_ = due;
            return static_cast<uint32_t>(std::ceil(std::max(0.0, due - now)));
        }
        frameWaitsForTrigger_ = true;
        return std::nullopt;
    }
    // A free-running frame begins now with the sensor's exposure; a change from here on shows
    // from the next frame.
    const uint32_t frameLength = Sensor24(sensor, kSensorFrameLength);
    const uint32_t shutter = Sensor24(sensor, kSensorShutter);
    frameExposureLines_ = frameLength > shutter ? frameLength - shutter : 0;
    if (FastMode()) {
        timingValid_ = false;
        return 0;
    }
    // dueFraction_ is where the frame claimed last ends and the next one begins; a frame takes the
    // timing in effect when it begins, so an exposure change shows from the next frame on.
    const double period = FramePeriodUs(camera) / 1000.0;
    if (!timingValid_) {
        // After a (re)start the stream takes the first frame the sensor begins: it begins when
        // the frame under way ends, at whatever timing that frame began with.
        timingValid_ = true;
        AdvanceFrameClock(now);
        dueFraction_ = clockFrameStart_ + clockFramePeriod_;
    }
    const double due = dueFraction_ + period;
    if (now < due) {
        dueFraction_ = due;
        claimedEnd_ = due;
        return static_cast<uint32_t>(std::ceil(due - now));
    }
    // The host came late: frames were exposed meanwhile; the camera keeps a few, the rest are lost
    // and show as a gap in the frame counter.
    const auto ready = static_cast<uint64_t>((now - dueFraction_) / period);
    const uint64_t lost =
        ready > static_cast<uint64_t>(kCameraFifoFrames) ? ready - kCameraFifoFrames : 0;
    if (lost > 0) {
        framesLost_ += lost;
        camera.SetFrameCounterStart(camera.FrameCounter() + static_cast<uint32_t>(lost));
    }
    dueFraction_ += static_cast<double>(lost + 1) * period;
    claimedEnd_ = dueFraction_;
    return 0;
}

void SimSensorModel::OnStreamReset(SimCamera&) {
    timingValid_ = false;
    frameWaitsForTrigger_ = false;  // the frame that waited was dropped with the stream
    frameExposureLines_.reset();
}

bool SimSensorModel::FireTrigger(SimCamera& camera) {
    if (!Triggered(camera)) return false;
    const double now = static_cast<double>(static_cast<uint32_t>(NowMs() - startMs_));
    if (now < triggerBusyUntil_) return false;  // still exposing or reading out the last one
    const double delay =
        FastMode() ? 0.0 : (TriggeredExposureUs(camera) + ReadoutUs(camera)) / 1000.0;
    triggerBusyUntil_ = now + delay;
    ++triggeredStarted_;
    if (frameWaitsForTrigger_) {
        frameWaitsForTrigger_ = false;
        frameExposureLines_ = TriggeredExposureLines(camera);
        camera.ReleaseFrameAfter(std::chrono::microseconds(std::llround(delay * 1000.0)));
        return true;
    }
    triggeredDue_.push_back({triggerBusyUntil_, TriggeredExposureLines(camera)});
    // The FPGA keeps only a few frames for a host that does not come for them.
    if (triggeredDue_.size() > static_cast<size_t>(kCameraFifoFrames)) {
        triggeredDue_.erase(triggeredDue_.begin());
        camera.SetFrameCounterStart(camera.FrameCounter() + 1);
        ++framesLost_;
    }
    return true;
}

}  // namespace lumora::sim
