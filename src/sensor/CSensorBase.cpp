#include "sensor/CSensorBase.h"

#include <atomic>
#include <cstring>

#include "platform/Clock.h"
#include "usb/CControllerBase.h"

namespace lumora {

namespace {
std::atomic<bool> gPausesEnabled{true};
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

// The destructor and the table's rows: the 152 entries of the operation table, and after them
// the first-frame estimate the snapshot wait asks for and the frame period.
#define LUMORA_SENSOR_COUNT(...) +1
static_assert(1 LUMORA_SENSOR_OPERATIONS(LUMORA_SENSOR_COUNT, LUMORA_SENSOR_COUNT,
                                         LUMORA_SENSOR_COUNT, LUMORA_SENSOR_COUNT,
                                         LUMORA_SENSOR_COUNT) == 154);
#undef LUMORA_SENSOR_COUNT

// The bodies the table gives; a "not implemented" body ignores its parameters.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wunused-parameter"
#define LUMORA_SENSOR_FIXED(name, parameters, result) \
    int CSensorBase::name parameters {                \
        return result;                                \
    }
#define LUMORA_SENSOR_RANGE(name, value, supported)      \
    int CSensorBase::name(int* out) {                    \
        platform::CriticalSectionLock lock(opLock_);     \
        return Range(info_.value, info_.supported, out); \
    }
#define LUMORA_SENSOR_SECONDS(name, value, supported)           \
    int CSensorBase::name(double* out) {                        \
        platform::CriticalSectionLock lock(opLock_);            \
        return RangeSeconds(info_.value, info_.supported, out); \
    }
#define LUMORA_SENSOR_WORD(name, field)              \
    int CSensorBase::name() {                        \
        platform::CriticalSectionLock lock(opLock_); \
        return info_.field;                          \
    }
#define LUMORA_SENSOR_OWN(name, parameters)
LUMORA_SENSOR_OPERATIONS(LUMORA_SENSOR_FIXED, LUMORA_SENSOR_RANGE, LUMORA_SENSOR_SECONDS,
                         LUMORA_SENSOR_WORD, LUMORA_SENSOR_OWN)
#undef LUMORA_SENSOR_FIXED
#undef LUMORA_SENSOR_RANGE
#undef LUMORA_SENSOR_SECONDS
#undef LUMORA_SENSOR_WORD
#undef LUMORA_SENSOR_OWN
#pragma GCC diagnostic pop

// The base's own bodies.
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
int CSensorBase::GetReadoutWindow(int* x, int* width, int* y, int* height, int* mode) {
    platform::CriticalSectionLock lock(opLock_);
    if (x != nullptr) *x = info_.windowX;
    if (width != nullptr) *width = info_.windowWidth;
    if (y != nullptr) *y = info_.windowY;
    if (height != nullptr) *height = info_.windowHeight;
    if (mode != nullptr) *mode = info_.readoutMode;
    return 0;
}
int CSensorBase::GetTriggerMode(int* mode) {
    if (mode != nullptr) *mode = triggerModeWord_.load();
    return 0;
}
int CSensorBase::GetSensorInfo(SensorInfo* info) {
    if (info == nullptr) return 0;
    platform::CriticalSectionLock lock(opLock_);
    *info = info_;
    return 1;
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

int CSensorBase::GetExposureTiming(double*, double*) {
    return 0;
}

}  // namespace lumora
