// The command's few system calls on POSIX systems: the stop signals through a self-pipe,
// process times, the terminal test and file replacement.
#include "Command.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>

namespace lumora_cli {

void CheckWritable(const std::string& path) {
    const auto parent = std::filesystem::path(path).parent_path();
    std::error_code error;
    if (!parent.empty()) std::filesystem::create_directories(parent, error);
    const bool existed = ::access(path.c_str(), F_OK) == 0;
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) throw CommandError{"cannot write " + path + ": " + std::strerror(errno)};
    ::close(fd);
    if (!existed) ::unlink(path.c_str());
}

bool OutputIsTerminal() {
    return ::isatty(STDOUT_FILENO) == 1;
}

int ProcessId() {
    return static_cast<int>(::getpid());
}

bool RenameOver(const std::string& from, const std::string& to) {
    return std::rename(from.c_str(), to.c_str()) == 0;
}

double CpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// ---- Stop signals ----

namespace {

// The self-pipe the handler writes to; the waiting loop polls its read end.
int gWakeFds[2] = {-1, -1};
std::atomic<int> gStopSignal{0};
static_assert(std::atomic<int>::is_always_lock_free);
struct sigaction gPreviousInt {};
struct sigaction gPreviousTerm {};

extern "C" void OnStopSignal(int signal) {
    gStopSignal.store(signal);
    const int saved = errno;
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(gWakeFds[1], &byte, 1);
    errno = saved;
}

}  // namespace

StopSignals::StopSignals() {
    if (::pipe2(gWakeFds, O_CLOEXEC | O_NONBLOCK) != 0) {
        throw CommandError{std::string("cannot create the stop pipe: ") + std::strerror(errno)};
    }
    gStopSignal.store(0);
    struct sigaction action {};
    action.sa_handler = &OnStopSignal;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGINT, &action, &gPreviousInt);
    ::sigaction(SIGTERM, &action, &gPreviousTerm);
}

StopSignals::~StopSignals() {
    ::sigaction(SIGINT, &gPreviousInt, nullptr);
    ::sigaction(SIGTERM, &gPreviousTerm, nullptr);
    ::close(gWakeFds[0]);
    ::close(gWakeFds[1]);
    gWakeFds[0] = gWakeFds[1] = -1;
}

bool StopSignals::Wait(int ms) {
    if (Stopped()) return true;
    pollfd fd{gWakeFds[0], POLLIN, 0};
    if (::poll(&fd, 1, ms) > 0) {
        char drain[16];
        while (::read(gWakeFds[0], drain, sizeof drain) > 0) {
        }
    }
    return Stopped();
}

bool StopSignals::Stopped() const {
    return gStopSignal.load() != 0;
}

int StopSignals::Signal() const {
    return gStopSignal.load();
}

}  // namespace lumora_cli
