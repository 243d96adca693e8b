#include "platform/WindowX11.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XShm.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/ipc.h>
#include <sys/shm.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <thread>

#include "platform/Log.h"
#include "platform/MessageTarget.h"
#include "platform/WindowOffscreen.h"
#include "platform/WindowPixels.h"

namespace lumora::platform {
namespace {

void Debug(const char* format, ...) __attribute__((format(printf, 1, 2)));
void Debug(const char* format, ...) {
    if (!LogEnabled(LogCategory::kWindow)) return;
    char text[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    Log(LogCategory::kWindow, 1, "lumora: %s\n", text);
}

// ---- X errors -------------------------------------------------------------------------------
// Xlib's handlers are process-wide. Ours handle errors of our own connections and pass every
// other display's errors to whatever handler was installed before, so an application's own
// handling is unchanged.

class ErrorSink {
public:
    virtual ~ErrorSink() = default;
    virtual void OnError(const XErrorEvent& error) = 0;
    virtual void OnConnectionLost() = 0;
};

std::mutex gSinkMutex;  // guards gSinks and the previous handlers
std::map<Display*, ErrorSink*> gSinks;
XErrorHandler gPreviousError = nullptr;
XIOErrorHandler gPreviousIoError = nullptr;

ErrorSink* SinkOf(Display* display) {
    std::lock_guard lock(gSinkMutex);
    auto it = gSinks.find(display);
    return it == gSinks.end() ? nullptr : it->second;
}

int OnXError(Display* display, XErrorEvent* error) {
    if (ErrorSink* sink = SinkOf(display)) {
        sink->OnError(*error);
        return 0;
    }
    XErrorHandler previous;
    {
        std::lock_guard lock(gSinkMutex);
        previous = gPreviousError;
    }
    return previous != nullptr ? previous(display, error) : 0;
}

int OnXIoError(Display* display) {
    if (ErrorSink* sink = SinkOf(display)) {
        sink->OnConnectionLost();
        return 0;
    }
    XIOErrorHandler previous;
    {
        std::lock_guard lock(gSinkMutex);
        previous = gPreviousIoError;
    }
    return previous != nullptr ? previous(display) : 0;
}

void OnXIoExit(Display* display, void*) {
    // Returning instead of exiting leaves the connection broken; the sink already knows.
    if (ErrorSink* sink = SinkOf(display)) sink->OnConnectionLost();
}

// Installs our handlers, again if someone (a toolkit opening its display) replaced them since.
void InstallHandlers() {
    std::lock_guard lock(gSinkMutex);
    XErrorHandler before = XSetErrorHandler(OnXError);
    if (before != OnXError) gPreviousError = before;
    XIOErrorHandler beforeIo = XSetIOErrorHandler(OnXIoError);
    if (beforeIo != OnXIoError) gPreviousIoError = beforeIo;
}

// ---- the image a window shows ---------------------------------------------------------------

struct Surface {
    XImage* image = nullptr;
    XShmSegmentInfo shm{};
    bool shared = false;
    int width = 0;
    int height = 0;
};

// Put states of a window's image, handed between the capture thread and the event thread.
enum PutState : int {
    kIdle = 0,      // the image may be written
    kWriting = 1,   // the capture thread fills it
    kQueued = 2,    // filled, waiting for the event thread
    kInFlight = 3,  // sent through shared memory, the server has not finished reading it
    kServicing = 4  // the event thread resizes or sends it
};

class X11System;

class X11Target final : public MessageTarget {
public:
    explicit X11Target(unsigned long window) : window_(window) {}
    bool Post(const LumoraHostMessage&) override { return false; }
    void Close() override {}
    unsigned long Window() const { return window_; }

private:
    const unsigned long window_;
};

class X11Window;

class X11System final : public X11WindowSystem,
                        public ErrorSink,
                        public std::enable_shared_from_this<X11System> {
public:
    X11System(Display* display, bool useShm);
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

    bool UsesSharedMemory() const override { return useShm_.load(); }
    X11Resources Resources() const override;
    size_t ErrorCount() const override { return errors_.load(); }
    size_t SkippedFrames() const override { return skipped_.load(); }
    bool WindowExists(unsigned long window) override;
    bool Flush(int timeoutMs) override;

    void OnError(const XErrorEvent& error) override;
    void OnConnectionLost() override;

    // For the windows.
    std::mutex& DisplayMutex() { return displayMutex_; }
    Display* Dpy() const { return display_; }
    bool Broken() const { return broken_.load(); }
    void Wake();
    void CountSkipped() { ++skipped_; }
    // Under the display lock.
    bool CreateSurface(Surface& surface, int width, int height);
    void DestroySurface(Surface& surface);
    void SendSurface(::Window window, GC gc, const Surface& surface);
    void Forget(::Window window);
    GC NewGc(::Window window);
    void FreeGc(GC gc);
    size_t ErrorsNow() const { return errors_.load(); }
    Atom DeleteAtom() const { return wmDelete_; }
    Atom ProtocolsAtom() const { return wmProtocols_; }
    void SetNames(::Window window, const std::string& title, const std::string& className);
    ::Window Root() const { return root_; }
    Visual* TheVisual() const { return visual_; }
    int Depth() const { return depth_; }

private:
    friend class X11Window;
    void EventLoop();
    void Dispatch(XEvent& event);
    void ServiceWindows();
    bool FrameExtents(long extents[4]) const;

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
    int shmCompletion_ = -1;
    std::atomic<bool> useShm_;
    std::atomic<bool> broken_{false};
    std::atomic<size_t> errors_{0};
    std::atomic<size_t> skipped_{0};
    Atom wmProtocols_;
    Atom wmDelete_;
    Atom netFrameExtents_;
    Atom netRequestFrameExtents_;
    Atom netSupported_;
    Atom netWmName_;
    Atom utf8String_;

    // Lock order: displayMutex_ before a window's own state.
    mutable std::mutex displayMutex_;  // guards every Xlib call, windows_ and the counts below
    std::map<::Window, X11Window*> windows_;
    size_t images_ = 0;
    size_t segments_ = 0;
    size_t gcs_ = 0;
    mutable bool extentsKnown_ = false;
    mutable long extents_[4] = {0, 0, 0, 0};  // left, right, top, bottom

    std::mutex classMutex_;  // guards classes_
    std::map<std::string, int> classes_;
    // Children of parents that are not X11 windows (a queue window) are kept here, unseen, so a
    // run that asked for one still starts and draws.
    const std::shared_ptr<OffscreenWindowSystem> offscreen_ =
        std::make_shared<OffscreenWindowSystem>();

    int wakePipe_[2] = {-1, -1};
    std::atomic<bool> stop_{false};
    std::thread events_;
};

class X11Window final : public Window {
public:
    X11Window(std::shared_ptr<X11System> system, ::Window window, GC gc, Surface surface,
              std::string title, uint32_t style, HWND parent, Rect frame, int clientWidth,
              int clientHeight)
        : system_(std::move(system)),
          window_(window),
          gc_(gc),
          title_(std::move(title)),
          style_(style),
          parent_(parent),
          frame_(frame),
          width_(clientWidth),
          height_(clientHeight),
          surface_(surface) {
        // The image names its segment through a pointer to the segment record it was made
        // with; the record now lives here.
        if (surface_.shared) surface_.image->obdata = reinterpret_cast<char*>(&surface_.shm);
        handle_ = RegisterTarget(std::make_shared<X11Target>(window));
    }
    ~X11Window() override;

    std::string Title() const override { return title_; }
    uint32_t Style() const override { return style_; }
    Rect Frame() const override {
        std::lock_guard lock(frameMutex_);
        return frame_;
    }
    int ClientWidth() const override { return width_.load(); }
    int ClientHeight() const override { return height_.load(); }
    bool IsVisible() const override {
        return mapped_.load() && !closed_.load() && !system_->Broken();
    }
    HWND Parent() const override { return parent_; }
    HWND Handle() const override { return handle_; }
    bool Show() override;
    void SetClientSize(int width, int height) override;
    void PutImage(const PixelView& image) override;
    std::vector<uint32_t> ClientPixels() const override;

    // The event thread, under the display lock.
    ::Window Id() const { return window_; }
    void OnConfigure(int width, int height);
    void OnExpose() { repaintWanted_ = true; }
    void OnCompletion() {
        int expected = kInFlight;
        state_.compare_exchange_strong(expected, kIdle);
    }
    void OnClosedByUser();
    void OnDestroyed() {
        gone_ = true;
        closed_ = true;
    }
    void OnMapped(bool mapped) { viewable_ = mapped; }
    void Service();
    bool Busy() const {
        if (gone_.load()) return false;
        const int state = state_.load();
        return state == kQueued || state == kInFlight || state == kServicing;
    }

private:
    void Fill(const PixelView& image);

    const std::shared_ptr<X11System> system_;
    const ::Window window_;
    const GC gc_;
    const std::string title_;
    const uint32_t style_;
    const HWND parent_;
    HWND handle_ = nullptr;
    mutable std::mutex frameMutex_;  // guards frame_
    Rect frame_;
    std::atomic<int> width_;
    std::atomic<int> height_;
    std::atomic<bool> mapped_{false};    // shown by us
    std::atomic<bool> viewable_{false};  // mapped on the server
    std::atomic<bool> closed_{false};    // closed by the user or destroyed with its parent
    std::atomic<bool> gone_{false};      // the server destroyed it
    std::atomic<bool> repaintWanted_{false};
    std::atomic<bool> hasFrame_{false};
    std::atomic<int> state_{kIdle};
    // Written by the capture thread in kWriting, by the event thread in kServicing, and read by
    // the server while kInFlight; the state hands it over.
    Surface surface_;
};

// ---- X11System ------------------------------------------------------------------------------

X11System::X11System(Display* display, bool useShm)
    : display_(display),
      screen_(DefaultScreen(display)),
      root_(RootWindow(display, screen_)),
      visual_(DefaultVisual(display, screen_)),
      depth_(DefaultDepth(display, screen_)),
      screenWidth_(DisplayWidth(display, screen_)),
      screenHeight_(DisplayHeight(display, screen_)),
      useShm_(useShm) {
    {
        std::lock_guard lock(gSinkMutex);
        gSinks[display_] = this;
    }
    InstallHandlers();
    XSetIOErrorExitHandler(display_, OnXIoExit, nullptr);
    wmProtocols_ = XInternAtom(display_, "WM_PROTOCOLS", False);
    wmDelete_ = XInternAtom(display_, "WM_DELETE_WINDOW", False);
    netFrameExtents_ = XInternAtom(display_, "_NET_FRAME_EXTENTS", False);
    netRequestFrameExtents_ = XInternAtom(display_, "_NET_REQUEST_FRAME_EXTENTS", False);
    netSupported_ = XInternAtom(display_, "_NET_SUPPORTED", False);
    netWmName_ = XInternAtom(display_, "_NET_WM_NAME", False);
    utf8String_ = XInternAtom(display_, "UTF8_STRING", False);
    colormap_ = XCreateColormap(display_, root_, visual_, AllocNone);
    if (useShm_) {
        int major = 0;
        int minor = 0;
        Bool pixmaps = False;
        if (XShmQueryVersion(display_, &major, &minor, &pixmaps)) {
            shmCompletion_ = XShmGetEventBase(display_) + ShmCompletion;
        } else {
            useShm_ = false;
            Debug("the X server offers no shared memory; images go through XPutImage");
        }
    }
    if (pipe2(wakePipe_, O_CLOEXEC | O_NONBLOCK) != 0) wakePipe_[0] = wakePipe_[1] = -1;
}

X11System::~X11System() {
    stop_ = true;
    Wake();
    if (events_.joinable()) events_.join();
    {
        std::lock_guard lock(displayMutex_);
        if (!broken_) {
            XFreeColormap(display_, colormap_);
            XCloseDisplay(display_);
        }
    }
    {
        std::lock_guard lock(gSinkMutex);
        gSinks.erase(display_);
    }
    for (int fd : wakePipe_) {
        if (fd >= 0) close(fd);
    }
}

void X11System::StartEvents() {
    events_ = std::thread([this] { EventLoop(); });
}

void X11System::Wake() {
    if (wakePipe_[1] < 0) return;
    const char byte = 1;
    // A full pipe already holds a wake-up; the write never blocks.
    [[maybe_unused]] const ssize_t written = write(wakePipe_[1], &byte, 1);
}

void X11System::OnError(const XErrorEvent& error) {
    ++errors_;
    if (!LogEnabled(LogCategory::kWindow)) return;
    char text[128] = "";
    XGetErrorText(display_, error.error_code, text, sizeof text);
    Debug("X error on the preview connection: %s (request %d.%d, resource 0x%lx)", text,
          error.request_code, error.minor_code, error.resourceid);
}

void X11System::OnConnectionLost() {
    if (!broken_.exchange(true)) Debug("the connection to the X server was lost");
}

void X11System::EventLoop() {
    const int fd = ConnectionNumber(display_);
    while (!stop_.load()) {
        pollfd fds[2] = {{fd, POLLIN, 0}, {wakePipe_[0], POLLIN, 0}};
        poll(fds, wakePipe_[0] >= 0 ? 2 : 1, 100);
        if (fds[1].revents & POLLIN) {
            char drain[64];
            while (read(wakePipe_[0], drain, sizeof drain) > 0) {
            }
        }
        std::lock_guard lock(displayMutex_);
        if (broken_.load()) {
            // Nothing more can be shown; keep the windows' states moving so nobody waits.
            for (auto& [id, window] : windows_) window->OnDestroyed();
            if (stop_.load()) break;
            continue;
        }
        while (!broken_.load() && XPending(display_) > 0) {
            XEvent event;
            XNextEvent(display_, &event);
            Dispatch(event);
        }
        if (broken_.load()) continue;
        ServiceWindows();
        XFlush(display_);
    }
}

void X11System::Dispatch(XEvent& event) {
    if (shmCompletion_ >= 0 && event.type == shmCompletion_) {
        const auto& done = reinterpret_cast<const XShmCompletionEvent&>(event);
        auto it = windows_.find(done.drawable);
        if (it != windows_.end()) it->second->OnCompletion();
        return;
    }
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

void X11System::ServiceWindows() {
    for (auto& [id, window] : windows_) window->Service();
}

bool X11System::CreateSurface(Surface& surface, int width, int height) {
    surface = Surface{};
    if (width <= 0 || height <= 0) return false;
    if (useShm_.load()) {
        XImage* image = XShmCreateImage(display_, visual_, static_cast<unsigned>(depth_), ZPixmap,
                                        nullptr, &surface.shm, static_cast<unsigned>(width),
                                        static_cast<unsigned>(height));
        if (image != nullptr) {
            const size_t bytes = static_cast<size_t>(image->bytes_per_line) * image->height;
            surface.shm.shmid = shmget(IPC_PRIVATE, bytes, IPC_CREAT | 0600);
            void* address = surface.shm.shmid >= 0 ? shmat(surface.shm.shmid, nullptr, 0)
                                                   : reinterpret_cast<void*>(-1);
            bool attached = false;
            if (address != reinterpret_cast<void*>(-1)) {
                surface.shm.shmaddr = static_cast<char*>(address);
                surface.shm.readOnly = False;
                image->data = surface.shm.shmaddr;
                std::memset(image->data, 0, bytes);
                const size_t before = errors_.load();
                attached = XShmAttach(display_, &surface.shm) != 0;
                XSync(display_, False);
                attached = attached && errors_.load() == before;
            }
            // Marked for removal at once: the segment goes when both sides detach, even if the
            // process dies.
            if (surface.shm.shmid >= 0) shmctl(surface.shm.shmid, IPC_RMID, nullptr);
            if (attached) {
                surface.image = image;
                surface.shared = true;
                surface.width = width;
                surface.height = height;
                ++images_;
                ++segments_;
                return true;
            }
            if (address != reinterpret_cast<void*>(-1)) shmdt(address);
            image->data = nullptr;
            XDestroyImage(image);
            surface = Surface{};
        }
        // Refused (a remote display, or no segment to be had): plain requests from now on.
        useShm_ = false;
        Debug("the X server refused shared memory; images go through XPutImage");
    }
    XImage* image =
        XCreateImage(display_, visual_, static_cast<unsigned>(depth_), ZPixmap, 0, nullptr,
                     static_cast<unsigned>(width), static_cast<unsigned>(height), 32, 0);
    if (image == nullptr) return false;
    image->data = static_cast<char*>(
        std::calloc(static_cast<size_t>(image->bytes_per_line), static_cast<size_t>(height)));
    if (image->data == nullptr) {
        XDestroyImage(image);
        return false;
    }
    surface.image = image;
    surface.width = width;
    surface.height = height;
    ++images_;
    return true;
}

void X11System::DestroySurface(Surface& surface) {
    if (surface.image == nullptr) return;
    if (surface.shared) {
        if (!broken_) {
            XShmDetach(display_, &surface.shm);
            XSync(display_, False);
        }
        shmdt(surface.shm.shmaddr);
        surface.image->data = nullptr;
        --segments_;
    }
    XDestroyImage(surface.image);  // frees a plain image's pixels
    --images_;
    surface = Surface{};
}

void X11System::SendSurface(::Window window, GC gc, const Surface& surface) {
    if (surface.shared) {
        XShmPutImage(display_, window, gc, surface.image, 0, 0, 0, 0,
                     static_cast<unsigned>(surface.width), static_cast<unsigned>(surface.height),
                     True);
    } else {
        XPutImage(display_, window, gc, surface.image, 0, 0, 0, 0,
                  static_cast<unsigned>(surface.width), static_cast<unsigned>(surface.height));
    }
}

GC X11System::NewGc(::Window window) {
    GC gc = XCreateGC(display_, window, 0, nullptr);
    if (gc != nullptr) ++gcs_;
    return gc;
}

void X11System::FreeGc(GC gc) {
    if (gc == nullptr) return;
    XFreeGC(display_, gc);
    --gcs_;
}

void X11System::Forget(::Window window) {
    windows_.erase(window);
}

void X11System::SetNames(::Window window, const std::string& title, const std::string& className) {
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
}

bool X11System::RegisterClass(const std::string& name) {
    std::lock_guard lock(classMutex_);
    if (name.empty() || !classes_.emplace(name, 0).second) return false;
    offscreen_->RegisterClass(name);
    return true;
}

bool X11System::UnregisterClass(const std::string& name) {
    std::lock_guard lock(classMutex_);
    offscreen_->UnregisterClass(name);
    return classes_.erase(name) == 1;
}

std::unique_ptr<Window> X11System::CreateChild(const std::string& className, HWND parent,
                                               const std::string& title, uint32_t style, int x,
                                               int y, int width, int height) {
    {
        std::lock_guard lock(classMutex_);
        if (classes_.count(className) == 0) return nullptr;
    }
    const unsigned long parentId = X11WindowOf(parent);
    if (parentId == 0) {
        static std::once_flag said;
        std::call_once(said, [] {
            Debug("a preview parent that is not an X11 window gets an offscreen child");
        });
        return offscreen_->CreateChild(className, parent, title, style, x, y, width, height);
    }
    if (width <= 0 || height <= 0) return nullptr;
    InstallHandlers();
    std::unique_ptr<X11Window> made;
    {
        std::lock_guard lock(displayMutex_);
        if (broken_) return nullptr;
        XSetWindowAttributes attributes{};
        attributes.background_pixel = BlackPixel(display_, screen_);
        attributes.event_mask = ExposureMask | StructureNotifyMask;
        attributes.border_pixel = 0;
        attributes.colormap = colormap_;
        const size_t before = errors_.load();
        const ::Window window =
            XCreateWindow(display_, parentId, x, y, static_cast<unsigned>(width),
                          static_cast<unsigned>(height), 0, depth_, InputOutput, visual_,
                          CWBackPixel | CWBorderPixel | CWColormap | CWEventMask, &attributes);
        XSync(display_, False);
        if (window == 0 || errors_.load() != before) {
            // The parent is gone or of another screen; the window (if any) went with the error.
            return nullptr;
        }
        SetNames(window, title, className);
        Surface surface;
        if (!CreateSurface(surface, width, height)) {
            XDestroyWindow(display_, window);
            return nullptr;
        }
        made = std::make_unique<X11Window>(shared_from_this(), window, NewGc(window), surface,
                                           title, style, parent, Rect{x, y, x + width, y + height},
                                           width, height);
        windows_[window] = made.get();
    }
    Wake();
    return made;
}

bool X11System::FrameExtents(long extents[4]) const {
    // Asked of the window manager with a probe window that is never shown, once per connection.
    if (!extentsKnown_) {
        extentsKnown_ = true;
        Atom type = 0;
        int format = 0;
        unsigned long count = 0;
        unsigned long rest = 0;
        unsigned char* data = nullptr;
        bool offered = false;
        if (XGetWindowProperty(display_, root_, netSupported_, 0, 4096, False, XA_ATOM, &type,
                               &format, &count, &rest, &data) == Success &&
            data != nullptr) {
            const auto* atoms = reinterpret_cast<const Atom*>(data);
            for (unsigned long i = 0; i < count; ++i) {
                offered = offered || atoms[i] == netRequestFrameExtents_;
            }
            XFree(data);
        }
        if (offered) {
            XSetWindowAttributes attributes{};
            const ::Window probe = XCreateWindow(display_, root_, 0, 0, 64, 64, 0, CopyFromParent,
                                                 InputOutput, CopyFromParent, 0, &attributes);
            XEvent request{};
            request.xclient.type = ClientMessage;
            request.xclient.window = probe;
            request.xclient.message_type = netRequestFrameExtents_;
            request.xclient.format = 32;
            XSendEvent(display_, root_, False, SubstructureNotifyMask | SubstructureRedirectMask,
                       &request);
            XFlush(display_);
            for (int turn = 0; turn < 20; ++turn) {
                data = nullptr;
                if (XGetWindowProperty(display_, probe, netFrameExtents_, 0, 4, False, XA_CARDINAL,
                                       &type, &format, &count, &rest, &data) == Success &&
                    data != nullptr && count == 4) {
                    const auto* values = reinterpret_cast<const long*>(data);
                    std::copy(values, values + 4, extents_);
                    XFree(data);
                    break;
                }
                if (data != nullptr) XFree(data);
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
            XDestroyWindow(display_, probe);
            XSync(display_, False);
        }
    }
    std::copy(extents_, extents_ + 4, extents);
    return true;
}

bool X11System::AdjustWindowRect(Rect& rect, uint32_t /*style*/) const {
    long extents[4];
    {
        std::lock_guard lock(displayMutex_);
        if (broken_) return false;
        FrameExtents(extents);
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
    {
        std::lock_guard lock(classMutex_);
        if (classes_.count(className) == 0) return nullptr;
    }
    InstallHandlers();
    std::unique_ptr<X11Window> made;
    {
        std::lock_guard lock(displayMutex_);
        if (broken_) return nullptr;
        long extents[4];
        FrameExtents(extents);
        // The outer size is given; the window manager's frame takes its part of it.
        const int clientWidth = width - static_cast<int>(extents[0] + extents[1]);
        const int clientHeight = height - static_cast<int>(extents[2] + extents[3]);
        if (clientWidth <= 0 || clientHeight <= 0) return nullptr;
        XSetWindowAttributes attributes{};
        attributes.background_pixel = BlackPixel(display_, screen_);
        attributes.event_mask = ExposureMask | StructureNotifyMask;
        const size_t before = errors_.load();
        const ::Window window =
            XCreateWindow(display_, root_, x, y, static_cast<unsigned>(clientWidth),
                          static_cast<unsigned>(clientHeight), 0, depth_, InputOutput, visual_,
                          CWBackPixel | CWEventMask, &attributes);
        XSync(display_, False);
        if (window == 0 || errors_.load() != before) return nullptr;
        SetNames(window, title, className);
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
        Surface surface;
        if (!CreateSurface(surface, clientWidth, clientHeight)) {
            XDestroyWindow(display_, window);
            return nullptr;
        }
        made = std::make_unique<X11Window>(shared_from_this(), window, NewGc(window), surface,
                                           title, style, nullptr, Rect{x, y, x + width, y + height},
                                           clientWidth, clientHeight);
        windows_[window] = made.get();
    }
    Wake();
    return made;
}

X11Resources X11System::Resources() const {
    std::lock_guard lock(displayMutex_);
    return X11Resources{windows_.size(), images_, segments_, gcs_};
}

bool X11System::WindowExists(unsigned long window) {
    if (window == 0) return false;
    InstallHandlers();
    std::lock_guard lock(displayMutex_);
    if (broken_) return false;
    XWindowAttributes attributes;
    const size_t before = errors_.load();
    const Status status = XGetWindowAttributes(display_, window, &attributes);
    return status != 0 && errors_.load() == before;
}

bool X11System::Flush(int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        bool busy = false;
        {
            std::lock_guard lock(displayMutex_);
            if (broken_) return false;
            for (auto& [id, window] : windows_) busy = busy || window->Busy();
            if (!busy) {
                XSync(display_, False);
                return true;
            }
        }
        Wake();
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

// ---- X11Window ------------------------------------------------------------------------------

X11Window::~X11Window() {
    UnregisterTarget(handle_);
    {
        std::lock_guard lock(system_->DisplayMutex());
        system_->Forget(window_);
        system_->DestroySurface(surface_);
        if (!system_->Broken()) {
            system_->FreeGc(gc_);
            if (!gone_.load()) XDestroyWindow(system_->Dpy(), window_);
            XSync(system_->Dpy(), False);
        }
    }
    system_->Wake();
}

bool X11Window::Show() {
    {
        std::lock_guard lock(system_->DisplayMutex());
        if (system_->Broken() || gone_.load()) return false;
        const size_t before = system_->ErrorsNow();
        XMapRaised(system_->Dpy(), window_);
        XSync(system_->Dpy(), False);
        if (system_->ErrorsNow() != before) return false;
    }
    mapped_ = true;
    repaintWanted_ = true;
    system_->Wake();
    return true;
}

void X11Window::SetClientSize(int width, int height) {
    width = std::max(width, 1);
    height = std::max(height, 1);
    {
        std::lock_guard lock(system_->DisplayMutex());
        if (system_->Broken() || gone_.load()) return;
        XResizeWindow(system_->Dpy(), window_, static_cast<unsigned>(width),
                      static_cast<unsigned>(height));
        XSync(system_->Dpy(), False);
    }
    OnConfigure(width, height);
    system_->Wake();
}

void X11Window::OnConfigure(int width, int height) {
    const int oldWidth = width_.exchange(width);
    const int oldHeight = height_.exchange(height);
    std::lock_guard lock(frameMutex_);
    frame_.right += width - oldWidth;
    frame_.bottom += height - oldHeight;
}

void X11Window::OnClosedByUser() {
    // The run goes on without a window: drawing stops and nothing else ends.
    closed_ = true;
    if (!gone_.exchange(true)) XDestroyWindow(system_->Dpy(), window_);
}

void X11Window::PutImage(const PixelView& image) {
    if (image.pixels == nullptr || (image.bitCount != 8 && image.bitCount != 24)) return;
    if (image.bitCount == 8 && image.palette == nullptr) return;
    if (!IsVisible()) return;
    int expected = kIdle;
    if (!state_.compare_exchange_strong(expected, kWriting)) {
        system_->CountSkipped();  // the previous frame is still on its way
        return;
    }
    if (surface_.image == nullptr || surface_.width != width_.load() ||
        surface_.height != height_.load()) {
        // The event thread makes an image of the new size; this frame is not shown.
        state_ = kIdle;
        system_->CountSkipped();
        system_->Wake();
        return;
    }
    Fill(image);
    hasFrame_ = true;
    state_ = kQueued;
    system_->Wake();
}

void X11Window::Fill(const PixelView& image) {
    XImage* target = surface_.image;
    const int rows = std::min(surface_.height, image.height);
    const int cols = std::min(surface_.width, image.width);
    const bool direct = target->bits_per_pixel == 32 && target->red_mask == 0xFF0000 &&
                        target->green_mask == 0xFF00 && target->blue_mask == 0xFF &&
                        target->byte_order == LSBFirst;
    uint32_t table[256];
    const bool gray = image.bitCount == 8 && IsGrayPalette(image.palette);
    if (image.bitCount == 8 && !gray) PaletteWords(image.palette, table);
    std::vector<uint32_t> scratch(direct ? 0 : static_cast<size_t>(cols));
    for (int y = 0; y < rows; ++y) {
        const int sourceRow = image.bottomUp ? image.height - 1 - y : y;
        const uint8_t* src = image.pixels + static_cast<size_t>(sourceRow) * image.stride;
        uint32_t* out = direct ? reinterpret_cast<uint32_t*>(
                                     target->data + static_cast<size_t>(y) * target->bytes_per_line)
                               : scratch.data();
        if (gray) {
            ExpandGrayRow(out, src, cols);
        } else if (image.bitCount == 8) {
            ExpandPaletteRow(out, src, cols, table);
        } else {
            ExpandBgrRow(out, src, cols);
        }
        if (direct) continue;
        // Any other true-colour layout: each channel scaled into its mask.
        for (int x = 0; x < cols; ++x) {
            const uint32_t rgb = scratch[static_cast<size_t>(x)];
            unsigned long pixel = 0;
            const unsigned long masks[3] = {target->red_mask, target->green_mask,
                                            target->blue_mask};
            for (int c = 0; c < 3; ++c) {
                const unsigned long mask = masks[c];
                if (mask == 0) continue;
                const int shift = __builtin_ctzl(mask);
                const unsigned long top = mask >> shift;
                const unsigned long value = (rgb >> (16 - 8 * c)) & 0xFF;
                pixel |= ((value * top + 127) / 255) << shift;
            }
            XPutPixel(target, x, y, pixel);
        }
    }
}

void X11Window::Service() {
    if (gone_.load()) return;
    int state = state_.load();
    const bool resize = surface_.width != width_.load() || surface_.height != height_.load();
    if (state == kIdle && (resize || (repaintWanted_.load() && hasFrame_.load()))) {
        if (!state_.compare_exchange_strong(state, kServicing)) return;
    } else if (state == kQueued) {
        if (!state_.compare_exchange_strong(state, kServicing)) return;
    } else {
        return;
    }
    if (resize) {
        // The image follows the client size; the next frame fills the new one.
        system_->DestroySurface(surface_);
        system_->CreateSurface(surface_, width_.load(), height_.load());
        hasFrame_ = false;
        repaintWanted_ = false;
        state_ = kIdle;
        return;
    }
    repaintWanted_ = false;
    system_->SendSurface(window_, gc_, surface_);
    // With shared memory the server reads the pixels later; the completion event frees them.
    state_ = surface_.shared ? kInFlight : kIdle;
}

std::vector<uint32_t> X11Window::ClientPixels() const {
    const int width = width_.load();
    const int height = height_.load();
    std::vector<uint32_t> pixels(static_cast<size_t>(std::max(width, 0)) * std::max(height, 0), 0);
    system_->Flush(2000);
    std::lock_guard lock(system_->DisplayMutex());
    if (system_->Broken() || gone_.load() || pixels.empty()) return pixels;
    const size_t before = system_->ErrorsNow();
    XImage* image = XGetImage(system_->Dpy(), window_, 0, 0, static_cast<unsigned>(width),
                              static_cast<unsigned>(height), AllPlanes, ZPixmap);
    if (image == nullptr || system_->ErrorsNow() != before) {
        if (image != nullptr) XDestroyImage(image);
        return pixels;
    }
    const unsigned long masks[3] = {image->red_mask, image->green_mask, image->blue_mask};
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const unsigned long value = XGetPixel(image, x, y);
            uint32_t rgb = 0;
            for (int c = 0; c < 3; ++c) {
                const unsigned long mask = masks[c];
                if (mask == 0) continue;
                const int shift = __builtin_ctzl(mask);
                const unsigned long top = mask >> shift;
                const unsigned long channel = ((value & mask) >> shift) * 255 / top;
                rgb |= static_cast<uint32_t>(channel) << (16 - 8 * c);
            }
            pixels[static_cast<size_t>(y) * width + x] = rgb;
        }
    }
    XDestroyImage(image);
    return pixels;
}

std::mutex gSharedMutex;
std::shared_ptr<X11WindowSystem>* gShared = nullptr;  // kept for the whole process
bool gSharedTried = false;

}  // namespace

std::shared_ptr<X11WindowSystem> X11WindowSystem::Open(const X11Options& options) {
    const char* name = options.display != nullptr ? options.display : std::getenv("DISPLAY");
    if (name == nullptr || *name == '\0') return nullptr;
    Display* display = XOpenDisplay(name);
    if (display == nullptr) return nullptr;
    auto system = std::make_shared<X11System>(display, options.useSharedMemory);
    system->StartEvents();
    return system;
}

std::shared_ptr<X11WindowSystem> X11WindowSystem::Shared() {
    std::lock_guard lock(gSharedMutex);
    if (!gSharedTried) {
        gSharedTried = true;
        auto system = Open();
        if (system != nullptr) gShared = new std::shared_ptr<X11WindowSystem>(std::move(system));
    }
    return gShared != nullptr ? *gShared : nullptr;
}

unsigned long X11WindowOf(HWND window) {
    auto target = std::dynamic_pointer_cast<X11Target>(FindTarget(window));
    return target != nullptr ? target->Window() : 0;
}

HWND WrapX11Window(unsigned long window) {
    if (window == 0) return nullptr;
    auto system = X11WindowSystem::Shared();
    if (system == nullptr || !system->WindowExists(window)) return nullptr;
    return RegisterTarget(std::make_shared<X11Target>(window));
}

}  // namespace lumora::platform
