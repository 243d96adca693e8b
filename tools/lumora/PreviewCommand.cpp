// lumora preview: the live picture in a window of the desktop. The command does what an
// application would: it makes its own X11 window, wraps it for the SDK and lets the SDK draw
// the picture into a child covering it, while the title shows the frame rate and temperature.
// CLI11 first: Xlib defines macros (Success, Status, Bool) that collide with its names.
#include "Command.h"
// clang-format off
#include <X11/Xlib.h>
#include <X11/Xutil.h>
// clang-format on
#include <poll.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace lumora_cli {
namespace {

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

// The application's side of the display: one top-level window of a fixed size.
class DesktopWindow {
public:
    DesktopWindow() {
        const char* name = std::getenv("DISPLAY");
        if (name != nullptr && *name != '\0') display_ = XOpenDisplay(name);
    }
    ~DesktopWindow() {
        if (display_ == nullptr) return;
        if (window_ != 0) XDestroyWindow(display_, window_);
        XCloseDisplay(display_);
    }
    DesktopWindow(const DesktopWindow&) = delete;
    DesktopWindow& operator=(const DesktopWindow&) = delete;

    bool Reachable() const { return display_ != nullptr; }
    int ScreenWidth() const { return DisplayWidth(display_, DefaultScreen(display_)); }
    int ScreenHeight() const { return DisplayHeight(display_, DefaultScreen(display_)); }

    unsigned long Create(int width, int height) {
        const int screen = DefaultScreen(display_);
        window_ =
            XCreateSimpleWindow(display_, RootWindow(display_, screen), 0, 0,
                                static_cast<unsigned>(width), static_cast<unsigned>(height), 0,
                                BlackPixel(display_, screen), BlackPixel(display_, screen));
        XSizeHints* hints = XAllocSizeHints();
        if (hints != nullptr) {
            hints->flags = PMinSize | PMaxSize;
            hints->min_width = hints->max_width = width;
            hints->min_height = hints->max_height = height;
            XSetWMNormalHints(display_, window_, hints);
            XFree(hints);
        }
        XClassHint classHint;
        char resName[] = "lumora";
        char resClass[] = "Lumora";
        classHint.res_name = resName;
        classHint.res_class = resClass;
        XSetClassHint(display_, window_, &classHint);
        deleteAtom_ = XInternAtom(display_, "WM_DELETE_WINDOW", False);
        XSetWMProtocols(display_, window_, &deleteAtom_, 1);
        XSelectInput(display_, window_, StructureNotifyMask);
        SetTitle("Lumora preview");
        XMapWindow(display_, window_);
        XSync(display_, False);
        return window_;
    }
    void SetTitle(const std::string& title) {
        XStoreName(display_, window_, title.c_str());
        const Atom utf8 = XInternAtom(display_, "UTF8_STRING", False);
        XChangeProperty(display_, window_, XInternAtom(display_, "_NET_WM_NAME", False), utf8, 8,
                        PropModeReplace, reinterpret_cast<const unsigned char*>(title.data()),
                        static_cast<int>(title.size()));
        XFlush(display_);
    }
    // Handles what arrived within timeoutMs; false once the user closed the window.
    bool Pump(int timeoutMs) {
        pollfd fd{ConnectionNumber(display_), POLLIN, 0};
        if (XPending(display_) == 0) poll(&fd, 1, timeoutMs);
        while (XPending(display_) > 0) {
            XEvent event;
            XNextEvent(display_, &event);
            if (event.type == ClientMessage &&
                static_cast<Atom>(event.xclient.data.l[0]) == deleteAtom_) {
                return false;
            }
            if (event.type == DestroyNotify && event.xdestroywindow.window == window_) {
                window_ = 0;
                return false;
            }
        }
        return true;
    }

private:
    Display* display_ = nullptr;
    unsigned long window_ = 0;
    Atom deleteAtom_ = 0;
};

int PreviewCommand(const Options& options, const CaptureOptions& capture, int scale,
                   double seconds) {
    DesktopWindow desktop;
    if (!desktop.Reachable()) {
        std::fprintf(stderr,
                     "lumora: preview needs a display, and none is reachable (DISPLAY=%s)\n",
                     std::getenv("DISPLAY") != nullptr ? std::getenv("DISPLAY") : "");
        return 1;
    }
    StopSignals signals;
    Camera camera(options);
    const int h = camera.Handle();
    ApplyCaptureSettings(camera, capture);
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

    const unsigned long window = desktop.Create(width, height);
    HWND parent = LumoraHost_WrapX11Window(window);
    if (parent == nullptr) throw CommandError{"cannot reach the preview window", ERR_WINDOW};
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
    LumoraHost_DestroyWindow(parent);
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
