#include "platform/x11/X11ErrorSink.h"

#include <map>
#include <mutex>

namespace lumora::platform {
namespace {

std::mutex gSinkMutex;  // guards gSinks and the previous handlers
std::map<Display*, X11ErrorSink*> gSinks;
XErrorHandler gPreviousError = nullptr;
XIOErrorHandler gPreviousIoError = nullptr;

X11ErrorSink* SinkOf(Display* display) {
    std::lock_guard lock(gSinkMutex);
    auto it = gSinks.find(display);
    return it == gSinks.end() ? nullptr : it->second;
}

int OnXError(Display* display, XErrorEvent* error) {
    if (X11ErrorSink* sink = SinkOf(display)) {
        sink->OnError(*error);
        return 0;
    }
    XErrorHandler previous;
    {
        std::lock_guard lock(gSinkMutex);
        previous = gPreviousError;
    }
    return previous != nullptr ? previous(display, error) : 0;
}

int OnXIoError(Display* display) {
    if (X11ErrorSink* sink = SinkOf(display)) {
        sink->OnConnectionLost();
        return 0;
    }
    XIOErrorHandler previous;
    {
        std::lock_guard lock(gSinkMutex);
        previous = gPreviousIoError;
    }
    return previous != nullptr ? previous(display) : 0;
}

void OnXIoExit(Display* display, void*) {
    // Returning instead of exiting leaves the connection broken; the sink already knows.
    if (X11ErrorSink* sink = SinkOf(display)) sink->OnConnectionLost();
}

}  // namespace

void AttachErrorSink(Display* display, X11ErrorSink* sink) {
    {
        std::lock_guard lock(gSinkMutex);
        gSinks[display] = sink;
    }
    InstallErrorHandlers();
    XSetIOErrorExitHandler(display, OnXIoExit, nullptr);
}

void DetachErrorSink(Display* display) {
    std::lock_guard lock(gSinkMutex);
    gSinks.erase(display);
}

void InstallErrorHandlers() {
    std::lock_guard lock(gSinkMutex);
    XErrorHandler before = XSetErrorHandler(OnXError);
    if (before != OnXError) gPreviousError = before;
    XIOErrorHandler beforeIo = XSetIOErrorHandler(OnXIoError);
    if (beforeIo != OnXIoError) gPreviousIoError = beforeIo;
}

}  // namespace lumora::platform
