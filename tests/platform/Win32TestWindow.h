#pragma once
// What the Windows window tests share: an application's own top-level window that hands the
// messages it is sent to the test, and the thread's message loop, run until the test has what it
// waits for.
#if defined(_WIN32)

#include <functional>
#include <optional>
#include <utility>
#include <vector>

#include "platform/Win32Api.h"

namespace lumora::platform {

inline constexpr DWORD kDeadlineMs = 60000;  // the machine may be loaded; waits are for events

// Runs the calling thread's message loop until `done` holds or the deadline passes.
template <class Done>
bool PumpMessagesUntil(Done done) {
    const ULONGLONG end = ::GetTickCount64() + kDeadlineMs;
    while (!done()) {
        const ULONGLONG now = ::GetTickCount64();
        if (now >= end) return false;
        ::MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(end - now), QS_ALLINPUT);
        MSG msg;
        while (::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            ::TranslateMessage(&msg);
            ::DispatchMessageA(&msg);
        }
    }
    return true;
}

// A top-level window of the tests' own class, on a white background, hidden unless asked. Its
// procedure gives each message to `handle`, which returns true for those it handled (the
// procedure then answers TRUE); the others go to the system's default handling.
class TestAppWindow {
public:
    using Handler = std::function<bool(UINT message, WPARAM wParam, LPARAM lParam)>;

    explicit TestAppWindow(Handler handle, bool visible = false, int width = 320, int height = 240)
        : handle_(std::move(handle)) {
        WNDCLASSA windowClass{};
        windowClass.lpfnWndProc = &Procedure;
        windowClass.hInstance = ::GetModuleHandleA(nullptr);
        windowClass.hbrBackground = static_cast<HBRUSH>(::GetStockObject(WHITE_BRUSH));
        windowClass.lpszClassName = kClassName;
        ::RegisterClassA(&windowClass);  // a second registration in the process fails harmlessly
        const DWORD style = WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN | (visible ? WS_VISIBLE : 0);
        window_ = ::CreateWindowExA(0, kClassName, "Lumora test", style, 20, 20, width, height,
                                    nullptr, nullptr, windowClass.hInstance, nullptr);
        if (window_ != nullptr) {
            ::SetWindowLongPtrA(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
        }
    }
    ~TestAppWindow() {
        if (window_ != nullptr) ::DestroyWindow(window_);
    }
    TestAppWindow(const TestAppWindow&) = delete;
    TestAppWindow& operator=(const TestAppWindow&) = delete;

    HWND Handle() const { return window_; }

private:
    static constexpr const char* kClassName = "LumoraTestAppWindow";

    static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
        auto* self = reinterpret_cast<TestAppWindow*>(::GetWindowLongPtrA(window, GWLP_USERDATA));
        if (self != nullptr && self->handle_(message, wParam, lParam)) return TRUE;
        return ::DefWindowProcA(window, message, wParam, lParam);
    }

    Handler handle_;
    HWND window_ = nullptr;
};

// A hidden TestAppWindow that keeps, in order, what `record` makes of the messages it takes
// (those for which it returns an entry).
template <class Entry>
class RecordingWindow {
public:
    using Recorder =
        std::function<std::optional<Entry>(UINT message, WPARAM wParam, LPARAM lParam)>;

    explicit RecordingWindow(Recorder record)
        : window_([this, record = std::move(record)](UINT message, WPARAM wParam, LPARAM lParam) {
              std::optional<Entry> entry = record(message, wParam, lParam);
              if (entry) log_.push_back(*entry);
              return entry.has_value();
          }) {}

    HWND Handle() const { return window_.Handle(); }
    const std::vector<Entry>& Log() const { return log_; }

private:
    std::vector<Entry> log_;
    TestAppWindow window_;  // after log_: gone before it
};

}  // namespace lumora::platform

#endif  // _WIN32
