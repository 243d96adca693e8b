#pragma once
// The application's side of the X server in tests: its own connection, windows it owns, and
// what the server says about any window. Tests skip when no display is reachable (the test
// script starts Xvfb).
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/Xcomposite.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace lumora::testing {

class X11TestDisplay {
public:
    X11TestDisplay() {
        const char* name = std::getenv("DISPLAY");
        if (name != nullptr && *name != '\0') display_ = XOpenDisplay(name);
        // Tests run side by side on one server, and what the server returns for a part of a
        // window that another test's window covers is undefined. Redirected into storage of
        // their own, windows keep their contents whatever lies above them on the screen; the
        // redirection holds while this connection is open.
        int event = 0;
        int error = 0;
        if (display_ != nullptr && XCompositeQueryExtension(display_, &event, &error))
            XCompositeRedirectSubwindows(display_, Root(), CompositeRedirectAutomatic);
    }
    ~X11TestDisplay() {
        if (display_ != nullptr) XCloseDisplay(display_);
    }
    X11TestDisplay(const X11TestDisplay&) = delete;
    X11TestDisplay& operator=(const X11TestDisplay&) = delete;

    Display* Get() const { return display_; }
    explicit operator bool() const { return display_ != nullptr; }
    Window Root() const { return DefaultRootWindow(display_); }

    // A mapped top-level window of the application.
    Window CreateAppWindow(int width, int height) {
        const int screen = DefaultScreen(display_);
        Window window = XCreateSimpleWindow(
            display_, Root(), 10, 10, static_cast<unsigned>(width), static_cast<unsigned>(height),
            0, BlackPixel(display_, screen), WhitePixel(display_, screen));
        XMapWindow(display_, window);
        XSync(display_, False);
        return window;
    }
    std::vector<Window> Children(Window window) {
        Window root = 0;
        Window parent = 0;
        Window* children = nullptr;
        unsigned count = 0;
        std::vector<Window> result;
        if (XQueryTree(display_, window, &root, &parent, &children, &count) != 0) {
            result.assign(children, children + count);
            if (children != nullptr) XFree(children);
        }
        return result;
    }
    Window ParentOf(Window window) {
        Window root = 0;
        Window parent = 0;
        Window* children = nullptr;
        unsigned count = 0;
        if (XQueryTree(display_, window, &root, &parent, &children, &count) == 0) return 0;
        if (children != nullptr) XFree(children);
        return parent;
    }
    std::string Name(Window window) {
        char* name = nullptr;
        std::string result;
        if (XFetchName(display_, window, &name) != 0 && name != nullptr) {
            result = name;
            XFree(name);
        }
        return result;
    }
    // Position in the parent's coordinates and size.
    bool Geometry(Window window, int& x, int& y, int& width, int& height) {
        Window root = 0;
        unsigned w = 0;
        unsigned h = 0;
        unsigned border = 0;
        unsigned depth = 0;
        if (XGetGeometry(display_, window, &root, &x, &y, &w, &h, &border, &depth) == 0) {
            return false;
        }
        width = static_cast<int>(w);
        height = static_cast<int>(h);
        return true;
    }
    // Asks the window to close as a window manager does when the user closes it.
    void SendDelete(Window window) {
        XEvent event{};
        event.xclient.type = ClientMessage;
        event.xclient.window = window;
        event.xclient.message_type = XInternAtom(display_, "WM_PROTOCOLS", False);
        event.xclient.format = 32;
        event.xclient.data.l[0] =
            static_cast<long>(XInternAtom(display_, "WM_DELETE_WINDOW", False));
        event.xclient.data.l[1] = CurrentTime;
        XSendEvent(display_, window, False, NoEventMask, &event);
        XSync(display_, False);
    }

private:
    Display* display_ = nullptr;
};

// Shared-memory segments this process created that still exist.
inline int LiveSharedSegmentsOfThisProcess() {
    std::ifstream table("/proc/sysvipc/shm");
    std::string line;
    std::getline(table, line);  // header
    int count = 0;
    const long pid = ::getpid();
    while (std::getline(table, line)) {
        std::istringstream fields(line);
        long key, shmid, perms, size, cpid;
        if (fields >> key >> shmid >> perms >> size >> cpid && cpid == pid) ++count;
    }
    return count;
}

// Waits up to timeoutMs for `done`.
inline bool WaitUntil(const std::function<bool()>& done, int timeoutMs = 2000) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

}  // namespace lumora::testing

#define LUMORA_REQUIRE_X11(display) \
    if (!(display)) GTEST_SKIP() << "no X display reachable (the test script starts Xvfb)"
