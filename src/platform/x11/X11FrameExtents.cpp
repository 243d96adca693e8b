#include "platform/x11/X11FrameExtents.h"

#include <X11/Xatom.h>

#include <algorithm>

namespace lumora::platform {

X11FrameExtents::X11FrameExtents(Display* display, ::Window root)
    : display_(display),
      root_(root),
      frameExtents_(XInternAtom(display, "_NET_FRAME_EXTENTS", False)),
      requestFrameExtents_(XInternAtom(display, "_NET_REQUEST_FRAME_EXTENTS", False)),
      supported_(XInternAtom(display, "_NET_SUPPORTED", False)) {}

bool X11FrameExtents::Offered() const {
    Atom type = 0;
    int format = 0;
    unsigned long count = 0;
    unsigned long rest = 0;
    unsigned char* data = nullptr;
    bool offered = false;
    if (XGetWindowProperty(display_, root_, supported_, 0, 4096, False, XA_ATOM, &type, &format,
                           &count, &rest, &data) == Success &&
        data != nullptr) {
        const auto* atoms = reinterpret_cast<const Atom*>(data);
        offered = std::find(atoms, atoms + count, requestFrameExtents_) != atoms + count;
        XFree(data);
    }
    return offered;
}

bool X11FrameExtents::Ask() {
    if (state_ != State::kUnknown) return state_ == State::kAsked;
    if (!Offered()) {
        state_ = State::kKnown;
        return false;
    }
    XSetWindowAttributes attributes{};
    attributes.event_mask = PropertyChangeMask;
    probe_ = XCreateWindow(display_, root_, 0, 0, 64, 64, 0, CopyFromParent, InputOutput,
                           CopyFromParent, CWEventMask, &attributes);
    XEvent request{};
    request.xclient.type = ClientMessage;
    request.xclient.window = probe_;
    request.xclient.message_type = requestFrameExtents_;
    request.xclient.format = 32;
    XSendEvent(display_, root_, False, SubstructureNotifyMask | SubstructureRedirectMask, &request);
    XFlush(display_);
    state_ = State::kAsked;
    return true;
}

bool X11FrameExtents::TakeAnswer(const XEvent& event) {
    if (state_ != State::kAsked || event.type != PropertyNotify ||
        event.xproperty.window != probe_) {
        return false;
    }
    if (event.xproperty.atom == frameExtents_ && event.xproperty.state == PropertyNewValue) {
        answered_ = true;
    }
    return true;
}

void X11FrameExtents::Finish() {
    if (state_ != State::kAsked) return;
    Atom type = 0;
    int format = 0;
    unsigned long count = 0;
    unsigned long rest = 0;
    unsigned char* data = nullptr;
    // Read even without an answer seen: it may have come before the event thread looked.
    if (XGetWindowProperty(display_, probe_, frameExtents_, 0, 4, False, XA_CARDINAL, &type,
                           &format, &count, &rest, &data) == Success &&
        data != nullptr && count == 4) {
        const auto* values = reinterpret_cast<const long*>(data);
        std::copy(values, values + 4, extents_);
    }
    if (data != nullptr) XFree(data);
    XDestroyWindow(display_, probe_);
    XSync(display_, False);
    probe_ = 0;
    state_ = State::kKnown;
}

void X11FrameExtents::Get(long extents[4]) const {
    std::copy(extents_, extents_ + 4, extents);
}

}  // namespace lumora::platform
