#pragma once
// A named pipe nobody reads or writes, and a guard for calls that must not wait on it: a call
// that has not returned by the deadline is released (the guard opens the pipe's other end and
// drains it) and reported, so a regression fails the test instead of hanging it.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <thread>

namespace lumora::testing {

class Fifo {
public:
    explicit Fifo(std::filesystem::path path) : path_(std::move(path)) {
        made_ = ::mkfifo(path_.c_str(), 0600) == 0;
    }
    ~Fifo() { ::unlink(path_.c_str()); }
    Fifo(const Fifo&) = delete;
    Fifo& operator=(const Fifo&) = delete;

    bool Made() const { return made_; }
    const std::filesystem::path& Path() const { return path_; }
    std::string String() const { return path_.string(); }
    bool StillThere() const { return std::filesystem::is_fifo(path_); }

    // Runs `call`; true when it returned within `ms` without help.
    template <typename Call>
    bool ReturnsPromptly(Call&& call, int ms = 5000) {
        std::mutex mutex;
        std::condition_variable cv;
        bool done = false;
        std::atomic<bool> released{false};
        std::thread watchdog([&] {
            std::unique_lock lock(mutex);
            if (cv.wait_for(lock, std::chrono::milliseconds(ms), [&] { return done; })) return;
            released = true;
            // A blocked writer needs a reader that keeps reading; a blocked reader a writer
            // that goes away (it then reads the end of the file).
            const int reader = ::open(path_.c_str(), O_RDONLY | O_NONBLOCK);
            while (!done) {
                lock.unlock();
                const int writer = ::open(path_.c_str(), O_WRONLY | O_NONBLOCK);
                if (writer >= 0) ::close(writer);
                char sink[65536];
                while (reader >= 0 && ::read(reader, sink, sizeof sink) > 0) {
                }
                lock.lock();
                cv.wait_for(lock, std::chrono::milliseconds(10), [&] { return done; });
            }
            if (reader >= 0) ::close(reader);
        });
        call();
        {
            std::lock_guard lock(mutex);
            done = true;
        }
        cv.notify_all();
        watchdog.join();
        return !released.load();
    }

private:
    std::filesystem::path path_;
    bool made_ = false;
};

}  // namespace lumora::testing
