#pragma once
// One POSIX file descriptor, owned; for the POSIX backends of the platform layer only (the
// layers above use RegularFile). Close() reports close(2)'s result: a deferred write error can
// surface only there.
//
// Threads: owned by one caller.
#include <unistd.h>

namespace lumora::platform {

class FileDescriptor {
public:
    explicit FileDescriptor(int fd = -1) : fd_(fd) {}
    ~FileDescriptor() { Close(); }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int Get() const { return fd_; }
    bool IsOpen() const { return fd_ >= 0; }
    bool Close() {
        if (fd_ < 0) return true;
        const int fd = fd_;
        fd_ = -1;
        return ::close(fd) == 0;
    }

private:
    int fd_;
};

}  // namespace lumora::platform
