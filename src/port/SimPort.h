#pragma once
// The simulated-camera backend of the USB port. It plays the kernel driver for in-process
// devices: decodes each I/O control request and hands the camera side a setup packet or a bulk
// transfer. The devices themselves implement SimUsbDevice and are plugged in here by their
// source.
#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <vector>

#include "port/UsbPort.h"

namespace lumora::platform {

struct ControlSetup {
    uint8_t requestType = 0;
    uint8_t request = 0;
    uint16_t value = 0;
    uint16_t index = 0;
    uint16_t length = 0;  // data stage length
    bool IsIn() const { return (requestType & 0x80) != 0; }
};

// One bulk transfer handed to a simulated device. The device completes it exactly once, now or
// later, from any thread; AbortEndpoint must complete every pending transfer of its endpoint.
class SimBulkTransfer {
public:
    SimBulkTransfer(uint8_t endpoint, std::span<uint8_t> data) : endpoint_(endpoint), data_(data) {}
    virtual ~SimBulkTransfer() = default;
    uint8_t Endpoint() const { return endpoint_; }
    bool IsIn() const { return (endpoint_ & 0x80) != 0; }
    // IN: room for what the device sends; OUT: what the host sent.
    std::span<uint8_t> Data() const { return data_; }
    virtual void Complete(uint32_t error, uint32_t bytes) = 0;

private:
    uint8_t endpoint_;
    std::span<uint8_t> data_;
};

// The camera side of the simulated bus, as the port sees it. Thread-safe.
class SimUsbDevice {
public:
    virtual ~SimUsbDevice() = default;
    // The device-interface path this device answers on now; it changes when the device is
    // moved to another port.
    virtual std::string InterfacePath() const = 0;
    // Control transfer on endpoint 0: bytes of the data stage moved (IN: written into `data`),
    // or a negative value for a stall (a request the device refuses).
    virtual int ControlTransfer(const ControlSetup& setup, std::span<uint8_t> data) = 0;
    virtual void SubmitBulk(std::shared_ptr<SimBulkTransfer> transfer) = 0;
    virtual void AbortEndpoint(uint8_t endpoint) = 0;
    virtual bool ResetEndpoint(uint8_t endpoint) = 0;
    virtual bool ResetPort() = 0;
    virtual uint32_t LinkSpeedCode() const = 0;
    // The device left the bus: everything pending fails with kErrorDeviceNotConnected.
    virtual void Disconnect() = 0;
};

// Whoever owns the simulated devices (the simulated camera set) attaches itself to the port as
// their source. The port lies below it and cannot name it; this is how it reaches the owner.
class SimDeviceSource {
public:
    virtual ~SimDeviceSource() = default;
    // Called before every listing and open, so devices the environment asks for are plugged in
    // before the first caller looks; the source makes it cheap after the first time.
    virtual void PlugConfiguredDevices() = 0;
    // True while simulated cameras are configured (plugged in or not).
    virtual bool CamerasConfigured() const = 0;
};

// True while simulated cameras are configured in this process (plugged in or not); false when
// no source is attached.
bool SimulatedCamerasInUse();

// The simulated bus: which devices are plugged in. Plug and Unplug announce hot-plug events.
// Thread-safe: mutex_ guards devices_ and source_.
class SimPort final : public UsbPort {
public:
    static SimPort& Instance();

    // The source stays attached until it detaches itself (null); it must outlive its
    // attachment.
    void AttachSource(SimDeviceSource* source);
    SimDeviceSource* Source() const;

    std::vector<std::string> EnumerateInterfaces(const std::string& guid) override;
    std::unique_ptr<DeviceFile> Open(const std::string& path, bool overlapped,
                                     uint32_t* error) override;

    void Plug(std::shared_ptr<SimUsbDevice> device);
    void Unplug(const std::shared_ptr<SimUsbDevice>& device);
    bool IsPlugged(const std::shared_ptr<SimUsbDevice>& device) const;
    size_t DeviceCount() const;

private:
    std::shared_ptr<SimUsbDevice> Find(const std::string& path) const;
    mutable std::mutex mutex_;
    std::vector<std::shared_ptr<SimUsbDevice>> devices_;
    SimDeviceSource* source_ = nullptr;
};

}  // namespace lumora::platform
