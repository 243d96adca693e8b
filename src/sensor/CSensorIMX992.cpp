#include "sensor/CSensorIMX992.h"

#include <algorithm>
#include <atomic>
#include <cmath>

#include "platform/Clock.h"
#include "sensor/Imx992Registers.h"
#include "usb/CControllerBase.h"

namespace lumora {

using namespace imx992;

namespace {

// The output bit depth seen at the previous window change, shared by every IMX992 object in the
// process: a depth change since then needs the sensor held while the window is reprogrammed.
std::atomic<int> gLastWindowBitDepth{-1};

constexpr int kSensorWidth = 2560;
constexpr int kSensorHeight = 2048;
constexpr int kFullFrameLength = 2140;

uint8_t Byte(uint32_t value, int index) {
    return static_cast<uint8_t>((value >> (8 * index)) & 0xFF);
}

}  // namespace

CSensorIMX992::CSensorIMX992(CControllerBase* controller, uint8_t busAddress)
    : CSensorBase(controller, busAddress) {
    SensorInfo& i = info_;
    i = SensorInfo{};
    i.sensorWidth = kSensorWidth;
    i.sensorHeight = kSensorHeight;
    i.defaultWidth = kSensorWidth;
    i.defaultHeight = kSensorHeight;
    i.reserved1 = 1;
    i.windowWidth = kSensorWidth;
    i.windowHeight = kSensorHeight;
    i.lineLength = 2592;
    i.frameLength = kFullFrameLength;
    i.gain = {0, 420, 0, 0, 1};
    i.exposureLines = {2, static_cast<int32_t>(kMaxExposureLines), 2102, 2102, 1};
    i.exposureTime = {1, 20000, 137, 137, 0};
    i.blackLevel = {0, 4095, 240, 240, 1};
    i.sensorModeSupported = 1;
    i.sensorMode = 0;
    i.exposureSecondsMin = 0.000027842;
    i.exposureSecondsMax = 2.0;
    i.exposureSeconds = 0.01370504;
    i.exposureSecondsDefault = 0.01370504;
    i.exposureSecondsSupported = 1;
    i.mirrorVSupported = 1;
    i.mirrorHSupported = 1;
    // The line length at construction is the 8-bit one, so the output starts as 8-bit too.
    i.outputBits = 8;
    i.pixelClockKHz = 54545;
    i.orientation = 4;
    triggerModeWord_.store(0);
    typeCode_.store(kTypeCodeUncooled);
}

CSensorIMX992::~CSensorIMX992() = default;

int CSensorIMX992::SetTypeCode(int code) {
    platform::CriticalSectionLock lock(opLock_);
    if (code == kTypeCodeUncooled) {
        info_.orientation = 4;
    } else if (code == kTypeCodeCooled) {
        info_.orientation = 1;
    } else {
        return 0;
    }
    typeCode_.store(code);
    return 1;
}

int CSensorIMX992::ProbeSensor() {
    return 1;
}

int CSensorIMX992::InitializeSensor() {
    platform::CriticalSectionLock lock(opLock_);
    const int started = WriteRegisterLocked(kStartup, 0);
    SetBlackLevel(info_.blackLevel.defaultValue);
    int modeA = 0;
    int modeB = 0;
    if (ReadRegisterLocked(kSensorModeA, &modeA) && ReadRegisterLocked(kSensorModeB, &modeB)) {
        const int mode = modeA == 0x50 ? 1 : (modeA == 0x5F ? 0 : -1);
        if (mode >= 0 && modeB == mode) info_.sensorMode = mode;
    }
    SetGain(info_.gain.defaultValue);
    SetExposureSeconds(info_.exposureSecondsDefault);
    SetMirrorH(info_.mirrorHDefault);
    SetMirrorV(info_.mirrorVDefault);
    const int window = SetReadoutWindow(info_.defaultX, info_.defaultWidth, info_.defaultY,
                                        info_.defaultHeight, 0);
    // A camera that took none of it is not initialised.
    return started && window ? 1 : 0;
}

int CSensorIMX992::WriteWindowRegister(uint16_t reg, int value) {
    const int low = WriteRegisterLocked(reg, value & 0xFF);
    const int high = WriteRegisterLocked(reg + 1, (value >> 8) & 0x1F);
    return low && high;
}

int CSensorIMX992::HoldOn(uint32_t firstPause, uint32_t secondPause) {
    const int a = WriteRegisterLocked(kHold, 1);
    SensorPause(firstPause);
    const int b = WriteRegisterLocked(kHold2, 1);
    SensorPause(secondPause);
    return a && b;
}

int CSensorIMX992::HoldOff(uint32_t firstPause, uint32_t secondPause) {
    const int a = WriteRegisterLocked(kHold, 0);
    SensorPause(firstPause);
    const int b = WriteRegisterLocked(kHold2, 0);
    SensorPause(secondPause);
    return a && b;
}

int CSensorIMX992::SetReadoutWindow(int x, int width, int y, int height, int mode) {
    platform::CriticalSectionLock lock(opLock_);
    // Validation first: nothing is written for a window the sensor cannot take.
    switch (mode) {
        case 0:
            if (x < 0 || y < 0 || x % 8 != 0 || width % 8 != 0 || y % 4 != 0 || height % 4 != 0)
                return 0;
            if (width < 8 || width > 2688 || height < 4 || height > 2056) return 0;
            break;
        case 1:
            if (x > 0 || y > 0) return 0;
            break;
        case 17:
            if (x < 0 || y < 0 || x % 32 != 0 || width % 32 != 0 || y % 32 != 0 || height % 32 != 0)
                return 0;
            if (width <= 0 || height <= 0) return 0;
            break;
        default:
            return 0;
    }
    if (int64_t{x} + width > info_.sensorWidth || int64_t{y} + height > info_.sensorHeight)
        return 0;

    int regX = x;
    int regY = info_.orientation == 4 ? info_.sensorHeight - y - height : y;
    int regWidth = width;
    int regHeight = height;
    int frameLength = kFullFrameLength;
    int lineLength = kLineLength8Bit;
    int binning = 0;
    int cropping = 0;
    int readoutSelect = 36;
    uint8_t modeCode = 0;
    if (mode == 0) {
        frameLength = height < kSensorHeight ? height + 84 : kFullFrameLength;
        lineLength = info_.outputBits == 8 ? kLineLength8Bit : kLineLength16Bit;
        cropping = (width < info_.sensorWidth ? 1 : 0) + (height < info_.sensorHeight ? 2 : 0);
    } else {
        regX = 0;
        regY = 4;
        regWidth = info_.sensorWidth;
        regHeight = info_.sensorHeight;
        if (mode == 1) {
            frameLength = 1116;
            binning = 17;
            modeCode = 1;
        } else {
            readoutSelect = 172;
            modeCode = 2;
        }
    }

    int expected = -1;
    gLastWindowBitDepth.compare_exchange_strong(expected, info_.outputBits);
    const int lastDepth = gLastWindowBitDepth.exchange(info_.outputBits);
    const bool hold = lastDepth != info_.outputBits || mode != info_.readoutMode;
    int ok = 1;
    if (hold) ok &= HoldOn(50, 50);
    ok &= WriteRegisterLocked(kReadoutBinning, binning);
    ok &= WriteRegisterLocked(kCropping, cropping);
    ok &= WriteRegisterLocked(kReadoutSelect, readoutSelect);
    if (hold) ok &= HoldOff(50, 50);
    ok &= WriteFpgaVerified(kFpgaReadoutMode, modeCode);
    ok &= WriteWindowRegister(kWindowX, regX);
    ok &= WriteWindowRegister(kWindowY, regY);
    ok &= WriteWindowRegister(kWindowWidth, regWidth);
    ok &= WriteWindowRegister(kWindowHeight, regHeight);

    const int storedWidth = mode == 0 ? regWidth : regWidth / 2;
    const int storedHeight = mode == 0 ? regHeight : regHeight / 2;
    if (x != info_.windowX || y != info_.windowY || regWidth != info_.windowWidth ||
        regHeight != info_.windowHeight || mode != info_.readoutMode) {
        windowChanged_ = true;
    }
    info_.windowX = x;
    info_.windowY = y;
    info_.windowWidth = storedWidth;
    info_.windowHeight = storedHeight;
    info_.readoutMode = mode;

    frameLengthWindow_ = frameLength;
    if (frameLength != frameLengthWritten_) NoteTimingChange();
    const int lengthOk = WriteRegisterLocked(kFrameLength, Byte(frameLength, 0)) &
                         WriteRegisterLocked(kFrameLength + 1, Byte(frameLength, 1)) &
                         WriteRegisterLocked(kFrameLength + 2, Byte(frameLength, 2));
    if (lengthOk) frameLengthWritten_ = frameLength;
    info_.frameLength = frameLength;
    ok &= lengthOk;
    lineLengthWanted_ = lineLength;
    ok &= SetLineLength(lineLength);
    return ok ? 1 : 0;
}

int CSensorIMX992::GetReadoutWindow(int* x, int* width, int* y, int* height, int* mode) {
    CSensorBase::GetReadoutWindow(x, width, y, height, mode);
    return 1;
}

int CSensorIMX992::SetLineLength(int lineLength) {
    platform::CriticalSectionLock lock(opLock_);
    const bool change = lineLength != lineLengthWritten_;
    if (change) NoteTimingChange();
    int ok = 1;
    if (change) ok &= HoldOn(50, 50);
    const int low = WriteRegisterLocked(kLineLength, Byte(lineLength, 0));
    const int high = WriteRegisterLocked(kLineLength + 1, Byte(lineLength, 1));
    if (change) ok &= HoldOff(50, 50);
    if (low && high) lineLengthWritten_ = lineLength;
    return ok && low && high ? 1 : 0;
}

int CSensorIMX992::SetHighBitDepth(int flag) {
    platform::CriticalSectionLock lock(opLock_);
    lineLengthWanted_ = flag ? kLineLength16Bit : kLineLength8Bit;
    int ok = SetLineLength(lineLengthWanted_);
    info_.outputBits = flag ? 16 : 8;
    info_.exposureSecondsMin =
        (2 * imx992::LineTimeUs(lineLengthWanted_) + kExposureOffsetUs) / 1000000.0;
    ok &= SetReadoutWindow(info_.windowX, info_.windowWidth, info_.windowY, info_.windowHeight,
                           info_.readoutMode);
    return ok ? 1 : 0;
}

int CSensorIMX992::WriteFrameLength(int frameLength, const uint16_t order[3]) {
    if (frameLength != frameLengthWritten_) NoteTimingChange();
    int ok = 1;
    for (int k = 0; k < 3; ++k) {
        const uint16_t reg = order[k];
        ok &=
            WriteRegisterLocked(reg, Byte(static_cast<uint32_t>(frameLength), reg - kFrameLength));
        SensorPause(1);
    }
    return ok;
}

int CSensorIMX992::WriteExposureFpga() {
    const auto lines = static_cast<uint32_t>(info_.exposureLines.current);
    const bool wide = info_.outputBits == 16;
    int ok = 1;
    ok &= WriteFpgaVerified(kFpgaExposureLow, Byte(lines, 0));
    ok &= WriteFpgaVerified(kFpgaExposureMid, Byte(lines, 1));
    ok &= WriteFpgaVerified(kFpgaExposureHigh, Byte(lines, 2));
    ok &= WriteFpgaVerified(kFpgaOutputTiming, wide ? 200 : 100);
    ok &= WriteFpgaVerified(kFpgaOutputTiming + 1, wide ? 2 : 1);
    ok &= WriteFpgaVerified(kFpgaExposureA, 43);
    ok &= WriteFpgaVerified(kFpgaExposureA + 1, 8);
    ok &= WriteFpgaVerified(kFpgaExposureA + 2, 0);
    return ok;
}

int CSensorIMX992::SetExposureLines(uint32_t lines) {
    platform::CriticalSectionLock lock(opLock_);
    lines = std::clamp(lines, static_cast<uint32_t>(info_.exposureLines.min),
                       static_cast<uint32_t>(info_.exposureLines.max));
    const int frame = frameLengthWindow_;
    int frameLength = 0;
    int shutter = 0;
    const bool lengthened = static_cast<int64_t>(frame) - 52 < static_cast<int64_t>(lines);
    if (lengthened) {
        frameLength = static_cast<int>((lines + 53) & ~1u);
        shutter = 52;
    } else {
        frameLength = (frame + 1) & ~1;
        shutter = static_cast<int>((static_cast<uint32_t>(frameLength) - lines + 1) & ~1u);
    }
    // Lengthening across a middle-byte boundary: write the upper bytes first so the sensor
    // never sees a frame shorter than the shutter line.
    static constexpr uint16_t kMiddleFirst[3] = {kFrameLength + 1, kFrameLength + 2, kFrameLength};
    static constexpr uint16_t kHighFirst[3] = {kFrameLength + 2, kFrameLength + 1, kFrameLength};
    const bool middleFirst =
        lengthened && frameLength < 65536 && Byte(frameLength, 1) < Byte(frameLengthWritten_, 1);
    int ok = WriteFrameLength(frameLength, middleFirst ? kMiddleFirst : kHighFirst);
    if (ok) frameLengthWritten_ = frameLength;
    for (int k = 0; k < 3; ++k) {
        ok &= WriteRegisterLocked(kShutter + k, Byte(static_cast<uint32_t>(shutter), k));
        SensorPause(1);
    }
    if (ok) info_.exposureLines.current = frameLength - shutter;
    ok &= WriteExposureFpga();
    frameTimeMs_ = static_cast<int>(imx992::LineTimeUs(lineLengthWritten_) * frameLength / 1000.0);
    return ok ? 1 : 0;
}

int CSensorIMX992::SetExposureMicroseconds(double microseconds) {
    const double lineTime = imx992::LineTimeUs(lineLengthWritten_);
    if (!(lineTime > 0.0) || !std::isfinite(microseconds)) return 0;
    const double lines = std::floor((microseconds - kExposureOffsetUs) / lineTime);
    // Below the fixed offset there is still one line to expose.
    const uint32_t n =
        lines < 1.0 ? 1u : (lines > 4294967295.0 ? 0xFFFFFFFFu : static_cast<uint32_t>(lines));
    return SetExposureLines(n);
}

int CSensorIMX992::SetExposureTime(int tenthsOfMs) {
    platform::CriticalSectionLock lock(opLock_);
    const int t = std::clamp(tenthsOfMs, info_.exposureTime.min, info_.exposureTime.max);
    if (!SetExposureMicroseconds(t * 100.0)) return 0;
    info_.exposureTime.current = t;
    info_.exposureSeconds = t / 10000.0;
    return 1;
}

int CSensorIMX992::SetExposureSeconds(double seconds) {
    if (!std::isfinite(seconds)) return 0;
    platform::CriticalSectionLock lock(opLock_);
    const double s = std::clamp(seconds, info_.exposureSecondsMin, info_.exposureSecondsMax);
    if (!SetExposureMicroseconds(s * 1000000.0)) return 0;
    info_.exposureSeconds = s;
    info_.exposureTime.current = static_cast<int32_t>(s * 10000.0);
    return 1;
}

int CSensorIMX992::SetGain(int gain) {
    platform::CriticalSectionLock lock(opLock_);
    const int g = std::clamp(gain, info_.gain.min, info_.gain.max);
    const int ok =
        WriteRegisterLocked(kGain, g & 0xFF) & WriteRegisterLocked(kGain + 1, (g >> 8) & 1);
    if (ok) info_.gain.current = g;
    return ok;
}

int CSensorIMX992::SetBlackLevel(int level) {
    platform::CriticalSectionLock lock(opLock_);
    const int b = std::clamp(level, info_.blackLevel.min, info_.blackLevel.max);
    const int ok = WriteRegisterLocked(kBlackLevel, b & 0xFF) &
                   WriteRegisterLocked(kBlackLevel + 1, (b >> 8) & 0x0F);
    if (ok) info_.blackLevel.current = b;
    return ok;
}

int CSensorIMX992::SetSensorMode(int mode) {
    platform::CriticalSectionLock lock(opLock_);
    const int ok = WriteRegisterLocked(kSensorModeA, mode ? 0x50 : 0x5F) &
                   WriteRegisterLocked(kSensorModeB, mode ? 1 : 0);
    if (ok) info_.sensorMode = mode;
    return ok;
}

int CSensorIMX992::SetMirrorV(int on) {
    platform::CriticalSectionLock lock(opLock_);
    const int ok = WriteRegisterLocked(kMirror, (on ? 1 : 0) + (info_.mirrorH ? 2 : 0));
    if (ok) info_.mirrorV = on;
    return ok;
}

int CSensorIMX992::SetMirrorH(int on) {
    platform::CriticalSectionLock lock(opLock_);
    if (!WriteRegisterLocked(kMirror, (on ? 2 : 0) + (info_.mirrorV ? 1 : 0))) return 0;
    info_.mirrorH = on;
    if (controller_ != nullptr) {
        // The FPGA starts the line elsewhere when the sensor reads it backwards.
        const int mode = info_.readoutMode;
        uint8_t start = 0;
        if (mode == 0) start = on ? 16 : 112;
        if (mode == 1 || mode == 17) start = on ? 8 : 52;
        controller_->WriteFpgaRegister(kFpgaAlignV2, start);
        controller_->WriteFpgaRegister(kFpgaAlignV2 + 1, 0);
    }
    return 1;
}

int CSensorIMX992::SetTriggerMode(int mode) {
    if (mode != 0 && mode != 1) return 0;
    platform::CriticalSectionLock lock(opLock_);
    if (controller_ == nullptr) return 0;
    if (windowChanged_) {
        windowChanged_ = false;
    } else {
        uint8_t fpgaMode = 0xFF;
        if (controller_->ReadFpgaRegister(kFpgaTriggerMode, &fpgaMode) && mode == 0 &&
            fpgaMode == 0) {
            // Already free-running with the same window: the stream needs no restart pulses.
            resetPulseEnable_.store(false);
            triggerModeWord_.store(0);
            return 1;
        }
    }
    resetPulseEnable_.store(true);
    const bool changing = mode != triggerModeWord_.load();
    int ok = 1;
    if (mode == 1) {
        ok &= WriteFpgaVerified(kFpgaTriggerMode, 0);
        ok &= WriteExposureFpga();
        ok &= WriteFpgaVerified(kFpgaTriggerMode, 2);
        if (changing) {
            ok &= WriteRegisterLocked(kHold, 1);
            SensorPause(100);
            ok &= WriteRegisterLocked(kHold2, 0);
            SensorPause(100);
        }
        ok &= WriteRegisterLocked(kTriggerA, 0x2B);
        SensorPause(100);
        ok &= WriteRegisterLocked(kTriggerB, 1);
        SensorPause(100);
        ok &= WriteRegisterLocked(kTriggerEnable, 1);
        SensorPause(100);
        if (changing) ok &= WriteRegisterLocked(kHold, 0);
        const auto remembered = static_cast<uint32_t>(info_.exposureLines.current);
        ok &= SetExposureLines(static_cast<uint32_t>(info_.exposureLines.min));
        ok &= controller_->WriteFpgaRegister(kFpgaTriggerControl, 4);
        SensorPause(1);
        ok &= controller_->WriteFpgaRegister(kFpgaTriggerControl, 0x84);
        SensorPause(1);
        ok &= controller_->WriteFpgaRegister(kFpgaTriggerControl, 4);
        SensorPause(1);
        ok &= WriteFpgaVerified(kFpgaTriggerControl, 0);
        ok &= SetExposureLines(remembered);
        PulseStreamRestart();
        SensorPause(static_cast<uint32_t>(std::max(0, frameTimeMs_)));
    } else {
        ok &= WriteFpgaVerified(kFpgaTriggerMode, 0);
        ok &= WriteFpgaVerified(kFpgaTriggerControl, 0);
        if (changing) ok &= HoldOn(50, 10);
        ok &= WriteRegisterLocked(kTriggerA, 0x29);
        SensorPause(50);
        if (changing) ok &= HoldOff(50, 50);
        ok &= WriteRegisterLocked(kTriggerEnable, 0);
        SensorPause(50);
    }
    if (!ok) return 0;
    triggerModeWord_.store(mode);
    return 1;
}

int CSensorIMX992::GetTriggerMode(int* mode) {
    if (mode != nullptr) *mode = triggerModeWord_.load();
    return 1;
}

int CSensorIMX992::WriteRegister(int reg, int value) {
    return RawWrite(reg & 0xFFFF, value & 0xFF);
}

int CSensorIMX992::ReadRegister(int reg, int* value) {
    return RawRead(reg & 0xFFFF, value);
}

// The FPGA may drive the sensor bus itself: request it, wait until the FPGA reports it free,
// access, release. The sensor lock spans the whole exchange so two accesses never overlap.
int CSensorIMX992::WriteRegisterLocked(int reg, int value) {
    if (controller_ == nullptr) return 0;
    platform::CriticalSectionLock lock(busLock_);
    controller_->WriteFpgaRegister(kFpgaSensorBusRequest, 1);
    for (int poll = 0; poll < 100; ++poll) {
        uint8_t status = 0xFF;
        if (controller_->ReadFpgaRegister(kFpgaStatus, &status) && status == 0 &&
            RawWrite(reg, value)) {
            controller_->WriteFpgaRegister(kFpgaSensorBusRequest, 0);
            return 1;
        }
        platform::Sleep(3);
    }
    controller_->WriteFpgaRegister(kFpgaSensorBusRequest, 0);
    return 0;
}

int CSensorIMX992::ReadRegisterLocked(int reg, int* value) {
    if (controller_ == nullptr || value == nullptr) return 0;
    platform::CriticalSectionLock lock(busLock_);
    controller_->WriteFpgaRegister(kFpgaSensorBusRequest, 1);
    for (int poll = 0; poll < 100; ++poll) {
        uint8_t status = 0xFF;
        if (controller_->ReadFpgaRegister(kFpgaStatus, &status) && status == 0 &&
            RawRead(reg, value)) {
            controller_->WriteFpgaRegister(kFpgaSensorBusRequest, 0);
            return 1;
        }
        platform::Sleep(3);
    }
    controller_->WriteFpgaRegister(kFpgaSensorBusRequest, 0);
    return 0;
}

int CSensorIMX992::IsInternalCorrectionAvailable() {
    return (CapabilityWord() & 0x8000) ? 1 : 0;
}

int CSensorIMX992::HasCooler() {
    return typeCode_.load() == kTypeCodeCooled ? 1 : 0;
}

int CSensorIMX992::IsCoolerOn() {
    if (!HasCooler() || controller_ == nullptr) return 0;
    uint8_t value = 0;
    return controller_->ReadFpgaRegister(kFpgaCooler, &value) && (value & 1) ? 1 : 0;
}

int CSensorIMX992::SetCoolerOn(int on) {
    if (!HasCooler() || controller_ == nullptr) return 0;
    platform::CriticalSectionLock lock(opLock_);
    uint8_t value = 0;
    if (!controller_->ReadFpgaRegister(kFpgaCooler, &value)) return 0;
    value = on > 0 ? static_cast<uint8_t>(value | 1) : static_cast<uint8_t>(value & ~1);
    return controller_->WriteFpgaRegister(kFpgaCooler, value) ? 1 : 0;
}

int CSensorIMX992::HasTemperatureSensor() {
    return 1;
}

bool CSensorIMX992::ReadRawTemperature(uint16_t* raw) {
    if (controller_ == nullptr || raw == nullptr) return false;
    const uint16_t capability = CapabilityWord();
    if (capability > 0x104) {
        bool read = false;
        uint8_t low = 0;
        uint8_t high = 0;
        for (int attempt = 0; attempt < 5; ++attempt) {
            read = controller_->ReadFpgaRegister(kFpgaTemperatureLow, &low) &&
                   controller_->ReadFpgaRegister(kFpgaTemperatureHigh, &high);
            if (read && (low != 0 || high != 0)) break;
        }
        if (!read) return false;
        *raw = static_cast<uint16_t>(((high * 256) & 0xFFF) | low);
        return true;
    }
    platform::CriticalSectionLock lock(opLock_);
    int latch = 0;
    if (!ReadRegisterLocked(kTemperatureLatch, &latch)) return false;  // nothing to restore
    bool ok = WriteRegisterLocked(kTemperatureLatch, latch | 1) != 0;
    int low = 0;
    int high = 0;
    ok =
        ok && ReadRegisterLocked(kTemperature, &low) && ReadRegisterLocked(kTemperature + 1, &high);
    ok = WriteRegisterLocked(kTemperatureLatch, latch & ~1) && ok;
    if (!ok) return false;
    *raw = static_cast<uint16_t>(((high * 256) & 0xFFF) | (low & 0xFF));
    return true;
}

int CSensorIMX992::GetSensorTemperature(double* degrees) {
    if (degrees == nullptr) return 0;
    uint16_t raw = 0;
    if (!ReadRawTemperature(&raw)) return 0;
    *degrees = TemperatureFromRaw(raw);
    return 1;
}

int CSensorIMX992::IsStreamReady() {
    return 1;
}

int CSensorIMX992::GetControlFlag() {
    int value = 0;
    if (!ReadRegisterLocked(kGainMode, &value)) return -1;
    return (value & 1) ? 0 : 1;
}

int CSensorIMX992::SetControlFlag(int flag) {
    platform::CriticalSectionLock lock(opLock_);
    int value = 0;
    if (!ReadRegisterLocked(kGainMode, &value)) return 0;
    if (flag == 0) {
        value |= 1;
    } else if (flag == 1) {
        value &= ~1;
    } else {
        value = 0;
    }
    return WriteRegisterLocked(kGainMode, value);
}

int CSensorIMX992::SupportsOutputFormatC() {
    return 0;
}

int CSensorIMX992::FrameLengthWritten() const {
    platform::CriticalSectionLock lock(opLock_);
    return frameLengthWritten_;
}

int CSensorIMX992::LineLengthWritten() const {
    platform::CriticalSectionLock lock(opLock_);
    return lineLengthWritten_;
}

double CSensorIMX992::FramePeriodUsLocked() const {
    return imx992::LineTimeUs(lineLengthWritten_) * frameLengthWritten_;
}

void CSensorIMX992::NoteTimingChange() {
    const auto periodEnd =
        std::chrono::steady_clock::now() +
        std::chrono::microseconds(static_cast<int64_t>(std::ceil(FramePeriodUsLocked())));
    earlierTimingUntil_ = std::max(earlierTimingUntil_, periodEnd);
}

int CSensorIMX992::GetFirstFrameWithin(uint32_t* milliseconds) {
    if (milliseconds == nullptr) return 0;
    platform::CriticalSectionLock lock(opLock_);
    const double period = FramePeriodUsLocked();
    const double earlier = std::chrono::duration<double, std::micro>(
                               earlierTimingUntil_ - std::chrono::steady_clock::now())
                               .count();
    // The frame under way, then a whole frame at the current timing and its readout, which in
    // a window's frame length follows the exposure.
    const double readout = imx992::LineTimeUs(lineLengthWritten_) * frameLengthWindow_;
    const double total = std::max(earlier, period) + period + readout;
    *milliseconds = static_cast<uint32_t>(std::min(std::ceil(total / 1000.0), 4.0e9));
    return 1;
}

int CSensorIMX992::GetFramePeriod(double* microseconds) {
    if (microseconds == nullptr) return 0;
    platform::CriticalSectionLock lock(opLock_);
    *microseconds = FramePeriodUsLocked();
    return 1;
}

int CSensorIMX992::GetExposureTiming(double* lineTimeUs, double* offsetUs) {
    if (lineTimeUs == nullptr || offsetUs == nullptr) return 0;
    platform::CriticalSectionLock lock(opLock_);
    *lineTimeUs = imx992::LineTimeUs(lineLengthWritten_);
    *offsetUs = kExposureOffsetUs;
    return *lineTimeUs > 0.0 ? 1 : 0;
}

int CSensorIMX992::FrameTimeMs() const {
    platform::CriticalSectionLock lock(opLock_);
    return frameTimeMs_;
}

double CSensorIMX992::LineTimeUs() const {
    platform::CriticalSectionLock lock(opLock_);
    return imx992::LineTimeUs(lineLengthWritten_);
}

}  // namespace lumora
