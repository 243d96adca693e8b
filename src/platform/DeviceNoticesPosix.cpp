// POSIX systems register nobody for device notices: the USB backend's own watch of the bus
// stands for them.
#include "platform/DeviceNotices.h"

namespace lumora::platform {

bool RegisterDeviceNotices(HWND, const std::string&) {
    return true;
}

bool SystemDeliversDeviceNotices(HWND) {
    return false;
}

}  // namespace lumora::platform
