// The driver object: construction and the operations forwarded to the sensor for other family
// members.
#include "driver/CLumoraV3U2Base.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>

#include "driver/DriverDetail.h"
#include "platform/Clock.h"
#include "platform/LittleEndian.h"
#include "port/UsbPort.h"
#include "sensor/Imx992Registers.h"
#include "sensor/SensorSelection.h"
#include "usb/CLumCy3Cam.h"

namespace lumora {

using namespace driver_detail;

CLumoraV3U2Base::CLumoraV3U2Base() {
    ring_.SetSlotCount(4);
    hotplugToken_ =
        platform::SubscribeHotplug([this](platform::HotplugEvent event, const std::string& path) {
            if (event != platform::HotplugEvent::Removal) return;
            platform::MutexLock lock(openedPathMutex_);
            if (!openedPath_.empty() && path == openedPath_) openedCameraLeft_.store(true);
        });
}

CLumoraV3U2Base::~CLumoraV3U2Base() {
    if (hotplugToken_ != 0) platform::UnsubscribeHotplug(hotplugToken_);
    CloseCamera();
}

// ---------------------------------------------------------------------------------------------
// Forwarded operations of other family members

int CLumoraV3U2Base::HasOutputSwitch() {
    return WithSensor(0, [](CSensorBase& s) { return s.HasOutputSwitch(); });
}
int CLumoraV3U2Base::GetOutputSwitch(int* value) {
    return WithSensor(0, [&](CSensorBase& s) { return s.GetOutputSwitch(value); });
}
int CLumoraV3U2Base::SetOutputSwitch(int value) {
    return WithSensor(0, [&](CSensorBase& s) { return s.SetOutputSwitch(value); });
}
int CLumoraV3U2Base::CheckFpgaFeature() {
    return WithSensor(0, [](CSensorBase& s) { return s.CheckFpgaFeature(); });
}
int CLumoraV3U2Base::DetectAuxBoard() {
    return WithSensor(0, [](CSensorBase& s) { return s.DetectAuxBoard(); });
}
int CLumoraV3U2Base::SetAuxBoardMode(int mode) {
    return WithSensor(0, [&](CSensorBase& s) { return s.SetAuxBoardMode(mode); });
}
int CLumoraV3U2Base::HasDetectorTemperature() {
    return WithSensor(0, [](CSensorBase& s) { return s.HasDetectorTemperature(); });
}
int CLumoraV3U2Base::Reserved7() {
    return WithSensor(0, [](CSensorBase& s) { return s.Reserved7(); });
}
int CLumoraV3U2Base::Reserved8() {
    return WithSensor(0, [](CSensorBase& s) { return s.Reserved8(); });
}
int CLumoraV3U2Base::GetDetectorTemperature(double* degrees) {
    return WithSensor(0, [&](CSensorBase& s) { return s.GetDetectorTemperature(degrees); });
}
int CLumoraV3U2Base::SetDetectorTemperature(double degrees) {
    return WithSensor(0, [&](CSensorBase& s) { return s.SetDetectorTemperature(degrees); });
}

int CLumoraV3U2Base::GetFpgaTemperature(double* degrees) {
    platform::CriticalSectionLock lock(deviceLock_);
    if (!IsHeaderlessFamily() || degrees == nullptr) return 0;
    int okLow = 0;
    int okHigh = 0;
    const int low = FpgaReadLocked(0x8E, &okLow);
    const int high = FpgaReadLocked(0x8F, &okHigh);
    if (!okLow || !okHigh) return 0;
    *degrees = (high * 256 + low) * 503.975 / 65536.0 - 273.15;
    return 1;
}

int CLumoraV3U2Base::CheckCorrectionState() {
    return WithSensor(0, [](CSensorBase& s) { return s.CheckCorrectionState(); });
}
int CLumoraV3U2Base::GetCorrectionInfo(int* value) {
    return WithSensor(0, [&](CSensorBase& s) { return s.GetCorrectionInfo(value); });
}
int CLumoraV3U2Base::StoreOptionWord(int word) {
    return WithSensor(0, [&](CSensorBase& s) { return s.StoreOptionWord(word); });
}
int CLumoraV3U2Base::HasOptionWord() {
    return WithSensor(0, [](CSensorBase& s) { return s.HasOptionWord(); });
}
int CLumoraV3U2Base::CheckFpgaVersion() {
    return WithSensor(0, [](CSensorBase& s) { return s.CheckFpgaVersion(); });
}
int CLumoraV3U2Base::HasResponseMode() {
    return WithSensor(0, [](CSensorBase& s) { return s.HasResponseMode(); });
}
int CLumoraV3U2Base::GetResponseMode(int* mode) {
    return WithSensor(0, [&](CSensorBase& s) { return s.GetResponseMode(mode); });
}
int CLumoraV3U2Base::SetResponseMode(int mode) {
    return WithSensor(0, [&](CSensorBase& s) { return s.SetResponseMode(mode); });
}
int CLumoraV3U2Base::IsLevelPairSupported() {
    return WithSensor(0, [](CSensorBase& s) { return s.IsLevelPairSupported(); });
}
int CLumoraV3U2Base::GetLevelPairMin() {
    return SensorCell(&CSensorBase::GetLevelPairMin);
}
int CLumoraV3U2Base::GetLevelPairMax() {
    return SensorCell(&CSensorBase::GetLevelPairMax);
}
int CLumoraV3U2Base::GetLevelADefault() {
    return SensorCell(&CSensorBase::GetLevelADefault);
}
int CLumoraV3U2Base::GetLevelBDefault() {
    return SensorCell(&CSensorBase::GetLevelBDefault);
}
int CLumoraV3U2Base::ReadLevelA(int* value) {
    return WithSensor(0, [&](CSensorBase& s) { return s.ReadLevelA(value); });
}
int CLumoraV3U2Base::ReadLevelB(int* value) {
    return WithSensor(0, [&](CSensorBase& s) { return s.ReadLevelB(value); });
}
int CLumoraV3U2Base::SetLevelA(int value) {
    return WithSensor(0, [&](CSensorBase& s) { return s.SetLevelA(value); });
}
int CLumoraV3U2Base::SetLevelB(int value) {
    return WithSensor(0, [&](CSensorBase& s) { return s.SetLevelB(value); });
}
int CLumoraV3U2Base::GetLevelLabel(int index, char* text, int length) {
    return WithSensor(0, [&](CSensorBase& s) { return s.GetLevelLabel(index, text, length); });
}
int CLumoraV3U2Base::HasGainStage() {
    return WithSensor(0, [](CSensorBase& s) { return s.HasGainStage(); });
}
int CLumoraV3U2Base::SetGainStage(int stage) {
    return WithSensor(0, [&](CSensorBase& s) { return s.SetGainStage(stage); });
}
int CLumoraV3U2Base::GetGainStage() {
    return WithSensor(-1, [](CSensorBase& s) { return s.GetGainStage(); });
}
int CLumoraV3U2Base::SupportsOutputFormatA() {
    return WithSensor(1, [](CSensorBase& s) { return s.SupportsOutputFormatA(); });
}
int CLumoraV3U2Base::SupportsOutputFormatB() {
    return WithSensor(1, [](CSensorBase& s) { return s.SupportsOutputFormatB(); });
}
int CLumoraV3U2Base::SupportsOutputFormatC() {
    return WithSensor(1, [](CSensorBase& s) { return s.SupportsOutputFormatC(); });
}
int CLumoraV3U2Base::GetAuxStatus(int* value) {
    return WithSensor(1, [&](CSensorBase& s) { return s.GetAuxStatus(value); });
}
int CLumoraV3U2Base::SetAuxStatus(int value) {
    return WithSensor(1, [&](CSensorBase& s) { return s.SetAuxStatus(value); });
}
int CLumoraV3U2Base::PollAuxBoard() {
    return WithSensor(1, [](CSensorBase& s) { return s.PollAuxBoard(); });
}
int CLumoraV3U2Base::GetReadoutKind() {
    return WithSensor(0, [](CSensorBase& s) { return s.GetReadoutKind(); });
}
void CLumoraV3U2Base::Reserved9() {}

}  // namespace lumora
