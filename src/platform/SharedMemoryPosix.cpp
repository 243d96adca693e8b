// POSIX shared memory of the block's name. Open file description locks on its file carry the
// protocol between processes:
//   byte 0: held shared by every attached holder for as long as it is attached, so a holder
//           that can take it exclusively knows nobody is attached (fresh, or left by a crashed
//           process);
//   byte 1: held exclusively around every read-modify-write of the block.
// The kernel drops a process's locks when it dies, so a crash never leaves the block locked.
#include "platform/SharedMemory.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace lumora::platform {
namespace {

constexpr off_t kLivenessByte = 0;
constexpr off_t kMutationByte = 1;

bool LockByte(int fd, off_t byte, short type, bool wait) {
    struct flock lock {};
    lock.l_type = type;
    lock.l_whence = SEEK_SET;
    lock.l_start = byte;
    lock.l_len = 1;
    for (;;) {
        if (fcntl(fd, wait ? F_OFD_SETLKW : F_OFD_SETLK, &lock) == 0) return true;
        if (errno != EINTR) return false;
    }
}

}  // namespace

struct SharedMemory::Handle {
    int fd = -1;
};

std::unique_ptr<SharedMemory> SharedMemory::Open(const std::string& name, size_t size) {
    auto handle = std::make_unique<Handle>();
    handle->fd = shm_open(name.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (handle->fd < 0) return nullptr;
    struct stat info {};
    void* view = MAP_FAILED;
    if (fstat(handle->fd, &info) == 0 && (info.st_size >= static_cast<off_t>(size) ||
                                          ftruncate(handle->fd, static_cast<off_t>(size)) == 0)) {
        view = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, handle->fd, 0);
    }
    if (view == MAP_FAILED) {
        close(handle->fd);
        return nullptr;
    }
    return std::unique_ptr<SharedMemory>(
        new SharedMemory(std::move(handle), static_cast<uint8_t*>(view), size));
}

SharedMemory::SharedMemory(std::unique_ptr<Handle> handle, uint8_t* data, size_t size)
    : handle_(std::move(handle)), data_(data), size_(size) {}

SharedMemory::~SharedMemory() {
    munmap(data_, size_);
    close(handle_->fd);  // releases our locks
}

bool SharedMemory::Attach() {
    const bool alone = LockByte(handle_->fd, kLivenessByte, F_WRLCK, false);
    LockByte(handle_->fd, kLivenessByte, F_RDLCK, true);
    return alone;
}

SharedMemory::Lock::Lock(SharedMemory& memory) : memory_(memory) {
    LockByte(memory_.handle_->fd, kMutationByte, F_WRLCK, true);
}

SharedMemory::Lock::~Lock() {
    LockByte(memory_.handle_->fd, kMutationByte, F_UNLCK, false);
}

}  // namespace lumora::platform
