// Real cameras through libusb.
#include "platform/port_libusb.h"

#include <libusb.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cctype>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <map>
#include <set>
#include <thread>
#include <vector>

#include "platform/Event.h"

namespace lumora::platform {
namespace {

// Product ids of the camera family (one per camera type).
constexpr std::array<uint16_t, 52> kKnownProducts{
    0x3020, 0x3030, 0x3040, 0x3042, 0x3050, 0x3090, 0x30B0, 0x30C0, 0x30F0, 0x3100, 0x3110,
    0x3120, 0x3130, 0x3140, 0x3150, 0x3170, 0x3180, 0x3190, 0x31A0, 0x31B0, 0x31B4, 0x31C0,
    0x31C4, 0x31D0, 0x31E0, 0x31F0, 0x3200, 0x3210, 0x3220, 0x3260, 0x3270, 0x3280, 0x3290,
    0x32A0, 0x32B0, 0x32C0, 0x32D0, 0x32E0, 0x32F0, 0x3300, 0x3310, 0x3320, 0x3330, 0x3340,
    0x3360, 0x3370, 0x3380, 0x33A0, 0x33B0, 0x33C0, 0x33D0, 0x33E0};

constexpr int kInterfaceNumber = 0;

bool SameGuid(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

// The instance part of a real camera's path: its bus and port chain, e.g. "lu2-1.4".
std::string InstanceOf(libusb_device* device) {
    std::array<uint8_t, 8> ports{};
    const int n = libusb_get_port_numbers(device, ports.data(), static_cast<int>(ports.size()));
    std::string instance = "lu" + std::to_string(libusb_get_bus_number(device)) + "-";
    for (int i = 0; i < n; ++i) {
        if (i) instance += '.';
        instance += std::to_string(ports[static_cast<size_t>(i)]);
    }
    return instance;
}

}  // namespace

std::optional<LibusbRequest> TranslateRequest(uint32_t code, std::span<const uint8_t> in,
                                              uint32_t outSize, uint32_t* error) {
    auto fail = [&](uint32_t e) -> std::optional<LibusbRequest> {
        if (error) *error = e;
        return std::nullopt;
    };
    if (error) *error = kErrorSuccess;
    LibusbRequest request;
    switch (code) {
        case kIoctlControlTransfer: {
            if (in.size() < kControlRequestSize || outSize < kControlRequestSize) {
                return fail(kErrorInvalidParameter);
            }
            const auto header = SingleTransfer::Read(in.data());
            const uint64_t end = uint64_t{header.bufferOffset} + header.bufferLength;
            if (header.bufferOffset < SingleTransfer::kSize ||
                header.bufferLength > kControlDataSize || end > in.size() || end > outSize) {
                return fail(kErrorInvalidParameter);
            }
            request.kind = LibusbRequest::Kind::Control;
            request.requestType = header.requestType;
            request.request = header.request;
            request.value = header.value;
            request.index = header.index;
            request.timeoutMs = header.timeoutSeconds * 1000;
            request.length = header.bufferLength;
            request.dataOffset = header.bufferOffset;
            return request;
        }
        case kIoctlDirectBulk:
        case kIoctlBufferedBulk: {
            if (in.size() < SingleTransfer::kSize) return fail(kErrorInvalidParameter);
            const auto header = SingleTransfer::Read(in.data());
            if ((header.endpoint & 0x7F) == 0) return fail(kErrorInvalidParameter);
            request.kind = LibusbRequest::Kind::Bulk;
            request.endpoint = header.endpoint;
            if (code == kIoctlDirectBulk) {
                request.length = outSize;
                request.dataOffset = 0;
                return request;
            }
            const uint64_t end = uint64_t{header.bufferOffset} + header.bufferLength;
            if (header.bufferOffset < SingleTransfer::kSize || end > in.size() || end > outSize) {
                return fail(kErrorInvalidParameter);
            }
            request.buffered = true;
            request.length = header.bufferLength;
            request.dataOffset = header.bufferOffset;
            return request;
        }
        case kIoctlAbortPipe:
        case kIoctlResetPipe:
            if (in.empty()) return fail(kErrorInvalidParameter);
            request.kind = code == kIoctlAbortPipe ? LibusbRequest::Kind::AbortPipe
                                                   : LibusbRequest::Kind::ResetPipe;
            request.endpoint = in[0];
            return request;
        case kIoctlResetPort:
            request.kind = LibusbRequest::Kind::ResetPort;
            return request;
        case kIoctlGetSpeed:
            if (outSize < 4) return fail(kErrorInsufficientBuffer);
            request.kind = LibusbRequest::Kind::GetSpeed;
            return request;
        default:
            return fail(kErrorInvalidParameter);
    }
}

uint32_t SpeedCodeFromLibusb(int libusbSpeed) {
    switch (libusbSpeed) {
        case LIBUSB_SPEED_LOW:
            return kSpeedLow;
        case LIBUSB_SPEED_FULL:
            return kSpeedFull;
        case LIBUSB_SPEED_HIGH:
            return kSpeedHigh;
        case LIBUSB_SPEED_UNKNOWN:
            return 0;
        default:
            return kSpeedSuper;  // SuperSpeed and everything faster
    }
}

uint32_t ErrorFromLibusbStatus(int transferStatus) {
    switch (transferStatus) {
        case LIBUSB_TRANSFER_COMPLETED:
            return kErrorSuccess;
        case LIBUSB_TRANSFER_CANCELLED:
            return kErrorOperationAborted;
        case LIBUSB_TRANSFER_TIMED_OUT:
            return kErrorSemTimeout;
        case LIBUSB_TRANSFER_NO_DEVICE:
            return kErrorDeviceNotConnected;
        default:
            return kErrorGenFailure;  // stall, overflow, error
    }
}

uint32_t ErrorFromLibusbError(int libusbError) {
    if (libusbError >= 0) return kErrorSuccess;
    switch (libusbError) {
        case LIBUSB_ERROR_NO_DEVICE:
            return kErrorDeviceNotConnected;
        case LIBUSB_ERROR_NOT_FOUND:
            return kErrorFileNotFound;
        case LIBUSB_ERROR_TIMEOUT:
            return kErrorSemTimeout;
        case LIBUSB_ERROR_INVALID_PARAM:
            return kErrorInvalidParameter;
        case LIBUSB_ERROR_INTERRUPTED:
            return kErrorOperationAborted;
        default:
            return kErrorGenFailure;
    }
}

bool IsKnownCameraProduct(uint16_t productId) {
    return std::find(kKnownProducts.begin(), kKnownProducts.end(), productId) !=
           kKnownProducts.end();
}

std::optional<uint16_t> CameraVendorIdFromEnvironment() {
    const char* text = std::getenv("LUMORA_USB_VENDOR_ID");
    if (!text || !*text) return std::nullopt;
    if (text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) text += 2;
    char* end = nullptr;
    const unsigned long value = std::strtoul(text, &end, 16);
    if (end == text || *end != '\0' || value == 0 || value > 0xFFFF) return std::nullopt;
    return static_cast<uint16_t>(value);
}

// ---- The port ----

namespace {

// One opened camera, shared by every DeviceFile on its path (usbfs lets one claim of the
// interface exist per process, and several handles to one camera must work at once).
// Thread-safe: mutex_ guards inFlight_.
class LibusbDevice {
public:
    LibusbDevice(libusb_device_handle* handle, std::string path)
        : handle_(handle), path_(std::move(path)) {}
    ~LibusbDevice() {
        libusb_release_interface(handle_, kInterfaceNumber);
        libusb_close(handle_);
    }
    libusb_device_handle* Handle() const { return handle_; }
    const std::string& Path() const { return path_; }

    void Track(libusb_transfer* transfer) {
        std::lock_guard lock(mutex_);
        inFlight_.insert(transfer);
    }
    void Untrack(libusb_transfer* transfer) {
        std::lock_guard lock(mutex_);
        inFlight_.erase(transfer);
        changed_.notify_all();
    }
    // Cancels every transfer of `endpoint` and waits until their callbacks have run.
    void Abort(uint8_t endpoint) {
        std::unique_lock lock(mutex_);
        std::vector<libusb_transfer*> mine;
        for (auto* t : inFlight_) {
            if (t->endpoint == endpoint) mine.push_back(t);
        }
        for (auto* t : mine) libusb_cancel_transfer(t);
        changed_.wait(lock, [&] {
            return std::none_of(inFlight_.begin(), inFlight_.end(),
                                [&](libusb_transfer* t) { return t->endpoint == endpoint; });
        });
    }

private:
    libusb_device_handle* handle_;
    std::string path_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::set<libusb_transfer*> inFlight_;
};

struct BulkContext {
    std::shared_ptr<LibusbDevice> device;
    Overlapped* overlapped;
    uint8_t* header;
    uint32_t headerBytes;
};

void LIBUSB_CALL OnBulkDone(libusb_transfer* transfer) {
    auto* context = static_cast<BulkContext*>(transfer->user_data);
    const uint32_t error = ErrorFromLibusbStatus(transfer->status);
    if (error != kErrorSuccess) {
        StoreLe32(context->header + SingleTransfer::kOffsetStatus, error);
        StoreLe32(context->header + SingleTransfer::kOffsetUsbStatus,
                  static_cast<uint32_t>(transfer->status));
    }
    const uint32_t bytes = static_cast<uint32_t>(std::max(transfer->actual_length, 0));
    auto device = context->device;
    auto* overlapped = context->overlapped;
    const uint32_t headerBytes = context->headerBytes;
    delete context;
    device->Untrack(transfer);
    libusb_free_transfer(transfer);
    overlapped->Complete(error, error == kErrorSuccess ? bytes + headerBytes : 0);
}

class LibusbDeviceFile final : public DeviceFile {
public:
    LibusbDeviceFile(std::shared_ptr<LibusbDevice> device, bool overlapped)
        : device_(std::move(device)), overlapped_(overlapped) {}

    bool IsOverlapped() const override { return overlapped_; }
    const std::string& Path() const override { return device_->Path(); }

    uint32_t IoControl(uint32_t code, void* in, uint32_t inSize, void* out, uint32_t outSize,
                       uint32_t* returned, Overlapped* overlapped) override {
        if (returned) *returned = 0;
        uint32_t error = kErrorSuccess;
        auto* inBytes = static_cast<uint8_t*>(in);
        auto* outBytes = static_cast<uint8_t*>(out);
        const auto request = TranslateRequest(code, {inBytes, in ? size_t{inSize} : size_t{0}},
                                              out ? outSize : 0, &error);
        if (!request) return error;
        const bool needsOut = request->kind == LibusbRequest::Kind::Control ||
                              request->kind == LibusbRequest::Kind::GetSpeed ||
                              (request->kind == LibusbRequest::Kind::Bulk && request->length);
        if (needsOut && !outBytes) return kErrorInvalidParameter;
        libusb_device_handle* handle = device_->Handle();
        switch (request->kind) {
            case LibusbRequest::Kind::Control: {
                if (inBytes != outBytes) std::memmove(outBytes, inBytes, kControlRequestSize);
                const int n = libusb_control_transfer(
                    handle, request->requestType, request->request, request->value, request->index,
                    outBytes + request->dataOffset, static_cast<uint16_t>(request->length),
                    request->timeoutMs);
                if (n < 0)
                    return Overlapped::FinishAtOnce(ErrorFromLibusbError(n), returned, overlapped);
                if (returned) *returned = request->dataOffset + static_cast<uint32_t>(n);
                return Overlapped::FinishAtOnce(kErrorSuccess, returned, overlapped);
            }
            case LibusbRequest::Kind::Bulk:
                return Bulk(*request, inBytes, inSize, outBytes, returned, overlapped);
            case LibusbRequest::Kind::AbortPipe:
                device_->Abort(request->endpoint);
                return Overlapped::FinishAtOnce(kErrorSuccess, returned, overlapped);
            case LibusbRequest::Kind::ResetPipe:
                return Overlapped::FinishAtOnce(
                    ErrorFromLibusbError(libusb_clear_halt(handle, request->endpoint)), returned,
                    overlapped);
            case LibusbRequest::Kind::ResetPort:
                return Overlapped::FinishAtOnce(ErrorFromLibusbError(libusb_reset_device(handle)),
                                                returned, overlapped);
            case LibusbRequest::Kind::GetSpeed:
                StoreLe32(outBytes,
                          SpeedCodeFromLibusb(libusb_get_device_speed(libusb_get_device(handle))));
                if (returned) *returned = 4;
                return Overlapped::FinishAtOnce(kErrorSuccess, returned, overlapped);
        }
        return kErrorInvalidParameter;
    }

private:
    uint32_t Bulk(const LibusbRequest& request, uint8_t* in, uint32_t inSize, uint8_t* out,
                  uint32_t* returned, Overlapped* overlapped) {
        uint8_t* data = nullptr;
        if (request.buffered) {
            if (in != out)
                std::memmove(out, in,
                             std::min<size_t>(inSize, request.dataOffset + request.length));
            data = out + request.dataOffset;
        } else {
            data = out;
        }
        StoreLe32(in + SingleTransfer::kOffsetStatus, 0);
        StoreLe32(in + SingleTransfer::kOffsetUsbStatus, 0);
        libusb_transfer* transfer = libusb_alloc_transfer(0);
        if (!transfer) return kErrorGenFailure;

        Event localEvent(true, false);
        std::optional<Overlapped> local;
        Overlapped* record = overlapped ? overlapped : &local.emplace(localEvent);
        auto* context =
            new BulkContext{device_, record, in, request.buffered ? request.dataOffset : 0};
        libusb_fill_bulk_transfer(transfer, device_->Handle(), request.endpoint, data,
                                  static_cast<int>(request.length), OnBulkDone, context, 0);
        const uint8_t endpoint = request.endpoint;
        std::weak_ptr<LibusbDevice> weak = device_;
        record->Begin([weak, endpoint] {
            if (auto device = weak.lock()) device->Abort(endpoint);
        });
        device_->Track(transfer);
        const int submitted = libusb_submit_transfer(transfer);
        if (submitted < 0) {
            device_->Untrack(transfer);
            delete context;
            libusb_free_transfer(transfer);
            record->Complete(ErrorFromLibusbError(submitted), 0);
            return ErrorFromLibusbError(submitted);
        }
        if (overlapped) return kErrorIoPending;
        return record->WaitForResult(returned);
    }

    std::shared_ptr<LibusbDevice> device_;
    bool overlapped_;
};

}  // namespace

struct LibusbPort::Impl {
    libusb_context* context = nullptr;
    std::optional<uint16_t> vendorId;
    std::thread events;
    std::atomic<bool> stopping{false};
    libusb_hotplug_callback_handle hotplug{};
    bool hotplugRegistered = false;
    std::mutex mutex;  // guards open
    std::map<std::string, std::weak_ptr<LibusbDevice>> open;

    std::string PathOf(libusb_device* device) const {
        libusb_device_descriptor descriptor{};
        if (libusb_get_device_descriptor(device, &descriptor) != 0) return {};
        return MakeInterfacePath(descriptor.idVendor, descriptor.idProduct, InstanceOf(device));
    }
    bool IsCamera(libusb_device* device) const {
        libusb_device_descriptor descriptor{};
        return vendorId && libusb_get_device_descriptor(device, &descriptor) == 0 &&
               descriptor.idVendor == *vendorId && IsKnownCameraProduct(descriptor.idProduct);
    }
    static int LIBUSB_CALL OnHotplug(libusb_context*, libusb_device* device,
                                     libusb_hotplug_event event, void* user) {
        auto* impl = static_cast<Impl*>(user);
        if (!impl->IsCamera(device)) return 0;
        HotplugHub::Instance().Notify(event == LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED
                                          ? HotplugEvent::Arrival
                                          : HotplugEvent::Removal,
                                      impl->PathOf(device));
        return 0;
    }
};

LibusbPort& LibusbPort::Instance() {
    static LibusbPort port;
    return port;
}

LibusbPort::LibusbPort() : impl_(std::make_unique<Impl>()) {
    // Without a vendor id there is nothing to look for: no context, no thread.
    impl_->vendorId = CameraVendorIdFromEnvironment();
    if (!impl_->vendorId || libusb_init(&impl_->context) != 0) {
        impl_->context = nullptr;
        return;
    }
    if (libusb_has_capability(LIBUSB_CAP_HAS_HOTPLUG)) {
        impl_->hotplugRegistered =
            libusb_hotplug_register_callback(
                impl_->context,
                static_cast<libusb_hotplug_event>(LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED |
                                                  LIBUSB_HOTPLUG_EVENT_DEVICE_LEFT),
                LIBUSB_HOTPLUG_NO_FLAGS, *impl_->vendorId, LIBUSB_HOTPLUG_MATCH_ANY,
                LIBUSB_HOTPLUG_MATCH_ANY, &Impl::OnHotplug, impl_.get(), &impl_->hotplug) == 0;
    }
    impl_->events = std::thread([impl = impl_.get()] {
        while (!impl->stopping.load()) {
            timeval timeout{0, 100000};
            libusb_handle_events_timeout_completed(impl->context, &timeout, nullptr);
        }
    });
}

LibusbPort::~LibusbPort() {
    if (!impl_->context) return;
    if (impl_->hotplugRegistered)
        libusb_hotplug_deregister_callback(impl_->context, impl_->hotplug);
    impl_->stopping = true;
    if (impl_->events.joinable()) impl_->events.join();
    libusb_exit(impl_->context);
}

std::vector<std::string> LibusbPort::EnumerateInterfaces(const std::string& guid) {
    std::vector<std::string> paths;
    if (!impl_->context || !SameGuid(guid, kCameraInterfaceGuid)) return paths;
    libusb_device** list = nullptr;
    const ssize_t n = libusb_get_device_list(impl_->context, &list);
    for (ssize_t i = 0; i < n; ++i) {
        if (impl_->IsCamera(list[i])) paths.push_back(impl_->PathOf(list[i]));
    }
    if (list) libusb_free_device_list(list, 1);
    return paths;
}

std::unique_ptr<DeviceFile> LibusbPort::Open(const std::string& path, bool overlapped,
                                             uint32_t* error) {
    if (error) *error = kErrorFileNotFound;
    if (!impl_->context) return nullptr;
    std::lock_guard lock(impl_->mutex);
    if (auto it = impl_->open.find(path); it != impl_->open.end()) {
        if (auto device = it->second.lock()) {
            if (error) *error = kErrorSuccess;
            return std::make_unique<LibusbDeviceFile>(std::move(device), overlapped);
        }
        impl_->open.erase(it);
    }
    libusb_device** list = nullptr;
    const ssize_t n = libusb_get_device_list(impl_->context, &list);
    std::shared_ptr<LibusbDevice> opened;
    for (ssize_t i = 0; i < n && !opened; ++i) {
        if (!impl_->IsCamera(list[i]) || impl_->PathOf(list[i]) != path) continue;
        libusb_device_handle* handle = nullptr;
        const int rc = libusb_open(list[i], &handle);
        if (rc != 0) {
            if (error) *error = ErrorFromLibusbError(rc);
            break;
        }
        libusb_set_auto_detach_kernel_driver(handle, 1);
        const int claimed = libusb_claim_interface(handle, kInterfaceNumber);
        if (claimed != 0) {
            if (error) *error = ErrorFromLibusbError(claimed);
            libusb_close(handle);
            break;
        }
        opened = std::make_shared<LibusbDevice>(handle, path);
    }
    if (list) libusb_free_device_list(list, 1);
    if (!opened) return nullptr;
    impl_->open[path] = opened;
    if (error) *error = kErrorSuccess;
    return std::make_unique<LibusbDeviceFile>(std::move(opened), overlapped);
}

}  // namespace lumora::platform
