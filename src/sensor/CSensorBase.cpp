#include "sensor/CSensorBase.h"

#include <atomic>
#include <cstring>

#include "platform/Clock.h"
#include "usb/CControllerBase.h"

namespace lumora {

namespace {
std::atomic<bool> gPausesEnabled{true};
constexpr uint8_t kFpgaStatus = 0x02;
constexpr uint8_t kFpgaSensorBusRequest = 0x9F;
constexpr int kArbitrationPolls = 100;
constexpr uint32_t kI2cTimeoutMs = 3000;
}  // namespace

void SensorPause(uint32_t milliseconds) {
    if (gPausesEnabled.load(std::memory_order_relaxed)) platform::Sleep(milliseconds);
}

void SetSensorPausesForTesting(bool enabled) {
    gPausesEnabled.store(enabled);
}

CSensorBase::CSensorBase(CControllerBase* controller, uint8_t busAddress)
    : controller_(controller), busAddress_(busAddress) {}

CSensorBase::~CSensorBase() = default;

int CSensorBase::Range(int32_t stored, int32_t supported, int* out) {
    if (out != nullptr) *out = stored;
    return supported;
}

int CSensorBase::RangeSeconds(double stored, int32_t supported, double* out) {
    if (out != nullptr) *out = stored;
    return supported;
}

int CSensorBase::SetTypeCode(int code) {
    typeCode_.store(code);
    return 1;
}
int CSensorBase::SetTriggerModeValue(int word) {
    triggerModeWord_.store(word);
    return 1;
}
int CSensorBase::GetTriggerModeValue() {
    return triggerModeWord_.load();
}
int CSensorBase::ProbeSensor() {
    return 0;
}
int CSensorBase::InitializeSensor() {
    return 0;
}
int CSensorBase::VerifyModelText() {
    return 0;
}
int CSensorBase::SetFpgaControlBit(int) {
    return 0;
}
int CSensorBase::SetReadoutWindow(int, int, int, int, int) {
    return 0;
}
int CSensorBase::GetReadoutWindow(int* x, int* width, int* y, int* height, int* mode) {
    platform::CriticalSectionLock lock(opLock_);
    if (x != nullptr) *x = info_.windowX;
    if (width != nullptr) *width = info_.windowWidth;
    if (y != nullptr) *y = info_.windowY;
    if (height != nullptr) *height = info_.windowHeight;
    if (mode != nullptr) *mode = info_.readoutMode;
    return 0;
}
int CSensorBase::SetTriggerMode(int) {
    return 0;
}
int CSensorBase::GetTriggerMode(int* mode) {
    if (mode != nullptr) *mode = triggerModeWord_.load();
    return 0;
}
int CSensorBase::StoreOptionWord(int) {
    return 0;
}
int CSensorBase::HasOptionWord() {
    return 0;
}
int CSensorBase::CheckFpgaVersion() {
    return 0;
}
int CSensorBase::SetHighBitDepth(int) {
    return 0;
}
int CSensorBase::SetExposureLines(uint32_t) {
    return 0;
}

int CSensorBase::GetExposureLines(int* v) {
    platform::CriticalSectionLock lock(opLock_);
    return Range(info_.exposureLines.current, info_.exposureLines.supported, v);
}
int CSensorBase::SetGain(int) {
    return 0;
}
int CSensorBase::GetGain(int* v) {
    platform::CriticalSectionLock lock(opLock_);
    return Range(info_.gain.current, info_.gain.supported, v);
}
int CSensorBase::SetRedGain(int) {
    return 0;
}
int CSensorBase::GetRedGain(int* v) {
    platform::CriticalSectionLock lock(opLock_);
    return Range(info_.redGain.current, info_.redGain.supported, v);
}
int CSensorBase::SetGreen1Gain(int) {
    return 0;
}
int CSensorBase::GetGreen1Gain(int* v) {
    platform::CriticalSectionLock lock(opLock_);
    return Range(info_.green1Gain.current, info_.green1Gain.supported, v);
}
int CSensorBase::SetGreen2Gain(int) {
    return 0;
}
int CSensorBase::GetGreen2Gain(int* v) {
    platform::CriticalSectionLock lock(opLock_);
    return Range(info_.green2Gain.current, info_.green2Gain.supported, v);
}
int CSensorBase::SetBlueGain(int) {
    return 0;
}
int CSensorBase::GetBlueGain(int* v) {
    platform::CriticalSectionLock lock(opLock_);
    return Range(info_.blueGain.current, info_.blueGain.supported, v);
}
int CSensorBase::GetExposureLinesMin(int* v) {
    platform::CriticalSectionLock lock(opLock_);
    return Range(info_.exposureLines.min, info_.exposureLines.supported, v);
}
int CSensorBase::GetExposureLinesMax(int* v) {
    platform::CriticalSectionLock lock(opLock_);
    return Range(info_.exposureLines.max, info_.exposureLines.supported, v);
}
int CSensorBase::GetExposureLinesDefault(int* v) {
    platform::CriticalSectionLock lock(opLock_);
    return Range(info_.exposureLines.defaultValue, info_.exposureLines.supported, v);
}
int CSensorBase::GetGainMin(int* v) {
    platform::CriticalSectionLock lock(opLock_);
    return Range(info_.gain.min, info_.gain.supported, v);
}
int CSensorBase::GetGainMax(int* v) {
    platform::CriticalSectionLock lock(opLock_);
    return Range(info_.gain.max, info_.gain.supported, v);
}
int CSensorBase::GetGainDefault(int* v) {
    platform::CriticalSectionLock lock(opLock_);
    return Range(info_.gain.defaultValue, info_.gain.supported, v);
}
// The colour gains share one range; the red group carries it.
int CSensorBase::GetColorGainMin(int* v) {
    platform::CriticalSectionLock lock(opLock_);
    return Range(info_.redGain.min, info_.redGain.supported, v);
}
int CSensorBase::GetColorGainMax(int* v) {
    platform::CriticalSectionLock lock(opLock_);
    return Range(info_.redGain.max, info_.redGain.supported, v);
}
int CSensorBase::GetColorGainDefault(int* v) {
    platform::CriticalSectionLock lock(opLock_);
    return Range(info_.redGain.defaultValue, info_.redGain.supported, v);
}
int CSensorBase::SetTapGain(int, int) {
    return 0;
}
int CSensorBase::GetTapGain(int, int*) {
    return 0;
}
int CSensorBase::GetTapGainMin(int*) {
    return 0;
}
int CSensorBase::GetTapGainMax(int*) {
    return 0;
}
int CSensorBase::GetTapGainDefault(int*) {
    return 0;
}
int CSensorBase::SetTapOffset(int, int) {
    return 0;
}
int CSensorBase::GetTapOffset(int, int*) {
    return 0;
}
int CSensorBase::GetTapOffsetMin(int*) {
    return 0;
}
int CSensorBase::GetTapOffsetMax(int*) {
    return 0;
}
int CSensorBase::GetTapOffsetDefault(int*) {
    return 0;
}
int CSensorBase::IsBlackLevelSupported() {
    platform::CriticalSectionLock lock(opLock_);
    return info_.blackLevel.supported;
}
int CSensorBase::SetBlackLevel(int) {
    return 0;
}
int CSensorBase::GetBlackLevel(int* v) {
    platform::CriticalSectionLock lock(opLock_);
    return Range(info_.blackLevel.current, info_.blackLevel.supported, v);
}
int CSensorBase::GetBlackLevelMin(int* v) {
    platform::CriticalSectionLock lock(opLock_);
    return Range(info_.blackLevel.min, info_.blackLevel.supported, v);
}
int CSensorBase::GetBlackLevelMax(int* v) {
    platform::CriticalSectionLock lock(opLock_);
    return Range(info_.blackLevel.max, info_.blackLevel.supported, v);
}
int CSensorBase::GetBlackLevelDefault(int* v) {
    platform::CriticalSectionLock lock(opLock_);
    return Range(info_.blackLevel.defaultValue, info_.blackLevel.supported, v);
}
int CSensorBase::IsSensorModeSupported() {
    platform::CriticalSectionLock lock(opLock_);
    return info_.sensorModeSupported;
}
int CSensorBase::SetSensorMode(int) {
    return 0;
}
int CSensorBase::GetSensorMode(int* v) {
    platform::CriticalSectionLock lock(opLock_);
    return Range(info_.sensorMode, info_.sensorModeSupported, v);
}
int CSensorBase::IsLevelPairSupported() {
    platform::CriticalSectionLock lock(opLock_);
    return info_.levelPairSupported;
}
int CSensorBase::GetLevelPairMin(int* v) {
    platform::CriticalSectionLock lock(opLock_);
    return Range(info_.levelPairMin, info_.levelPairSupported, v);
}
int CSensorBase::GetLevelPairMax(int* v) {
    platform::CriticalSectionLock lock(opLock_);
    return Range(info_.levelPairMax, info_.levelPairSupported, v);
}
int CSensorBase::GetLevelADefault(int* v) {
    platform::CriticalSectionLock lock(opLock_);
    return Range(info_.levelADefault, info_.levelPairSupported, v);
}
int CSensorBase::GetLevelBDefault(int* v) {
    platform::CriticalSectionLock lock(opLock_);
    return Range(info_.levelBDefault, info_.levelPairSupported, v);
}
int CSensorBase::GetLevelA(int* v) {
    platform::CriticalSectionLock lock(opLock_);
    return Range(info_.levelA, info_.levelPairSupported, v);
}
int CSensorBase::GetLevelB(int* v) {
    platform::CriticalSectionLock lock(opLock_);
    return Range(info_.levelB, info_.levelPairSupported, v);
}
int CSensorBase::SetLevelA(int) {
    return 0;
}
int CSensorBase::SetLevelB(int) {
    return 0;
}
int CSensorBase::ReadLevelA(int*) {
    return 0;
}
int CSensorBase::ReadLevelB(int*) {
    return 0;
}
int CSensorBase::GetLevelLabel(int, char*, int) {
    return 0;
}
int CSensorBase::SetExposureTime(int) {
    return 0;
}
int CSensorBase::GetExposureTime(int* v) {
    platform::CriticalSectionLock lock(opLock_);
    return Range(info_.exposureTime.current, info_.exposureTime.supported, v);
}
int CSensorBase::GetExposureTimeMin(int* v) {
    platform::CriticalSectionLock lock(opLock_);
    return Range(info_.exposureTime.min, info_.exposureTime.supported, v);
}
int CSensorBase::GetExposureTimeMax(int* v) {
    platform::CriticalSectionLock lock(opLock_);
    return Range(info_.exposureTime.max, info_.exposureTime.supported, v);
}
int CSensorBase::GetExposureTimeDefault(int* v) {
    platform::CriticalSectionLock lock(opLock_);
    return Range(info_.exposureTime.defaultValue, info_.exposureTime.supported, v);
}
int CSensorBase::SetMirrorV(int) {
    return 0;
}
int CSensorBase::GetMirrorV(int* v) {
    platform::CriticalSectionLock lock(opLock_);
    return Range(info_.mirrorV, info_.mirrorVSupported, v);
}
int CSensorBase::SetMirrorH(int) {
    return 0;
}
int CSensorBase::GetMirrorH(int* v) {
    platform::CriticalSectionLock lock(opLock_);
    return Range(info_.mirrorH, info_.mirrorHSupported, v);
}
int CSensorBase::GetMirrorVDefault() {
    platform::CriticalSectionLock lock(opLock_);
    return info_.mirrorVDefault;
}
int CSensorBase::GetMirrorHDefault() {
    platform::CriticalSectionLock lock(opLock_);
    return info_.mirrorHDefault;
}
int CSensorBase::IsMirrorVSupported() {
    platform::CriticalSectionLock lock(opLock_);
    return info_.mirrorVSupported;
}
int CSensorBase::IsMirrorHSupported() {
    platform::CriticalSectionLock lock(opLock_);
    return info_.mirrorHSupported;
}
int CSensorBase::VariantCapabilityFlag(int, int*) {
    return 0;
}
int CSensorBase::WriteRegister(int, int) {
    return 0;
}
int CSensorBase::ReadRegister(int, int*) {
    return 0;
}
int CSensorBase::WriteRegisterLocked(int, int) {
    return 0;
}
int CSensorBase::ReadRegisterLocked(int, int*) {
    return 0;
}
int CSensorBase::SetVariantOption(int) {
    return 0;
}
int CSensorBase::GetVariantOption(int*) {
    return 0;
}
int CSensorBase::Reserved1() {
    return 0;
}
int CSensorBase::Reserved2() {
    return 0;
}
int CSensorBase::Reserved3() {
    return 0;
}
int CSensorBase::Reserved4() {
    return 0;
}
int CSensorBase::SetClockMode(int) {
    return 0;
}
int CSensorBase::GetClockMode(int*, int, int) {
    return 0;
}
int CSensorBase::Reserved5() {
    return 0;
}
int CSensorBase::Reserved6() {
    return 0;
}
int CSensorBase::GetSensorInfo(SensorInfo* info) {
    if (info == nullptr) return 0;
    platform::CriticalSectionLock lock(opLock_);
    *info = info_;
    return 1;
}
int CSensorBase::RestartStreaming() {
    return 0;
}
int CSensorBase::SignalAuxDevice() {
    return 0;
}
int CSensorBase::IsInternalCorrectionAvailable() {
    return 0;
}
int CSensorBase::SetInternalCorrection(int) {
    return 0;
}
int CSensorBase::GetInternalCorrection(int*) {
    return 0;
}
int CSensorBase::HasCooler() {
    return 0;
}
int CSensorBase::IsCoolerOn() {
    return 0;
}
int CSensorBase::SetCoolerOn(int) {
    return 0;
}
int CSensorBase::HasTemperatureSensor() {
    return 0;
}
int CSensorBase::GetSensorTemperature(double*) {
    return 0;
}
int CSensorBase::RunCalibration() {
    return 0;
}
int CSensorBase::StartSensorThread() {
    return 0;
}
int CSensorBase::StopSensorThread(int) {
    return 0;
}
int CSensorBase::IsSensorThreadRunning() {
    return 0;
}
int CSensorBase::GetFirstFrameWithin(uint32_t*) {
    return 0;
}
int CSensorBase::SetCalibrationEnabled(int) {
    return 0;
}
int CSensorBase::HasOutputSwitch() {
    return 0;
}
int CSensorBase::GetOutputSwitch(int*) {
    return 0;
}
int CSensorBase::SetOutputSwitch(int) {
    return 0;
}
int CSensorBase::ReadSerialText(char*, int) {
    return 0;
}
int CSensorBase::WriteSerialText(const char*, int) {
    return 0;
}
int CSensorBase::CheckFpgaFeature() {
    return 0;
}
int CSensorBase::DetectAuxBoard() {
    return 0;
}
int CSensorBase::SetAuxBoardMode(int) {
    return 0;
}
int CSensorBase::HasDetectorTemperature() {
    return 0;
}
int CSensorBase::Reserved7() {
    return 0;
}
int CSensorBase::Reserved8() {
    return 0;
}
int CSensorBase::GetDetectorTemperature(double*) {
    return 0;
}
int CSensorBase::SetDetectorTemperature(double) {
    return 0;
}
int CSensorBase::IsExposureSecondsSupported() {
    platform::CriticalSectionLock lock(opLock_);
    return info_.exposureSecondsSupported;
}
int CSensorBase::GetExposureSecondsMin(double* v) {
    platform::CriticalSectionLock lock(opLock_);
    return RangeSeconds(info_.exposureSecondsMin, info_.exposureSecondsSupported, v);
}
int CSensorBase::GetExposureSecondsMax(double* v) {
    platform::CriticalSectionLock lock(opLock_);
    return RangeSeconds(info_.exposureSecondsMax, info_.exposureSecondsSupported, v);
}
int CSensorBase::GetExposureSecondsDefault(double* v) {
    platform::CriticalSectionLock lock(opLock_);
    return RangeSeconds(info_.exposureSecondsDefault, info_.exposureSecondsSupported, v);
}
int CSensorBase::GetExposureSeconds(double* v) {
    platform::CriticalSectionLock lock(opLock_);
    return RangeSeconds(info_.exposureSeconds, info_.exposureSecondsSupported, v);
}
int CSensorBase::SetExposureSeconds(double) {
    return 0;
}
int CSensorBase::HasResponseMode() {
    return 0;
}
int CSensorBase::GetResponseMode(int*) {
    return 0;
}
int CSensorBase::SetResponseMode(int) {
    return 0;
}
int CSensorBase::CheckCorrectionState() {
    return 0;
}
int CSensorBase::GetCorrectionInfo(int*) {
    return 0;
}
int CSensorBase::IsStreamReady() {
    return 0;
}
int CSensorBase::GetControlFlag() {
    return -1;
}
int CSensorBase::SetControlFlag(int) {
    return 0;
}
int CSensorBase::HasGainStage() {
    return 0;
}
int CSensorBase::GetGainStage() {
    return -1;
}
int CSensorBase::SetGainStage(int) {
    return 0;
}
int CSensorBase::SupportsOutputFormatA() {
    return 1;
}
int CSensorBase::SupportsOutputFormatB() {
    return 1;
}
int CSensorBase::SupportsOutputFormatC() {
    return 1;
}
int CSensorBase::GetAuxStatus(int*) {
    return 0;
}
int CSensorBase::SetAuxStatus(int) {
    return 0;
}
int CSensorBase::ResetAuxBoard() {
    return 0;
}
int CSensorBase::PollAuxBoard() {
    return 0;
}
int CSensorBase::ReadAuxBoardInfo(uint8_t*, int) {
    return 0;
}
int CSensorBase::RestartAuxBoard() {
    return 0;
}
int CSensorBase::GetReadoutKind() {
    return 0;
}

// --- shared helpers ---

int CSensorBase::RawWrite(int reg, int value) {
    if (controller_ == nullptr) return 0;
    const uint8_t bytes[3] = {static_cast<uint8_t>((reg >> 8) & 0xFF),
                              static_cast<uint8_t>(reg & 0xFF), static_cast<uint8_t>(value & 0xFF)};
    platform::CriticalSectionLock lock(busLock_);
    return controller_->I2cWrite(busAddress_, bytes, 3, kI2cTimeoutMs) ? 1 : 0;
}

int CSensorBase::RawRead(int reg, int* value) {
    if (controller_ == nullptr || value == nullptr) return 0;
    const uint8_t address[2] = {static_cast<uint8_t>((reg >> 8) & 0xFF),
                                static_cast<uint8_t>(reg & 0xFF)};
    uint8_t byte = 0;
    platform::CriticalSectionLock lock(busLock_);
    if (!controller_->I2cWrite(busAddress_, address, 2, kI2cTimeoutMs)) return 0;
    if (!controller_->I2cRead(busAddress_, &byte, 1, kI2cTimeoutMs)) return 0;
    *value = byte;
    return 1;
}

int CSensorBase::WriteFpgaVerified(uint8_t reg, uint8_t value) {
    if (controller_ == nullptr) return 0;
    for (int attempt = 0; attempt < 10; ++attempt) {
        if (controller_->WriteFpgaRegister(reg, value)) {
            SensorPause(5);
            uint8_t back = 0;
            if (controller_->ReadFpgaRegister(reg, &back) && back == value) return 1;
        }
        SensorPause(5);
    }
    return 0;
}

int CSensorBase::PulseStreamRestart() {
    if (!resetPulseEnable_.load()) return 1;
    if (controller_ == nullptr) return 0;
    const int code = typeCode_.load();
    const uint8_t reg = (code == 103 || code == 115) ? 0x96 : 0x6C;
    const uint8_t value = code == 116 ? 9 : 1;
    const bool raised = controller_->WriteFpgaRegister(reg, value) != 0;
    platform::Sleep(1);
    const bool lowered = controller_->WriteFpgaRegister(reg, 0) != 0;
    platform::Sleep(1);
    return raised && lowered ? 1 : 0;
}

uint16_t CSensorBase::CapabilityWord() {
    uint16_t word = capabilityWord_.load();
    if (word != 0 || controller_ == nullptr) return word;
    for (int attempt = 0; attempt < 10; ++attempt) {
        uint16_t read = 0;
        if (controller_->ReadCapabilityWord(&read)) {
            capabilityWord_.store(read);
            return read;
        }
        SensorPause(100);
    }
    return 0;
}

}  // namespace lumora
