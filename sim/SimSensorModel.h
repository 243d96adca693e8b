#pragma once
// What the simulated camera's IMX992 sensor and FPGA do with their registers: frame timing from
// frame length, line length and shutter; free-run or one frame per trigger; the picture those
// registers describe (SimScene); camera-side defect correction; the sensor temperature that
// drifts toward the cooler's set point, or ambient when the cooler is off.
//
// The camera is as strict as the hardware it stands for. Where the camera's documentation leaves
// a behaviour open, the model takes the strict reading:
// - Sensor bus: the FPGA owns the sensor's I2C bus unless the host requests it (0x9F bit 0). After
//   a request the first status read (0x02) still reports busy (bit 1) while the FPGA finishes its
//   own traffic; the bus is granted once a status read has reported 0. A sensor transfer without
//   a granted request is not acknowledged. Without a request the status reads idle.
// - Free run: the sensor runs on its own clock at the frame period (frame length x line time);
//   the FPGA keeps up to kCameraFifoFrames whole frames for a late host, older ones are lost and
//   show as a gap in the frame counter. A restart pulse on 0x6C restarts only the stream output:
//   it drops a partly sent frame but neither the sensor's timing nor a frame not yet begun. A
//   stream reset (vendor request 0xC0) or port reset stops the stream but not the sensor, which
//   keeps its own frame clock from power-on: after the next kick the stream starts with the
//   first frame the sensor begins, so that frame is ready the rest of the frame under way plus a
//   whole frame period later. A frame keeps the period it began with; a change of frame or line
//   length shows from the frame after the one under way.
// - Start-up: the sensor powers on in standby (0x0702 = 1) and sends nothing until the host
//   writes 0x0702 = 0. Either hold register (0x0200, 0x020C) holds the sensor's timing; it goes
//   on with the held writes only when both are released.
// - Triggered operation needs FPGA 0x58 = 2, the sensor's trigger enable 0x0600 = 1, its trigger
//   registers 0x0430 = 0x2B and 0x0432 = 1, the FPGA's exposure control 0x50-0x52 = 43, 8, 0 and
//   the arming sequence 4, 0x84, 4, 0 on FPGA 0x59 written after 0x58 became 2; any write to
//   0x58 disarms. Free run needs 0x58 other than 2, 0x0600 = 0 and 0x0430 = 0x29 (its power-on
//   value); otherwise the sensor waits for a trigger that never comes and no frame is sent. A
//   trigger starts one exposure timed by the FPGA's exposure registers (0x85, 0x86, 0x9B lines at
//   the sensor's line time); the frame is ready one exposure plus one readout (the window's frame
//   length in lines) later, and only then does the frame counter 0x08 move. A trigger that comes
//   while the previous frame is still being exposed or read out is ignored.
// - Picture: the sensor's readout mode comes from 0x023C and 0x0400 (0/0x24 normal, 17/0x24 and
//   0/0xAC the two two-by-two modes), its window from 0x0320-0x0327 (halved in the two-by-two
//   modes), the crop flags 0x0304 must describe that window, and a normal-mode 16-bit output
//   needs the long line (0x02D8 at least 978). The FPGA frames the stream with its own geometry
//   (0x44, 0x40, 0x3C) and must agree with the sensor in size, depth, output timing (0x54/0x55:
//   100/1 for 8-bit, 200/2 for 16-bit samples), readout mode code (0x5A) and alignment (0x48,
//   0x4C for the mode, window height and horizontal mirror). A disagreeing frame is sent with the
//   length the FPGA announces but is malformed: the sensor's lines cut at the FPGA's line length,
//   shifted by a wrong alignment, or noise for an unknown readout mode.
// - Limits: a normal-mode window starts and ends on the 8-column, 4-row grid inside the sensor;
//   the two-by-two modes read the window 0, 4, 2560 x 2048. The shutter line (0x0440-0x0442,
//   judged when its last byte is written) is even and at least 52, the frame length even, and
//   the exposure at least two lines. A window or an exposure outside them gives noise.
//
// Threads: every SimCameraModel call runs under the camera's lock, and so does FireTrigger
// (through the host exports); the fields below are guarded by that lock. The process-wide
// switches (fast mode, static scene, time offset) are atomics.
#include <atomic>
#include <cstdint>
#include <optional>
#include <vector>

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
    PayloadDrawing CapturePayload(SimCamera& camera, const FrameGeometry& geometry,
                                  uint32_t counter) override;
    void PictureDrawn(SimCamera& camera, std::chrono::steady_clock::duration took) override;
    FrameHeaderWords HeaderWords(SimCamera& camera, uint32_t counter) override;
    std::optional<uint32_t> FrameDelayMs(SimCamera& camera) override;
    uint32_t NowMs() override;
    void OnStreamReset(SimCamera& camera) override;
    bool SensorBusGranted(SimCamera& camera) override;

    // An external trigger edge: in armed triggered operation the camera exposes one frame. False
    // when the edge started nothing (not armed, or the last frame is still under way).
    bool FireTrigger(SimCamera& camera);

    // What the registers say now (under the camera's lock).
    SceneSettings Settings(SimCamera& camera, const FrameGeometry& geometry) const;
    double ExposureUs(SimCamera& camera) const;
    double FramePeriodUs(SimCamera& camera) const;
    // What a trigger starts: the FPGA-timed exposure, and the readout of the window after it.
    double TriggeredExposureUs(SimCamera& camera) const;
    uint32_t TriggeredExposureLines(SimCamera& camera) const;
    double ReadoutUs(SimCamera& camera) const;
    // Triggered operation is armed (a trigger now exposes a frame).
    bool Triggered(SimCamera& camera) const;
    // The sensor waits in standby (0x0702 not yet 0) and sends nothing.
    bool Standby(SimCamera& camera) const;
    // The frame length and shutter line in effect describe an exposure the sensor can make.
    bool ShutterValid(SimCamera& camera) const;
    // The window registers hold a window the sensor can read out in this mode.
    bool WindowValid(SimCamera& camera, bool halved) const;
    // The sensor's own output as its readout registers describe it; nothing for a readout mode
    // it does not have.
    std::optional<FrameGeometry> SensorGeometry(SimCamera& camera) const;
    // The FPGA's framing agrees with the sensor's output (size, depth, mode code, alignment).
    bool FramingAgrees(SimCamera& camera) const;
    double TemperatureCelsius();
    // A uniformly lit target in front of the lens (for flat-field references), or the scene.
    void ShowFlatTarget(bool on) { flatTarget_ = on; }
    uint64_t FramesLost() const { return framesLost_.load(); }

private:
    // The sensor registers the sensor works with: while its hold bit is set, writes are stored
    // but the sensor goes on with the values it had when the hold began, and takes them all at
    // once when the hold is released.
    const SimRegisterFile& SensorInEffect(SimCamera& camera) const;
    void UpdateThermalTarget(bool coolerOn);
    // The sensor's own frame clock: brought up to `now` (ms since startMs_) with the periods
    // frames began with; after a timing change, frames begin with the new period.
    void AdvanceFrameClock(double now);
    void OnTimingChange(SimCamera& camera);
    double ModelNow();
    uint16_t RawTemperature();

    SimScene scene_;
    // Guarded by the camera's lock.
    std::optional<SimRegisterFile> heldSensor_;  // the registers in effect during a hold
    double thermalStart_ = kAmbientCelsius;      // temperature when the target last changed
    double thermalTarget_ = kAmbientCelsius;
    uint32_t thermalSince_ = 0;
    uint8_t latchedTemperatureHigh_ = 0;
    bool frameWaitsForTrigger_ = false;
    bool flatTarget_ = false;
    bool shutterLineValid_ = true;  // judged when the shutter's last byte (0x0442) is written
    // Triggered operation: arming progress on 0x59, and the frames triggers started and no kick
    // has taken yet: when each is ready (ms on the model's clock, since startMs_) and the
    // exposure lines the FPGA timed it with, latched at its trigger.
    struct TriggeredFrame {
        double due = 0.0;
        uint32_t lines = 0;
    };
    int armStep_ = 0;
    bool armed_ = false;
    std::vector<TriggeredFrame> triggeredDue_;
    // The exposure lines the frame armed now is exposed for: in free run the sensor's as the
    // frame began (a change shows from the next frame), for a triggered frame those the FPGA
    // timed it with; nothing until a frame is armed.
    std::optional<uint32_t> frameExposureLines_;
    double triggerBusyUntil_ = 0.0;
    uint32_t triggeredBase_ = 0;     // header counter of the first frame of this arming
    uint32_t triggeredReady_ = 0;    // frames of this arming whose readout has finished
    uint32_t triggeredStarted_ = 0;  // frames of this arming a trigger started
    // Sensor bus arbitration.
    bool busRequested_ = false;
    bool busGranted_ = false;
    bool grantPending_ = false;
    bool timingValid_ = false;
    uint32_t nextFrameDue_ = 0;      // ms on the model's clock
    bool clockRunning_ = false;      // the sensor's free-run frame clock
    double clockFrameStart_ = 0.0;   // the frame under way began (ms, since startMs_)
    double clockFramePeriod_ = 0.0;  // its period (ms)
    double clockPeriod_ = 0.0;       // the period of frames that begin from now on (ms)
    double dueFraction_ = 0.0;       // end of the frame claimed last (ms, since startMs_)
    // The readout end of the frame claimed for the next header (ms, since startMs_), which the
    // header's time stamp carries; none in fast mode, where frames have no schedule.
    std::optional<double> claimedEnd_;
    std::atomic<uint64_t> framesLost_{0};  // read by tests without the camera's lock
    uint32_t startMs_ = 0;
};

}  // namespace lumora::sim
