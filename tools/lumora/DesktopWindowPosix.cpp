// The desktop on X11: the command makes its own top-level window, as an application would, and
// wraps it for the SDK, which draws the picture into a child covering it.
// CLI11 first: Xlib defines macros (Success, Status, Bool) that collide with its names.
#include "DesktopWindow.h"
// clang-format off
#include <X11/Xlib.h>
#include <X11/Xutil.h>
// clang-format on
#include <poll.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

namespace lumora_cli {
namespace {

class X11DesktopWindow final : public DesktopWindow {
public:
    X11DesktopWindow() {
        const char* name = std::getenv("DISPLAY");
        if (name != nullptr && *name != '\0') display_ = XOpenDisplay(name);
    }
    ~X11DesktopWindow() override {
        if (parent_ != nullptr) LumoraHost_DestroyWindow(parent_);
        if (display_ == nullptr) return;
        if (window_ != 0) XDestroyWindow(display_, window_);
        XCloseDisplay(display_);
    }
    X11DesktopWindow(const X11DesktopWindow&) = delete;
    X11DesktopWindow& operator=(const X11DesktopWindow&) = delete;

    bool Reachable() const { return display_ != nullptr; }
    int ScreenWidth() const override { return DisplayWidth(display_, DefaultScreen(display_)); }
    int ScreenHeight() const override { return DisplayHeight(display_, DefaultScreen(display_)); }

    HWND Create(int width, int height) override {
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
        parent_ = LumoraHost_WrapX11Window(window_);
        if (parent_ == nullptr) throw CommandError{"cannot reach the preview window", ERR_WINDOW};
        return parent_;
    }
    void SetTitle(const std::string& title) override {
        XStoreName(display_, window_, title.c_str());
        const Atom utf8 = XInternAtom(display_, "UTF8_STRING", False);
        XChangeProperty(display_, window_, XInternAtom(display_, "_NET_WM_NAME", False), utf8, 8,
                        PropModeReplace, reinterpret_cast<const unsigned char*>(title.data()),
                        static_cast<int>(title.size()));
        XFlush(display_);
    }
    bool Pump(int timeoutMs) override {
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
    HWND parent_ = nullptr;  // the SDK's wrapping of window_
};

}  // namespace

std::unique_ptr<DesktopWindow> OpenDesktopWindow() {
    auto desktop = std::make_unique<X11DesktopWindow>();
    if (desktop->Reachable()) return desktop;
    std::fprintf(stderr, "lumora: preview needs a display, and none is reachable (DISPLAY=%s)\n",
                 std::getenv("DISPLAY") != nullptr ? std::getenv("DISPLAY") : "");
    return nullptr;
}

}  // namespace lumora_cli
