#pragma once
// The IMX992 short-wave-infrared sensor (2560 x 2048, 12-bit) behind the camera FPGA: exposure in
// lines, 0.1 ms units and seconds, gain, black level, sensor mode, mirrors, the readout window
// with two two-by-two readout modes, 8- or 16-bit output timing, free-run and triggered
// operation, the cooler and the sensor temperature.
//
// Threads: any thread. opLock_ (from the base) guards SensorInfo and the timing fields below and
// is held for a whole setter, so exposure, window and trigger changes never interleave.
#include <chrono>
#include <cstdint>

#include "sensor/CSensorBase.h"

namespace lumora {

class CSensorIMX992 : public CSensorBase {
public:
    static constexpr uint8_t kBusAddress = 0x48;
    static constexpr int kTypeCodeUncooled = 129;
    static constexpr int kTypeCodeCooled = 130;
    // The longest exposure whose lengthened frame still fits the 24-bit frame-length register.
    static constexpr uint32_t kMaxExposureLines = 0xFFFFFF - 53;

    CSensorIMX992(CControllerBase* controller, uint8_t busAddress);
    ~CSensorIMX992() override;

    int SetTypeCode(int code) override;
    int ProbeSensor() override;
    int InitializeSensor() override;
    int SetReadoutWindow(int x, int width, int y, int height, int mode) override;
    int GetReadoutWindow(int* x, int* width, int* y, int* height, int* mode) override;
    int SetTriggerMode(int mode) override;
    int GetTriggerMode(int* mode) override;
    int SetHighBitDepth(int flag) override;
    int SetExposureLines(uint32_t lines) override;
    int SetGain(int gain) override;
    int SetBlackLevel(int level) override;
    int SetSensorMode(int mode) override;
    int SetExposureTime(int tenthsOfMs) override;
    int SetExposureSeconds(double seconds) override;
    int SetMirrorV(int on) override;
    int SetMirrorH(int on) override;
    int WriteRegister(int reg, int value) override;
    int ReadRegister(int reg, int* value) override;
    int WriteRegisterLocked(int reg, int value) override;
    int ReadRegisterLocked(int reg, int* value) override;
    int IsInternalCorrectionAvailable() override;
    int HasCooler() override;
    int IsCoolerOn() override;
    int SetCoolerOn(int on) override;
    int HasTemperatureSensor() override;
    int GetSensorTemperature(double* degrees) override;
    int IsStreamReady() override;
    int GetControlFlag() override;
    int SetControlFlag(int flag) override;
    int SupportsOutputFormatC() override;
    int GetFirstFrameWithin(uint32_t* milliseconds) override;
    int GetFramePeriod(double* microseconds) override;
    int GetExposureTiming(double* lineTimeUs, double* offsetUs) override;

    // The raw 12-bit temperature word; false when any read it is built from failed.
    bool ReadRawTemperature(uint16_t* raw);
    // Timing state, for tests and the driver core.
    int FrameLengthWritten() const;
    int LineLengthWritten() const;
    int FrameTimeMs() const;
    double LineTimeUs() const;

private:
    int SetLineLength(int lineLength);
    int WriteWindowRegister(uint16_t reg, int value);
    int WriteFrameLength(int frameLength, const uint16_t order[3]) LUMORA_REQUIRES(opLock_);
    int WriteExposureFpga() LUMORA_REQUIRES(opLock_);
    // Microseconds to lines at the line length last written; then SetExposureLines.
    int SetExposureMicroseconds(double microseconds) LUMORA_REQUIRES(opLock_);
    int HoldOn(uint32_t firstPause, uint32_t secondPause) LUMORA_REQUIRES(opLock_);
    int HoldOff(uint32_t firstPause, uint32_t secondPause) LUMORA_REQUIRES(opLock_);
    // Before a write that changes the frame period: the frame under way keeps the period it
    // began with, so until it ends a first frame can be that much later.
    void NoteTimingChange() LUMORA_REQUIRES(opLock_);
    double FramePeriodUsLocked() const LUMORA_REQUIRES(opLock_);

    int frameLengthWindow_ LUMORA_GUARDED_BY(opLock_) = 2140;
    int frameLengthWritten_ LUMORA_GUARDED_BY(opLock_) = 2140;
    int lineLengthWanted_ LUMORA_GUARDED_BY(opLock_) = 489;
    int lineLengthWritten_ LUMORA_GUARDED_BY(opLock_) = 489;
    int frameTimeMs_ LUMORA_GUARDED_BY(opLock_) = 0;
    bool windowChanged_ LUMORA_GUARDED_BY(opLock_) = false;
    // Until when a frame begun at an earlier timing may still be under way.
    std::chrono::steady_clock::time_point earlierTimingUntil_ LUMORA_GUARDED_BY(opLock_){};
};

}  // namespace lumora
