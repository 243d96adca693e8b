#pragma once
// A private X server for tests that need a display when none is named: Xvfb started on the
// first call, asked for its display number, and stopped by the suite at its end.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

namespace lumora::testing {

class PrivateXServer {
public:
    // True when a display is reachable: the one named in DISPLAY, or a private Xvfb of
    // `screen` ("WIDTHxHEIGHTxDEPTH") started now and named in DISPLAY from here on.
    bool Ensure(const char* screen) {
        if (state_ != State::Unknown) return state_ == State::Ready;
        state_ = State::None;
        if (const char* d = std::getenv("DISPLAY"); d != nullptr && *d != '\0') {
            state_ = State::Ready;
            return true;
        }
        int fds[2];
        if (::pipe(fds) != 0) return false;
        const pid_t pid = ::fork();
        if (pid == 0) {
            ::close(fds[0]);
            const std::string fd = std::to_string(fds[1]);
            ::execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", screen,
                     "-nolisten", "tcp", "-noreset", static_cast<char*>(nullptr));
            ::_exit(127);
        }
        ::close(fds[1]);
        if (pid < 0) {
            ::close(fds[0]);
            return false;
        }
        // Xvfb writes its display number and a newline once it takes connections.
        char number[16] = {};
        ssize_t got = 0;
        for (ssize_t n;
             got < 15 && (n = ::read(fds[0], number + got, 1)) == 1 && number[got] != '\n';)
            got += n;
        ::close(fds[0]);
        if (got == 0) {
            ::waitpid(pid, nullptr, 0);
            return false;
        }
        pid_ = pid;
        ::setenv("DISPLAY", (":" + std::string(number, static_cast<size_t>(got))).c_str(), 1);
        state_ = State::Ready;
        return true;
    }
    // Stops the server this object started, if any.
    void Stop() {
        if (pid_ <= 0) return;
        ::kill(pid_, SIGTERM);
        ::waitpid(pid_, nullptr, 0);
        pid_ = 0;
    }

private:
    enum class State { Unknown, Ready, None } state_ = State::Unknown;
    pid_t pid_ = 0;
};

}  // namespace lumora::testing
