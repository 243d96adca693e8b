#pragma once
// Message targets behind HWND values. An HWND is an opaque number resolved through a table, so
// a destroyed or invented one is detected and never dereferenced. Thread-safe throughout.
#include <cstdint>
#include <memory>

#include "lumora/host.h"

namespace lumora::platform {

// Messages a thread's own queue (or a queue window) holds before further posts are refused,
// so a target nobody reads cannot grow without bound.
inline constexpr size_t kMaxQueuedMessages = 10000;

class MessageTarget {
public:
    virtual ~MessageTarget() = default;
    // Copies the message in; never blocks on the reader and never runs application code.
    virtual bool Post(const LumoraHostMessage& message) = 0;
    // Called once when the HWND is destroyed; wakes waiters and stops dispatching.
    virtual void Close() = 0;
    // True while a message of kind `message` posted here has not yet been handled to its end:
    // known only where the target runs the application's code itself (a callback window).
    virtual bool InHand(unsigned int /*message*/) { return false; }
};

// Registers a target and returns its new HWND (never null, never reused).
HWND RegisterTarget(std::shared_ptr<MessageTarget> target);
std::shared_ptr<MessageTarget> FindTarget(HWND window);
void UnregisterTarget(HWND window);

// Posts to `window`, or to the calling thread's own queue when `window` is null. False when the
// target is unknown or its queue is full; the message is then dropped. On Windows a window of
// the system (an application's HWND) gets the message through the system's own queue.
bool PostMessage(HWND window, unsigned int message, uintptr_t wParam, intptr_t lParam);

#if defined(_WIN32)
// PostMessageA to a window of the system; false when `window` is none.
bool PostToSystemWindow(HWND window, unsigned int message, uintptr_t wParam, intptr_t lParam);
#endif

// True while a message of kind `message` posted to `window` is still queued or being handled
// there, as far as the target can tell; a poster that would overwrite what that message points
// to holds back. Whoever asks after the handling ended sees everything it did.
bool MessageInHand(HWND window, unsigned int message);

}  // namespace lumora::platform
