#include "platform/x11/X11Window.h"

#include <X11/Xutil.h>

#include <algorithm>

#include "platform/MessageTarget.h"
#include "platform/x11/X11PixelPacking.h"
#include "platform/x11/X11System.h"
#include "platform/x11/X11Target.h"

namespace lumora::platform {

X11Window::X11Window(std::shared_ptr<X11System> system, ::Window window, GC gc, X11Surface surface,
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
    // The image names its segment through a pointer to the segment record it was made with;
    // the record now lives here.
    if (surface_.shared) surface_.image->obdata = reinterpret_cast<char*>(&surface_.shm);
    if (surface_.gray.shared) {
        surface_.gray.image->obdata = reinterpret_cast<char*>(&surface_.gray.shm);
    }
    handle_ = RegisterTarget(std::make_shared<X11Target>(window));
}

X11Window::~X11Window() {
    UnregisterTarget(handle_);
    {
        MutexLock lock(system_->DisplayMutex());
        system_->Forget(window_);
        system_->Surfaces().Destroy(surface_, system_->Broken());
        if (!system_->Broken()) {
            system_->FreeGc(gc_);
            if (!gone_.load()) XDestroyWindow(system_->Dpy(), window_);
            XSync(system_->Dpy(), False);
        }
    }
    system_->Wake();
}

bool X11Window::IsVisible() const {
    return mapped_.load() && !closed_.load() && !system_->Broken();
}

bool X11Window::Show() {
    {
        MutexLock lock(system_->DisplayMutex());
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
        MutexLock lock(system_->DisplayMutex());
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
    MutexLock lock(frameMutex_);
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
    // The gray plane takes a gray frame at a byte a pixel; the server widens it.
    surface_.grayFilled = surface_.gray.image != nullptr && PackGrayImage(surface_.gray.image, image);
    if (!surface_.grayFilled) PackImage(surface_.image, image);
    hasFrame_ = true;
    state_ = kQueued;
    system_->Wake();
}

void X11Window::Service() {
    system_->DisplayMutex().AssertHeld();  // the event thread's turn holds it
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
        system_->Surfaces().Destroy(surface_, system_->Broken());
        system_->Surfaces().Create(surface_, width_.load(), height_.load());
        hasFrame_ = false;
        repaintWanted_ = false;
        state_ = kIdle;
        return;
    }
    repaintWanted_ = false;
    system_->Surfaces().Send(window_, gc_, surface_);
    // With shared memory the server reads the pixels later; the completion event frees them.
    state_ = surface_.shared ? kInFlight : kIdle;
}

std::vector<uint32_t> X11Window::ClientPixels() const {
    const int width = width_.load();
    const int height = height_.load();
    std::vector<uint32_t> pixels(static_cast<size_t>(std::max(width, 0)) * std::max(height, 0), 0);
    system_->Flush(2000);
    MutexLock lock(system_->DisplayMutex());
    if (system_->Broken() || gone_.load() || pixels.empty()) return pixels;
    const size_t before = system_->ErrorsNow();
    XImage* image = XGetImage(system_->Dpy(), window_, 0, 0, static_cast<unsigned>(width),
                              static_cast<unsigned>(height), AllPlanes, ZPixmap);
    if (image == nullptr || system_->ErrorsNow() != before) {
        if (image != nullptr) XDestroyImage(image);
        return pixels;
    }
    pixels = UnpackImage(image, width, height);
    XDestroyImage(image);
    return pixels;
}

}  // namespace lumora::platform
