#include "platform/x11/X11EventThread.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace lumora::platform {

X11EventThread::X11EventThread() {
    if (pipe2(wakePipe_, O_CLOEXEC | O_NONBLOCK) != 0) wakePipe_[0] = wakePipe_[1] = -1;
}

X11EventThread::~X11EventThread() {
    Stop();
    for (int fd : wakePipe_) {
        if (fd >= 0) close(fd);
    }
}

void X11EventThread::Start(int connectionFd, std::function<void()> turn) {
    thread_ =
        std::thread([this, connectionFd, turn = std::move(turn)] { Run(connectionFd, turn); });
}

void X11EventThread::Wake() const {
    if (wakePipe_[1] < 0) return;
    const char byte = 1;
    // A full pipe already holds a wake-up; the write never blocks.
    [[maybe_unused]] const ssize_t written = write(wakePipe_[1], &byte, 1);
}

void X11EventThread::Stop() {
    stop_ = true;
    Wake();
    if (thread_.joinable()) thread_.join();
}

void X11EventThread::Run(int connectionFd, const std::function<void()>& turn) {
    while (!stop_.load()) {
        // Without a wake pipe the time-out alone brings the next turn.
        pollfd fds[2] = {{connectionFd, POLLIN, 0}, {wakePipe_[0], POLLIN, 0}};
        poll(fds, wakePipe_[0] >= 0 ? 2 : 1, 100);
        if (fds[1].revents & POLLIN) {
            char drain[64];
            while (read(wakePipe_[0], drain, sizeof drain) > 0) {
            }
        }
        if (stop_.load()) break;
        turn();
    }
}

}  // namespace lumora::platform
