// The desktop on Windows: the command makes its own window, as an application would, and the
// SDK draws the picture into a child covering its client area. The window's thread reads its
// queue all along, as every Windows program must.
#include "DesktopWindow.h"
// clang-format off
#include <windows.h>
// clang-format on

#include <memory>
#include <string>

namespace lumora_cli {
namespace {

constexpr const char* kClassName = "LumoraPreview";
constexpr DWORD kStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN;

LRESULT CALLBACK DesktopProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_DESTROY) {
        auto* open = reinterpret_cast<bool*>(::GetWindowLongPtrA(window, GWLP_USERDATA));
        if (open != nullptr) *open = false;
        return 0;
    }
    return ::DefWindowProcA(window, message, wParam, lParam);
}

class Win32DesktopWindow final : public DesktopWindow {
public:
    ~Win32DesktopWindow() override {
        if (window_ != nullptr && open_) ::DestroyWindow(window_);
    }

    int ScreenWidth() const override { return ::GetSystemMetrics(SM_CXSCREEN); }
    int ScreenHeight() const override { return ::GetSystemMetrics(SM_CYSCREEN); }

    HWND Create(int width, int height) override {
        WNDCLASSA windowClass{};
        windowClass.lpfnWndProc = &DesktopProc;
        windowClass.hInstance = ::GetModuleHandleA(nullptr);
        windowClass.hCursor = ::LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
        windowClass.hbrBackground = static_cast<HBRUSH>(::GetStockObject(BLACK_BRUSH));
        windowClass.lpszClassName = kClassName;
        ::RegisterClassA(&windowClass);
        RECT frame{0, 0, width, height};
        ::AdjustWindowRectEx(&frame, kStyle, FALSE, 0);
        window_ = ::CreateWindowExA(0, kClassName, "Lumora preview", kStyle, CW_USEDEFAULT,
                                    CW_USEDEFAULT, frame.right - frame.left,
                                    frame.bottom - frame.top, nullptr, nullptr,
                                    windowClass.hInstance, nullptr);
        if (window_ == nullptr) throw CommandError{"cannot make the preview window", ERR_WINDOW};
        open_ = true;
        ::SetWindowLongPtrA(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&open_));
        ::ShowWindow(window_, SW_SHOW);
        ::UpdateWindow(window_);
        return window_;
    }
    void SetTitle(const std::string& title) override {
        // The title is UTF-8 (the degree sign); the window takes UTF-16.
        wchar_t wide[256];
        if (::MultiByteToWideChar(CP_UTF8, 0, title.c_str(), -1, wide, 256) > 0) {
            ::SetWindowTextW(window_, wide);
        }
    }
    bool Pump(int timeoutMs) override {
        ::MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(timeoutMs),
                                    QS_ALLINPUT);
        MSG msg;
        while (::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            ::TranslateMessage(&msg);
            ::DispatchMessageA(&msg);
        }
        return open_;
    }

private:
    HWND window_ = nullptr;
    bool open_ = false;
};

}  // namespace

std::unique_ptr<DesktopWindow> OpenDesktopWindow() {
    return std::make_unique<Win32DesktopWindow>();
}

}  // namespace lumora_cli
