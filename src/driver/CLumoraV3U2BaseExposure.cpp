// The driver object: bit depth, clock, capture window, mirrors, geometry, gain and exposure.
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

// ---------------------------------------------------------------------------------------------
// Depth, clock, window, mirrors, trigger

int CLumoraV3U2Base::SetTransferBitDepth(int mode) {
    platform::CriticalSectionLock lock(deviceLock_);
    if (!controller_) return 0;
    if (sensor_) {
        sensor_->SetHighBitDepth(mode);
        NoteAnalogLocked();
    }
    if (!FpgaWriteLocked(imx992::kFpgaPixelWidth, mode == 1 ? 2 : 1)) return 0;
    if (mode == bitDepthMode_.load()) return 1;
    bitDepthMode_.store(mode);
    return PrepareBuffersLocked();
}

int CLumoraV3U2Base::SetClockMode(int mode) {
    platform::CriticalSectionLock lock(deviceLock_);
    if (!sensor_) return 0;
    if (cameraType_.load() != kTypeSideChannel && mode == 2 && controller_) {
        uint32_t speed = 0;
        if (!controller_->GetUsbSpeed(&speed) || speed != 4) mode = 0;
    }
    return sensor_->SetClockMode(mode);
}

int CLumoraV3U2Base::GetClockMode(int* value, int first, int second) {
    int cell = 0;
    const int ok =
        WithSensor(0, [&](CSensorBase& s) { return s.GetClockMode(&cell, first, second); });
    if (ok && value != nullptr) *value = cell;
    return ok ? 1 : 0;
}

int CLumoraV3U2Base::SetCaptureWindow(int x, int y, int width, int height, int mode) {
    platform::CriticalSectionLock lock(deviceLock_);
    if (!sensor_) return 0;
    int cx = 0, cw = 0, cy = 0, ch = 0, cm = 0;
    sensor_->GetReadoutWindow(&cx, &cw, &cy, &ch, &cm);
    if (cx == x && cy == y && cw == width && ch == height && cm == mode && !IsHeaderlessFamily())
        return 1;
    const int taken = sensor_->SetReadoutWindow(x, width, y, height, mode);
    NoteAnalogLocked();
    if (taken == 0) return 0;
    buffersStale_.store(true);
    return 1;
}

int CLumoraV3U2Base::GetCaptureWindow(int* x, int* y, int* width, int* height, int* mode) {
    platform::CriticalSectionLock lock(deviceLock_);
    if (!sensor_) return 0;
    int cx = 0, cw = 0, cy = 0, ch = 0, cm = 0;
    sensor_->GetReadoutWindow(&cx, &cw, &cy, &ch, &cm);
    if (x != nullptr) *x = cx;
    if (y != nullptr) *y = cy;
    if (width != nullptr) *width = cw;
    if (height != nullptr) *height = ch;
    if (mode != nullptr) *mode = cm;
    return 1;
}

int CLumoraV3U2Base::SetMirrorH(int on) {
    return WithSensor(0, [&](CSensorBase& s) { return s.SetMirrorH(on); });
}
int CLumoraV3U2Base::SetMirrorV(int on) {
    return WithSensor(0, [&](CSensorBase& s) { return s.SetMirrorV(on); });
}
int CLumoraV3U2Base::GetMirrorH() {
    return SensorCell(&CSensorBase::GetMirrorH);
}
int CLumoraV3U2Base::GetMirrorV() {
    return SensorCell(&CSensorBase::GetMirrorV);
}
int CLumoraV3U2Base::GetMirrorHDefault() {
    return WithSensor(0, [](CSensorBase& s) { return s.GetMirrorHDefault(); });
}
int CLumoraV3U2Base::GetMirrorVDefault() {
    return WithSensor(0, [](CSensorBase& s) { return s.GetMirrorVDefault(); });
}
int CLumoraV3U2Base::IsMirrorVSupported() {
    return WithSensor(0, [](CSensorBase& s) { return s.IsMirrorVSupported(); });
}
int CLumoraV3U2Base::IsMirrorHSupported() {
    return WithSensor(0, [](CSensorBase& s) { return s.IsMirrorHSupported(); });
}

// ---------------------------------------------------------------------------------------------
// Geometry, gain and exposure

int CLumoraV3U2Base::SensorCell(int (CSensorBase::*getter)(int*)) {
    int cell = 0;
    WithSensor(0, [&](CSensorBase& s) { return (s.*getter)(&cell); });
    return cell;
}

double CLumoraV3U2Base::SensorSeconds(int (CSensorBase::*getter)(double*)) {
    double cell = 0.0;
    WithSensor(0, [&](CSensorBase& s) { return (s.*getter)(&cell); });
    return cell;
}

#define LUMORA_INFO_GETTER(Name, field)           \
    int CLumoraV3U2Base::Name() {                 \
        return WithSensor(0, [](CSensorBase& s) { \
            SensorInfo info{};                    \
            s.GetSensorInfo(&info);               \
            return static_cast<int>(info.field);  \
        });                                       \
    }
LUMORA_INFO_GETTER(GetSensorWidth, sensorWidth)
LUMORA_INFO_GETTER(GetSensorHeight, sensorHeight)
LUMORA_INFO_GETTER(GetDefaultWindowX, defaultX)
LUMORA_INFO_GETTER(GetDefaultWindowY, defaultY)
LUMORA_INFO_GETTER(GetDefaultWindowWidth, defaultWidth)
LUMORA_INFO_GETTER(GetDefaultWindowHeight, defaultHeight)
LUMORA_INFO_GETTER(GetWindowWidth, windowWidth)
LUMORA_INFO_GETTER(GetWindowHeight, windowHeight)
#undef LUMORA_INFO_GETTER

int CLumoraV3U2Base::SetGlobalGain(int gain) {
    return AnalogChange([&](CSensorBase& s) { return s.SetGain(gain); });
}
int CLumoraV3U2Base::GetGlobalGain() {
    return SensorCell(&CSensorBase::GetGain);
}
int CLumoraV3U2Base::GetGlobalGainMin() {
    return SensorCell(&CSensorBase::GetGainMin);
}
int CLumoraV3U2Base::GetGlobalGainMax() {
    return SensorCell(&CSensorBase::GetGainMax);
}
int CLumoraV3U2Base::GetGlobalGainDefault() {
    return SensorCell(&CSensorBase::GetGainDefault);
}

int CLumoraV3U2Base::SetExposureTime(uint32_t tenthsOfMs) {
    platform::CriticalSectionLock lock(deviceLock_);
    if (!sensor_) return 0;
    // Long exposures need a payload wait of twice the exposure.
    payloadTimeoutMs_.store(tenthsOfMs <= 50000 ? kDefaultPayloadTimeoutMs : tenthsOfMs / 5);
    const int result =
        sensor_->SetExposureTime(static_cast<int>(std::min<uint32_t>(tenthsOfMs, 0x7FFFFFFF)));
    NoteAnalogLocked();
    return result;
}
int CLumoraV3U2Base::GetExposureTime() {
    return SensorCell(&CSensorBase::GetExposureTime);
}
void CLumoraV3U2Base::NoteAnalogLocked() {
    if (!sensor_) return;
    AnalogEntry entry;
    int lines = 0;
    sensor_->GetExposureLines(&lines);
    entry.exposureLines = static_cast<uint32_t>(lines);
    double seconds = 0.0;
    int tenths = 0;
    if (sensor_->IsExposureSecondsSupported() != 0 && sensor_->GetExposureSeconds(&seconds) != 0) {
        entry.exposureSeconds = seconds;
    } else {
        sensor_->GetExposureTime(&tenths);
        entry.exposureSeconds = tenths * 1e-4;
    }
    if (sensor_->GetExposureTiming(&entry.lineTimeUs, &entry.offsetUs) == 0) entry.lineTimeUs = 0.0;
    sensor_->GetGain(&entry.gain);
    sensor_->GetBlackLevel(&entry.blackLevel);
    analogHistory_.Note(entry);
}

int CLumoraV3U2Base::GetExposureTimeMin() {
    return SensorCell(&CSensorBase::GetExposureTimeMin);
}
int CLumoraV3U2Base::GetExposureTimeMax() {
    return SensorCell(&CSensorBase::GetExposureTimeMax);
}
int CLumoraV3U2Base::GetExposureTimeDefault() {
    return SensorCell(&CSensorBase::GetExposureTimeDefault);
}

int CLumoraV3U2Base::SetExposureLines(uint32_t lines) {
    return AnalogChange([&](CSensorBase& s) { return s.SetExposureLines(lines); });
}
int CLumoraV3U2Base::GetExposureLines() {
    return SensorCell(&CSensorBase::GetExposureLines);
}
int CLumoraV3U2Base::GetExposureLinesMin() {
    return SensorCell(&CSensorBase::GetExposureLinesMin);
}
int CLumoraV3U2Base::GetExposureLinesMax() {
    return SensorCell(&CSensorBase::GetExposureLinesMax);
}
int CLumoraV3U2Base::GetExposureLinesDefault() {
    return SensorCell(&CSensorBase::GetExposureLinesDefault);
}

int CLumoraV3U2Base::IsExposureTimeExAvailable() {
    return WithSensor(0, [](CSensorBase& s) { return s.IsExposureSecondsSupported(); });
}

int CLumoraV3U2Base::SetExposureTimeEx(double seconds) {
    platform::CriticalSectionLock lock(deviceLock_);
    if (!sensor_ || !std::isfinite(seconds)) return 0;
    double minimum = 0.0;
    double maximum = 0.0;
    sensor_->GetExposureSecondsMin(&minimum);
    sensor_->GetExposureSecondsMax(&maximum);
    if (seconds < minimum || seconds > maximum) return 0;
    const int result = sensor_->SetExposureSeconds(seconds);
    NoteAnalogLocked();
    if (result == 0) return 0;
    if (seconds > 2.0) payloadTimeoutMs_.store(static_cast<uint32_t>((seconds + 1.0) * 1000.0));
    return 1;
}
double CLumoraV3U2Base::GetExposureTimeEx() {
    return SensorSeconds(&CSensorBase::GetExposureSeconds);
}
double CLumoraV3U2Base::GetExposureTimeExMin() {
    return SensorSeconds(&CSensorBase::GetExposureSecondsMin);
}
double CLumoraV3U2Base::GetExposureTimeExMax() {
    return SensorSeconds(&CSensorBase::GetExposureSecondsMax);
}
double CLumoraV3U2Base::GetExposureTimeExDefault() {
    return SensorSeconds(&CSensorBase::GetExposureSecondsDefault);
}

int CLumoraV3U2Base::SetTapGain(int tap, int value) {
    return WithSensor(0, [&](CSensorBase& s) { return s.SetTapGain(tap, value); });
}
int CLumoraV3U2Base::GetTapGain(int tap) {
    int cell = 0;
    WithSensor(0, [&](CSensorBase& s) { return s.GetTapGain(tap, &cell); });
    return cell;
}
int CLumoraV3U2Base::GetTapGainMin() {
    return SensorCell(&CSensorBase::GetTapGainMin);
}
int CLumoraV3U2Base::GetTapGainMax() {
    return SensorCell(&CSensorBase::GetTapGainMax);
}
int CLumoraV3U2Base::GetTapGainDefault() {
    return SensorCell(&CSensorBase::GetTapGainDefault);
}
int CLumoraV3U2Base::SetTapOffset(int tap, int value) {
    return WithSensor(0, [&](CSensorBase& s) { return s.SetTapOffset(tap, value); });
}
int CLumoraV3U2Base::GetTapOffset(int tap) {
    int cell = 0;
    WithSensor(0, [&](CSensorBase& s) { return s.GetTapOffset(tap, &cell); });
    return cell;
}
int CLumoraV3U2Base::GetTapOffsetMin() {
    return SensorCell(&CSensorBase::GetTapOffsetMin);
}
int CLumoraV3U2Base::GetTapOffsetMax() {
    return SensorCell(&CSensorBase::GetTapOffsetMax);
}
int CLumoraV3U2Base::GetTapOffsetDefault() {
    return SensorCell(&CSensorBase::GetTapOffsetDefault);
}

int CLumoraV3U2Base::SetColorGainRed(int gain) {
    return WithSensor(0, [&](CSensorBase& s) { return s.SetRedGain(gain); });
}
int CLumoraV3U2Base::GetColorGainRed() {
    return SensorCell(&CSensorBase::GetRedGain);
}
int CLumoraV3U2Base::SetColorGainGreen1(int gain) {
    return WithSensor(0, [&](CSensorBase& s) { return s.SetGreen1Gain(gain); });
}
int CLumoraV3U2Base::GetColorGainGreen1() {
    return SensorCell(&CSensorBase::GetGreen1Gain);
}
int CLumoraV3U2Base::SetColorGainGreen2(int gain) {
    return WithSensor(0, [&](CSensorBase& s) { return s.SetGreen2Gain(gain); });
}
int CLumoraV3U2Base::GetColorGainGreen2() {
    return SensorCell(&CSensorBase::GetGreen2Gain);
}
int CLumoraV3U2Base::SetColorGainBlue(int gain) {
    return WithSensor(0, [&](CSensorBase& s) { return s.SetBlueGain(gain); });
}
int CLumoraV3U2Base::GetColorGainBlue() {
    return SensorCell(&CSensorBase::GetBlueGain);
}
int CLumoraV3U2Base::GetColorGainMin() {
    return SensorCell(&CSensorBase::GetColorGainMin);
}
int CLumoraV3U2Base::GetColorGainMax() {
    return SensorCell(&CSensorBase::GetColorGainMax);
}
int CLumoraV3U2Base::GetColorGainDefault() {
    return SensorCell(&CSensorBase::GetColorGainDefault);
}

int CLumoraV3U2Base::IsBlackLevelSupported() {
    return WithSensor(0, [](CSensorBase& s) { return s.IsBlackLevelSupported(); });
}
int CLumoraV3U2Base::SetBlackLevel(int level) {
    return AnalogChange([&](CSensorBase& s) { return s.SetBlackLevel(level); });
}
int CLumoraV3U2Base::GetBlackLevel() {
    return SensorCell(&CSensorBase::GetBlackLevel);
}
int CLumoraV3U2Base::GetBlackLevelMin() {
    return SensorCell(&CSensorBase::GetBlackLevelMin);
}
int CLumoraV3U2Base::GetBlackLevelMax() {
    return SensorCell(&CSensorBase::GetBlackLevelMax);
}
int CLumoraV3U2Base::GetBlackLevelDefault() {
    return SensorCell(&CSensorBase::GetBlackLevelDefault);
}
int CLumoraV3U2Base::IsSensorModeSupported() {
    return WithSensor(0, [](CSensorBase& s) { return s.IsSensorModeSupported(); });
}
int CLumoraV3U2Base::SetSensorMode(int mode) {
    return WithSensor(0, [&](CSensorBase& s) { return s.SetSensorMode(mode); });
}
int CLumoraV3U2Base::GetSensorMode() {
    return SensorCell(&CSensorBase::GetSensorMode);
}

}  // namespace lumora
