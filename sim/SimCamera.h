#pragma once
// One simulated camera behind its bridge: the vendor requests, the devices on its I2C bus
// (FPGA 0x40, IMX992 0x48, auxiliary device 0x5A, configuration EEPROM 0xA2), the memory
// streams and the frame stream on the bulk endpoints, and fault injection. What the sensor and
// FPGA do beyond storing registers is the model's (SimCameraModel).
//
// Requests reach it only while this process holds its claim (SimBusClaim): a second process on
// the same simulated bus finds it busy, as it would find a real camera another process claimed.
//
// Thread-safe: mutex_ (recursive, so register hooks may call back in) guards all camera state
// (the register files and the EEPROM too, which models and tests reach under Lock());
// a service thread completes transfers that wait for a frame's ready time and lets the claim go
// once the camera has been idle for a while.
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/CriticalSection.h"
#include "port/SimPort.h"
#include "sim/SimBusClaim.h"
#include "sim/SimCameraModel.h"
#include "sim/SimRegisterFile.h"
#include "usb/Fx3Protocol.h"

namespace lumora::sim {

struct SimCameraIdentity {
    int index = 0;
    uint16_t vendorId = 0;
    uint16_t productId = 0x3380;
    std::string serialNumber;
};

enum class SimFault : int {
    None = 0,
    BulkFail = 1,      // the next `count` bulk transfers fail at once
    BulkStall = 2,     // the next `count` bulk transfers never complete until aborted
    ShortPayload = 3,  // the next `count` frames send `param` bytes fewer than announced
    LongPayload = 4,   // the next `count` frames announce and send `param` bytes more
    I2cRefuse = 5,     // the next `count` I2C transfers are refused
    EepromWrite = 6,   // the next `count` EEPROM writes fail
    SlowStartup = 7,   // the start-up takes `param` ms (from now and at every restart)
};

inline constexpr uint32_t kEepromSize = 0x10000;  // 16-bit addresses, all backed
inline constexpr uint16_t kSerialNumberAddress = 0x1040;
inline constexpr uint16_t kDefaultFirmwareVersion = 0x1200;
inline constexpr uint32_t kDefaultStartupMs = 100;
inline constexpr uint32_t kDefaultFaultPayloadDelta = 0x10000;

class SimCamera final : public platform::SimUsbDevice,
                        public std::enable_shared_from_this<SimCamera> {
public:
    // CPU time every thread of the process has spent completing this model's transfers
    // (rendering frames and moving their bytes), so a benchmark can tell the library's own
    // share of the process from the simulated camera's.
    static uint64_t CpuNanoseconds();

    explicit SimCamera(SimCameraIdentity identity, std::unique_ptr<SimCameraModel> model = nullptr);
    ~SimCamera() override;

    const SimCameraIdentity& Identity() const { return identity_; }

    // platform::SimUsbDevice
    std::string InterfacePath() const override;
    int ControlTransfer(const platform::ControlSetup& setup, std::span<uint8_t> data) override;
    void SubmitBulk(std::shared_ptr<platform::SimBulkTransfer> transfer) override;
    void AbortEndpoint(uint8_t endpoint) override;
    bool ResetEndpoint(uint8_t endpoint) override;
    bool ResetPort() override;
    uint32_t LinkSpeedCode() const override;
    void Disconnect() override;
    uint32_t Claim() override;

    // The camera's lock, for models and tests that work on the camera from their own threads.
    platform::CriticalSection& Lock() const LUMORA_RETURN_CAPABILITY(mutex_) { return mutex_; }
    // Register files and memories (use under Lock()).
    SimRegisterFile& Fpga() { return fpga_; }
    SimRegisterFile& Sensor() { return sensor_; }
    SimRegisterFile& Aux() { return aux_; }
    std::vector<uint8_t>& Eeprom() { return eeprom_; }
    SimCameraModel& Model() { return *model_; }

    // Power: a power-on resets registers, the frame stream and the start-up clock; the EEPROM
    // and camera memory keep their contents.
    void PowerOn();
    // Moves the camera to another port: it answers on a new path from now on.
    void MoveToNewPort();
    int Port() const;

    // Settings and faults.
    void SetStartupTimeMs(uint32_t ms);
    void SetFrameCounterStart(uint32_t value);
    void SetFirmwareVersion(uint16_t version);
    void SetLinkSpeedCode(uint32_t code);
    // The EEPROM's write cycle (10 ms unless set), during which it answers no one.
    void SetEepromWriteCycleMs(uint32_t ms);
    void InjectFault(SimFault fault, int count, int param);
    void ClearFaults();
    // Injected faults not yet spent (transfers to fail or stall, frames to spoil, refusals).
    int FaultsPending() const;

    // Frame stream state, for models and tests.
    bool IsReady() const;
    uint32_t FrameCounter() const;  // the counter the next frame's header carries
    // Makes a frame that waits for an event ready now, or `delay` from now (a trigger starts an
    // exposure that is read out later).
    void ReleaseFrame();
    void ReleaseFrameAfter(std::chrono::microseconds delay);
    // Drops a partly sent frame so the next read starts on a header.
    void DropFrame();
    size_t PendingTransfers() const;
    uint64_t FramesSent() const;

    // What crossed the bus, for tests and diagnostics (bounded: the newest entries are kept).
    struct BusLog {
        uint64_t controlRequests = 0;
        uint64_t kicks = 0;
        uint64_t streamResets = 0;
        std::vector<usb::StreamCommand> streamCommands;
        std::vector<std::pair<uint8_t, uint32_t>> bulkTransfers;  // endpoint, requested bytes
    };
    BusLog Log() const;
    void ClearLog();

    // Camera memory behind the "AU3R"/"AU3W" streams (sparse; unwritten bytes read as 0).
    void WriteCameraMemory(uint64_t address, std::span<const uint8_t> data);
    void ReadCameraMemory(uint64_t address, std::span<uint8_t> out) const;

    struct State;

private:
    int HandleVendorRequest(const platform::ControlSetup& setup, std::span<uint8_t> data)
        LUMORA_REQUIRES(mutex_);
    bool I2cWrite(uint8_t busAddress, std::span<const uint8_t> bytes) LUMORA_REQUIRES(mutex_);
    bool I2cRead(uint8_t busAddress, std::span<uint8_t> out) LUMORA_REQUIRES(mutex_);
    void ServicePendingLocked() LUMORA_REQUIRES(mutex_);
    void RestartStreamLocked() LUMORA_REQUIRES(mutex_);
    void ServiceThread();
    void EnsureServiceThreadLocked() LUMORA_REQUIRES(mutex_);
    void StartFrameLocked() LUMORA_REQUIRES(mutex_);
    bool EepromBusyLocked() const LUMORA_REQUIRES(mutex_);
    // Completes a bulk transfer now when the camera has its data (IN) or takes it (OUT); false
    // while an IN transfer has to wait.
    bool TryCompleteLocked(platform::SimBulkTransfer& transfer, uint32_t* error, uint32_t* bytes)
        LUMORA_REQUIRES(mutex_);
    void TakeOutLocked(std::span<uint8_t> data, uint32_t* error, uint32_t* bytes)
        LUMORA_REQUIRES(mutex_);
    bool SendInLocked(std::span<uint8_t> data, uint32_t* bytes) LUMORA_REQUIRES(mutex_);
    uint32_t SendMemoryReadLocked(std::span<uint8_t> data) LUMORA_REQUIRES(mutex_);
    void CaptureFrameLocked() LUMORA_REQUIRES(mutex_);
    uint32_t SendHeaderLocked(std::span<uint8_t> data) LUMORA_REQUIRES(mutex_);
    uint32_t SendPayloadLocked(std::span<uint8_t> data) LUMORA_REQUIRES(mutex_);
    void FinishFrameLocked() LUMORA_REQUIRES(mutex_);
    void ForgetFrameLocked() LUMORA_REQUIRES(mutex_);
    void DrawPictureUnlocked() LUMORA_EXCLUDES(mutex_);
    void InstallTransportHooksLocked() LUMORA_REQUIRES(mutex_);

    SimCameraIdentity identity_;
    std::unique_ptr<SimCameraModel> model_;
    mutable platform::CriticalSection mutex_;
    std::condition_variable_any wake_;
    SimRegisterFile fpga_{256};
    SimRegisterFile sensor_{0x10000};
    SimRegisterFile aux_{256};
    std::vector<uint8_t> eeprom_;
    std::unique_ptr<State> state_ LUMORA_GUARDED_BY(mutex_);
    SimBusClaim claim_ LUMORA_GUARDED_BY(mutex_);  // this process's hold on the camera
    std::thread service_;
    bool stopping_ LUMORA_GUARDED_BY(mutex_) = false;
};

}  // namespace lumora::sim
