#include "session/AnalogControls.h"

#include "driver/CLumoraUSB3T2SimpleSdk.h"
#include "session/CLumora.h"

namespace lumora {

AnalogControls::AnalogControls(CLumora& session) : driver_(*session.Driver()) {}

int AnalogControls::IsExposureTimeExAvailable() {
    return driver_.IsExposureTimeExAvailable();
}

int AnalogControls::SupportsOutputFormatC() {
    return driver_.SupportsOutputFormatC();
}

int AnalogControls::IsBlackLevelSupported() {
    return driver_.IsBlackLevelSupported();
}

int AnalogControls::IsPeltierAvailable() {
    return driver_.IsPeltierAvailable();
}

int AnalogControls::HasResponseMode() {
    return driver_.HasResponseMode();
}

int AnalogControls::IsStreamReady() {
    return driver_.IsStreamReady();
}

int AnalogControls::GetGlobalGain() {
    return driver_.GetGlobalGain();
}

int AnalogControls::GetColorGainGreen1() {
    return driver_.GetColorGainGreen1();
}

int AnalogControls::GetColorGainRed() {
    return driver_.GetColorGainRed();
}

int AnalogControls::GetColorGainBlue() {
    return driver_.GetColorGainBlue();
}

int AnalogControls::GetColorGainGreen2() {
    return driver_.GetColorGainGreen2();
}

int AnalogControls::GetExposureTime() {
    return driver_.GetExposureTime();
}

double AnalogControls::GetExposureTimeEx() {
    return driver_.GetExposureTimeEx();
}

int AnalogControls::GetMirrorV() {
    return driver_.GetMirrorV();
}

int AnalogControls::GetMirrorH() {
    return driver_.GetMirrorH();
}

int AnalogControls::GetBlackLevel() {
    return driver_.GetBlackLevel();
}

int AnalogControls::GetPeltier() {
    return driver_.GetPeltier();
}

int AnalogControls::GetResponseMode(int* mode) {
    return driver_.GetResponseMode(mode);
}

int AnalogControls::GetControlFlag() {
    return driver_.GetControlFlag();
}

int AnalogControls::GetGlobalGainMin() {
    return driver_.GetGlobalGainMin();
}

int AnalogControls::GetGlobalGainMax() {
    return driver_.GetGlobalGainMax();
}

int AnalogControls::GetColorGainMin() {
    return driver_.GetColorGainMin();
}

int AnalogControls::GetColorGainMax() {
    return driver_.GetColorGainMax();
}

int AnalogControls::GetExposureTimeMin() {
    return driver_.GetExposureTimeMin();
}

int AnalogControls::GetExposureTimeMax() {
    return driver_.GetExposureTimeMax();
}

double AnalogControls::GetExposureTimeExMin() {
    return driver_.GetExposureTimeExMin();
}

double AnalogControls::GetExposureTimeExMax() {
    return driver_.GetExposureTimeExMax();
}

int AnalogControls::GetBlackLevelMin() {
    return driver_.GetBlackLevelMin();
}

int AnalogControls::GetBlackLevelMax() {
    return driver_.GetBlackLevelMax();
}

int AnalogControls::GetGlobalGainDefault() {
    return driver_.GetGlobalGainDefault();
}

int AnalogControls::GetColorGainDefault() {
    return driver_.GetColorGainDefault();
}

int AnalogControls::GetExposureTimeDefault() {
    return driver_.GetExposureTimeDefault();
}

double AnalogControls::GetExposureTimeExDefault() {
    return driver_.GetExposureTimeExDefault();
}

int AnalogControls::GetMirrorVDefault() {
    return driver_.GetMirrorVDefault();
}

int AnalogControls::GetMirrorHDefault() {
    return driver_.GetMirrorHDefault();
}

int AnalogControls::GetBlackLevelDefault() {
    return driver_.GetBlackLevelDefault();
}

int AnalogControls::SetGlobalGain(int gain) {
    return driver_.SetGlobalGain(gain);
}

int AnalogControls::SetColorGainGreen1(int gain) {
    return driver_.SetColorGainGreen1(gain);
}

int AnalogControls::SetColorGainRed(int gain) {
    return driver_.SetColorGainRed(gain);
}

int AnalogControls::SetColorGainBlue(int gain) {
    return driver_.SetColorGainBlue(gain);
}

int AnalogControls::SetColorGainGreen2(int gain) {
    return driver_.SetColorGainGreen2(gain);
}

int AnalogControls::SetExposureTime(uint32_t tenthsOfMs) {
    return driver_.SetExposureTime(tenthsOfMs);
}

int AnalogControls::SetExposureTimeEx(double seconds) {
    return driver_.SetExposureTimeEx(seconds);
}

int AnalogControls::SetBlackLevel(int level) {
    return driver_.SetBlackLevel(level);
}

int AnalogControls::SetMirrorV(int on) {
    return driver_.SetMirrorV(on);
}

int AnalogControls::SetMirrorH(int on) {
    return driver_.SetMirrorH(on);
}

int AnalogControls::SetPeltier(int on) {
    return driver_.SetPeltier(on);
}

int AnalogControls::SetResponseMode(int mode) {
    return driver_.SetResponseMode(mode);
}

int AnalogControls::SetControlFlag(int flag) {
    return driver_.SetControlFlag(flag);
}

}  // namespace lumora
