// The emulated usbdevfs: sysfs and udev records through umockdev, URBs answered from the
// simulated camera.
#include "tests/usbdevfs/EmulatedUsb.h"

#include <errno.h>
#include <fcntl.h>
#include <linux/usbdevice_fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <umockdev.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <stdexcept>
#include <utility>

#include "platform/LittleEndian.h"

namespace lumora::testing {
namespace {

// usbdevfs capability bits libusb asks for: whole bulk transfers in one URB, and reaping of
// what finished before a disconnect.
constexpr uint32_t kCapZeroPacket = 0x01;
constexpr uint32_t kCapNoPacketSizeLimit = 0x04;
constexpr uint32_t kCapBulkScatterGather = 0x08;
constexpr uint32_t kCapReapAfterDisconnect = 0x10;

// The device node polls writable while a URB waits to be reaped. A FIFO of one page does
// that: full (not writable) while nothing is reapable, one page drained while something is.
constexpr int kPipePage = 4096;

unsigned long Request(unsigned long code) {
    return code;
}

// Device, configuration, interface and three bulk endpoints (0x01 out, 0x81 and 0x83 in) with
// their SuperSpeed companions.
std::vector<uint8_t> Descriptors(uint16_t vendorId, uint16_t productId) {
    std::vector<uint8_t> d = {18,
                              1,
                              0x00,
                              0x03,
                              0x00,
                              0x00,
                              0x00,
                              9,
                              static_cast<uint8_t>(vendorId & 0xFF),
                              static_cast<uint8_t>(vendorId >> 8),
                              static_cast<uint8_t>(productId & 0xFF),
                              static_cast<uint8_t>(productId >> 8),
                              0x00,
                              0x01,
                              0,
                              0,
                              0,
                              1};
    const std::vector<uint8_t> config = {9, 2, 57, 0, 1, 1,    0, 0x80, 50,
                                         9, 4, 0,  0, 3, 0xFF, 0, 0,    0};
    d.insert(d.end(), config.begin(), config.end());
    for (uint8_t endpoint : {uint8_t{0x01}, uint8_t{0x81}, uint8_t{0x83}}) {
        const std::vector<uint8_t> e = {7, 5, endpoint, 2, 0x00, 0x04, 0, 6, 0x30, 0, 0, 0, 0};
        d.insert(d.end(), e.begin(), e.end());
    }
    return d;
}

std::string Hex(const std::vector<uint8_t>& bytes) {
    std::string text;
    char two[3];
    for (uint8_t b : bytes) {
        std::snprintf(two, sizeof two, "%02x", b);
        text += two;
    }
    return text;
}

int StatusFromError(uint32_t error) {
    switch (error) {
        case platform::kErrorSuccess:
            return 0;
        case platform::kErrorOperationAborted:
            return -ENOENT;  // discarded
        case platform::kErrorDeviceNotConnected:
            return -ENODEV;
        default:
            return -EPIPE;  // the endpoint stalled
    }
}

}  // namespace

// One submitted URB: the client's memory for it (kept until reaped) and its outcome.
struct EmulatedCamera::Urb {
    UMockdevIoctlClient* client = nullptr;
    std::string devnode;
    UMockdevIoctlData* urbData = nullptr;
    UMockdevIoctlData* bufferData = nullptr;
    unsigned long clientAddress = 0;
    uint8_t endpoint = 0;
    bool discarded = false;
    int status = 0;
    int actual = 0;
    ~Urb() {
        if (bufferData) g_object_unref(bufferData);
        if (urbData) g_object_unref(urbData);
    }
};

class EmulatedCamera::Transfer final : public platform::SimBulkTransfer {
public:
    Transfer(EmulatedCamera& owner, std::shared_ptr<Urb> urb, uint8_t endpoint,
             std::span<uint8_t> data)
        : SimBulkTransfer(endpoint, data), owner_(owner), urb_(std::move(urb)) {}
    void Complete(uint32_t error, uint32_t bytes) override {
        owner_.Finish(urb_, StatusFromError(error), static_cast<int>(bytes));
    }

private:
    EmulatedCamera& owner_;
    std::shared_ptr<Urb> urb_;
};

// ---- The bus ----

bool EmulatedBus::Available() {
    const char* preload = std::getenv("LD_PRELOAD");
    return preload && std::strstr(preload, "umockdev") != nullptr;
}

EmulatedBus& EmulatedBus::Instance() {
    static EmulatedBus bus;
    return bus;
}

EmulatedBus::EmulatedBus() {
    testbed_ = umockdev_testbed_new();
    if (!umockdev_in_mock_environment()) {
        std::fprintf(stderr, "usbdevfs bench: not in a umockdev environment\n");
        std::abort();
    }
}

std::shared_ptr<EmulatedCamera> EmulatedBus::Plug(int port, const std::string& serial) {
    auto camera = std::make_shared<EmulatedCamera>(port, serial);
    AddDevice(*camera);
    return camera;
}

void EmulatedBus::AddDevice(EmulatedCamera& camera) {
    int devnum = 0;
    {
        std::lock_guard lock(mutex_);
        devnum = nextDevnum_++;
    }
    camera.devnum_ = devnum;
    const auto& identity = camera.camera_->Identity();
    char node[32];
    std::snprintf(node, sizeof node, "bus/usb/001/%03d", devnum);
    char ids[16];
    std::snprintf(ids, sizeof ids, "%04x", identity.vendorId);
    const std::string vendor = ids;
    std::snprintf(ids, sizeof ids, "%04x", identity.productId);
    const std::string product = ids;
    const std::string record =
        "P: " + camera.SysPath() + "\nN: " + node + "\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\n" +
        "E: DEVNAME=/dev/" + node + "\nE: BUSNUM=001\nE: DEVNUM=" + std::string(node + 12) +
        "\nE: PRODUCT=" + vendor + "/" + product +
        "/100\nA: busnum=1\nA: devnum=" + std::to_string(devnum) +
        "\nA: speed=5000\nA: bConfigurationValue=1\n" +
        "A: bNumConfigurations=1\nA: idVendor=" + vendor + "\nA: idProduct=" + product +
        "\nA: serial=" + identity.serialNumber +
        "\nH: descriptors=" + Hex(Descriptors(identity.vendorId, identity.productId)) + "\n";
    camera.Attach(testbed_, devnum);
    GError* error = nullptr;
    // The whole record goes in at once, so the "add" event never precedes the descriptors.
    if (!umockdev_testbed_add_from_string(testbed_, record.c_str(), &error)) {
        std::fprintf(stderr, "usbdevfs bench: %s\n", error ? error->message : "add failed");
        std::abort();
    }
}

void EmulatedBus::Unplug(const std::shared_ptr<EmulatedCamera>& camera) {
    {
        std::lock_guard lock(camera->mutex_);
        camera->present_ = false;
        camera->claimant_ = nullptr;  // claims end with the device
    }
    camera->camera_->Disconnect();
    const std::string sys = "/sys" + camera->SysPath();
    umockdev_testbed_uevent(testbed_, sys.c_str(), "remove");
    umockdev_testbed_remove_device(testbed_, sys.c_str());
}

void EmulatedBus::Replug(const std::shared_ptr<EmulatedCamera>& camera) {
    camera->camera_->PowerOn();
    AddDevice(*camera);
}

// ---- One camera ----

EmulatedCamera::EmulatedCamera(int port, const std::string& serial) : port_(port) {
    sim::SimCameraIdentity identity;
    identity.index = port;
    identity.vendorId = kEmulatedVendorId;
    identity.serialNumber = serial;
    camera_ = std::make_shared<sim::SimCamera>(identity);
}

EmulatedCamera::~EmulatedCamera() {
    camera_->Disconnect();
    camera_.reset();
    for (auto& [node, fd] : fifos_) ::close(fd);
}

std::string EmulatedCamera::SysPath() const {
    return "/devices/lumora-bench/usb1/1-" + std::to_string(port_);
}

std::string EmulatedCamera::DevNode() const {
    std::lock_guard lock(mutex_);
    return currentNode_;
}

bool EmulatedCamera::Claimed() const {
    std::lock_guard lock(mutex_);
    return claimant_ != nullptr;
}

void EmulatedCamera::HoldReaps(bool hold) {
    std::lock_guard lock(mutex_);
    holdReaps_ = hold;
    if (!hold) {
        for (auto* client : std::exchange(waitingReapers_, {})) {
            if (!CompleteReapLocked(client)) waitingReapers_.push_back(client);
        }
    }
    UpdateReadinessLocked();
}

void EmulatedCamera::Attach(UMockdevTestbed* testbed, int devnum) {
    char node[32];
    std::snprintf(node, sizeof node, "/dev/bus/usb/001/%03d", devnum);
    const std::string root = umockdev_testbed_get_root_dir(testbed);
    const std::string dir = root + "/dev/bus/usb/001";
    std::string partial;
    for (const char* part : {"/dev", "/dev/bus", "/dev/bus/usb", "/dev/bus/usb/001"}) {
        partial = root + part;
        ::mkdir(partial.c_str(), 0755);
    }
    const std::string file = root + node;
    ::unlink(file.c_str());
    if (::mkfifo(file.c_str(), 0666) != 0) throw std::runtime_error("mkfifo " + file);
    const int fd = ::open(file.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) throw std::runtime_error("open " + file);
    ::fcntl(fd, F_SETPIPE_SZ, kPipePage);
    std::array<char, kPipePage> fill{};
    while (::write(fd, fill.data(), fill.size()) > 0) {
    }
    if (!handler_) {
        handler_ = umockdev_ioctl_base_new();
        g_signal_connect(handler_, "handle-ioctl", G_CALLBACK(&EmulatedCamera::OnIoctl), this);
        g_signal_connect(handler_, "client-vanished", G_CALLBACK(&EmulatedCamera::OnVanished),
                         this);
    }
    GError* error = nullptr;
    if (!umockdev_testbed_attach_ioctl(testbed, node, handler_, &error)) {
        std::fprintf(stderr, "usbdevfs bench: %s\n", error ? error->message : "attach failed");
        std::abort();
    }
    std::lock_guard lock(mutex_);
    fifos_[node] = fd;
    ready_[node] = false;
    currentNode_ = node;
    present_ = true;
}

int EmulatedCamera::OnIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, void* self) {
    static_cast<EmulatedCamera*>(self)->HandleIoctl(client);
    return TRUE;
}

void EmulatedCamera::OnVanished(UMockdevIoctlBase*, UMockdevIoctlClient* client, void* self) {
    auto* camera = static_cast<EmulatedCamera*>(self);
    std::lock_guard lock(camera->mutex_);
    if (camera->claimant_ == client) camera->claimant_ = nullptr;
    std::erase(camera->waitingReapers_, client);
    std::erase_if(camera->reapable_, [&](const auto& urb) { return urb->client == client; });
    for (auto& urb : camera->pending_) {
        if (urb->client == client) urb->client = nullptr;
    }
    camera->UpdateReadinessLocked();
}

void EmulatedCamera::HandleIoctl(UMockdevIoctlClient* client) {
    const unsigned long request = umockdev_ioctl_client_get_request(client);
    const std::string node = umockdev_ioctl_client_get_devnode(client);
    bool live = false;
    {
        std::lock_guard lock(mutex_);
        live = present_ && node == currentNode_;
    }
    // What a device that has gone still answers: reaping what finished, and nothing else.
    if (request == Request(USBDEVFS_REAPURB) || request == Request(USBDEVFS_REAPURBNDELAY)) {
        Reap(client, request == Request(USBDEVFS_REAPURB) && live);
        return;
    }
    if (!live) {
        umockdev_ioctl_client_complete(client, -1, ENODEV);
        return;
    }
    UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
    GError* error = nullptr;
    if (request == Request(USBDEVFS_SUBMITURB)) {
        Submit(client);
    } else if (request == Request(USBDEVFS_DISCARDURB)) {
        Discard(client);
    } else if (request == Request(USBDEVFS_GET_CAPABILITIES)) {
        UMockdevIoctlData* caps = umockdev_ioctl_data_resolve(arg, 0, sizeof(uint32_t), &error);
        platform::StoreLe32(caps->data, kCapZeroPacket | kCapNoPacketSizeLimit |
                                            kCapBulkScatterGather | kCapReapAfterDisconnect);
        umockdev_ioctl_client_complete(client, 0, 0);
        g_object_unref(caps);
    } else if (request == Request(USBDEVFS_CLAIMINTERFACE)) {
        UMockdevIoctlData* number = umockdev_ioctl_data_resolve(arg, 0, sizeof(unsigned), &error);
        Claim(client, platform::LoadLe32(number->data), true);
        g_object_unref(number);
    } else if (request == Request(USBDEVFS_DISCONNECT_CLAIM)) {
        UMockdevIoctlData* claim =
            umockdev_ioctl_data_resolve(arg, 0, sizeof(usbdevfs_disconnect_claim), &error);
        Claim(client, platform::LoadLe32(claim->data), true);
        g_object_unref(claim);
    } else if (request == Request(USBDEVFS_RELEASEINTERFACE)) {
        std::lock_guard lock(mutex_);
        if (claimant_ == client) {
            claimant_ = nullptr;
            ++releases_;
            umockdev_ioctl_client_complete(client, 0, 0);
        } else {
            umockdev_ioctl_client_complete(client, -1, EINVAL);
        }
    } else if (request == Request(USBDEVFS_GETDRIVER) || request == Request(USBDEVFS_IOCTL)) {
        umockdev_ioctl_client_complete(client, -1, ENODATA);  // no kernel driver bound
    } else if (request == Request(USBDEVFS_CLEAR_HALT)) {
        UMockdevIoctlData* ep = umockdev_ioctl_data_resolve(arg, 0, sizeof(unsigned), &error);
        const bool ok = camera_->ResetEndpoint(static_cast<uint8_t>(platform::LoadLe32(ep->data)));
        g_object_unref(ep);
        umockdev_ioctl_client_complete(client, ok ? 0 : -1, ok ? 0 : ENODEV);
    } else if (request == Request(USBDEVFS_RESET)) {
        const bool ok = camera_->ResetPort();
        umockdev_ioctl_client_complete(client, ok ? 0 : -1, ok ? 0 : ENODEV);
    } else if (request == Request(USBDEVFS_CONNECTINFO)) {
        UMockdevIoctlData* info =
            umockdev_ioctl_data_resolve(arg, 0, sizeof(usbdevfs_connectinfo), &error);
        usbdevfs_connectinfo value{static_cast<unsigned>(devnum_), 0};
        std::memcpy(info->data, &value, sizeof value);
        umockdev_ioctl_client_complete(client, 0, 0);
        g_object_unref(info);
    } else {
        std::fprintf(stderr, "usbdevfs bench: unexpected ioctl 0x%lx\n", request);
        umockdev_ioctl_client_complete(client, -1, ENOTTY);
    }
    if (error) g_error_free(error);
}

void EmulatedCamera::Claim(UMockdevIoctlClient* client, unsigned int interface, bool) {
    std::lock_guard lock(mutex_);
    if (interface != 0) {
        umockdev_ioctl_client_complete(client, -1, ENOENT);
        return;
    }
    if (claimant_ && claimant_ != client) {
        umockdev_ioctl_client_complete(client, -1, EBUSY);
        return;
    }
    if (!claimant_) ++claims_;
    claimant_ = client;
    umockdev_ioctl_client_complete(client, 0, 0);
}

void EmulatedCamera::Submit(UMockdevIoctlClient* client) {
    UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
    GError* error = nullptr;
    auto urb = std::make_shared<Urb>();
    urb->client = client;
    urb->devnode = umockdev_ioctl_client_get_devnode(client);
    urb->urbData = umockdev_ioctl_data_resolve(arg, 0, sizeof(usbdevfs_urb), &error);
    if (!urb->urbData) {
        umockdev_ioctl_client_complete(client, -1, EFAULT);
        if (error) g_error_free(error);
        return;
    }
    urb->clientAddress = urb->urbData->client_addr;
    usbdevfs_urb header{};
    std::memcpy(&header, urb->urbData->data, sizeof header);
    if (header.buffer_length > 0) {
        urb->bufferData =
            umockdev_ioctl_data_resolve(urb->urbData, offsetof(usbdevfs_urb, buffer),
                                        static_cast<size_t>(header.buffer_length), &error);
        if (!urb->bufferData) {
            umockdev_ioctl_client_complete(client, -1, EFAULT);
            if (error) g_error_free(error);
            return;
        }
    }
    urb->endpoint = header.endpoint;
    std::span<uint8_t> buffer;
    if (urb->bufferData)
        buffer = {urb->bufferData->data, static_cast<size_t>(urb->bufferData->data_len)};
    ++submitted_;

    if (header.type == USBDEVFS_URB_TYPE_CONTROL) {
        if (buffer.size() < 8) {
            umockdev_ioctl_client_complete(client, -1, EINVAL);
            return;
        }
        platform::ControlSetup setup;
        setup.requestType = buffer[0];
        setup.request = buffer[1];
        setup.value = platform::LoadLe16(buffer.data() + 2);
        setup.index = platform::LoadLe16(buffer.data() + 4);
        setup.length = static_cast<uint16_t>(
            std::min<size_t>(platform::LoadLe16(buffer.data() + 6), buffer.size() - 8));
        umockdev_ioctl_client_complete(client, 0, 0);
        const int n = camera_->ControlTransfer(setup, buffer.subspan(8, setup.length));
        {
            std::lock_guard lock(mutex_);
            pending_.push_back(urb);
        }
        Finish(urb, n < 0 ? -EPIPE : 0, std::max(n, 0));
        return;
    }
    if (header.type != USBDEVFS_URB_TYPE_BULK) {
        umockdev_ioctl_client_complete(client, -1, EINVAL);
        return;
    }
    {
        std::lock_guard lock(mutex_);
        pending_.push_back(urb);
    }
    umockdev_ioctl_client_complete(client, 0, 0);
    camera_->SubmitBulk(std::make_shared<Transfer>(*this, urb, header.endpoint, buffer));
}

void EmulatedCamera::Finish(const std::shared_ptr<Urb>& urb, int status, int actual) {
    std::lock_guard lock(mutex_);
    auto it = std::find(pending_.begin(), pending_.end(), urb);
    if (it == pending_.end()) return;
    pending_.erase(it);
    if (!urb->client) return;  // its file was closed
    urb->status = urb->discarded && status == 0 ? -ENOENT : status;
    urb->actual = actual;
    reapable_.push_back(urb);
    for (auto itw = waitingReapers_.begin(); itw != waitingReapers_.end(); ++itw) {
        if (*itw == urb->client && !holdReaps_) {
            UMockdevIoctlClient* client = *itw;
            waitingReapers_.erase(itw);
            CompleteReapLocked(client);
            break;
        }
    }
    UpdateReadinessLocked();
}

bool EmulatedCamera::CompleteReapLocked(UMockdevIoctlClient* client) {
    if (holdReaps_) return false;
    auto it = std::find_if(reapable_.begin(), reapable_.end(),
                           [&](const auto& urb) { return urb->client == client; });
    if (it == reapable_.end()) return false;
    auto urb = *it;
    reapable_.erase(it);
    auto* header = reinterpret_cast<usbdevfs_urb*>(urb->urbData->data);
    header->status = urb->status;
    header->actual_length = urb->actual;
    GError* error = nullptr;
    UMockdevIoctlData* slot = umockdev_ioctl_data_resolve(umockdev_ioctl_client_get_arg(client), 0,
                                                          sizeof(void*), &error);
    umockdev_ioctl_data_set_ptr(slot, 0, urb->urbData);
    umockdev_ioctl_client_complete(client, 0, 0);
    g_object_unref(slot);
    if (error) g_error_free(error);
    UpdateReadinessLocked();
    return true;
}

void EmulatedCamera::Reap(UMockdevIoctlClient* client, bool wait) {
    std::lock_guard lock(mutex_);
    if (CompleteReapLocked(client)) return;
    const std::string node = umockdev_ioctl_client_get_devnode(client);
    if (!present_ || node != currentNode_) {
        umockdev_ioctl_client_complete(client, -1, ENODEV);
    } else if (wait) {
        waitingReapers_.push_back(client);
    } else {
        umockdev_ioctl_client_complete(client, -1, EAGAIN);
    }
}

void EmulatedCamera::Discard(UMockdevIoctlClient* client) {
    UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
    unsigned long address = 0;
    std::memcpy(&address, arg->data, sizeof address);
    uint8_t endpoint = 0;
    {
        std::lock_guard lock(mutex_);
        auto it = std::find_if(pending_.begin(), pending_.end(), [&](const auto& urb) {
            return urb->client == client && urb->clientAddress == address;
        });
        if (it == pending_.end()) {
            umockdev_ioctl_client_complete(client, -1, EINVAL);
            return;
        }
        (*it)->discarded = true;
        endpoint = (*it)->endpoint;
        umockdev_ioctl_client_complete(client, 0, 0);
    }
    camera_->AbortEndpoint(endpoint);
}

void EmulatedCamera::UpdateReadinessLocked() {
    for (auto& [node, fd] : fifos_) {
        bool want = false;
        if (!holdReaps_) {
            for (const auto& urb : reapable_) want = want || urb->devnode == node;
        }
        bool& ready = ready_[node];
        if (want == ready) continue;
        std::array<char, kPipePage> page{};
        if (want) {
            if (::read(fd, page.data(), page.size()) > 0) ready = true;
        } else {
            if (::write(fd, page.data(), page.size()) > 0) ready = false;
        }
    }
}

}  // namespace lumora::testing
