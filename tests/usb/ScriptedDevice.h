#pragma once
// A device on the simulated bus whose answers a test scripts: for driving the transport into
// replies the simulated camera never gives (short replies, odd paths, transfers that hang).
#include <functional>
#include <mutex>
#include <vector>

#include "port/SimPort.h"

namespace lumora::testing {

class ScriptedDevice final : public platform::SimUsbDevice {
public:
    explicit ScriptedDevice(std::string path) : path_(std::move(path)) {}

    // Control handler: returns bytes moved or -1; default answers every request with 64 bytes.
    std::function<int(const platform::ControlSetup&, std::span<uint8_t>)> onControl =
        [](const platform::ControlSetup&, std::span<uint8_t> data) {
            return static_cast<int>(data.size());
        };
    // Bulk handler: complete the transfer now, or return false to leave it pending.
    std::function<bool(platform::SimBulkTransfer&)> onBulk = [](platform::SimBulkTransfer&) {
        return false;
    };

    std::string InterfacePath() const override { return path_; }
    int ControlTransfer(const platform::ControlSetup& setup, std::span<uint8_t> data) override {
        std::lock_guard lock(mutex_);
        setups.push_back(setup);
        return onControl(setup, data);
    }
    void SubmitBulk(std::shared_ptr<platform::SimBulkTransfer> transfer) override {
        std::lock_guard lock(mutex_);
        if (!onBulk(*transfer)) pending_.push_back(std::move(transfer));
    }
    void AbortEndpoint(uint8_t endpoint) override {
        std::lock_guard lock(mutex_);
        aborts.push_back(endpoint);
        std::erase_if(pending_, [&](const auto& t) {
            if (t->Endpoint() != endpoint) return false;
            t->Complete(platform::kErrorOperationAborted, 0);
            return true;
        });
    }
    bool ResetEndpoint(uint8_t) override { return true; }
    bool ResetPort() override { return true; }
    uint32_t LinkSpeedCode() const override { return platform::kSpeedHigh; }
    void Disconnect() override {
        std::lock_guard lock(mutex_);
        for (auto& t : pending_) t->Complete(platform::kErrorDeviceNotConnected, 0);
        pending_.clear();
    }
    size_t Pending() const {
        std::lock_guard lock(mutex_);
        return pending_.size();
    }
    std::vector<uint8_t> Aborts() const {
        std::lock_guard lock(mutex_);
        return aborts;
    }

    std::vector<platform::ControlSetup> setups;
    std::vector<uint8_t> aborts;

private:
    std::string path_;
    mutable std::mutex mutex_;
    std::vector<std::shared_ptr<platform::SimBulkTransfer>> pending_;
};

// Plugs a scripted device in for the lifetime of the object.
class PluggedDevice {
public:
    explicit PluggedDevice(std::string path)
        : device_(std::make_shared<ScriptedDevice>(std::move(path))) {
        platform::SimPort::Instance().Plug(device_);
    }
    ~PluggedDevice() { platform::SimPort::Instance().Unplug(device_); }
    ScriptedDevice& operator*() { return *device_; }
    ScriptedDevice* operator->() { return device_.get(); }

private:
    std::shared_ptr<ScriptedDevice> device_;
};

}  // namespace lumora::testing
