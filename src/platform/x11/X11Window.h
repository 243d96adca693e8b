#pragma once
// A preview window on an X server. Its image is handed between the capture thread (PutImage)
// and the connection's event thread by a put state, so the putter never calls Xlib and never
// waits for the server.
#include <X11/Xlib.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <string>

#include "platform/Mutex.h"
#include "platform/Window.h"
#include "platform/x11/X11Surface.h"

namespace lumora::platform {

class X11System;

// Put states of a window's image.
enum X11PutState : int {
    kIdle = 0,      // the image may be written
    kWriting = 1,   // the capture thread fills it
    kQueued = 2,    // filled, waiting for the event thread
    kInFlight = 3,  // sent through shared memory, the server has not finished reading it
    kServicing = 4  // the event thread resizes or sends it
};

class X11Window final : public Window {
public:
    X11Window(std::shared_ptr<X11System> system, ::Window window, GC gc, X11Surface surface,
              std::string title, uint32_t style, HWND parent, Rect frame, int clientWidth,
              int clientHeight);
    ~X11Window() override;

    std::string Title() const override { return title_; }
    uint32_t Style() const override { return style_; }
    Rect Frame() const override {
        MutexLock lock(frameMutex_);
        return frame_;
    }
    int ClientWidth() const override { return width_.load(); }
    int ClientHeight() const override { return height_.load(); }
    bool IsVisible() const override;
    HWND Parent() const override { return parent_; }
    HWND Handle() const override { return handle_; }
    bool Show() override;
    void SetClientSize(int width, int height) override;
    void PutImage(const PixelView& image) override;
    std::vector<uint32_t> ClientPixels() const override;

    // The event thread, under the display lock.
    ::Window Id() const { return window_; }
    // The pixmap a gray frame is sent to; its completion names it (0: none).
    Pixmap GrayPixmap() const { return surface_.gray.pixmap; }
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
    // Resizes the image to the client size, or sends a queued or wanted picture.
    void Service();
    // True while a picture is on its way to the server.
    bool Busy() const {
        if (gone_.load()) return false;
        const int state = state_.load();
        return state == kQueued || state == kInFlight || state == kServicing;
    }

private:
    const std::shared_ptr<X11System> system_;
    const ::Window window_;
    const GC gc_;
    const std::string title_;
    const uint32_t style_;
    const HWND parent_;
    HWND handle_ = nullptr;
    mutable Mutex frameMutex_;
    Rect frame_ LUMORA_GUARDED_BY(frameMutex_);
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
    X11Surface surface_;
};

}  // namespace lumora::platform
