// The simulated bus as a kernel driver: requests are decoded here and handed to the device.
#include "port/SimPort.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <optional>

namespace lumora::platform {
namespace {

// USB status written into a failed transfer's header, as the host controller reports a stall.
constexpr uint32_t kUsbStatusStall = 0xC0000004;

// A bulk transfer in flight: completes the caller's overlapped record and writes the status
// words into the caller's header.
class PortTransfer final : public SimBulkTransfer {
public:
    PortTransfer(uint8_t endpoint, std::span<uint8_t> data, uint8_t* header, uint32_t headerBytes,
                 Overlapped* overlapped)
        : SimBulkTransfer(endpoint, data),
          header_(header),
          headerBytes_(headerBytes),
          overlapped_(overlapped) {}

    void Complete(uint32_t error, uint32_t bytes) override {
        if (error != kErrorSuccess) {
            StoreLe32(header_ + SingleTransfer::kOffsetStatus, error);
            StoreLe32(header_ + SingleTransfer::kOffsetUsbStatus, kUsbStatusStall);
        }
        overlapped_->Complete(error, error == kErrorSuccess ? bytes + headerBytes_ : 0);
    }

private:
    uint8_t* header_;
    uint32_t headerBytes_;  // added to the count (buffered transfers report header + data)
    Overlapped* overlapped_;
};

class SimDeviceFile final : public DeviceFile {
public:
    SimDeviceFile(std::shared_ptr<SimUsbDevice> device, std::string path, bool overlapped)
        : device_(std::move(device)), path_(std::move(path)), overlapped_(overlapped) {}

    bool IsOverlapped() const override { return overlapped_; }
    const std::string& Path() const override { return path_; }

    uint32_t IoControl(uint32_t code, void* in, uint32_t inSize, void* out, uint32_t outSize,
                       uint32_t* returned, Overlapped* overlapped) override {
        if (returned) *returned = 0;
        if (!SimPort::Instance().IsPlugged(device_) || device_->InterfacePath() != path_) {
            return kErrorDeviceNotConnected;
        }
        switch (code) {
            case kIoctlControlTransfer:
                return Overlapped::FinishAtOnce(
                    Control(static_cast<uint8_t*>(in), inSize, static_cast<uint8_t*>(out), outSize,
                            returned),
                    returned, overlapped);
            case kIoctlDirectBulk:
            case kIoctlBufferedBulk:
                return Bulk(code == kIoctlBufferedBulk, static_cast<uint8_t*>(in), inSize,
                            static_cast<uint8_t*>(out), outSize, returned, overlapped);
            case kIoctlAbortPipe:
                if (inSize < 1 || !in) return kErrorInvalidParameter;
                device_->AbortEndpoint(*static_cast<uint8_t*>(in));
                return Overlapped::FinishAtOnce(kErrorSuccess, returned, overlapped);
            case kIoctlResetPipe:
                if (inSize < 1 || !in) return kErrorInvalidParameter;
                return Overlapped::FinishAtOnce(device_->ResetEndpoint(*static_cast<uint8_t*>(in))
                                                    ? kErrorSuccess
                                                    : kErrorGenFailure,
                                                returned, overlapped);
            case kIoctlResetPort:
                return Overlapped::FinishAtOnce(
                    device_->ResetPort() ? kErrorSuccess : kErrorGenFailure, returned, overlapped);
            case kIoctlGetSpeed:
                if (outSize < 4 || !out) return kErrorInsufficientBuffer;
                StoreLe32(static_cast<uint8_t*>(out), device_->LinkSpeedCode());
                if (returned) *returned = 4;
                return Overlapped::FinishAtOnce(kErrorSuccess, returned, overlapped);
            default:
                return kErrorInvalidParameter;
        }
    }

private:
    uint32_t Control(uint8_t* in, uint32_t inSize, uint8_t* out, uint32_t outSize,
                     uint32_t* returned) {
        if (!in || !out || inSize < SingleTransfer::kSize || outSize < SingleTransfer::kSize) {
            return kErrorInvalidParameter;
        }
        const auto header = SingleTransfer::Read(in);
        const uint32_t dataOffset = header.bufferOffset;
        const uint32_t dataLength = header.bufferLength;
        if (dataOffset < SingleTransfer::kSize || dataLength > kControlDataSize ||
            uint64_t{dataOffset} + dataLength > inSize ||
            uint64_t{dataOffset} + dataLength > outSize) {
            return kErrorInvalidParameter;
        }
        // The request's own length must cover exactly its header and data stage, and a request
        // without a time-out could wait forever: the driver refuses both.
        if (header.length != dataOffset + dataLength || header.timeoutSeconds == 0) {
            return kErrorInvalidParameter;
        }
        if (in != out) std::memmove(out, in, std::min(inSize, outSize));
        ControlSetup setup{header.requestType, header.request, header.value, header.index,
                           static_cast<uint16_t>(dataLength)};
        const int moved = device_->ControlTransfer(setup, {out + dataOffset, dataLength});
        if (moved < 0) {
            StoreLe32(out + SingleTransfer::kOffsetUsbStatus, kUsbStatusStall);
            return kErrorGenFailure;
        }
        if (returned) *returned = dataOffset + static_cast<uint32_t>(moved);
        return kErrorSuccess;
    }

    uint32_t Bulk(bool buffered, uint8_t* in, uint32_t inSize, uint8_t* out, uint32_t outSize,
                  uint32_t* returned, Overlapped* overlapped) {
        if (!in || inSize < SingleTransfer::kSize) return kErrorInvalidParameter;
        const auto header = SingleTransfer::Read(in);
        std::span<uint8_t> data;
        uint32_t headerBytes = 0;
        if (buffered) {
            // Header and data share the buffer: the data stage sits at the buffer offset.
            const uint64_t end = uint64_t{header.bufferOffset} + header.bufferLength;
            if (!out || header.bufferOffset < SingleTransfer::kSize || end > inSize ||
                end > outSize) {
                return kErrorInvalidParameter;
            }
            if (in != out) std::memmove(out, in, static_cast<size_t>(end));
            data = {out + header.bufferOffset, header.bufferLength};
            headerBytes = header.bufferOffset;
        } else {
            if (!out && outSize != 0) return kErrorInvalidParameter;
            data = {out, outSize};
        }
        // The status words go back into the request header the caller gave us.
        StoreLe32(in + SingleTransfer::kOffsetStatus, 0);
        StoreLe32(in + SingleTransfer::kOffsetUsbStatus, 0);

        // A plain handle waits here; an overlapped one returns pending.
        Event localEvent(true, false);
        std::optional<Overlapped> local;
        Overlapped* record = overlapped;
        if (!record) record = &local.emplace(localEvent);
        const uint8_t endpoint = header.endpoint;
        // The cancel hook must not keep the device alive: it may be the last thing dropped.
        std::weak_ptr<SimUsbDevice> weak = device_;
        record->Begin([weak, endpoint] {
            if (auto device = weak.lock()) device->AbortEndpoint(endpoint);
        });
        device_->SubmitBulk(
            std::make_shared<PortTransfer>(endpoint, data, in, headerBytes, record));
        if (overlapped && record->IsPending()) return kErrorIoPending;
        return record->WaitForResult(returned);
    }

    std::shared_ptr<SimUsbDevice> device_;
    std::string path_;
    bool overlapped_;
};

}  // namespace

SimPort& SimPort::Instance() {
    static SimPort port;
    return port;
}

std::vector<std::string> SimPort::EnumerateInterfaces(const std::string& guid) {
    if (auto* source = Source()) source->PlugConfiguredDevices();
    std::vector<std::string> paths;
    std::lock_guard lock(mutex_);
    for (const auto& device : devices_) {
        std::string path = device->InterfacePath();
        // Interface paths end in the class GUID; compare it without regard to case.
        const auto hash = path.rfind('#');
        if (hash == std::string::npos) continue;
        std::string tail = path.substr(hash + 1);
        if (tail.size() != guid.size() ||
            !std::equal(tail.begin(), tail.end(), guid.begin(), [](char a, char b) {
                return std::tolower(static_cast<unsigned char>(a)) ==
                       std::tolower(static_cast<unsigned char>(b));
            })) {
            continue;
        }
        paths.push_back(std::move(path));
    }
    return paths;
}

std::unique_ptr<DeviceFile> SimPort::Open(const std::string& path, bool overlapped,
                                          uint32_t* error) {
    if (auto* source = Source()) source->PlugConfiguredDevices();
    auto device = Find(path);
    if (!device) {
        if (error) *error = kErrorFileNotFound;
        return nullptr;
    }
    if (error) *error = kErrorSuccess;
    return std::make_unique<SimDeviceFile>(std::move(device), path, overlapped);
}

void SimPort::Plug(std::shared_ptr<SimUsbDevice> device) {
    std::string path = device->InterfacePath();
    {
        std::lock_guard lock(mutex_);
        if (std::find(devices_.begin(), devices_.end(), device) != devices_.end()) return;
        devices_.push_back(std::move(device));
    }
    HotplugHub::Instance().Notify(HotplugEvent::Arrival, path);
}

void SimPort::Unplug(const std::shared_ptr<SimUsbDevice>& device) {
    {
        std::lock_guard lock(mutex_);
        auto it = std::find(devices_.begin(), devices_.end(), device);
        if (it == devices_.end()) return;
        devices_.erase(it);
    }
    device->Disconnect();
    HotplugHub::Instance().Notify(HotplugEvent::Removal, device->InterfacePath());
}

bool SimPort::IsPlugged(const std::shared_ptr<SimUsbDevice>& device) const {
    std::lock_guard lock(mutex_);
    return std::find(devices_.begin(), devices_.end(), device) != devices_.end();
}

size_t SimPort::DeviceCount() const {
    std::lock_guard lock(mutex_);
    return devices_.size();
}

std::shared_ptr<SimUsbDevice> SimPort::Find(const std::string& path) const {
    std::lock_guard lock(mutex_);
    for (const auto& device : devices_) {
        if (device->InterfacePath() == path) return device;
    }
    return nullptr;
}

void SimPort::AttachSource(SimDeviceSource* source) {
    std::lock_guard lock(mutex_);
    source_ = source;
}

SimDeviceSource* SimPort::Source() const {
    std::lock_guard lock(mutex_);
    return source_;
}

bool SimulatedCamerasInUse() {
    auto* source = SimPort::Instance().Source();
    return source != nullptr && source->CamerasConfigured();
}

}  // namespace lumora::platform
