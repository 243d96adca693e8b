#pragma once
// How much a window manager's frame adds around a top-level window's client area (left, right,
// top, bottom). Asked once per connection, where the window manager offers it, with a probe
// window that is never shown: the request goes to the root window, and the answer is the
// window manager setting _NET_FRAME_EXTENTS on the probe, which the connection's event thread
// sees as a property change. Without a window manager, or without an answer, the frame is
// taken as nothing.
//
// Every call is made under the connection's lock; the asker waits for the answer with the lock
// released, so the event thread can receive it.
#include <X11/Xlib.h>

namespace lumora::platform {

class X11FrameExtents {
public:
    X11FrameExtents(Display* display, ::Window root);

    enum class State { kUnknown, kAsked, kKnown };
    State Progress() const { return state_; }

    // Sends the request when the window manager offers it and returns true; otherwise the
    // extents are known to be nothing and it returns false.
    bool Ask();
    // The event thread: true (and noted) when `event` is the window manager's answer.
    bool TakeAnswer(const XEvent& event);
    bool Answered() const { return answered_; }
    // Reads the answer if there is one and removes the probe; the extents are known after.
    void Finish();

    // Left, right, top, bottom; zeros until known.
    void Get(long extents[4]) const;

private:
    bool Offered() const;

    Display* const display_;
    const ::Window root_;
    const Atom frameExtents_;
    const Atom requestFrameExtents_;
    const Atom supported_;
    State state_ = State::kUnknown;
    ::Window probe_ = 0;
    bool answered_ = false;
    long extents_[4] = {0, 0, 0, 0};
};

}  // namespace lumora::platform
