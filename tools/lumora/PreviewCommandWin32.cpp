// lumora preview on Windows: the live picture in a window of the desktop. The command does what
// an application would: it makes its own window and lets the SDK draw the picture into a child
// covering its client area, while the title shows the frame rate and temperature. The window's
// thread reads its queue all along, as every Windows program must.
#include "Command.h"
// clang-format off
#include <windows.h>
// clang-format on

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>

namespace lumora_cli {
namespace {

constexpr const char* kClassName = "LumoraPreview";
constexpr DWORD kStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN;

struct FrameCounter {
    std::atomic<long> frames{0};
    std::atomic<long> failed{0};
    std::atomic<bool> deviceLost{false};
};

void OnFrame(const LumoraHostMessage* message, void* user) {
    auto* counter = static_cast<FrameCounter*>(user);
    if (message->message != LUMORA_MSG_FRAME) return;
    if (message->wParam != 0) {
        ++counter->frames;
    } else {
        ++counter->failed;
        if (message->lParam == ERR_DEVICE_LOST) counter->deviceLost = true;
    }
}

LRESULT CALLBACK DesktopProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_DESTROY) {
        auto* open = reinterpret_cast<bool*>(::GetWindowLongPtrA(window, GWLP_USERDATA));
        if (open != nullptr) *open = false;
        return 0;
    }
    return ::DefWindowProcA(window, message, wParam, lParam);
}

// The application's side of the desktop: one top-level window with a fixed client size.
class DesktopWindow {
public:
    ~DesktopWindow() {
        if (window_ != nullptr && open_) ::DestroyWindow(window_);
    }

    int ScreenWidth() const { return ::GetSystemMetrics(SM_CXSCREEN); }
    int ScreenHeight() const { return ::GetSystemMetrics(SM_CYSCREEN); }

    HWND Create(int width, int height) {
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
        if (window_ == nullptr) return nullptr;
        open_ = true;
        ::SetWindowLongPtrA(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&open_));
        ::ShowWindow(window_, SW_SHOW);
        ::UpdateWindow(window_);
        return window_;
    }
    void SetTitle(const std::string& title) {
        // The title is UTF-8 (the degree sign); the window takes UTF-16.
        wchar_t wide[256];
        if (::MultiByteToWideChar(CP_UTF8, 0, title.c_str(), -1, wide, 256) > 0) {
            ::SetWindowTextW(window_, wide);
        }
    }
    // Handles what arrived within timeoutMs; false once the user closed the window.
    bool Pump(int timeoutMs) {
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

int PreviewCommand(const Options& options, const CaptureOptions& capture, int scale,
                   double seconds) {
    StopSignals signals;
    Camera camera(options);
    const int h = camera.Handle();
    ApplyCaptureSettings(camera, capture);
    DesktopWindow desktop;
    const FrameSize size = CurrentFrameSize(h);
    const int pictureWidth = size.width;
    const int pictureHeight = size.height;
    if (scale <= 0) {
        // The smallest reduction that fits the screen, with room for the window's frame.
        scale = 1;
        while (pictureWidth / scale > desktop.ScreenWidth() - 64 ||
               pictureHeight / scale > desktop.ScreenHeight() - 96) {
            ++scale;
        }
    }
    const int width = std::max(pictureWidth / scale, 1);
    const int height = std::max(pictureHeight / scale, 1);

    HWND parent = desktop.Create(width, height);
    if (parent == nullptr) throw CommandError{"cannot make the preview window", ERR_WINDOW};
    FrameCounter counter;
    HWND frames = LumoraHost_CreateCallbackWindow(&OnFrame, &counter);
    camera.Check(Lumora_SetPreviewWindow(h, parent, 0, 0, width, height),
                 "cannot place the preview window");
    camera.Check(Lumora_CallBackPreview(h, frames, nullptr, 0, 0), "cannot start the preview");

    std::printf("showing %d x %d frames in a window: close it or press Ctrl-C to stop\n",
                pictureWidth, pictureHeight);
    std::fflush(stdout);
    const auto start = std::chrono::steady_clock::now();
    auto lastTitle = start;
    long lastFrames = 0;
    bool open = true;
    while (open && !signals.Stopped() && !counter.deviceLost.load()) {
        const auto now = std::chrono::steady_clock::now();
        if (seconds > 0 && now - start >= std::chrono::duration<double>(seconds)) break;
        const double sinceTitle = std::chrono::duration<double>(now - lastTitle).count();
        if (sinceTitle >= 1.0) {
            const long total = counter.frames.load();
            int valid = 0;
            const double temperature = Lumora_GetTemperatureEx(h, &valid);
            char title[160];
            if (valid != 0) {
                std::snprintf(title, sizeof title, "Lumora preview - %d x %d - %.1f fps - %.1f °C",
                              pictureWidth, pictureHeight, (total - lastFrames) / sinceTitle,
                              temperature);
            } else {
                std::snprintf(title, sizeof title, "Lumora preview - %d x %d - %.1f fps",
                              pictureWidth, pictureHeight, (total - lastFrames) / sinceTitle);
            }
            desktop.SetTitle(title);
            lastFrames = total;
            lastTitle = now;
        }
        open = desktop.Pump(50);
    }
    Lumora_StopPreview(h);
    Lumora_Close(h);
    LumoraHost_DestroyWindow(frames);
    const double elapsed =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("%ld frames in %.1f s (%.1f fps), %ld failed\n", counter.frames.load(), elapsed,
                elapsed > 0 ? counter.frames.load() / elapsed : 0.0, counter.failed.load());
    if (counter.deviceLost.load()) throw CommandError{"the camera was lost", ERR_DEVICE_LOST};
    return signals.Stopped() ? signals.ExitStatus() : 0;
}

}  // namespace

CommandEntry AddPreviewCommand(CLI::App& app, CommandContext& context) {
    auto* command = app.add_subcommand(
        "preview", "show the live picture in a window until it is closed, Ctrl-C or --seconds");
    context.addCaptureOptions(command);
    auto scale = std::make_shared<int>(0);
    auto seconds = std::make_shared<double>(0);
    command->add_option("--scale", *scale, "show the picture reduced N times (default: to fit)")
        ->check(CLI::Range(1, 64));
    command->add_option("--seconds", *seconds, "stop after S seconds")
        ->check(CLI::NonNegativeNumber);
    return CommandEntry{command, [&context, scale, seconds] {
                            return PreviewCommand(context.options, context.capture, *scale,
                                                  *seconds);
                        }};
}

}  // namespace lumora_cli
