#pragma once
// The thread that serves one X connection: it sleeps until the server sends something, someone
// wakes it, or a tenth of a second has passed, and then runs one turn of its owner's work.
#include <atomic>
#include <functional>
#include <thread>

namespace lumora::platform {

class X11EventThread {
public:
    X11EventThread();
    ~X11EventThread();
    X11EventThread(const X11EventThread&) = delete;
    X11EventThread& operator=(const X11EventThread&) = delete;

    // Starts the thread on the connection's socket.
    void Start(int connectionFd, std::function<void()> turn);
    // Makes the thread run a turn soon. Never blocks; any thread.
    void Wake() const;
    // Ends the thread after its current turn and waits for it.
    void Stop();

private:
    void Run(int connectionFd, const std::function<void()>& turn);

    int wakePipe_[2] = {-1, -1};
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

}  // namespace lumora::platform
