#pragma once
// X errors of the window layer's own connections. Xlib's handlers are process-wide: ours hand
// the errors of a connection that has a sink to that sink and pass every other display's errors
// to whatever handler was installed before, so an application's own handling is unchanged.
#include <X11/Xlib.h>

namespace lumora::platform {

class X11ErrorSink {
public:
    virtual ~X11ErrorSink() = default;
    // Called on the thread whose Xlib call failed, which holds the connection's lock.
    virtual void OnError(const XErrorEvent& error) = 0;
    virtual void OnConnectionLost() = 0;
};

// Sends `display`'s errors to `sink` (and keeps a lost connection from ending the process)
// until DetachErrorSink.
void AttachErrorSink(Display* display, X11ErrorSink* sink);
void DetachErrorSink(Display* display);
// Installs our handlers, again if someone (a toolkit opening its display) replaced them since.
void InstallErrorHandlers();

}  // namespace lumora::platform
