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
#include "sensor/SensorOperations.h"

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

    // The operations in table order, declared from the table (SensorOperations.h says what
    // the base does for each).
#define LUMORA_SENSOR_DECLARE(name, parameters, ...) virtual int name parameters;
#define LUMORA_SENSOR_DECLARE_RANGE(name, ...) virtual int name(int* value);
#define LUMORA_SENSOR_DECLARE_SECONDS(name, ...) virtual int name(double* value);
#define LUMORA_SENSOR_DECLARE_WORD(name, ...) virtual int name();
    LUMORA_SENSOR_OPERATIONS(LUMORA_SENSOR_DECLARE, LUMORA_SENSOR_DECLARE_RANGE,
                             LUMORA_SENSOR_DECLARE_SECONDS, LUMORA_SENSOR_DECLARE_WORD,
                             LUMORA_SENSOR_DECLARE)
#undef LUMORA_SENSOR_DECLARE
#undef LUMORA_SENSOR_DECLARE_RANGE
#undef LUMORA_SENSOR_DECLARE_SECONDS
#undef LUMORA_SENSOR_DECLARE_WORD

    // Shared helpers (not part of the variant table).
    // Readout reset pulse on the FPGA; skipped while the reset-pulse enable is clear.
    int PulseStreamRestart();
    // Write, pause, read back; up to ten tries.
    int WriteFpgaVerified(uint8_t reg, uint8_t value);
    // The FPGA capability word, read once (up to ten tries, 100 ms apart) and cached; 0 when
    // it could not be read.
    uint16_t CapabilityWord();
    // How the sensor turns exposure lines into time at the timing in effect now: microseconds =
    // lines x lineTimeUs + offsetUs. 0 when the variant cannot tell.
    virtual int GetExposureTiming(double* lineTimeUs, double* offsetUs);

    int TypeCode() const {
        return typeCode_;
    }
    uint8_t BusAddress() const {
        return busAddress_;
    }
    CControllerBase* Controller() const {
        return controller_;
    }
    bool ResetPulseEnabled() const {
        return resetPulseEnable_.load();
    }

protected:
    static int Range(int32_t stored, int32_t supported, int* out);
    static int RangeSeconds(double stored, int32_t supported, double* out);
    int RawWrite(int reg, int value);
    int RawRead(int reg, int* value);

    SensorInfo info_ LUMORA_GUARDED_BY(opLock_){};
    uint8_t scratch_[41] LUMORA_GUARDED_BY(opLock_) = {};
    CControllerBase* const controller_;
    const uint8_t busAddress_;
    std::atomic<int> triggerModeWord_{15};
    std::atomic<uint16_t> capabilityWord_{0};
    std::atomic<int> typeCode_{0};
    std::atomic<bool> resetPulseEnable_{true};
    int variantWord0_ LUMORA_GUARDED_BY(opLock_) = 300;
    int variantWord1_ LUMORA_GUARDED_BY(opLock_) = 1;
    mutable platform::CriticalSection opLock_ LUMORA_ACQUIRED_BEFORE(busLock_);
    // Serialises raw transfers on the sensor bus; recursive, so an arbitrated access holds it
    // from the bus request to the release.
    platform::CriticalSection busLock_;
};

}  // namespace lumora
