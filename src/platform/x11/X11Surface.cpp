#include "platform/x11/X11Surface.h"

#include <X11/Xutil.h>
#include <sys/ipc.h>
#include <sys/shm.h>

#include <cstdlib>
#include <cstring>

#include "platform/Log.h"

namespace lumora::platform {
namespace {

// The gray plane's painting gives each channel the gray value only where channels are whole
// bytes; other layouts keep the client's own packing, which rounds into narrower channels.
bool ByteChannels(const Visual* visual, int depth) {
    return depth == 24 && visual->red_mask == 0xFF0000 && visual->green_mask == 0xFF00 &&
           visual->blue_mask == 0xFF;
}

bool HasPixmapDepth(Display* display, int depth, int bitsPerPixel) {
    int count = 0;
    XPixmapFormatValues* formats = XListPixmapFormats(display, &count);
    bool found = false;
    for (int i = 0; i < count; ++i) {
        found = found || (formats[i].depth == depth && formats[i].bits_per_pixel == bitsPerPixel);
    }
    if (formats != nullptr) XFree(formats);
    return found;
}

}  // namespace

X11Surfaces::X11Surfaces(Display* display, Visual* visual, int depth, bool useSharedMemory,
                         X11GrayWidening grayWidening, const std::atomic<size_t>& errors)
    : display_(display),
      visual_(visual),
      depth_(depth),
      errors_(errors),
      useShm_(useSharedMemory),
      grayWidening_(grayWidening) {
    if (useShm_) {
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
    int eventBase = 0;
    int errorBase = 0;
    int major = 0;
    int minor = 0;
    if (grayWidening_ == X11GrayWidening::kClient || !ByteChannels(visual_, depth_) ||
        !XRenderQueryExtension(display_, &eventBase, &errorBase) ||
        !XRenderQueryVersion(display_, &major, &minor) || !HasPixmapDepth(display_, 8, 8) ||
        !HasPixmapDepth(display_, 32, 32)) {
        return;
    }
    windowFormat_ = XRenderFindVisualFormat(display_, visual_);
    maskFormat_ = XRenderFindStandardFormat(display_, PictStandardA8);
    XRenderPictFormat* argb = XRenderFindStandardFormat(display_, PictStandardARGB32);
    if (windowFormat_ == nullptr || maskFormat_ == nullptr || argb == nullptr) return;
    // One white pixel, repeated: a software server paints through it faster than through a
    // solid fill.
    const Pixmap pixel = XCreatePixmap(display_, DefaultRootWindow(display_), 1, 1, 32);
    XRenderPictureAttributes repeat{};
    repeat.repeat = RepeatNormal;
    white_ = XRenderCreatePicture(display_, pixel, argb, CPRepeat, &repeat);
    XFreePixmap(display_, pixel);  // the picture keeps it
    const XRenderColor white{0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF};
    XRenderFillRectangle(display_, PictOpSrc, white_, &white, 0, 0, 1, 1);
}

bool X11Surfaces::CreateShared(XImage*& image, XShmSegmentInfo& shm, int depth, int width,
                               int height) {
    image = XShmCreateImage(display_, visual_, static_cast<unsigned>(depth), ZPixmap, nullptr, &shm,
                            static_cast<unsigned>(width), static_cast<unsigned>(height));
    if (image == nullptr) return false;
    const size_t bytes = static_cast<size_t>(image->bytes_per_line) * image->height;
    shm.shmid = shmget(IPC_PRIVATE, bytes, IPC_CREAT | 0600);
    void* address = shm.shmid >= 0 ? shmat(shm.shmid, nullptr, 0) : reinterpret_cast<void*>(-1);
    bool attached = false;
    if (address != reinterpret_cast<void*>(-1)) {
        shm.shmaddr = static_cast<char*>(address);
        shm.readOnly = False;
        image->data = shm.shmaddr;
        std::memset(image->data, 0, bytes);
        const size_t before = errors_.load();
        attached = XShmAttach(display_, &shm) != 0;
        XSync(display_, False);
        attached = attached && errors_.load() == before;
    }
    // Marked for removal at once: the segment goes when both sides detach, even if the process
    // dies.
    if (shm.shmid >= 0) shmctl(shm.shmid, IPC_RMID, nullptr);
    if (attached) {
        ++images_;
        ++segments_;
        return true;
    }
    if (address != reinterpret_cast<void*>(-1)) shmdt(address);
    image->data = nullptr;
    XDestroyImage(image);
    image = nullptr;
    shm = XShmSegmentInfo{};
    return false;
}

bool X11Surfaces::CreatePlain(XImage*& image, int depth, int width, int height) {
    image = XCreateImage(display_, visual_, static_cast<unsigned>(depth), ZPixmap, 0, nullptr,
                         static_cast<unsigned>(width), static_cast<unsigned>(height), 32, 0);
    if (image == nullptr) return false;
    image->data = static_cast<char*>(
        std::calloc(static_cast<size_t>(image->bytes_per_line), static_cast<size_t>(height)));
    if (image->data == nullptr) {
        XDestroyImage(image);
        image = nullptr;
        return false;
    }
    ++images_;
    return true;
}

bool X11Surfaces::Create(X11Surface& surface, int width, int height) {
    surface = X11Surface{};
    if (width <= 0 || height <= 0) return false;
    if (useShm_.load()) {
        if (CreateShared(surface.image, surface.shm, depth_, width, height)) {
            surface.shared = true;
        } else {
            // Refused (a remote display, or no segment to be had): plain requests from now on.
            useShm_ = false;
            Log(LogCategory::kWindow, 1,
                "lumora: the X server refused shared memory; images go through XPutImage\n");
        }
    }
    if (surface.image == nullptr && !CreatePlain(surface.image, depth_, width, height)) {
        return false;
    }
    surface.width = width;
    surface.height = height;
    // Without a gray plane, gray frames are widened by the client like any other.
    const bool serverWidens =
        grayWidening_ == X11GrayWidening::kServer ||
        (grayWidening_ == X11GrayWidening::kAuto && !surface.shared);
    if (ServerCanWidenGray() && serverWidens) CreateGrayPlane(surface.gray, width, height);
    return true;
}

bool X11Surfaces::CreateGrayPlane(X11GrayPlane& plane, int width, int height) {
    plane = X11GrayPlane{};
    const size_t before = errors_.load();
    // On the root: the window may be destroyed by its parent or the window manager at any time.
    plane.pixmap = XCreatePixmap(display_, DefaultRootWindow(display_), static_cast<unsigned>(width),
                                 static_cast<unsigned>(height), 8);
    plane.gc = XCreateGC(display_, plane.pixmap, 0, nullptr);
    plane.mask = XRenderCreatePicture(display_, plane.pixmap, maskFormat_, 0, nullptr);
    serverObjects_ += 3;
    XSync(display_, False);
    bool made = errors_.load() == before && plane.gc != nullptr;
    if (made && useShm_.load()) {
        plane.shared = CreateShared(plane.image, plane.shm, 8, width, height);
    }
    made = made && (plane.image != nullptr || CreatePlain(plane.image, 8, width, height));
    if (!made) {
        Log(LogCategory::kWindow, 1,
            "lumora: no gray plane for a %dx%d window; gray frames are widened by the client\n",
            width, height);
        DestroyGrayPlane(plane, false);
    }
    return made;
}

void X11Surfaces::ReleaseImage(XImage*& image, XShmSegmentInfo& shm, bool shared,
                               bool connectionLost) {
    if (image == nullptr) return;
    if (shared) {
        if (!connectionLost) {
            XShmDetach(display_, &shm);
            XSync(display_, False);
        }
        shmdt(shm.shmaddr);
        image->data = nullptr;
        --segments_;
    }
    XDestroyImage(image);  // frees a plain image's pixels
    image = nullptr;
    --images_;
}

void X11Surfaces::DestroyGrayPlane(X11GrayPlane& plane, bool connectionLost) {
    if (plane.pixmap != 0) {
        if (!connectionLost) {
            if (plane.mask != 0) XRenderFreePicture(display_, plane.mask);
            if (plane.gc != nullptr) XFreeGC(display_, plane.gc);
            XFreePixmap(display_, plane.pixmap);
        }
        serverObjects_ -= 3;
    }
    ReleaseImage(plane.image, plane.shm, plane.shared, connectionLost);
    plane = X11GrayPlane{};
}

void X11Surfaces::Destroy(X11Surface& surface, bool connectionLost) {
    DestroyGrayPlane(surface.gray, connectionLost);
    ReleaseImage(surface.image, surface.shm, surface.shared, connectionLost);
    surface = X11Surface{};
}

void X11Surfaces::Send(::Window window, GC gc, const X11Surface& surface) {
    const auto width = static_cast<unsigned>(surface.width);
    const auto height = static_cast<unsigned>(surface.height);
    if (surface.grayFilled && surface.gray.image != nullptr) {
        const X11GrayPlane& plane = surface.gray;
        if (plane.shared) {
            XShmPutImage(display_, plane.pixmap, plane.gc, plane.image, 0, 0, 0, 0, width, height,
                         True);
        } else {
            XPutImage(display_, plane.pixmap, plane.gc, plane.image, 0, 0, 0, 0, width, height);
        }
        // The window's picture lives no longer than this request: the server frees a window's
        // pictures with the window, which the window manager or a parent may destroy any time.
        const Picture target = XRenderCreatePicture(display_, window, windowFormat_, 0, nullptr);
        XRenderComposite(display_, PictOpSrc, white_, plane.mask, target, 0, 0, 0, 0, 0, 0, width,
                         height);
        XRenderFreePicture(display_, target);
        return;
    }
    if (surface.shared) {
        XShmPutImage(display_, window, gc, surface.image, 0, 0, 0, 0, width, height, True);
    } else {
        XPutImage(display_, window, gc, surface.image, 0, 0, 0, 0, width, height);
    }
}

}  // namespace lumora::platform
