#pragma once
// One connection to an X server and the preview windows made on it (see WindowX11.h for the
// threads). The connection's lock, displayMutex_, guards every Xlib call, the window list, the
// images' counts and the frame-extent probe; it comes before a window's own state.
#include <X11/Xlib.h>

#include <atomic>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "platform/Mutex.h"
#include "platform/WindowOffscreen.h"
#include "platform/WindowX11.h"
#include "platform/x11/X11ErrorSink.h"
#include "platform/x11/X11EventThread.h"
#include "platform/x11/X11FrameExtents.h"
#include "platform/x11/X11Surface.h"

namespace lumora::platform {

class X11Window;

class X11System final : public X11WindowSystem,
                        public X11ErrorSink,
                        public std::enable_shared_from_this<X11System> {
public:
    X11System(Display* display, bool useShm, X11GrayWidening grayWidening);
    ~X11System() override;
    void StartEvents();

    bool RegisterClass(const std::string& name) override;
    bool UnregisterClass(const std::string& name) override;
    std::unique_ptr<Window> CreateChild(const std::string& className, HWND parent,
                                        const std::string& title, uint32_t style, int x, int y,
                                        int width, int height) override;
    std::unique_ptr<Window> CreateTopLevel(const std::string& className, const std::string& title,
                                           uint32_t style, int x, int y, int width,
                                           int height) override;
    bool AdjustWindowRect(Rect& rect, uint32_t style) const override;
    int ScreenWidth() const override { return screenWidth_; }
    int ScreenHeight() const override { return screenHeight_; }

    // An atomic of the surfaces, readable without the display lock.
    bool UsesSharedMemory() const override LUMORA_NO_THREAD_SAFETY_ANALYSIS {
        return surfaces_.UsesSharedMemory();
    }
    X11Resources Resources() const override;
    size_t ErrorCount() const override { return errors_.load(); }
    size_t SkippedFrames() const override { return skipped_.load(); }
    bool WindowExists(unsigned long window) override;
    bool Flush(int timeoutMs) override;

    void OnError(const XErrorEvent& error) override;
    void OnConnectionLost() override;

    // For the windows.
    Mutex& DisplayMutex() LUMORA_RETURN_CAPABILITY(displayMutex_) { return displayMutex_; }
    Display* Dpy() const { return display_; }
    bool Broken() const { return broken_.load(); }
    void Wake() { events_.Wake(); }
    void CountSkipped() { ++skipped_; }
    size_t ErrorsNow() const { return errors_.load(); }
    // Under the display lock.
    X11Surfaces& Surfaces() LUMORA_REQUIRES(displayMutex_) { return surfaces_; }
    void Forget(::Window window) LUMORA_REQUIRES(displayMutex_);
    void FreeGc(GC gc) LUMORA_REQUIRES(displayMutex_);

private:
    // One turn of the event thread: the server's events, then the windows' images.
    void EventTurn() LUMORA_EXCLUDES(displayMutex_);
    void Dispatch(XEvent& event) LUMORA_REQUIRES(displayMutex_);
    // Under the display lock, which it may release while the window manager answers.
    void FrameExtents(MutexLock& lock, long extents[4]) const LUMORA_REQUIRES(displayMutex_);
    // Under the display lock: a window of ours, created and named, or 0 after an X error.
    ::Window NewWindow(::Window parent, int x, int y, int width, int height,
                       XSetWindowAttributes& attributes, unsigned long valueMask,
                       const std::string& title, const std::string& className)
        LUMORA_REQUIRES(displayMutex_);
    // Under the display lock: the window object for `window`, with an image and a GC, listed
    // for the event thread; null (and `window` destroyed) without an image.
    std::unique_ptr<X11Window> Adopt(::Window window, const std::string& title, uint32_t style,
                                     HWND parent, Rect frame, int clientWidth, int clientHeight)
        LUMORA_REQUIRES(displayMutex_);
    bool KnownClass(const std::string& name);

    Display* const display_;
    const int screen_;
    const ::Window root_;
    Visual* const visual_;
    const int depth_;
    const int screenWidth_;
    const int screenHeight_;
    // Ours, so a window of our visual may sit in a parent of another depth (a toolkit's
    // 32-bit window): a child whose visual differs from its parent's needs its own colormap and
    // border pixel.
    Colormap colormap_ = 0;
    std::atomic<bool> broken_{false};
    std::atomic<size_t> errors_{0};
    std::atomic<size_t> skipped_{0};
    Atom wmProtocols_;
    Atom wmDelete_;
    Atom netWmName_;
    Atom utf8String_;

    mutable Mutex displayMutex_;
    // Signalled at the end of each turn of the event thread, under the display lock.
    mutable std::condition_variable turnEnded_;
    std::map<::Window, X11Window*> windows_ LUMORA_GUARDED_BY(displayMutex_);
    X11Surfaces surfaces_ LUMORA_GUARDED_BY(displayMutex_);
    size_t gcs_ LUMORA_GUARDED_BY(displayMutex_) = 0;
    mutable X11FrameExtents frameExtents_ LUMORA_GUARDED_BY(displayMutex_);

    Mutex classMutex_;
    std::map<std::string, int> classes_ LUMORA_GUARDED_BY(classMutex_);
    // Children of parents that are not X11 windows (a queue window) are kept here, unseen, so a
    // run that asked for one still starts and draws.
    const std::shared_ptr<OffscreenWindowSystem> offscreen_ =
        std::make_shared<OffscreenWindowSystem>();

    X11EventThread events_;
};

}  // namespace lumora::platform
