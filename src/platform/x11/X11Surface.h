#pragma once
// The images windows show, on one connection: shared-memory segments where the server takes
// them (MIT-SHM), plain client images sent with XPutImage where it does not (a remote display,
// or no segment to be had). A refusal turns shared memory off for the connection's later images.
//
// Gray frames, the camera's usual picture, need not be widened to four bytes a pixel by the
// client: where the server is to widen them (X11GrayWidening) and has the RENDER extension and a
// 24-bit screen, a surface also has a gray plane, a depth-8 pixmap that takes the frame at a byte
// a pixel, and the server paints the window with white through it as an alpha mask, which gives
// each channel the gray value exactly. A quarter of the bytes then go to the server.
#include <X11/Xlib.h>
#include <X11/extensions/XShm.h>
#include <X11/extensions/Xrender.h>

#include <atomic>
#include <cstddef>

#include "platform/WindowX11.h"

namespace lumora::platform {

struct X11GrayPlane {
    XImage* image = nullptr;  // depth 8, a byte a pixel
    XShmSegmentInfo shm{};
    bool shared = false;
    Pixmap pixmap = 0;
    GC gc = nullptr;  // of the pixmap's depth
    Picture mask = 0;  // the pixmap as an alpha mask
};

struct X11Surface {
    XImage* image = nullptr;
    XShmSegmentInfo shm{};
    bool shared = false;
    int width = 0;
    int height = 0;
    X11GrayPlane gray;  // image null: none on this connection
    bool grayFilled = false;  // the last picture went into the gray plane, not `image`
};

// Every call but the getters is made under the connection's lock.
class X11Surfaces {
public:
    // `errors` counts the connection's X errors: an attach that fails shows there.
    X11Surfaces(Display* display, Visual* visual, int depth, bool useSharedMemory,
                X11GrayWidening grayWidening, const std::atomic<size_t>& errors);

    bool UsesSharedMemory() const { return useShm_.load(); }
    // The event type of shared-memory completions; -1 without shared memory.
    int CompletionEvent() const { return completion_; }

    // True when the server can widen gray frames.
    bool ServerCanWidenGray() const { return white_ != 0; }

    // An image of the given size, all black, with its gray plane where the server
    // is to widen gray frames; false (and `surface` empty) when no image can be had.
    bool Create(X11Surface& surface, int width, int height);
    // Frees the image; the server's side of a segment only while the connection stands.
    void Destroy(X11Surface& surface, bool connectionLost);
    // Asks the server to draw the image at the window's origin. With shared memory the server
    // reads the pixels later and says so with a completion event.
    // A gray plane's completion names its pixmap, not the window.
    void Send(::Window window, GC gc, const X11Surface& surface);

    size_t Images() const { return images_; }
    size_t Segments() const { return segments_; }
    // The gray planes' pixmaps, pictures and GCs.
    size_t ServerObjects() const { return serverObjects_; }

private:
    // A plain client image of the given depth, all black; false (nothing held) without memory.
    bool CreatePlain(XImage*& image, int depth, int width, int height);
    // A shared image of the given depth; false (nothing held) when refused.
    bool CreateShared(XImage*& image, XShmSegmentInfo& shm, int depth, int width, int height);
    bool CreateGrayPlane(X11GrayPlane& plane, int width, int height);
    void DestroyGrayPlane(X11GrayPlane& plane, bool connectionLost);
    void ReleaseImage(XImage*& image, XShmSegmentInfo& shm, bool shared, bool connectionLost);

    Display* const display_;
    Visual* const visual_;
    const int depth_;
    const std::atomic<size_t>& errors_;
    std::atomic<bool> useShm_;
    int completion_ = -1;
    XRenderPictFormat* windowFormat_ = nullptr;
    XRenderPictFormat* maskFormat_ = nullptr;
    const X11GrayWidening grayWidening_;
    Picture white_ = 0;  // a white pixel repeated, the connection's; 0 without RENDER
    size_t images_ = 0;
    size_t segments_ = 0;
    size_t serverObjects_ = 0;
};

}  // namespace lumora::platform
