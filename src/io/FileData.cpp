#include "io/FileData.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <new>

namespace lumora {

bool FileData::Read(const char* path) {
    Release();
    if (path == nullptr) return false;
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat info {};
    bool ok = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
    const auto size = ok ? static_cast<size_t>(info.st_size) : 0;
    std::unique_ptr<uint8_t[]> data;
    if (ok && size > 0) {
        data.reset(new (std::nothrow) uint8_t[size]);
        ok = data != nullptr;
    }
    size_t done = 0;
    while (ok && done < size) {
        const ssize_t n = ::read(fd, data.get() + done, size - done);
        if (n < 0 && errno == EINTR) continue;
        ok = n > 0;  // 0 before the promised size: the file was cut short under us
        if (ok) done += static_cast<size_t>(n);
    }
    ::close(fd);
    if (!ok) return false;
    data_ = std::move(data);
    size_ = size;
    return true;
}

void FileData::Release() {
    data_.reset();
    size_ = 0;
}

}  // namespace lumora
