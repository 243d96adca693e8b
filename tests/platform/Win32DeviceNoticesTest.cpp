// Device arrival and removal on Windows: an application's notification window is registered
// with the system for the camera's interface class, and the system's WM_DEVICECHANGE for that
// class reaches the same handling as a hot-plug event of the USB backend on Linux.
#if defined(_WIN32)

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "Win32TestWindow.h"
#include "lumora/host.h"
#include "lumora/lumora.h"
#include "platform/DeviceNotices.h"
#include "platform/Win32Api.h"
#include "port/ActivePort.h"
#include "port/UsbPort.h"
// clang-format off
#include <dbt.h>
// clang-format on

namespace lumora::platform {
namespace {

constexpr UINT kDeviceChange = 0x0219;
constexpr UINT kMarker = WM_APP + 7;  // logged as kMarkerEntry
constexpr WPARAM kMarkerEntry = 0xFFFF;

// An application's window that keeps the device notices its procedure saw.
struct AppWindow : RecordingWindow<WPARAM> {
    AppWindow()
        : RecordingWindow([](UINT message, WPARAM wParam, LPARAM) -> std::optional<WPARAM> {
              if (message == kMarker) return kMarkerEntry;
              if (message == kDeviceChange) return wParam;
              return std::nullopt;
          }) {}
};

// The system's notice of an interface of `classGuid` at `path`; `size` overrides the size the
// header gives.
std::vector<unsigned char> Notice(const GUID& classGuid, const std::string& path,
                                  DWORD size = 0) {
    const size_t full = offsetof(DEV_BROADCAST_DEVICEINTERFACE_A, dbcc_name) + path.size() + 1;
    std::vector<unsigned char> bytes(std::max(full, sizeof(DEV_BROADCAST_DEVICEINTERFACE_A)), 0);
    auto* notice = reinterpret_cast<DEV_BROADCAST_DEVICEINTERFACE_A*>(bytes.data());
    notice->dbcc_size = size != 0 ? size : static_cast<DWORD>(full);
    notice->dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    notice->dbcc_classguid = classGuid;
    std::memcpy(notice->dbcc_name, path.data(), path.size());
    return bytes;
}

// {328184C5-93E6-49B7-94B8-2ADA13AABB39}, the camera's interface class.
constexpr GUID kCameraClass = {0x328184C5, 0x93E6, 0x49B7,
                               {0x94, 0xB8, 0x2A, 0xDA, 0x13, 0xAA, 0xBB, 0x39}};
constexpr GUID kOtherClass = {0xA5DCBF10, 0x6530, 0x11D2,
                              {0x90, 0x1F, 0x00, 0xC0, 0x4F, 0xB9, 0x51, 0xED}};
constexpr const char* kPath =
    "\\\\?\\USB#VID_04B4&PID_3380#SN0001#{328184C5-93E6-49B7-94B8-2ADA13AABB39}";
constexpr const char* kLowerPath =
    "\\\\?\\usb#vid_04b4&pid_3380#sn0001#{328184c5-93e6-49b7-94b8-2ada13aabb39}";

// The SDK's window for the system's notices, made with the backend of real cameras.
HWND ListenerWindow() {
    ActivePort().EnumerateInterfaces(kCameraInterfaceGuid);
    return ::FindWindowExA(HWND_MESSAGE, nullptr, "LumoraDeviceNotices", nullptr);
}

struct Heard {
    HotplugEvent event;
    std::string path;
};

// What the hub delivers while it lives.
class HubRecorder {
public:
    HubRecorder() {
        token_ = SubscribeHotplug([this](HotplugEvent event, const std::string& path) {
            std::lock_guard lock(mutex_);
            heard_.push_back({event, path});
        });
    }
    ~HubRecorder() { UnsubscribeHotplug(token_); }
    std::vector<Heard> Heard_() {
        std::lock_guard lock(mutex_);
        return heard_;
    }

private:
    int token_ = 0;
    std::mutex mutex_;
    std::vector<Heard> heard_;
};

TEST(Win32DeviceNotices, AnApplicationsWindowIsRegisteredWithTheSystemForTheCameraClass) {
    AppWindow app;
    ASSERT_NE(app.Handle(), nullptr);
    EXPECT_TRUE(SystemDeliversDeviceNotices(app.Handle()));
    EXPECT_TRUE(RegisterDeviceNotices(app.Handle(), kCameraInterfaceGuid));
    EXPECT_FALSE(RegisterDeviceNotices(app.Handle(), "{328184c5-93e6-49b7-94b8-2ada13aabb3}"));
    EXPECT_FALSE(RegisterDeviceNotices(app.Handle(), "328184c5-93e6-49b7-94b8-2ada13aabb39"));
    // The SDK's own targets hear from the SDK, the system knows nothing of them.
    HWND queue = LumoraHost_CreateQueueWindow();
    EXPECT_FALSE(SystemDeliversDeviceNotices(queue));
    EXPECT_TRUE(RegisterDeviceNotices(queue, kCameraInterfaceGuid));
    LumoraHost_DestroyWindow(queue);

    // Initialize registers the notification window and succeeds.
    LumoraSim_SetFastMode(1);
    ASSERT_EQ(LumoraSim_SetCameraCount(1), 1);
    const int handle = Lumora_Initialize(app.Handle());
    EXPECT_NE(handle, 0);
    Lumora_Release(handle);
}

TEST(Win32DeviceNotices, TheSystemsNoticesForTheClassReachTheHotplugHandlingAndNoOthers) {
    HWND listener = ListenerWindow();
    ASSERT_NE(listener, nullptr);
    HubRecorder hub;

    auto arrival = Notice(kCameraClass, kPath);
    EXPECT_EQ(::SendMessageA(listener, WM_DEVICECHANGE, DBT_DEVICEARRIVAL,
                             reinterpret_cast<LPARAM>(arrival.data())),
              TRUE);
    auto other = Notice(kOtherClass, kPath);
    ::SendMessageA(listener, WM_DEVICECHANGE, DBT_DEVICEARRIVAL,
                   reinterpret_cast<LPARAM>(other.data()));
    // Other kinds of change, and a notice too short to hold its class, are not the camera's.
    ::SendMessageA(listener, WM_DEVICECHANGE, DBT_DEVICEQUERYREMOVE,
                   reinterpret_cast<LPARAM>(arrival.data()));
    auto truncated = Notice(kCameraClass, kPath, sizeof(DEV_BROADCAST_HDR));
    ::SendMessageA(listener, WM_DEVICECHANGE, DBT_DEVICEARRIVAL,
                   reinterpret_cast<LPARAM>(truncated.data()));
    auto removal = Notice(kCameraClass, kPath);
    ::SendMessageA(listener, WM_DEVICECHANGE, DBT_DEVICEREMOVECOMPLETE,
                   reinterpret_cast<LPARAM>(removal.data()));

    const std::vector<Heard> heard = hub.Heard_();
    ASSERT_EQ(heard.size(), 2u);
    EXPECT_EQ(heard[0].event, HotplugEvent::Arrival);
    EXPECT_EQ(heard[1].event, HotplugEvent::Removal);
    for (const Heard& h : heard) EXPECT_EQ(h.path, kLowerPath);  // as the enumeration spells it
}

TEST(Win32DeviceNotices, ANameIsReadNoFurtherThanTheSizeTheNoticeGives) {
    HWND listener = ListenerWindow();
    ASSERT_NE(listener, nullptr);
    HubRecorder hub;
    // The header claims room for four characters of the name, and no terminator follows them
    // there.
    auto notice = Notice(kCameraClass, kPath,
                         static_cast<DWORD>(offsetof(DEV_BROADCAST_DEVICEINTERFACE_A, dbcc_name) + 4));
    ::SendMessageA(listener, WM_DEVICECHANGE, DBT_DEVICEARRIVAL,
                   reinterpret_cast<LPARAM>(notice.data()));
    const std::vector<Heard> heard = hub.Heard_();
    ASSERT_EQ(heard.size(), 1u);
    EXPECT_EQ(heard[0].path, std::string(kLowerPath, 4));
}

TEST(Win32DeviceNotices, TheSdksTargetsHearFromTheSdkAndTheSystemsWindowsFromTheSystemOnly) {
    HWND listener = ListenerWindow();
    ASSERT_NE(listener, nullptr);
    LumoraSim_SetFastMode(1);
    ASSERT_EQ(LumoraSim_SetCameraCount(1), 1);
    AppWindow app;
    HWND queue = LumoraHost_CreateQueueWindow();
    const int forApp = Lumora_Initialize(app.Handle());
    const int forQueue = Lumora_Initialize(queue);
    ASSERT_NE(forApp, 0);
    ASSERT_NE(forQueue, 0);
    LumoraHostMessage message{};
    while (LumoraHost_WaitMessage(queue, 0, &message) == 1) {
    }

    // A real camera leaves: the SDK's target hears of it from the SDK.
    auto removal = Notice(kCameraClass, kPath);
    ::SendMessageA(listener, WM_DEVICECHANGE, DBT_DEVICEREMOVECOMPLETE,
                   reinterpret_cast<LPARAM>(removal.data()));
    ASSERT_EQ(LumoraHost_WaitMessage(queue, kDeadlineMs, &message), 1);
    EXPECT_EQ(message.message, kDeviceChange);
    EXPECT_EQ(message.wParam, static_cast<uintptr_t>(DBT_DEVICEREMOVECOMPLETE));
    EXPECT_EQ(message.lParam, 0);
    // A simulated camera arrives.
    ASSERT_EQ(LumoraSim_SetCameraCount(2), 2);
    ASSERT_EQ(LumoraHost_WaitMessage(queue, kDeadlineMs, &message), 1);
    EXPECT_EQ(message.wParam, static_cast<uintptr_t>(DBT_DEVICEARRIVAL));

    // The application's window was sent nothing by the SDK: a notice without the system's
    // record would mislead a handler that reads it. Everything posted before the marker has
    // been handled once the marker is.
    ASSERT_TRUE(::PostMessageA(app.Handle(), kMarker, 0, 0));
    ASSERT_TRUE(
        PumpMessagesUntil([&] { return !app.Log().empty() && app.Log().back() == kMarkerEntry; }));
    EXPECT_EQ(app.Log(), std::vector<WPARAM>{kMarkerEntry});

    Lumora_Release(forApp);
    Lumora_Release(forQueue);
    LumoraHost_DestroyWindow(queue);
    LumoraSim_SetCameraCount(1);
}

}  // namespace
}  // namespace lumora::platform

#endif  // _WIN32
