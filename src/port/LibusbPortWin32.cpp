// Windows has no libusb: real cameras there are the kernel driver's, reached through SetupAPI
// and DeviceIoControl, a backend of its own that this build does not have yet. Until then the
// Windows build sees only simulated cameras, and this port finds nothing. What the system says
// of real cameras arriving and leaving is heard already, and reaches the SDK as libusb's
// hot-plug callbacks do on Linux.
#include "platform/DeviceNotices.h"
#include "port/LibusbPort.h"

namespace lumora::platform {

struct LibusbPort::Impl {
    DeviceNoticeListener notices{kCameraInterfaceGuid, [](bool arrival, const std::string& path) {
                                     HotplugHub::Instance().Notify(
                                         arrival ? HotplugEvent::Arrival : HotplugEvent::Removal,
                                         path);
                                 }};
};

LibusbPort::LibusbPort() : impl_(std::make_unique<Impl>()) {}
LibusbPort::~LibusbPort() = default;

LibusbPort& LibusbPort::Instance() {
    static LibusbPort port;
    return port;
}

std::vector<std::string> LibusbPort::EnumerateInterfaces(const std::string&) {
    return {};
}

std::unique_ptr<DeviceFile> LibusbPort::Open(const std::string&, bool, uint32_t* error) {
    if (error != nullptr) *error = kErrorFileNotFound;
    return nullptr;
}

}  // namespace lumora::platform
