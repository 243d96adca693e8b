#include "sim/SimSensorModel.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
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
constexpr uint32_t kSensorFrameLength = 0x02D4;
constexpr uint32_t kSensorLineLength = 0x02D8;
constexpr uint32_t kSensorWindowX = 0x0320;
constexpr uint32_t kSensorWindowY = 0x0322;
constexpr uint32_t kSensorWindowWidth = 0x0324;
constexpr uint32_t kSensorWindowHeight = 0x0326;
constexpr uint32_t kSensorMirror = 0x0404;
constexpr uint32_t kSensorShutter = 0x0440;
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
constexpr uint32_t kFpgaTriggerMode = 0x58;
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

    thermalStart_ = kAmbientCelsius;
    thermalTarget_ = kAmbientCelsius;
    thermalSince_ = NowMs();
    pendingTriggers_ = 0;
    frameWaitsForTrigger_ = false;
    timingValid_ = false;

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
        // The counter of the frame last exposed: a trigger exposes one before it is sent.
        return static_cast<uint8_t>((camera.FrameCounter() - 1 + pendingTriggers_) & 0xFF);
    });
    sensor.OnWrite(kSensorTemperatureLatch, [this, &camera](uint32_t, uint8_t value, uint8_t) {
        if ((value & 1) == 0) return;
        const uint16_t raw = RawTemperature();
        camera.Sensor().Set(kSensorTemperature, static_cast<uint8_t>(raw & 0xFF));
        camera.Sensor().Set(kSensorTemperature + 1, static_cast<uint8_t>((raw >> 8) & 0x0F));
    });
    heldSensor_.reset();
    sensor.OnWrite(kSensorHold, [this, &camera](uint32_t, uint8_t value, uint8_t) {
        if ((value & 1) == 0) {
            heldSensor_.reset();
        } else if (!heldSensor_) {
            // The hold was taken after this write stored the hold bit; the bit is not timing.
            heldSensor_ = camera.Sensor().ValuesCopy();
        }
    });
    fpga.OnWrite(kFpgaTriggerMode, [this](uint32_t, uint8_t, uint8_t) {
        pendingTriggers_ = 0;
        timingValid_ = false;
    });
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
    return camera.Fpga().Get(kFpgaTriggerMode) == 2;
}

SceneSettings SimSensorModel::Settings(SimCamera& camera, const FrameGeometry& geometry) const {
    const SimRegisterFile& sensor = SensorInEffect(camera);
    const SimRegisterFile& fpga = camera.Fpga();
    SceneSettings s;
    s.outWidth = static_cast<int>(geometry.width);
    s.outHeight = static_cast<int>(geometry.height);
    s.bytesPerPixel = static_cast<int>(geometry.bytesPerPixel);
    s.sensorX = static_cast<int>(Sensor13(sensor, kSensorWindowX));
    s.sensorY = static_cast<int>(Sensor13(sensor, kSensorWindowY));
    s.sensorWidth = std::max(1, static_cast<int>(Sensor13(sensor, kSensorWindowWidth)));
    s.sensorHeight = std::max(1, static_cast<int>(Sensor13(sensor, kSensorWindowHeight)));
    s.mirrorV = (sensor.Get(kSensorMirror) & 1) != 0;
    s.mirrorH = (sensor.Get(kSensorMirror) & 2) != 0;
    s.exposureUs = ExposureUs(camera);
    s.gain = sensor.Get(kSensorGain) | ((sensor.Get(kSensorGain + 1) & 1) << 8);
    s.highGain = (sensor.Get(kSensorGainMode) & 1) != 0;
    s.blackLevel =
        sensor.Get(kSensorBlackLevel) | ((sensor.Get(kSensorBlackLevel + 1) & 0x0F) << 8);
    s.defectCorrection = (fpga.Get(kFpgaDefectEnable) & 1) != 0;
    s.defectThreshold = fpga.Get16(kFpgaDefectThresholdLow, kFpgaDefectThresholdHigh);
    return s;
}

void SimSensorModel::RenderPayload(SimCamera& camera, const FrameGeometry& geometry,
                                   uint32_t counter, std::span<uint8_t> payload) {
    const auto started = std::chrono::steady_clock::now();
    // A long render (the picture rebuilt after a settings change) is the simulator's own pause,
    // not the camera's: the frame schedule moves on by it so no frame counts as lost for it.
    struct ScheduleShift {
        SimSensorModel& model;
        std::chrono::steady_clock::time_point started;
        ~ScheduleShift() {
            const double ms = std::chrono::duration<double, std::milli>(
                                  std::chrono::steady_clock::now() - started)
                                  .count();
            if (ms > 5.0 && model.timingValid_) model.dueFraction_ += ms;
        }
    } shift{*this, started};
    const SceneSettings settings = Settings(camera, geometry);
    const size_t bytes = SimScene::FrameBytes(settings);
    if (bytes == 0) {
        std::fill(payload.begin(), payload.end(), uint8_t{0});
        return;
    }
    if (payload.size() >= bytes) {
        scene_.Render(settings, counter, StaticScene(), payload.data(), bytes);
        std::fill(payload.begin() + static_cast<std::ptrdiff_t>(bytes), payload.end(), uint8_t{0});
        return;
    }
    // A cut payload (fault injection) carries the beginning of the picture.
    std::vector<uint8_t> whole(bytes);
    scene_.Render(settings, counter, StaticScene(), whole.data(), whole.size());
    std::copy_n(whole.begin(), payload.size(), payload.begin());
}

FrameHeaderWords SimSensorModel::HeaderWords(SimCamera& camera, uint32_t) {
    FrameHeaderWords words;
    const SimRegisterFile& sensor = SensorInEffect(camera);
    const uint32_t frame = Sensor24(sensor, kSensorFrameLength);
    const uint32_t shutter = Sensor24(sensor, kSensorShutter);
    words.wordA = frame > shutter ? frame - shutter : 0;  // exposure lines of this frame
    words.wordC = NowMs() - startMs_;                     // camera time stamp in milliseconds
    words.wordD = static_cast<uint32_t>(RawTemperature());
    return words;
}

std::optional<uint32_t> SimSensorModel::FrameDelayMs(SimCamera& camera) {
    if (Triggered(camera)) {
        if (pendingTriggers_ > 0) {
            --pendingTriggers_;
            return 0;
        }
        frameWaitsForTrigger_ = true;
        return std::nullopt;
    }
    const double now = static_cast<double>(static_cast<uint32_t>(NowMs() - startMs_));
    if (FastMode()) {
        timingValid_ = false;
        return 0;
    }
    const double period = FramePeriodUs(camera) / 1000.0;
    if (!timingValid_) {
        // The first frame after a (re)start comes one exposure later.
        timingValid_ = true;
        dueFraction_ = now + period;
    }
    if (now < dueFraction_) {
        const double wait = dueFraction_ - now;
        dueFraction_ += period;
        return static_cast<uint32_t>(std::ceil(wait));
    }
    // The host came late: frames were exposed meanwhile; the camera keeps a few, the rest are lost
    // and show as a gap in the frame counter.
    const auto ready = static_cast<uint64_t>((now - dueFraction_) / period) + 1;
    const uint64_t lost =
        ready > static_cast<uint64_t>(kCameraFifoFrames) ? ready - kCameraFifoFrames : 0;
    if (lost > 0) {
        framesLost_ += lost;
        camera.SetFrameCounterStart(camera.FrameCounter() + static_cast<uint32_t>(lost));
        dueFraction_ += static_cast<double>(lost) * period;
    }
    dueFraction_ += period;
    return 0;
}

void SimSensorModel::OnStreamReset(SimCamera&) {
    timingValid_ = false;
}

void SimSensorModel::FireTrigger(SimCamera& camera) {
    if (!Triggered(camera)) return;
    if (frameWaitsForTrigger_) {
        frameWaitsForTrigger_ = false;
        camera.ReleaseFrame();
        return;
    }
    ++pendingTriggers_;
}

}  // namespace lumora::sim
