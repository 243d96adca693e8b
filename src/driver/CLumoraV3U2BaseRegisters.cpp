// The driver object: trigger, IO port, configuration memory, register access and the camera-side
// defect correction.
#include "driver/CLumoraV3U2Base.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>

#include "driver/DriverDetail.h"
#include "platform/Clock.h"
#include "platform/LittleEndian.h"
#include "sensor/Imx992Registers.h"
#include "sensor/SensorSelection.h"
#include "usb/CLumCy3Cam.h"

namespace lumora {

using namespace driver_detail;

int CLumoraV3U2Base::SetTriggerMode(int mode, int force) {
    platform::CriticalSectionLock lock(deviceLock_);
    if (!sensor_) return 0;
    if (!force && mode == triggerMode_.load()) return 1;
    triggerMode_.store(-1);
    StopCaptureLocked(0);
    OpenFrameEvent();
    const int accepted = sensor_->SetTriggerMode(mode);
    NoteAnalogLocked();
    if (mode >= 1 && mode <= 3) {
        if (!accepted) return 0;
        // The acquisition thread waits for the next change of the counter from here.
        int ok = 0;
        const int value = FpgaReadLocked(imx992::kFpgaFrameCounter, &ok);
        if (ok) lastFrameCounter_.store(static_cast<uint32_t>(value));
    }
    triggerMode_.store(mode);
    return 1;
}

int CLumoraV3U2Base::GetTriggerMode() {
    int mode = 0;
    WithSensor(0, [&](CSensorBase& s) { return s.GetTriggerMode(&mode); });
    return mode;
}

int CLumoraV3U2Base::WriteSrom(uint16_t address, uint8_t value) {
    platform::CriticalSectionLock lock(deviceLock_);
    return controller_ ? controller_->WriteEepromByte(address, value) : 0;
}

int CLumoraV3U2Base::ReadSrom(uint16_t address, uint8_t* value) {
    platform::CriticalSectionLock lock(deviceLock_);
    if (!controller_ || value == nullptr) return 0;
    return controller_->ReadEepromByte(address, value);
}

// ---------------------------------------------------------------------------------------------
// Registers

// The FPGA drives the sensor's bus itself: an unarbitrated access would collide with it, so the
// pass-through takes the bus the way the sensor driver does.
int CLumoraV3U2Base::WriteSensorRegister(int, int reg, int value) {
    return WithSensor(0, [&](CSensorBase& s) { return s.WriteRegisterLocked(reg, value); });
}

int CLumoraV3U2Base::ReadSensorRegister(int, int reg, int* ok) {
    int value = 0;
    const int read =
        WithSensor(0, [&](CSensorBase& s) { return s.ReadRegisterLocked(reg, &value); });
    if (ok != nullptr) *ok = read ? 1 : 0;
    return read ? value : 0;
}

int CLumoraV3U2Base::FpgaWrite(int reg, int value) {
    platform::CriticalSectionLock lock(deviceLock_);
    return FpgaWriteLocked(reg, value);
}

int CLumoraV3U2Base::FpgaWriteLocked(int reg, int value) {
    if (!controller_ || cameraType_.load() == kTypeSideChannel) return 0;
    return controller_->WriteFpgaRegister(static_cast<uint8_t>(reg & 0xFF),
                                          static_cast<uint8_t>(value & 0xFF))
               ? 1
               : 0;
}

int CLumoraV3U2Base::FpgaRead(int reg, int* ok) {
    platform::CriticalSectionLock lock(deviceLock_);
    return FpgaReadLocked(reg, ok);
}

int CLumoraV3U2Base::FpgaReadLocked(int reg, int* ok) {
    if (ok != nullptr) *ok = 0;
    if (!controller_ || cameraType_.load() == kTypeSideChannel) return 0;
    uint8_t value = 0;
    if (!controller_->ReadFpgaRegister(static_cast<uint8_t>(reg & 0xFF), &value)) return 0;
    if (ok != nullptr) *ok = 1;
    return value;
}

int CLumoraV3U2Base::WaitFpgaIdle(uint32_t milliseconds) {
    platform::CriticalSectionLock lock(deviceLock_);
    return WaitFpgaIdleLocked(milliseconds);
}

int CLumoraV3U2Base::WaitFpgaIdleLocked(uint32_t milliseconds) {
    const uint32_t start = platform::GetTickCount();
    while (platform::TicksSince(start, platform::GetTickCount()) < milliseconds) {
        int ok = 0;
        const int status = FpgaReadLocked(imx992::kFpgaStatus, &ok);
        if (!ok) return 0;
        if ((status & 2) == 0) return 1;
        platform::Sleep(1);
    }
    return 0;
}

// The bus is shared with the FPGA: request it (0x9F), wait until the FPGA has let go, and always
// hand it back.
int CLumoraV3U2Base::WriteBusWord(int device, int reg, int value) {
    platform::CriticalSectionLock lock(deviceLock_);
    if (!sensor_ || !controller_) return 0;
    controller_->WriteFpgaRegister(imx992::kFpgaSensorBusRequest, 1);
    ScopeExit release([this] { controller_->WriteFpgaRegister(imx992::kFpgaSensorBusRequest, 0); });
    if (!WaitFpgaIdleLocked(3000)) return 0;
    const uint8_t bytes[4] = {
        static_cast<uint8_t>((reg >> 8) & 0xFF), static_cast<uint8_t>(reg & 0xFF),
        static_cast<uint8_t>((value >> 8) & 0xFF), static_cast<uint8_t>(value & 0xFF)};
    return controller_->I2cWrite(static_cast<uint8_t>(device * 2), bytes, 4, 3000) ? 1 : 0;
}

int CLumoraV3U2Base::ReadBusWord(int device, int reg, int* value) {
    platform::CriticalSectionLock lock(deviceLock_);
    if (!sensor_ || !controller_ || value == nullptr) return 0;
    controller_->WriteFpgaRegister(imx992::kFpgaSensorBusRequest, 1);
    ScopeExit release([this] { controller_->WriteFpgaRegister(imx992::kFpgaSensorBusRequest, 0); });
    if (!WaitFpgaIdleLocked(3000)) return 0;
    const uint8_t address[2] = {static_cast<uint8_t>((reg >> 8) & 0xFF),
                                static_cast<uint8_t>(reg & 0xFF)};
    const auto bus = static_cast<uint8_t>(device * 2);
    if (!controller_->I2cWrite(bus, address, 2, 3000)) return 0;
    platform::Sleep(1);
    uint8_t bytes[2] = {};
    if (!controller_->I2cRead(bus, bytes, 2, 3000)) return 0;
    *value = bytes[0] * 256 + bytes[1];
    return 1;
}

int CLumoraV3U2Base::Reserved3() {
    return 0;
}
int CLumoraV3U2Base::Reserved4() {
    return 0;
}
void CLumoraV3U2Base::RestartStreaming() {
    WithSensor(0, [](CSensorBase& s) { return s.RestartStreaming(); });
}
void CLumoraV3U2Base::SignalAuxDevice() {
    WithSensor(0, [](CSensorBase& s) { return s.SignalAuxDevice(); });
}
int CLumoraV3U2Base::SetSamplingRate(int ignored, int* rate) {
    return WithSensor(0, [&](CSensorBase& s) { return s.VariantCapabilityFlag(ignored, rate); });
}
int CLumoraV3U2Base::IsStreamReady() {
    return WithSensor(0, [](CSensorBase& s) { return s.IsStreamReady(); });
}
int CLumoraV3U2Base::SetControlFlag(int flag) {
    return WithSensor(0, [&](CSensorBase& s) { return s.SetControlFlag(flag); });
}
int CLumoraV3U2Base::GetControlFlag() {
    return WithSensor(-1, [](CSensorBase& s) { return s.GetControlFlag(); });
}
int CLumoraV3U2Base::WriteSromId(uint8_t value) {
    return WriteSrom(kSromIdAddress, value);
}
int CLumoraV3U2Base::ReadSromId(uint8_t* value) {
    return ReadSrom(kSromIdAddress, value);
}

// ---------------------------------------------------------------------------------------------
// Camera-side defective-pixel correction

int CLumoraV3U2Base::IsDefectCorrectionAvailable() {
    platform::CriticalSectionLock lock(deviceLock_);
    return IsDefectCorrectionAvailableLocked();
}

int CLumoraV3U2Base::IsDefectCorrectionAvailableLocked() {
    return sensor_ ? sensor_->IsInternalCorrectionAvailable() : 0;
}

int CLumoraV3U2Base::IsDefectCorrectionEnabled() {
    platform::CriticalSectionLock lock(deviceLock_);
    if (!IsDefectCorrectionAvailableLocked()) return 0;
    int ok = 0;
    const int value = FpgaReadLocked(imx992::kFpgaDefectEnable, &ok);
    return ok ? (value & 1) : 0;
}

int CLumoraV3U2Base::EnableDefectCorrection(int on) {
    platform::CriticalSectionLock lock(deviceLock_);
    if (!IsDefectCorrectionAvailableLocked()) return 0;
    int ok = 0;
    const int value = FpgaReadLocked(imx992::kFpgaDefectEnable, &ok);
    if (!ok) return 0;
    if ((value & 1) == (on ? 1 : 0)) return 1;
    return FpgaWriteLocked(imx992::kFpgaDefectEnable, on ? (value | 1) : (value & ~1));
}

int CLumoraV3U2Base::IsDefectThresholdAvailable() {
    return IsDefectCorrectionAvailable();
}

int CLumoraV3U2Base::SetDefectThreshold(int value) {
    platform::CriticalSectionLock lock(deviceLock_);
    if (!IsDefectCorrectionAvailableLocked()) return 0;
    const int low = FpgaWriteLocked(imx992::kFpgaDefectThresholdLow, value & 0xFF);
    const int high = FpgaWriteLocked(imx992::kFpgaDefectThresholdHigh, (value >> 8) & 0xFF);
    return low && high ? 1 : 0;
}

int CLumoraV3U2Base::GetDefectThreshold(int* value) {
    platform::CriticalSectionLock lock(deviceLock_);
    if (!IsDefectCorrectionAvailableLocked() || value == nullptr) return 0;
    int okLow = 0;
    int okHigh = 0;
    const int low = FpgaReadLocked(imx992::kFpgaDefectThresholdLow, &okLow);
    const int high = FpgaReadLocked(imx992::kFpgaDefectThresholdHigh, &okHigh);
    if (!okLow || !okHigh) return 0;
    *value = (high << 8) | low;
    return 1;
}

int CLumoraV3U2Base::GetDefectThresholdMin() {
    return 0;
}

int CLumoraV3U2Base::GetDefectThresholdMax() {
    if (!IsDefectCorrectionAvailable()) return 0;
    return cameraType_.load() == 0x3310 ? 0x0FFF : 0xFFFF;
}

int CLumoraV3U2Base::ReceiveText(char*, int) {
    return 0;
}
int CLumoraV3U2Base::SendText(const char*, int) {
    return 0;
}

}  // namespace lumora
