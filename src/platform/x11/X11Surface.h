#pragma once
// The images windows show, on one connection: shared-memory segments where the server takes
// them (MIT-SHM), plain client images sent with XPutImage where it does not (a remote display,
// or no segment to be had). A refusal turns shared memory off for the connection's later images.
#include <X11/Xlib.h>
#include <X11/extensions/XShm.h>

#include <atomic>
#include <cstddef>

namespace lumora::platform {

struct X11Surface {
    XImage* image = nullptr;
    XShmSegmentInfo shm{};
    bool shared = false;
    int width = 0;
    int height = 0;
};

// Every call but the getters is made under the connection's lock.
class X11Surfaces {
public:
    // `errors` counts the connection's X errors: an attach that fails shows there.
    X11Surfaces(Display* display, Visual* visual, int depth, bool useSharedMemory,
                const std::atomic<size_t>& errors);

    bool UsesSharedMemory() const { return useShm_.load(); }
    // The event type of shared-memory completions; -1 without shared memory.
    int CompletionEvent() const { return completion_; }

    // An image of the given size, all black; false (and `surface` empty) when none can be had.
    bool Create(X11Surface& surface, int width, int height);
    // Frees the image; the server's side of a segment only while the connection stands.
    void Destroy(X11Surface& surface, bool connectionLost);
    // Asks the server to draw the image at the window's origin. With shared memory the server
    // reads the pixels later and says so with a completion event.
    void Send(::Window window, GC gc, const X11Surface& surface);

    size_t Images() const { return images_; }
    size_t Segments() const { return segments_; }

private:
    bool CreateShared(X11Surface& surface, int width, int height);

    Display* const display_;
    Visual* const visual_;
    const int depth_;
    const std::atomic<size_t>& errors_;
    std::atomic<bool> useShm_;
    int completion_ = -1;
    size_t images_ = 0;
    size_t segments_ = 0;
};

}  // namespace lumora::platform
