#include "platform/RegularFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>

namespace lumora::platform {
namespace {

constexpr int kCommonFlags = O_CLOEXEC | O_NOCTTY;

}  // namespace

bool RegularFile::IsRegularOrAbsent(const char* path) {
    struct stat info {};
    return ::stat(path, &info) != 0 || S_ISREG(info.st_mode);  // absent: it will be a file
}

bool RegularFile::OpenNative(const char* path, bool write, unsigned newFileMode) {
    // Non-blocking: a pipe put in the file's place between the two checks cannot hang the open.
    const int access = (write ? O_WRONLY : O_RDONLY) | kCommonFlags | O_NONBLOCK;
    const auto mode = static_cast<mode_t>(newFileMode);
    int fd = -1;
    bool created = false;
    if (!write) {
        fd = ::open(path, access);
    } else {
        // Exclusive creation tells a file this call made from one that was there: only the
        // first may ever be removed again.
        fd = ::open(path, access | O_CREAT | O_EXCL, mode);
        created = fd >= 0;
        if (fd < 0 && errno == EEXIST) fd = ::open(path, access);
        // A symlink to nothing yet: the file it names is created through it.
        if (fd < 0 && errno == ENOENT) {
            fd = ::open(path, access | O_CREAT, mode);
            created = fd >= 0;
        }
    }
    if (fd < 0) return false;
    struct stat info {};
    const int flags = ::fcntl(fd, F_GETFL);
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || flags < 0 ||
        ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        ::close(fd);
        return false;
    }
    fd_ = fd;
    created_ = created;
    path_ = path;
    device_ = static_cast<uint64_t>(info.st_dev);
    inode_ = static_cast<uint64_t>(info.st_ino);
    return true;
}

bool RegularFile::CreateUnique(const std::string& prefix) {
    Close();
    created_ = false;
    std::string name = prefix + ".XXXXXX";
    const int fd = ::mkostemp(name.data(), O_CLOEXEC);
    if (fd < 0) return false;
    Adopt(fd, name, true);
    return true;
}

void RegularFile::Adopt(intptr_t native, const std::string& path, bool created) {
    Close();
    fd_ = static_cast<int>(native);
    created_ = created;
    path_ = path;
    struct stat info {};
    if (::fstat(fd_, &info) == 0) {
        device_ = static_cast<uint64_t>(info.st_dev);
        inode_ = static_cast<uint64_t>(info.st_ino);
    }
}

uint64_t RegularFile::Size() const {
    struct stat info {};
    if (fd_ < 0 || ::fstat(fd_, &info) != 0) return 0;
    return static_cast<uint64_t>(info.st_size);
}

bool RegularFile::Read(void* data, size_t size, size_t* got) {
    *got = 0;
    if (fd_ < 0) return false;
    auto* p = static_cast<char*>(data);
    while (*got < size) {
        const ssize_t n = ::read(fd_, p + *got, size - *got);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        if (n == 0) break;
        *got += static_cast<size_t>(n);
    }
    return true;
}

bool RegularFile::Write(const void* data, size_t size) {
    if (fd_ < 0) return false;
    const auto* p = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = ::write(fd_, p, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        p += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

bool RegularFile::WriteAt(uint64_t offset, const void* data, size_t size, const void* more,
                          size_t moreSize) {
    if (fd_ < 0) return false;
    iovec pieces[2] = {{const_cast<void*>(data), size}, {const_cast<void*>(more), moreSize}};
    int index = 0;
    while (index < 2) {
        if (pieces[index].iov_len == 0) {
            ++index;
            continue;
        }
        const ssize_t n = ::pwritev(fd_, pieces + index, 2 - index, static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        offset += static_cast<uint64_t>(n);
        auto left = static_cast<size_t>(n);
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

bool RegularFile::Seek(uint64_t offset) {
    return fd_ >= 0 && ::lseek(fd_, static_cast<off_t>(offset), SEEK_SET) >= 0;
}

uint64_t RegularFile::Position() const {
    const off_t at = fd_ >= 0 ? ::lseek(fd_, 0, SEEK_CUR) : -1;
    return at < 0 ? 0 : static_cast<uint64_t>(at);
}

bool RegularFile::Truncate(uint64_t size) {
    return fd_ >= 0 && ::ftruncate(fd_, static_cast<off_t>(size)) == 0;
}

bool RegularFile::Reserve(uint64_t size) {
    if (fd_ < 0) return false;
    if (size <= Size()) return true;
    const int rc = ::posix_fallocate(fd_, 0, static_cast<off_t>(size));
    return rc == 0 || rc == EOPNOTSUPP || rc == EINVAL;
}

bool RegularFile::Sync() {
    return fd_ >= 0 && ::fsync(fd_) == 0;
}

bool RegularFile::Close() {
    if (fd_ < 0) return true;
    const int fd = fd_;
    fd_ = -1;
    return ::close(fd) == 0;
}

bool RegularFile::RemoveIfCreated() {
    Close();
    if (!created_ || path_.empty()) return false;
    created_ = false;
    // The path may be a symlink through which the file was created: the file goes, the link
    // stays as it was. Whatever took the name meanwhile is not ours to remove.
    char resolved[PATH_MAX];
    if (::realpath(path_.c_str(), resolved) == nullptr) return false;
    struct stat info {};
    if (::lstat(resolved, &info) != 0 || static_cast<uint64_t>(info.st_dev) != device_ ||
        static_cast<uint64_t>(info.st_ino) != inode_) {
        return false;
    }
    return ::unlink(resolved) == 0;
}

}  // namespace lumora::platform
