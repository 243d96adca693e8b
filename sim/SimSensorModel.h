#pragma once
// What the simulated camera's IMX992 sensor and FPGA do with their registers: frame timing from
// frame length, line length and shutter; free-run or one frame per trigger; the picture those
// registers describe (SimScene); camera-side defect correction; the sensor temperature that
// drifts toward the cooler's set point, or ambient when the cooler is off.
//
// Threads: every SimCameraModel call runs under the camera's lock, and so does FireTrigger
// (through the host exports); the fields below are guarded by that lock. The process-wide
// switches (fast mode, static scene, time offset) are atomics.
#include <atomic>
#include <cstdint>
#include <optional>

#include "sim/SimCameraModel.h"
#include "sim/SimRegisterFile.h"
#include "sim/SimScene.h"

namespace lumora::sim {

// Process-wide switches of the simulated cameras.
void SetFastMode(bool on);  // frames are ready at once instead of at the frame period
bool FastMode();
void SetStaticScene(bool on);  // nothing moves, no temporal noise (also LUMORA_SIM_STATIC=1)
bool StaticScene();
// Cameras created from now on get the plain model (registers as storage, a ramp whose every
// byte is predictable), for transport tests; off again: the IMX992 model.
void UsePlainCameraModel(bool on);
bool PlainCameraModel();
// Moves the simulated cameras' clock ahead (cooler drift, start-up) without waiting.
void AdvanceSimulatedTime(uint32_t milliseconds);

class SimSensorModel : public SimCameraModel {
public:
    static constexpr double kAmbientCelsius = 25.0;
    static constexpr double kCoolerSetPointCelsius = -10.0;
    static constexpr double kThermalTimeConstantMs = 20000.0;
    static constexpr uint16_t kCapabilityWord = 0x8105;  // defect correction; FPGA thermometer
    static constexpr int kCameraFifoFrames = 2;          // frames the camera holds for a late host

    explicit SimSensorModel(uint32_t seed);

    void PowerOn(SimCamera& camera) override;
    void RenderPayload(SimCamera& camera, const FrameGeometry& geometry, uint32_t counter,
                       std::span<uint8_t> payload) override;
    FrameHeaderWords HeaderWords(SimCamera& camera, uint32_t counter) override;
    std::optional<uint32_t> FrameDelayMs(SimCamera& camera) override;
    uint32_t NowMs() override;
    void OnStreamReset(SimCamera& camera) override;

    // An external trigger edge: in triggered operation the camera exposes one frame.
    void FireTrigger(SimCamera& camera);

    // What the registers say now (under the camera's lock).
    SceneSettings Settings(SimCamera& camera, const FrameGeometry& geometry) const;
    double ExposureUs(SimCamera& camera) const;
    double FramePeriodUs(SimCamera& camera) const;
    bool Triggered(SimCamera& camera) const;
    double TemperatureCelsius();
    uint64_t FramesLost() const { return framesLost_.load(); }

private:
    // The sensor registers the sensor works with: while its hold bit is set, writes are stored
    // but the sensor goes on with the values it had when the hold began, and takes them all at
    // once when the hold is released.
    const SimRegisterFile& SensorInEffect(SimCamera& camera) const;
    void UpdateThermalTarget(bool coolerOn);
    uint16_t RawTemperature();

    SimScene scene_;
    // Guarded by the camera's lock.
    std::optional<SimRegisterFile> heldSensor_;  // the registers in effect during a hold
    double thermalStart_ = kAmbientCelsius;      // temperature when the target last changed
    double thermalTarget_ = kAmbientCelsius;
    uint32_t thermalSince_ = 0;
    uint8_t latchedTemperatureHigh_ = 0;
    int pendingTriggers_ = 0;
    bool frameWaitsForTrigger_ = false;
    bool timingValid_ = false;
    uint32_t nextFrameDue_ = 0;            // ms on the model's clock
    double dueFraction_ = 0.0;             // sub-millisecond part of the frame schedule
    std::atomic<uint64_t> framesLost_{0};  // read by tests without the camera's lock
    uint32_t startMs_ = 0;
};

}  // namespace lumora::sim
