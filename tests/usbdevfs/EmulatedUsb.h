#pragma once
// An emulated kernel USB interface for the real libusb: umockdev provides sysfs, udev and the
// device nodes, and an in-process ioctl handler answers the usbdevfs requests libusb makes
// from a simulated camera's device model. The SDK above libusb runs unchanged.
//
// Threading: umockdev serves every emulated device from one thread of its own, so the handlers
// never block; the simulated cameras complete bulk transfers from their own threads. Each
// EmulatedCamera's mutex_ guards its URB lists and claim state (a std::mutex, so ThreadSanitizer
// sees it); it is never held while calling into the camera model.
#include <atomic>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <vector>

#include "sim/SimCamera.h"

typedef struct _UMockdevTestbed UMockdevTestbed;
typedef struct _UMockdevIoctlBase UMockdevIoctlBase;
typedef struct _UMockdevIoctlClient UMockdevIoctlClient;
typedef struct _UMockdevIoctlData UMockdevIoctlData;

namespace lumora::testing {

// The vendor id the emulated cameras carry (the tests set LUMORA_USB_VENDOR_ID to it).
inline constexpr uint16_t kEmulatedVendorId = 0x1d50;

class EmulatedCamera;

// The testbed: created once per process, before anything asks whether it runs in a mock
// environment (umockdev caches that answer).
class EmulatedBus {
public:
    static EmulatedBus& Instance();
    // True when this process may create the testbed (it runs under umockdev-wrapper).
    static bool Available();

    // Plugs a new simulated camera in on root port `port` of bus 1.
    std::shared_ptr<EmulatedCamera> Plug(int port, const std::string& serial);
    // Removes the camera's device (a "remove" event; pending URBs fail as on a real unplug).
    void Unplug(const std::shared_ptr<EmulatedCamera>& camera);
    // Plugs the same camera back on the same port with a new device number, as the kernel does.
    void Replug(const std::shared_ptr<EmulatedCamera>& camera);

    UMockdevTestbed* Testbed() const { return testbed_; }

private:
    EmulatedBus();
    void AddDevice(EmulatedCamera& camera);
    UMockdevTestbed* testbed_ = nullptr;
    std::mutex mutex_;
    int nextDevnum_ = 2;
};

class EmulatedCamera {
public:
    EmulatedCamera(int port, const std::string& serial);
    ~EmulatedCamera();

    sim::SimCamera& Sim() { return *camera_; }
    int Port() const { return port_; }
    std::string SysPath() const;
    std::string DevNode() const;

    // Reaping of finished bulk URBs can be held back, to stage races in libusb's completion.
    void HoldReaps(bool hold);
    // Interface claims seen so far (CLAIMINTERFACE and DISCONNECT_CLAIM that succeeded).
    int Claims() const { return claims_.load(); }
    int Releases() const { return releases_.load(); }
    bool Claimed() const;
    int SubmittedUrbs() const { return submitted_.load(); }

private:
    friend class EmulatedBus;
    struct Urb;
    class Transfer;

    void Attach(UMockdevTestbed* testbed, int devnum);
    static int OnIoctl(UMockdevIoctlBase* handler, UMockdevIoctlClient* client, void* self);
    static void OnVanished(UMockdevIoctlBase* handler, UMockdevIoctlClient* client, void* self);
    void HandleIoctl(UMockdevIoctlClient* client);
    void Submit(UMockdevIoctlClient* client);
    void Reap(UMockdevIoctlClient* client, bool wait);
    void Discard(UMockdevIoctlClient* client);
    void Claim(UMockdevIoctlClient* client, unsigned int interface, bool reportBusy);
    void Finish(const std::shared_ptr<Urb>& urb, int status, int actual);
    // Whether libusb's poll on the node reports a reapable URB (call under mutex_).
    void UpdateReadinessLocked();
    bool CompleteReapLocked(UMockdevIoctlClient* client);

    int port_;
    int devnum_ = 0;
    std::shared_ptr<sim::SimCamera> camera_;
    UMockdevIoctlBase* handler_ = nullptr;

    mutable std::mutex mutex_;
    // Every node this camera had (a replug gives a new one); our end of each FIFO and whether
    // it polls writable now.
    std::map<std::string, int> fifos_;
    std::map<std::string, bool> ready_;
    std::string currentNode_;
    bool present_ = false;
    bool holdReaps_ = false;
    std::vector<std::shared_ptr<Urb>> pending_;
    std::deque<std::shared_ptr<Urb>> reapable_;
    std::vector<UMockdevIoctlClient*> waitingReapers_;
    UMockdevIoctlClient* claimant_ = nullptr;
    std::atomic<int> claims_{0};
    std::atomic<int> releases_{0};
    std::atomic<int> submitted_{0};
};

}  // namespace lumora::testing
