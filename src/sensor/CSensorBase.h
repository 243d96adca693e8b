#pragma once
// The interface through which the driver core programs a camera's image sensor, with the
// defaults every sensor variant inherits and the register helpers they share.
//
// Conventions: every operation returns non-zero for success and 0 for failure or "not
// implemented". Range getters write the stored SensorInfo field and return the group's supported
// word. Setters clamp into the group's range and keep SensorInfo current.
//
// Threads: called from application threads and the driver's acquisition thread. `opLock_`
// guards SensorInfo and the variant's state and is held across a whole multi-register setter, so
// setters are atomic against each other; `busLock_` (taken inside it, never the other way round)
// serialises raw sensor transfers and is held across a whole arbitrated access.
#include <atomic>
#include <cstdint>

#include "platform/CriticalSection.h"
#include "sensor/SensorInfo.h"

namespace lumora {

namespace usb {
class CControllerBase;
}
using usb::CControllerBase;

// Pauses between register writes. Tests against the simulated camera may shorten them; the
// order of writes stays the same.
void SensorPause(uint32_t milliseconds);
void SetSensorPausesForTesting(bool enabled);

class CSensorBase {
public:
    CSensorBase(CControllerBase* controller, uint8_t busAddress);
    virtual ~CSensorBase();
    CSensorBase(const CSensorBase&) = delete;
    CSensorBase& operator=(const CSensorBase&) = delete;

    virtual int SetTypeCode(int code);
    virtual int SetTriggerModeValue(int word);
    virtual int GetTriggerModeValue();
    virtual int ProbeSensor();
    virtual int InitializeSensor();
    virtual int VerifyModelText();
    virtual int SetFpgaControlBit(int on);
    virtual int SetReadoutWindow(int x, int width, int y, int height, int mode);
    virtual int GetReadoutWindow(int* x, int* width, int* y, int* height, int* mode);
    virtual int SetTriggerMode(int mode);
    virtual int GetTriggerMode(int* mode);
    virtual int StoreOptionWord(int word);
    virtual int HasOptionWord();
    virtual int CheckFpgaVersion();
    virtual int SetHighBitDepth(int flag);
    virtual int SetExposureLines(uint32_t lines);
    virtual int GetExposureLines(int* lines);
    virtual int SetGain(int gain);
    virtual int GetGain(int* gain);
    virtual int SetRedGain(int gain);
    virtual int GetRedGain(int* gain);
    virtual int SetGreen1Gain(int gain);
    virtual int GetGreen1Gain(int* gain);
    virtual int SetGreen2Gain(int gain);
    virtual int GetGreen2Gain(int* gain);
    virtual int SetBlueGain(int gain);
    virtual int GetBlueGain(int* gain);
    virtual int GetExposureLinesMin(int* value);
    virtual int GetExposureLinesMax(int* value);
    virtual int GetExposureLinesDefault(int* value);
    virtual int GetGainMin(int* value);
    virtual int GetGainMax(int* value);
    virtual int GetGainDefault(int* value);
    virtual int GetColorGainMin(int* value);
    virtual int GetColorGainMax(int* value);
    virtual int GetColorGainDefault(int* value);
    virtual int SetTapGain(int tap, int value);
    virtual int GetTapGain(int tap, int* value);
    virtual int GetTapGainMin(int* value);
    virtual int GetTapGainMax(int* value);
    virtual int GetTapGainDefault(int* value);
    virtual int SetTapOffset(int tap, int value);
    virtual int GetTapOffset(int tap, int* value);
    virtual int GetTapOffsetMin(int* value);
    virtual int GetTapOffsetMax(int* value);
    virtual int GetTapOffsetDefault(int* value);
    virtual int IsBlackLevelSupported();
    virtual int SetBlackLevel(int level);
    virtual int GetBlackLevel(int* level);
    virtual int GetBlackLevelMin(int* value);
    virtual int GetBlackLevelMax(int* value);
    virtual int GetBlackLevelDefault(int* value);
    virtual int IsSensorModeSupported();
    virtual int SetSensorMode(int mode);
    virtual int GetSensorMode(int* mode);
    virtual int IsLevelPairSupported();
    virtual int GetLevelPairMin(int* value);
    virtual int GetLevelPairMax(int* value);
    virtual int GetLevelADefault(int* value);
    virtual int GetLevelBDefault(int* value);
    virtual int GetLevelA(int* value);
    virtual int GetLevelB(int* value);
    virtual int SetLevelA(int value);
    virtual int SetLevelB(int value);
    virtual int ReadLevelA(int* value);
    virtual int ReadLevelB(int* value);
    virtual int GetLevelLabel(int index, char* text, int length);
    virtual int SetExposureTime(int tenthsOfMs);
    virtual int GetExposureTime(int* value);
    virtual int GetExposureTimeMin(int* value);
    virtual int GetExposureTimeMax(int* value);
    virtual int GetExposureTimeDefault(int* value);
    virtual int SetMirrorV(int on);
    virtual int GetMirrorV(int* on);
    virtual int SetMirrorH(int on);
    virtual int GetMirrorH(int* on);
    virtual int GetMirrorVDefault();
    virtual int GetMirrorHDefault();
    virtual int IsMirrorVSupported();
    virtual int IsMirrorHSupported();
    virtual int VariantCapabilityFlag(int value, int* rate);
    virtual int WriteRegister(int reg, int value);
    virtual int ReadRegister(int reg, int* value);
    virtual int WriteRegisterLocked(int reg, int value);
    virtual int ReadRegisterLocked(int reg, int* value);
    virtual int SetVariantOption(int value);
    virtual int GetVariantOption(int* value);
    virtual int Reserved1();
    virtual int Reserved2();
    virtual int Reserved3();
    virtual int Reserved4();
    virtual int SetClockMode(int mode);
    virtual int GetClockMode(int* value, int first, int second);
    virtual int Reserved5();
    virtual int Reserved6();
    virtual int GetSensorInfo(SensorInfo* info);
    virtual int RestartStreaming();
    virtual int SignalAuxDevice();
    virtual int IsInternalCorrectionAvailable();
    virtual int SetInternalCorrection(int level);
    virtual int GetInternalCorrection(int* level);
    virtual int HasCooler();
    virtual int IsCoolerOn();
    virtual int SetCoolerOn(int on);
    virtual int HasTemperatureSensor();
    virtual int GetSensorTemperature(double* degrees);
    virtual int RunCalibration();
    virtual int StartSensorThread();
    virtual int StopSensorThread(int wait);
    virtual int IsSensorThreadRunning();
    virtual int SetCalibrationEnabled(int on);
    virtual int HasOutputSwitch();
    virtual int GetOutputSwitch(int* value);
    virtual int SetOutputSwitch(int value);
    virtual int ReadSerialText(char* text, int length);
    virtual int WriteSerialText(const char* text, int length);
    virtual int CheckFpgaFeature();
    virtual int DetectAuxBoard();
    virtual int SetAuxBoardMode(int mode);
    virtual int HasDetectorTemperature();
    virtual int Reserved7();
    virtual int Reserved8();
    virtual int GetDetectorTemperature(double* degrees);
    virtual int SetDetectorTemperature(double degrees);
    virtual int IsExposureSecondsSupported();
    virtual int GetExposureSecondsMin(double* value);
    virtual int GetExposureSecondsMax(double* value);
    virtual int GetExposureSecondsDefault(double* value);
    virtual int GetExposureSeconds(double* value);
    virtual int SetExposureSeconds(double seconds);
    virtual int HasResponseMode();
    virtual int GetResponseMode(int* mode);
    virtual int SetResponseMode(int mode);
    virtual int CheckCorrectionState();
    virtual int GetCorrectionInfo(int* value);
    virtual int IsStreamReady();
    virtual int GetControlFlag();
    virtual int SetControlFlag(int flag);
    virtual int HasGainStage();
    virtual int GetGainStage();
    virtual int SetGainStage(int stage);
    virtual int SupportsOutputFormatA();
    virtual int SupportsOutputFormatB();
    virtual int SupportsOutputFormatC();
    virtual int GetAuxStatus(int* value);
    virtual int SetAuxStatus(int value);
    virtual int ResetAuxBoard();
    virtual int PollAuxBoard();
    virtual int ReadAuxBoardInfo(uint8_t* data, int length);
    virtual int RestartAuxBoard();
    virtual int GetReadoutKind();
    // How long, from now, the sensor may take to finish its first whole frame in free run: the
    // frame under way (begun at the timing before the last change, perhaps) and one frame at the
    // current timing with its readout. 0 when the sensor cannot tell.
    virtual int GetFirstFrameWithin(uint32_t* milliseconds);

    // Shared helpers (not part of the variant table).
    // Readout reset pulse on the FPGA; skipped while the reset-pulse enable is clear.
    int PulseStreamRestart();
    // Write, pause, read back; up to ten tries.
    int WriteFpgaVerified(uint8_t reg, uint8_t value);
    // The FPGA capability word, read once (up to ten tries, 100 ms apart) and cached; 0 when
    // it could not be read.
    uint16_t CapabilityWord();

    int TypeCode() const { return typeCode_; }
    uint8_t BusAddress() const { return busAddress_; }
    CControllerBase* Controller() const { return controller_; }
    bool ResetPulseEnabled() const { return resetPulseEnable_.load(); }

protected:
    static int Range(int32_t stored, int32_t supported, int* out);
    static int RangeSeconds(double stored, int32_t supported, double* out);
    int RawWrite(int reg, int value);
    int RawRead(int reg, int* value);

    // Guarded by opLock_.
    SensorInfo info_{};
    uint8_t scratch_[41] = {};
    CControllerBase* const controller_;
    const uint8_t busAddress_;
    std::atomic<int> triggerModeWord_{15};
    std::atomic<uint16_t> capabilityWord_{0};
    std::atomic<int> typeCode_{0};
    std::atomic<bool> resetPulseEnable_{true};
    int variantWord0_ = 300;
    int variantWord1_ = 1;
    mutable platform::CriticalSection opLock_;
    // Serialises raw transfers on the sensor bus; recursive, so an arbitrated access holds it
    // from the bus request to the release.
    platform::CriticalSection busLock_;
};

}  // namespace lumora
