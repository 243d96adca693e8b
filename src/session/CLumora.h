#pragma once
// The camera session behind one handle. This holds what every export needs from the start: the
// error history and the notification window. Camera control, capture and settings grow here.
//
// Threads: any application thread may call; capture threads record errors. The history has its
// own lock; notifyWindow is written once by Initialize before the handle is handed out.
#include "lumora/lumora.h"
#include "session/ErrorHistory.h"

namespace lumora {

class CLumora {
public:
    CLumora() = default;
    virtual ~CLumora() = default;
    CLumora(const CLumora&) = delete;
    CLumora& operator=(const CLumora&) = delete;

    // Runs the session's initialisation for `notifyWindow`; 1 on success, 0 on failure (the
    // reason is in the history).
    virtual int Initialize(HWND notifyWindow);

    // Pushes `code` into the history and posts LUMORA_MSG_ERROR with it when a notification
    // window is set.
    void RecordError(int code);
    // Posts LUMORA_MSG_ERROR without touching the history and without checking the window for
    // null (a null window means the calling thread's own queue).
    void PostErrorOnly(int code);
    int GetLastError() { return history_.Pop(); }
    const ErrorHistory& History() const { return history_; }
    HWND NotifyWindow() const { return notifyWindow_; }

protected:
    ErrorHistory history_;
    HWND notifyWindow_ = nullptr;
};

}  // namespace lumora
