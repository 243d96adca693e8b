// Device notices on Windows: windows registered with RegisterDeviceNotificationA for an
// interface class get WM_DEVICECHANGE from the system.
#include "platform/DeviceNotices.h"

#include <atomic>
#include <cctype>
#include <mutex>

#include "platform/Clock.h"
#include "platform/Event.h"
#include "platform/KernelDriverCalls.h"
#include "platform/MessageTarget.h"
#include "platform/ProcessExit.h"
#include "platform/Thread.h"
#include "platform/Win32Api.h"
// clang-format off
#include <dbt.h>
// clang-format on

namespace lumora::platform {
namespace {

// The registration filter the system reads: size, device type, reserved, class and an empty
// name, padded to 32 bytes.
static_assert(sizeof(DEV_BROADCAST_DEVICEINTERFACE_A) == 32);

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

HDEVNOTIFY Register(HWND window, const GUID& interfaceClass) {
    DEV_BROADCAST_DEVICEINTERFACE_A filter{};
    filter.dbcc_size = sizeof filter;
    filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    filter.dbcc_classguid = interfaceClass;
    return ::RegisterDeviceNotificationA(window, &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
}

constexpr const char* kListenerClass = "LumoraDeviceNotices";

// The module holding this code (the SDK's DLL, or the program it is linked into).
HINSTANCE OwnModule() {
    HMODULE module = nullptr;
    ::GetModuleHandleExA(
        GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
        reinterpret_cast<LPCSTR>(&OwnModule), &module);
    return module;
}

}  // namespace

bool ParseInterfaceClass(const std::string& text, GUID& guid) {
    static constexpr char kShape[] = "{........-....-....-....-............}";
    if (text.size() != sizeof kShape - 1) return false;
    unsigned char bytes[16] = {};
    int nibble = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        if (kShape[i] != '.') {
            if (text[i] != kShape[i]) return false;
            continue;
        }
        const int value = HexValue(text[i]);
        if (value < 0) return false;
        bytes[nibble / 2] = static_cast<unsigned char>(bytes[nibble / 2] << 4 | value);
        ++nibble;
    }
    // The first three groups are numbers (stored little-endian), the last eight bytes as read.
    guid.Data1 =
        static_cast<unsigned long>(bytes[0]) << 24 | bytes[1] << 16 | bytes[2] << 8 | bytes[3];
    guid.Data2 = static_cast<unsigned short>(bytes[4] << 8 | bytes[5]);
    guid.Data3 = static_cast<unsigned short>(bytes[6] << 8 | bytes[7]);
    for (int i = 0; i < 8; ++i) guid.Data4[i] = bytes[8 + i];
    return true;
}

bool RegisterDeviceNotices(HWND window, const std::string& interfaceClass) {
    if (!SystemDeliversDeviceNotices(window)) return true;
    GUID guid{};
    if (!ParseInterfaceClass(interfaceClass, guid)) return false;
    // The notification handle is not kept: the registration ends with the window.
    return Register(window, guid) != nullptr;
}

bool SystemDeliversDeviceNotices(HWND window) {
    return window != nullptr && FindTarget(window) == nullptr && ::IsWindow(window);
}

struct DeviceNoticeListener::Impl {
    GUID interfaceClass{};
    Handler handler;
    Thread thread;
    Event ready{true, false};
    std::atomic<HWND> window{nullptr};
    std::atomic<bool> registered{false};
    HDEVNOTIFY notification = nullptr;
    // Set by the thread, inside the system's wait, when it has let go of everything of the
    // module while the module is unloaded; `never` is the event it then waits on for good.
    HANDLE parked = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE never = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);

    static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
        auto* impl = reinterpret_cast<Impl*>(::GetWindowLongPtrA(window, GWLP_USERDATA));
        if (message == WM_DEVICECHANGE && impl != nullptr) {
            impl->OnDeviceChange(wParam, lParam);
            return TRUE;
        }
        if (message == WM_CLOSE) {
            ::DestroyWindow(window);
            return 0;
        }
        if (message == WM_DESTROY) {
            ::PostQuitMessage(0);
            return 0;
        }
        return ::DefWindowProcA(window, message, wParam, lParam);
    }

    void OnDeviceChange(WPARAM wParam, LPARAM lParam) {
        if (wParam != DBT_DEVICEARRIVAL && wParam != DBT_DEVICEREMOVECOMPLETE) return;
        const auto* header = reinterpret_cast<const DEV_BROADCAST_HDR*>(lParam);
        if (header == nullptr || header->dbch_devicetype != DBT_DEVTYP_DEVICEINTERFACE ||
            header->dbch_size < sizeof(DEV_BROADCAST_DEVICEINTERFACE_A)) {
            return;
        }
        const auto* notice = reinterpret_cast<const DEV_BROADCAST_DEVICEINTERFACE_A*>(header);
        if (!::IsEqualGUID(notice->dbcc_classguid, interfaceClass)) return;
        // The name runs to a terminator within the size the sender gave, never past it.
        const size_t room =
            header->dbch_size - offsetof(DEV_BROADCAST_DEVICEINTERFACE_A, dbcc_name);
        std::string path;
        for (size_t i = 0; i < room && notice->dbcc_name[i] != '\0'; ++i) {
            // Device paths are case-insensitive; the system's notices spell them in upper case
            // where its enumeration gives lower case.
            path +=
                static_cast<char>(std::tolower(static_cast<unsigned char>(notice->dbcc_name[i])));
        }
        handler(wParam == DBT_DEVICEARRIVAL, path);
    }

    void Run() {
        WNDCLASSA windowClass{};
        windowClass.lpfnWndProc = &Procedure;
        // The class belongs to the module whose procedure it names, and leaves with the last
        // listener: a class left behind by an unloaded DLL would send a later listener's
        // messages to code that is gone.
        windowClass.hInstance = OwnModule();
        windowClass.lpszClassName = kListenerClass;
        ::RegisterClassA(&windowClass);  // fails harmlessly while another listener holds it
        // A message-only window: never shown, never enumerated, but registered notices reach it.
        HWND created = ::CreateWindowExA(0, kListenerClass, "", 0, 0, 0, 0, 0, HWND_MESSAGE,
                                         nullptr, windowClass.hInstance, nullptr);
        if (created != nullptr) {
            ::SetWindowLongPtrA(created, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
            notification = Register(created, interfaceClass);
            registered = notification != nullptr;
        }
        window = created;
        ready.Set();
        if (created == nullptr) return;
        MSG msg;
        while (::GetMessageA(&msg, nullptr, 0, 0) > 0) ::DispatchMessageA(&msg);
        if (notification != nullptr) ::UnregisterDeviceNotification(notification);
        ::UnregisterClassA(kListenerClass, windowClass.hInstance);
        if (ModuleIsUnloading()) {
            // The loader's lock is held by the unloading thread, and a thread cannot end without
            // it. This one signals and waits in one system call, so no instruction of the
            // module runs after the unloader hears it, and stays there until the process ends.
            ::SignalObjectAndWait(parked, never, INFINITE, FALSE);
        }
    }
};

DeviceNoticeListener::DeviceNoticeListener(const std::string& interfaceClass, Handler handler)
    : impl_(std::make_unique<Impl>()) {
    if (!ParseInterfaceClass(interfaceClass, impl_->interfaceClass)) return;
    impl_->handler = std::move(handler);
    Impl* impl = impl_.get();
    if (impl->thread.Start([impl] { impl->Run(); })) impl->ready.Wait(kInfinite);
}

DeviceNoticeListener::~DeviceNoticeListener() {
    if (ProcessIsExiting()) {
        // The thread is gone already; what it held goes with the process.
        (void)impl_.release();
        return;
    }
    HWND window = impl_->window.load();
    if (window != nullptr) ::PostMessageA(window, WM_CLOSE, 0, 0);
    if (ModuleIsUnloading() && window != nullptr) {
        // The DLL is being unloaded (its static destructors run under the loader's lock): the
        // thread can let go of its window but not end. Once it waits inside the system it
        // runs no more of the module's code, and it is left there with what it holds.
        ::WaitForSingleObject(impl_->parked, INFINITE);
        (void)impl_.release();
        return;
    }
    impl_->thread.Join();
    ::CloseHandle(impl_->parked);
    ::CloseHandle(impl_->never);
}

HWND DeviceNoticeListener::Window() const {
    return impl_->window.load();
}

bool DeviceNoticeListener::Registered() const {
    return impl_->registered.load();
}

}  // namespace lumora::platform
