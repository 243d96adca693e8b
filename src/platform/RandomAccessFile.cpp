#include "platform/RandomAccessFile.h"

#include <fcntl.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>

namespace lumora::platform {

RandomAccessFile::~RandomAccessFile() {
    if (fd_ >= 0) ::close(fd_);
}

bool RandomAccessFile::Create(const char* path) {
    if (fd_ >= 0 || path == nullptr || *path == '\0') return false;
    fd_ = ::open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    end_ = 0;
    return fd_ >= 0;
}

bool RandomAccessFile::Append(const void* data, size_t size) {
    return Append2(data, size, nullptr, 0);
}

bool RandomAccessFile::Append2(const void* first, size_t firstSize, const void* second,
                               size_t secondSize) {
    if (fd_ < 0) return false;
    iovec pieces[2] = {{const_cast<void*>(first), firstSize},
                       {const_cast<void*>(second), secondSize}};
    int index = 0;
    while (index < 2) {
        if (pieces[index].iov_len == 0) {
            ++index;
            continue;
        }
        const ssize_t n = ::pwritev(fd_, pieces + index, 2 - index, static_cast<off_t>(end_));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        end_ += static_cast<uint64_t>(n);
        size_t left = static_cast<size_t>(n);
        while (index < 2 && left >= pieces[index].iov_len) {
            left -= pieces[index].iov_len;
            pieces[index].iov_len = 0;
            ++index;
        }
        if (index < 2) {
            pieces[index].iov_base = static_cast<char*>(pieces[index].iov_base) + left;
            pieces[index].iov_len -= left;
        }
    }
    return true;
}

bool RandomAccessFile::WriteAt(uint64_t offset, const void* data, size_t size) {
    if (fd_ < 0 || offset + size > end_) return false;
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = ::pwrite(fd_, p, size, static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        p += n;
        offset += static_cast<uint64_t>(n);
        size -= static_cast<size_t>(n);
    }
    return true;
}

bool RandomAccessFile::Truncate(uint64_t size) {
    if (fd_ < 0 || ::ftruncate(fd_, static_cast<off_t>(size)) != 0) return false;
    end_ = size;
    return true;
}

bool RandomAccessFile::Close() {
    if (fd_ < 0) return false;
    const bool closed = ::close(fd_) == 0;
    fd_ = -1;
    return closed;
}

bool RemoveFile(const char* path) {
    return path != nullptr && ::unlink(path) == 0;
}

}  // namespace lumora::platform
