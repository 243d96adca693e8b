#pragma once
// Preview windows on an X server: children of an application's X11 window or top-level windows
// managed by the window manager. Frames reach the server through a shared-memory image
// (MIT-SHM) where the server accepts one, and through plain XPutImage where it does not (a
// remote display).
//
// Threads. Xlib is not thread-safe by default and the application may use it on its own
// connections, so the window layer keeps its own connection and its own event thread:
//   - every Xlib call on the connection is made under the system's display lock;
//   - windows are created, resized and destroyed on the caller's thread (under that lock);
//   - the event thread reads events (expose, resize, close by the window manager, destruction,
//     shared-memory completion) and sends the images;
//   - PutImage (the capture thread) never calls Xlib and never waits for the server: it fills
//     the window's image when the previous one has been sent (and, with shared memory, read by
//     the server) and hands it to the event thread; otherwise the frame is skipped.
// X errors on the connection are reported (standard error under LUMORA_DEBUG) and counted, never
// fatal; a lost connection turns every window invisible instead of ending the process.
#include <cstddef>
#include <memory>

#include "platform/Window.h"

namespace lumora::platform {

// Who widens gray frames into the screen's 32-bit pixels. The server (with RENDER) takes them at
// a byte a pixel, a quarter of the bytes on the wire to a remote display; on a local server that
// paints in software its widening costs it more than it saves the client, which copies four
// bytes a pixel through shared memory at about the same cost as the server's painting.
enum class X11GrayWidening {
    kAuto,    // the server when images go without shared memory, the client otherwise
    kServer,  // the server wherever it has RENDER and a 24-bit screen
    kClient,
};

struct X11Options {
    const char* display = nullptr;  // null: DISPLAY
    bool useSharedMemory = true;    // false: plain XPutImage even where MIT-SHM is offered
    X11GrayWidening grayWidening = X11GrayWidening::kAuto;
};

// What the connection holds now, to find leaks.
struct X11Resources {
    size_t windows = 0;         // windows created and not yet destroyed
    size_t images = 0;          // client-side images
    size_t sharedSegments = 0;  // shared-memory segments attached to the server
    size_t graphicsContexts = 0;
    size_t grayPlaneObjects = 0;  // gray planes' pixmaps, pictures and GCs on the server
};

class X11WindowSystem : public WindowSystem {
public:
    // Connects to the display; null when none is reachable.
    static std::shared_ptr<X11WindowSystem> Open(const X11Options& options = {});
    // The process's connection to DISPLAY, opened on first use and kept; null without a display.
    static std::shared_ptr<X11WindowSystem> Shared();

    // True when images go through shared memory.
    virtual bool UsesSharedMemory() const = 0;
    virtual X11Resources Resources() const = 0;
    virtual size_t ErrorCount() const = 0;
    // Frames PutImage skipped because the previous one had not reached the server.
    virtual size_t SkippedFrames() const = 0;
    // True when `window` exists on this display.
    virtual bool WindowExists(unsigned long window) = 0;
    // Waits (at most timeoutMs) until every image handed to the event thread has reached the
    // server and the server has processed it.
    virtual bool Flush(int timeoutMs) = 0;
};

// The X11 window an HWND stands for (wrapped, or a preview window on X11); 0 for any other.
unsigned long X11WindowOf(HWND window);
// An HWND that stands for an existing X11 window of the application (not owned).
HWND WrapX11Window(unsigned long window);

}  // namespace lumora::platform
