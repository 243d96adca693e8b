#pragma once
// The USB port: what the transport expects of the camera's kernel driver. It lists the
// device-interface paths of a class GUID, opens a path, and carries out the driver's I/O control
// requests, synchronously or with overlapped completion (an event, a result to poll, an abort
// that completes what is pending). Backends: simulated cameras (SimPort) and real ones
// (libusb on POSIX systems, the kernel driver on Windows); ActivePort() joins both.
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/Event.h"
#include "port/UsbIoctl.h"

namespace lumora::platform {

// The camera's device interface class.
inline constexpr const char* kCameraInterfaceGuid = "{328184c5-93e6-49b7-94b8-2ada13aabb39}";

// Builds "\\?\usb#vid_XXXX&pid_XXXX#<instance>#{guid}" (hex digits in lower case).
std::string MakeInterfacePath(uint16_t vendorId, uint16_t productId, const std::string& instance,
                              const std::string& guid = kCameraInterfaceGuid);

// Completion record of one overlapped request. The backend signals `event` when the request
// completes. Destroying a record whose request is still pending cancels that request and waits
// for it, so a backend never writes into a released buffer or event.
// Thread-safe: mutex_ guards every field; the backend completes from any thread.
class Overlapped {
public:
    explicit Overlapped(Event& event) : event_(event) {}
    ~Overlapped();
    Overlapped(const Overlapped&) = delete;
    Overlapped& operator=(const Overlapped&) = delete;

    Event& CompletionEvent() const { return event_; }
    bool IsPending() const;
    // The result without waiting: true with the byte count when the request completed without
    // error; false with the request's error, or kErrorIoIncomplete while it is still pending.
    bool GetResult(uint32_t* bytes, uint32_t* error) const;
    // Blocks until the request is no longer pending.
    void WaitUntilDone() const;
    // Blocks until the request is done; returns its error and stores its byte count through
    // `returned` when that is non-null.
    uint32_t WaitForResult(uint32_t* returned) const;

    // Backend side. Begin marks the record pending; `cancel` aborts the request (it may
    // complete it synchronously). Complete stores the outcome and signals the event; it is
    // called exactly once per Begin and the backend touches nothing of the record afterwards.
    void Begin(std::function<void()> cancel);
    void Complete(uint32_t error, uint32_t bytes);
    // A request that finished at once still completes its overlapped record, as the driver
    // does; `overlapped` may be null. Returns `error`.
    static uint32_t FinishAtOnce(uint32_t error, uint32_t* returned, Overlapped* overlapped);

private:
    Event& event_;
    mutable std::mutex mutex_;
    mutable std::condition_variable done_;
    bool pending_ = false;
    uint32_t error_ = kErrorSuccess;
    uint32_t bytes_ = 0;
    std::function<void()> cancel_;
};

// An open device path (a file handle to the driver). Thread-safe: requests may be issued from
// several threads at once, as the driver allows.
class DeviceFile {
public:
    virtual ~DeviceFile() = default;
    // Issues one I/O control request. Without `overlapped` the call returns when the request is
    // done: kErrorSuccess with *returned set, or an error. With `overlapped` it may also return
    // kErrorIoPending; completion then comes through the record, and `in`/`out` must stay valid
    // until then. As the driver does, a transfer writes its status words back into the
    // SingleTransfer header it was given in `in`.
    virtual uint32_t IoControl(uint32_t code, void* in, uint32_t inSize, void* out,
                               uint32_t outSize, uint32_t* returned, Overlapped* overlapped) = 0;
    virtual bool IsOverlapped() const = 0;
    virtual const std::string& Path() const = 0;
};

enum class HotplugEvent { Arrival, Removal };
using HotplugCallback = std::function<void(HotplugEvent event, const std::string& path)>;

class UsbPort {
public:
    virtual ~UsbPort() = default;
    // Paths of the present device interfaces of `guid`, in a stable order.
    virtual std::vector<std::string> EnumerateInterfaces(const std::string& guid) = 0;
    // Opens a path; null with *error set (kErrorFileNotFound when nothing answers there).
    virtual std::unique_ptr<DeviceFile> Open(const std::string& path, bool overlapped,
                                             uint32_t* error) = 0;
};

// Hot-plug subscriptions, shared by every backend. Callbacks run on the thread that noticed the
// change, one at a time; they must not block. After Unsubscribe returns the callback is not
// running and will not run again (unless Unsubscribe is called from the callback itself).
// Thread-safe: dispatchMutex_ serialises delivery and removal; listMutex_ guards the list.
class HotplugHub {
public:
    static HotplugHub& Instance();
    int Subscribe(HotplugCallback callback);
    void Unsubscribe(int token);
    void Notify(HotplugEvent event, const std::string& path);

private:
    std::recursive_mutex dispatchMutex_;
    std::mutex listMutex_;
    std::vector<std::pair<int, std::shared_ptr<HotplugCallback>>> callbacks_;
    int nextToken_ = 1;
};

inline int SubscribeHotplug(HotplugCallback callback) {
    return HotplugHub::Instance().Subscribe(std::move(callback));
}
inline void UnsubscribeHotplug(int token) {
    HotplugHub::Instance().Unsubscribe(token);
}

}  // namespace lumora::platform
