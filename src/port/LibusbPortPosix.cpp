// Real cameras through libusb.
#include "port/LibusbPort.h"
#include "port/SystemCameraPort.h"

#include <libusb.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cctype>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "platform/Event.h"
#include "platform/Log.h"
#include "port/CameraVendorId.h"

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
// The driver's answers when the camera is held by another process, or not ours to open.
constexpr uint32_t kErrorAccessDenied = 5;

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
            // wLength is the whole data stage, for a request that uses none of it too.
            const auto stage = ControlDataStage(header, in.size(), outSize);
            if (!stage) return fail(kErrorInvalidParameter);
            request.kind = LibusbRequest::Kind::Control;
            request.requestType = header.requestType;
            request.request = header.request;
            request.value = header.value;
            request.index = header.index;
            request.timeoutMs = header.timeoutSeconds * 1000;
            request.length = *stage;
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

// ---- The port ----

namespace {

// How long an opened camera stays open and claimed after its last handle went. The transport
// opens a fresh handle for every control request; without this each of them would open,
// claim and release the camera, and another process could take the interface between two
// requests of a camera this process is using.
constexpr auto kLinger = std::chrono::milliseconds(2000);

// A refused submit is most often the kernel's usbfs memory limit; say so once.
void ReportSubmitFailure(int libusbError) {
    if (libusbError != LIBUSB_ERROR_NO_MEM && libusbError != LIBUSB_ERROR_IO) return;
    static std::atomic<bool> said{false};
    if (!LogEnabled(LogCategory::kPort) || said.exchange(true)) return;
    Log(LogCategory::kPort, 1,
        "lumora: a USB transfer was refused (%s): the kernel's usbfs memory limit is "
        "probably too small for full-size frames. Fix: echo 0 | sudo tee "
        "/sys/module/usbcore/parameters/usbfs_memory_mb (or boot with "
        "usbcore.usbfs_memory_mb=0); `lumora doctor` shows the limit.\n",
        libusb_error_name(libusbError));
}

// One opened camera, shared by every DeviceFile of this process on it: one libusb_open, and
// one claim of the interface, taken by the first request that needs it (a presence check
// opens and closes without claiming). The port closes it, never from a libusb callback, once no
// handle has used it for kLinger. A replugged camera is a new libusb device and so a new object;
// the old one keeps failing for the handles still on it.
// Thread-safe: mutex_ guards inFlight_ and claimed_; lastUse_ is atomic.
class LibusbDevice {
public:
    LibusbDevice(libusb_device* device, libusb_device_handle* handle, std::string path)
        : device_(libusb_ref_device(device)), handle_(handle), path_(std::move(path)) {
        Touch();
    }
    ~LibusbDevice() {
        CancelAll();
        if (claimed_) libusb_release_interface(handle_, kInterfaceNumber);
        libusb_close(handle_);
        libusb_unref_device(device_);
    }
    LibusbDevice(const LibusbDevice&) = delete;
    LibusbDevice& operator=(const LibusbDevice&) = delete;

    libusb_device* Device() const { return device_; }
    libusb_device_handle* Handle() const { return handle_; }
    const std::string& Path() const { return path_; }
    void Touch() { lastUse_.store(std::chrono::steady_clock::now().time_since_epoch().count()); }
    bool IdleFor(std::chrono::steady_clock::duration span) const {
        const auto last =
            std::chrono::steady_clock::time_point(std::chrono::steady_clock::duration(lastUse_));
        return std::chrono::steady_clock::now() - last >= span;
    }

    // Claims the interface for this process once; the driver's error when another process (or
    // another libusb context) holds it.
    uint32_t EnsureClaimed() {
        std::lock_guard lock(mutex_);
        if (claimed_) return kErrorSuccess;
        libusb_set_auto_detach_kernel_driver(handle_, 1);
        const int rc = libusb_claim_interface(handle_, kInterfaceNumber);
        if (rc == LIBUSB_ERROR_BUSY) return kErrorBusy;
        if (rc == LIBUSB_ERROR_ACCESS) return kErrorAccessDenied;
        if (rc != 0) return ErrorFromLibusbError(rc);
        claimed_ = true;
        return kErrorSuccess;
    }

    void Track(libusb_transfer* transfer) {
        std::lock_guard lock(mutex_);
        inFlight_.insert(transfer);
    }
    void Untrack(libusb_transfer* transfer) {
        std::lock_guard lock(mutex_);
        inFlight_.erase(transfer);
        changed_.notify_all();
    }
    // Cancels the transfers of `endpoint` pending now and waits until their callbacks have
    // run; transfers submitted meanwhile are not waited for.
    void Abort(uint8_t endpoint) {
        std::unique_lock lock(mutex_);
        std::vector<libusb_transfer*> mine;
        for (auto* t : inFlight_) {
            if (t->endpoint == endpoint) mine.push_back(t);
        }
        for (auto* t : mine) libusb_cancel_transfer(t);
        changed_.wait(lock, [&] {
            return std::none_of(mine.begin(), mine.end(),
                                [&](libusb_transfer* t) { return inFlight_.contains(t); });
        });
    }

private:
    void CancelAll() {
        std::unique_lock lock(mutex_);
        for (auto* t : inFlight_) libusb_cancel_transfer(t);
        changed_.wait(lock, [&] { return inFlight_.empty(); });
    }

    libusb_device* device_;
    libusb_device_handle* handle_;
    std::string path_;
    std::atomic<std::chrono::steady_clock::rep> lastUse_{0};
    std::mutex mutex_;
    std::condition_variable changed_;
    std::set<libusb_transfer*> inFlight_;
    bool claimed_ = false;
};

// What a bulk transfer's completion needs. It holds no reference to the device: the device is
// not closed while the transfer is in flight (its destructor cancels and waits), and so the
// last reference is never dropped on libusb's event thread.
struct BulkContext {
    LibusbDevice* device;
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
    LibusbDevice* device = context->device;
    Overlapped* overlapped = context->overlapped;
    const uint32_t headerBytes = context->headerBytes;
    delete context;
    // Completed before it stops being tracked, so an abort returns only once its transfers'
    // outcomes are there; freed only after, since an abort may still cancel what it tracks.
    // The device may be closed once the transfer is untracked; freeing does not need it.
    overlapped->Complete(error, error == kErrorSuccess ? bytes + headerBytes : 0);
    device->Untrack(transfer);
    libusb_free_transfer(transfer);
}

class LibusbDeviceFile final : public DeviceFile {
public:
    LibusbDeviceFile(std::shared_ptr<LibusbDevice> device, bool overlapped)
        : device_(std::move(device)), overlapped_(overlapped) {}
    ~LibusbDeviceFile() override { device_->Touch(); }

    bool IsOverlapped() const override { return overlapped_; }
    const std::string& Path() const override { return device_->Path(); }

    uint32_t IoControl(uint32_t code, void* in, uint32_t inSize, void* out, uint32_t outSize,
                       uint32_t* returned, Overlapped* overlapped) override {
        if (returned) *returned = 0;
        device_->Touch();
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
        // Whatever talks to the camera needs it to be ours; the speed and an abort do not.
        if (request->kind != LibusbRequest::Kind::GetSpeed &&
            request->kind != LibusbRequest::Kind::AbortPipe) {
            const uint32_t claimed = device_->EnsureClaimed();
            if (claimed != kErrorSuccess)
                return Overlapped::FinishAtOnce(claimed, returned, overlapped);
        }
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
                          SpeedCodeFromLibusb(libusb_get_device_speed(device_->Device())));
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
        if (!transfer) return Overlapped::FinishAtOnce(kErrorGenFailure, returned, overlapped);

        Event localEvent(true, false);
        std::optional<Overlapped> local;
        Overlapped* record = overlapped ? overlapped : &local.emplace(localEvent);
        auto* context =
            new BulkContext{device_.get(), record, in, request.buffered ? request.dataOffset : 0};
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
            ReportSubmitFailure(submitted);
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

    // The worker closes idle devices and delivers hot-plug events, so neither happens on
    // libusb's event thread. mutex guards open, announcements and quitting.
    std::thread worker;
    std::mutex mutex;
    std::condition_variable wake;
    bool quitting = false;
    std::vector<std::shared_ptr<LibusbDevice>> open;
    std::deque<std::pair<HotplugEvent, std::string>> announcements;

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
        {
            std::lock_guard lock(impl->mutex);
            impl->announcements.emplace_back(event == LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED
                                                 ? HotplugEvent::Arrival
                                                 : HotplugEvent::Removal,
                                             impl->PathOf(device));
        }
        impl->wake.notify_all();
        return 0;
    }
    void Work() {
        std::unique_lock lock(mutex);
        while (!quitting) {
            while (!announcements.empty()) {
                auto [event, path] = announcements.front();
                announcements.pop_front();
                lock.unlock();
                HotplugHub::Instance().Notify(event, path);
                lock.lock();
            }
            std::vector<std::shared_ptr<LibusbDevice>> idle;
            std::erase_if(open, [&](std::shared_ptr<LibusbDevice>& device) {
                if (device.use_count() != 1 || !device->IdleFor(kLinger)) return false;
                idle.push_back(std::move(device));
                return true;
            });
            if (!idle.empty()) {
                lock.unlock();
                idle.clear();  // closes them
                lock.lock();
                continue;
            }
            wake.wait_for(lock, open.empty() ? std::chrono::milliseconds(1000) : kLinger / 8);
        }
    }
};

LibusbPort& LibusbPort::Instance() {
    static LibusbPort port;
    return port;
}

UsbPort& SystemCameraPort() {
    return LibusbPort::Instance();
}

LibusbPort::LibusbPort() : impl_(std::make_unique<Impl>()) {
    // Without a vendor id there is nothing to look for: no context, no thread.
    impl_->vendorId = CameraVendorIdFromEnvironment();
    if (!impl_->vendorId || libusb_init(&impl_->context) != 0) {
        impl_->context = nullptr;
        return;
    }
    impl_->worker = std::thread([impl = impl_.get()] { impl->Work(); });
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
    {
        std::lock_guard lock(impl_->mutex);
        impl_->quitting = true;
    }
    impl_->wake.notify_all();
    if (impl_->worker.joinable()) impl_->worker.join();
    impl_->open.clear();  // handles still held elsewhere keep their devices
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
    std::sort(paths.begin(), paths.end());  // libusb's order is that of discovery
    return paths;
}

std::unique_ptr<DeviceFile> LibusbPort::Open(const std::string& path, bool overlapped,
                                             uint32_t* error) {
    if (error) *error = kErrorFileNotFound;
    if (!impl_->context) return nullptr;
    libusb_device** list = nullptr;
    const ssize_t n = libusb_get_device_list(impl_->context, &list);
    libusb_device* present = nullptr;
    for (ssize_t i = 0; i < n && !present; ++i) {
        if (impl_->IsCamera(list[i]) && impl_->PathOf(list[i]) == path) present = list[i];
    }
    std::shared_ptr<LibusbDevice> device;
    if (present) {
        std::lock_guard lock(impl_->mutex);
        // Only the device now on the path counts: one that was unplugged is another device,
        // even when it came back on the same port.
        for (const auto& candidate : impl_->open) {
            if (candidate->Device() == present) device = candidate;
        }
        if (!device) {
            libusb_device_handle* handle = nullptr;
            const int rc = libusb_open(present, &handle);
            if (rc == 0) {
                device = std::make_shared<LibusbDevice>(present, handle, path);
                impl_->open.push_back(device);
            } else if (error) {
                *error = rc == LIBUSB_ERROR_ACCESS ? kErrorAccessDenied : ErrorFromLibusbError(rc);
            }
        }
        if (device) device->Touch();
    }
    if (list) libusb_free_device_list(list, 1);
    if (!device) return nullptr;
    impl_->wake.notify_all();
    if (error) *error = kErrorSuccess;
    return std::make_unique<LibusbDeviceFile>(std::move(device), overlapped);
}

}  // namespace lumora::platform
