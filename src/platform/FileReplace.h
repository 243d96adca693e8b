#pragma once

#include <unistd.h>
// Saving a whole file under a path an application named. The save writes through a symlink to
// the file it names, refuses anything that is not a regular file (a device, a pipe, a folder),
// keeps the file's mode and owner, and reports every failed write. Where it can, it writes a
// temporary file beside the real file and renames it over, so the old content stays whole until
// the new one is complete; where that would change what the user sees (a hard-linked file, a
// folder we may not create in, an owner we cannot give the new file) it may write in place
// instead, with the space reserved first, when the caller allows it.
//
// Threads: shares nothing; callers serialise saves of one file themselves.
#include <cstddef>
#include <filesystem>
#include <functional>

namespace lumora::platform {

// Owns one file descriptor. Close() reports close(2)'s result: a deferred write error can
// surface only there.
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

struct FileSave {
    // Writes the whole content to the descriptor from offset 0; false on any failure.
    std::function<bool(int fd)> write;
    // The content's size in bytes, reserved before an in-place write; 0 when unknown.
    size_t size = 0;
    // Permit writing into the existing file when it cannot be replaced.
    bool allowInPlace = false;
    // Mode of a file that does not exist yet (the umask applies).
    unsigned newFileMode = 0666;
};

bool SaveFile(const std::filesystem::path& path, const FileSave& save);

}  // namespace lumora::platform
