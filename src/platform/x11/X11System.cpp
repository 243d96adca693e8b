#include "platform/x11/X11System.h"

#include <X11/Xutil.h>

#include <chrono>

#include "platform/Log.h"
#include "platform/x11/X11Window.h"

namespace lumora::platform {
namespace {

// How long a top-level window's creation waits, once per connection, for a window manager that
// offers to tell its frame's extents to tell them.
constexpr auto kFrameExtentsWait = std::chrono::milliseconds(500);

}  // namespace

X11System::X11System(Display* display, bool useShm, X11GrayWidening grayWidening)
    : display_(display),
      screen_(DefaultScreen(display)),
      root_(RootWindow(display, screen_)),
      visual_(DefaultVisual(display, screen_)),
      depth_(DefaultDepth(display, screen_)),
      screenWidth_(DisplayWidth(display, screen_)),
      screenHeight_(DisplayHeight(display, screen_)),
      surfaces_(display, visual_, depth_, useShm, grayWidening, errors_),
      frameExtents_(display, root_) {
    AttachErrorSink(display_, this);
    wmProtocols_ = XInternAtom(display_, "WM_PROTOCOLS", False);
    wmDelete_ = XInternAtom(display_, "WM_DELETE_WINDOW", False);
    netWmName_ = XInternAtom(display_, "_NET_WM_NAME", False);
    utf8String_ = XInternAtom(display_, "UTF8_STRING", False);
    colormap_ = XCreateColormap(display_, root_, visual_, AllocNone);
}

X11System::~X11System() {
    events_.Stop();
    {
        MutexLock lock(displayMutex_);
        if (!broken_) {
            XFreeColormap(display_, colormap_);
            XCloseDisplay(display_);
        }
    }
    DetachErrorSink(display_);
}

void X11System::StartEvents() {
    events_.Start(ConnectionNumber(display_), [this] { EventTurn(); });
}

void X11System::OnError(const XErrorEvent& error) {
    ++errors_;
    if (!LogEnabled(LogCategory::kWindow)) return;
    char text[128] = "";
    XGetErrorText(display_, error.error_code, text, sizeof text);
    Log(LogCategory::kWindow, 1,
        "lumora: X error on the preview connection: %s (request %d.%d, resource 0x%lx)\n", text,
        error.request_code, error.minor_code, error.resourceid);
}

void X11System::OnConnectionLost() {
    if (!broken_.exchange(true)) {
        Log(LogCategory::kWindow, 1, "lumora: the connection to the X server was lost\n");
    }
}

// ---- the event thread -----------------------------------------------------------------------

void X11System::EventTurn() {
    MutexLock lock(displayMutex_);
    if (broken_.load()) {
        // Nothing more can be shown; keep the windows' states moving so nobody waits.
        for (auto& [id, window] : windows_) window->OnDestroyed();
    } else {
        while (!broken_.load() && XPending(display_) > 0) {
            XEvent event;
            XNextEvent(display_, &event);
            Dispatch(event);
        }
        if (!broken_.load()) {
            for (auto& [id, window] : windows_) window->Service();
            XFlush(display_);
        }
    }
    turnEnded_.notify_all();
}

void X11System::Dispatch(XEvent& event) {
    if (surfaces_.CompletionEvent() >= 0 && event.type == surfaces_.CompletionEvent()) {
        const auto& done = reinterpret_cast<const XShmCompletionEvent&>(event);
        auto it = windows_.find(done.drawable);
        if (it != windows_.end()) {
            it->second->OnCompletion();
            return;
        }
        for (const auto& [id, window] : windows_) {
            if (window->GrayPixmap() == done.drawable) window->OnCompletion();
        }
        return;
    }
    if (frameExtents_.TakeAnswer(event)) return;
    auto it = windows_.find(event.xany.window);
    if (it == windows_.end()) return;
    X11Window* window = it->second;
    switch (event.type) {
        case Expose:
            if (event.xexpose.count == 0) window->OnExpose();
            break;
        case ConfigureNotify:
            window->OnConfigure(event.xconfigure.width, event.xconfigure.height);
            break;
        case MapNotify:
            window->OnMapped(true);
            break;
        case UnmapNotify:
            window->OnMapped(false);
            break;
        case DestroyNotify:
            if (event.xdestroywindow.window == window->Id()) window->OnDestroyed();
            break;
        case ClientMessage:
            if (event.xclient.message_type == wmProtocols_ &&
                static_cast<Atom>(event.xclient.data.l[0]) == wmDelete_) {
                window->OnClosedByUser();
            }
            break;
        default:
            break;
    }
}

bool X11System::Flush(int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    MutexLock lock(displayMutex_);
    for (;;) {
        if (broken_) return false;
        bool busy = false;
        for (auto& [id, window] : windows_) busy = busy || window->Busy();
        if (!busy) {
            XSync(display_, False);
            return true;
        }
        if (std::chrono::steady_clock::now() > deadline) return false;
        Wake();
        turnEnded_.wait_until(lock.Native(), deadline);
    }
}

// ---- windows --------------------------------------------------------------------------------

bool X11System::RegisterClass(const std::string& name) {
    MutexLock lock(classMutex_);
    if (name.empty() || !classes_.emplace(name, 0).second) return false;
    offscreen_->RegisterClass(name);
    return true;
}

bool X11System::UnregisterClass(const std::string& name) {
    MutexLock lock(classMutex_);
    offscreen_->UnregisterClass(name);
    return classes_.erase(name) == 1;
}

bool X11System::KnownClass(const std::string& name) {
    MutexLock lock(classMutex_);
    return classes_.count(name) != 0;
}

::Window X11System::NewWindow(::Window parent, int x, int y, int width, int height,
                              XSetWindowAttributes& attributes, unsigned long valueMask,
                              const std::string& title, const std::string& className) {
    attributes.background_pixel = BlackPixel(display_, screen_);
    attributes.event_mask = ExposureMask | StructureNotifyMask;
    const size_t before = errors_.load();
    const ::Window window = XCreateWindow(
        display_, parent, x, y, static_cast<unsigned>(width), static_cast<unsigned>(height), 0,
        depth_, InputOutput, visual_, CWBackPixel | CWEventMask | valueMask, &attributes);
    XSync(display_, False);
    // A parent that is gone or of another screen: the window (if any) went with the error.
    if (window == 0 || errors_.load() != before) return 0;
    XStoreName(display_, window, title.c_str());
    XChangeProperty(display_, window, netWmName_, utf8String_, 8, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(title.data()),
                    static_cast<int>(title.size()));
    XClassHint hint;
    std::string name = "lumora";
    hint.res_name = name.data();
    std::string cls = className;
    hint.res_class = cls.data();
    XSetClassHint(display_, window, &hint);
    return window;
}

std::unique_ptr<X11Window> X11System::Adopt(::Window window, const std::string& title,
                                            uint32_t style, HWND parent, Rect frame,
                                            int clientWidth, int clientHeight) {
    X11Surface surface;
    if (!surfaces_.Create(surface, clientWidth, clientHeight)) {
        XDestroyWindow(display_, window);
        return nullptr;
    }
    GC gc = XCreateGC(display_, window, 0, nullptr);
    if (gc != nullptr) ++gcs_;
    auto made = std::make_unique<X11Window>(shared_from_this(), window, gc, surface, title, style,
                                            parent, frame, clientWidth, clientHeight);
    windows_[window] = made.get();
    return made;
}

void X11System::FreeGc(GC gc) {
    if (gc == nullptr) return;
    XFreeGC(display_, gc);
    --gcs_;
}

void X11System::Forget(::Window window) {
    windows_.erase(window);
}

std::unique_ptr<Window> X11System::CreateChild(const std::string& className, HWND parent,
                                               const std::string& title, uint32_t style, int x,
                                               int y, int width, int height) {
    if (!KnownClass(className)) return nullptr;
    const unsigned long parentId = X11WindowOf(parent);
    if (parentId == 0) {
        static std::once_flag said;
        std::call_once(said, [] {
            Log(LogCategory::kWindow, 1,
                "lumora: a preview parent that is not an X11 window gets an offscreen child\n");
        });
        return offscreen_->CreateChild(className, parent, title, style, x, y, width, height);
    }
    if (width <= 0 || height <= 0) return nullptr;
    InstallErrorHandlers();
    std::unique_ptr<X11Window> made;
    {
        MutexLock lock(displayMutex_);
        if (broken_) return nullptr;
        XSetWindowAttributes attributes{};
        attributes.border_pixel = 0;
        attributes.colormap = colormap_;
        const ::Window window = NewWindow(parentId, x, y, width, height, attributes,
                                          CWBorderPixel | CWColormap, title, className);
        if (window == 0) return nullptr;
        made =
            Adopt(window, title, style, parent, Rect{x, y, x + width, y + height}, width, height);
    }
    Wake();
    return made;
}

void X11System::FrameExtents(MutexLock& lock, long extents[4]) const {
    const auto deadline = std::chrono::steady_clock::now() + kFrameExtentsWait;
    if (frameExtents_.Progress() == X11FrameExtents::State::kUnknown) {
        if (frameExtents_.Ask()) {
            // The event thread takes the answer; the lock is free meanwhile.
            events_.Wake();
            while (!frameExtents_.Answered() && !broken_.load()) {
                if (turnEnded_.wait_until(lock.Native(), deadline) == std::cv_status::timeout)
                    break;
            }
            if (!broken_.load()) frameExtents_.Finish();
        }
        turnEnded_.notify_all();
    } else {
        // Another thread asked; it says when it is done.
        while (frameExtents_.Progress() != X11FrameExtents::State::kKnown && !broken_.load()) {
            if (turnEnded_.wait_until(lock.Native(), deadline + kFrameExtentsWait) ==
                std::cv_status::timeout)
                break;
        }
    }
    frameExtents_.Get(extents);
}

bool X11System::AdjustWindowRect(Rect& rect, uint32_t /*style*/) const {
    long extents[4];
    {
        MutexLock lock(displayMutex_);
        if (broken_) return false;
        FrameExtents(lock, extents);
    }
    rect.left -= static_cast<int>(extents[0]);
    rect.right += static_cast<int>(extents[1]);
    rect.top -= static_cast<int>(extents[2]);
    rect.bottom += static_cast<int>(extents[3]);
    return true;
}

std::unique_ptr<Window> X11System::CreateTopLevel(const std::string& className,
                                                  const std::string& title, uint32_t style, int x,
                                                  int y, int width, int height) {
    if (!KnownClass(className)) return nullptr;
    InstallErrorHandlers();
    std::unique_ptr<X11Window> made;
    {
        MutexLock lock(displayMutex_);
        if (broken_) return nullptr;
        long extents[4];
        FrameExtents(lock, extents);
        if (broken_) return nullptr;
        // The outer size is given; the window manager's frame takes its part of it.
        const int clientWidth = width - static_cast<int>(extents[0] + extents[1]);
        const int clientHeight = height - static_cast<int>(extents[2] + extents[3]);
        if (clientWidth <= 0 || clientHeight <= 0) return nullptr;
        XSetWindowAttributes attributes{};
        const ::Window window =
            NewWindow(root_, x, y, clientWidth, clientHeight, attributes, 0, title, className);
        if (window == 0) return nullptr;
        // The position is ours to choose: the window manager puts the frame's corner there.
        XSizeHints* hints = XAllocSizeHints();
        if (hints != nullptr) {
            hints->flags = USPosition | PPosition | USSize | PSize | PWinGravity;
            hints->x = x;
            hints->y = y;
            hints->width = clientWidth;
            hints->height = clientHeight;
            hints->win_gravity = NorthWestGravity;
            XSetWMNormalHints(display_, window, hints);
            XFree(hints);
        }
        Atom protocols[] = {wmDelete_};
        XSetWMProtocols(display_, window, protocols, 1);
        made = Adopt(window, title, style, nullptr, Rect{x, y, x + width, y + height}, clientWidth,
                     clientHeight);
    }
    Wake();
    return made;
}

X11Resources X11System::Resources() const {
    MutexLock lock(displayMutex_);
    return X11Resources{windows_.size(), surfaces_.Images(), surfaces_.Segments(), gcs_,
                        surfaces_.ServerObjects()};
}

bool X11System::WindowExists(unsigned long window) {
    if (window == 0) return false;
    InstallErrorHandlers();
    MutexLock lock(displayMutex_);
    if (broken_) return false;
    XWindowAttributes attributes;
    const size_t before = errors_.load();
    const Status status = XGetWindowAttributes(display_, window, &attributes);
    return status != 0 && errors_.load() == before;
}

}  // namespace lumora::platform
