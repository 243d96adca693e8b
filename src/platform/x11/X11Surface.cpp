#include "platform/x11/X11Surface.h"

#include <X11/Xutil.h>
#include <sys/ipc.h>
#include <sys/shm.h>

#include <cstdlib>
#include <cstring>

#include "platform/Log.h"

namespace lumora::platform {

X11Surfaces::X11Surfaces(Display* display, Visual* visual, int depth, bool useSharedMemory,
                         const std::atomic<size_t>& errors)
    : display_(display), visual_(visual), depth_(depth), errors_(errors), useShm_(useSharedMemory) {
    if (!useShm_) return;
    int major = 0;
    int minor = 0;
    Bool pixmaps = False;
    if (XShmQueryVersion(display_, &major, &minor, &pixmaps)) {
        completion_ = XShmGetEventBase(display_) + ShmCompletion;
    } else {
        useShm_ = false;
        Log(LogCategory::kWindow, 1,
            "lumora: the X server offers no shared memory; images go through XPutImage\n");
    }
}

bool X11Surfaces::CreateShared(X11Surface& surface, int width, int height) {
    XImage* image =
        XShmCreateImage(display_, visual_, static_cast<unsigned>(depth_), ZPixmap, nullptr,
                        &surface.shm, static_cast<unsigned>(width), static_cast<unsigned>(height));
    if (image == nullptr) return false;
    const size_t bytes = static_cast<size_t>(image->bytes_per_line) * image->height;
    surface.shm.shmid = shmget(IPC_PRIVATE, bytes, IPC_CREAT | 0600);
    void* address =
        surface.shm.shmid >= 0 ? shmat(surface.shm.shmid, nullptr, 0) : reinterpret_cast<void*>(-1);
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
    // Marked for removal at once: the segment goes when both sides detach, even if the process
    // dies.
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
    surface = X11Surface{};
    return false;
}

bool X11Surfaces::Create(X11Surface& surface, int width, int height) {
    surface = X11Surface{};
    if (width <= 0 || height <= 0) return false;
    if (useShm_.load()) {
        if (CreateShared(surface, width, height)) return true;
        // Refused (a remote display, or no segment to be had): plain requests from now on.
        useShm_ = false;
        Log(LogCategory::kWindow, 1,
            "lumora: the X server refused shared memory; images go through XPutImage\n");
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

void X11Surfaces::Destroy(X11Surface& surface, bool connectionLost) {
    if (surface.image == nullptr) return;
    if (surface.shared) {
        if (!connectionLost) {
            XShmDetach(display_, &surface.shm);
            XSync(display_, False);
        }
        shmdt(surface.shm.shmaddr);
        surface.image->data = nullptr;
        --segments_;
    }
    XDestroyImage(surface.image);  // frees a plain image's pixels
    --images_;
    surface = X11Surface{};
}

void X11Surfaces::Send(::Window window, GC gc, const X11Surface& surface) {
    const auto width = static_cast<unsigned>(surface.width);
    const auto height = static_cast<unsigned>(surface.height);
    if (surface.shared) {
        XShmPutImage(display_, window, gc, surface.image, 0, 0, 0, 0, width, height, True);
    } else {
        XPutImage(display_, window, gc, surface.image, 0, 0, 0, 0, width, height);
    }
}

}  // namespace lumora::platform
