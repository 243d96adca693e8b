#pragma once
// Notices of device interfaces arriving and leaving, as the operating system gives them.
//
// On Windows the system tells windows registered for an interface class itself
// (WM_DEVICECHANGE), and a listener of the SDK's own turns the same notices into calls. On POSIX
// systems nobody registers with the system: the USB backend watches the bus (libusb's hot-plug
// callbacks) and the SDK posts the notices to its targets.
#include <functional>
#include <memory>
#include <string>

#include "lumora/lumora.h"

namespace lumora::platform {

// Registers `window` for arrival and removal notices of interfaces of `interfaceClass`
// ("{xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}"). True where the system has nothing to register
// (POSIX, or a target the SDK made) or the registration succeeded.
bool RegisterDeviceNotices(HWND window, const std::string& interfaceClass);
// True when the system itself tells `window` of device notices (a window of the system); the
// SDK then posts it none.
bool SystemDeliversDeviceNotices(HWND window);

#if defined(_WIN32)
// Calls `handler` for each arrival (true) or removal (false) of an interface of a class, with
// the interface's path in lower case, on a thread of its own: the window it makes there is
// registered for the class and hears the system's WM_DEVICECHANGE.
class DeviceNoticeListener {
public:
    using Handler = std::function<void(bool arrival, const std::string& path)>;
    DeviceNoticeListener(const std::string& interfaceClass, Handler handler);
    ~DeviceNoticeListener();
    DeviceNoticeListener(const DeviceNoticeListener&) = delete;
    DeviceNoticeListener& operator=(const DeviceNoticeListener&) = delete;

    // The window the system sends the notices to (tests send their own); null where none.
    HWND Window() const;
    // Whether the system accepted the window's registration.
    bool Registered() const;

    struct Impl;

private:
    std::unique_ptr<Impl> impl_;
};
#endif

}  // namespace lumora::platform
