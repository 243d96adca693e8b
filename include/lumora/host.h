/*
 * What a Linux application needs beyond lumora.h.
 *
 * Message targets. The SDK announces frames and errors by posting messages to an HWND. On Linux
 * an HWND is a message target the application creates here:
 *   - a queue window, which the application polls or waits on with LumoraHost_WaitMessage;
 *   - a callback window, whose callback runs on the window's own dispatcher thread, one message
 *     at a time, in posting order.
 * Posting copies the message and returns at once; it never blocks on the application and never
 * runs application code on the posting thread. A post to a null HWND goes to the posting
 * thread's own queue (read with LumoraHost_WaitThreadMessage). A destroyed or made-up HWND is
 * detected and ignored.
 */
#ifndef LUMORA_HOST_H
#define LUMORA_HOST_H

#include "lumora/lumora.h"

#if defined(__cplusplus)
extern "C" {
#endif

typedef struct LumoraHostMessage {
    HWND window;
    unsigned int message;
    uintptr_t wParam;
    intptr_t lParam;
} LumoraHostMessage;

LUMORA_API HWND LumoraHost_CreateQueueWindow(void);
LUMORA_API HWND LumoraHost_CreateCallbackWindow(
    void (*callback)(const LumoraHostMessage* message, void* user), void* user);
/* 1: a message was taken; 0: none in time (or the window is unknown). timeoutMs < 0 waits
 * without limit. */
LUMORA_API int LumoraHost_WaitMessage(HWND window, int timeoutMs, LumoraHostMessage* message);
/* The same for the calling thread's own queue. */
LUMORA_API int LumoraHost_WaitThreadMessage(int timeoutMs, LumoraHostMessage* message);
/* Pending messages are discarded; a callback in progress finishes first (unless the callback
 * destroys its own window). */
LUMORA_API void LumoraHost_DestroyWindow(HWND window);

#if defined(__cplusplus)
}
#endif

#endif /* LUMORA_HOST_H */
