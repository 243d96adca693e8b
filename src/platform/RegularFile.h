#pragma once
// A regular file at a path an application named, opened so that it can never block the caller
// nor harm what the path named before:
// - whatever is not a regular file (a pipe, a terminal, a device such as /dev/full, a folder)
//   is refused, before it is opened and again by what the open found, so a pipe without a
//   reader or writer never hangs the open, and no device sees a byte;
// - opening for writing creates the file or opens the existing one as it is: nothing is
//   truncated until the caller cuts it (Truncate), once its new content is sure to come;
// - only a file this object created is ever removed (RemoveIfCreated), and only while the path
//   still names that same file.
// Files are binary: no newline translation on any system.
//
// Threads: owned by one caller.
#include <cstddef>
#include <cstdint>
#include <string>

namespace lumora::platform {

class RegularFile {
public:
    RegularFile() = default;
    ~RegularFile();
    RegularFile(const RegularFile&) = delete;
    RegularFile& operator=(const RegularFile&) = delete;

    // An existing regular file, for reading from its start.
    bool OpenForReading(const char* path);
    // The regular file at `path` for writing from its start, created with `newFileMode` (the
    // umask applies) when there is none. An existing file keeps its content and size.
    bool OpenForWriting(const char* path, unsigned newFileMode = 0666);
    // A new file of a unique name beginning with `prefix` (a path), for writing.
    bool CreateUnique(const std::string& prefix);
    // True when `path` names a regular file or nothing yet: a quick look before a costly save,
    // so that one aimed at a pipe or a device is refused before its content is made. The open
    // still decides.
    static bool MayHoldAFile(const char* path);

    bool IsOpen() const { return fd_ >= 0; }
    // True when this object created the file it holds.
    bool Created() const { return created_; }
    // The path it was opened by (for a unique file: the name it got).
    const std::string& Path() const { return path_; }
    // The file's size now; 0 when that cannot be told.
    uint64_t Size() const;

    // Reads up to `size` bytes at the current position; *got says how many came (fewer only at
    // the end of the file). False on a read error.
    bool Read(void* data, size_t size, size_t* got);
    // Exactly `size` bytes, or false.
    bool ReadExact(void* data, size_t size);
    // Writes all `size` bytes at the current position, or false.
    bool Write(const void* data, size_t size);
    // Writes at `offset` without moving the current position; two pieces at once when given.
    bool WriteAt(uint64_t offset, const void* data, size_t size, const void* more = nullptr,
                 size_t moreSize = 0);
    bool Seek(uint64_t offset);
    uint64_t Position() const;
    // Cuts (or extends) the file to `size` bytes.
    bool Truncate(uint64_t size);
    // Makes room for `size` bytes on the disk, so writes up to there cannot fail for space.
    // True also where the file system cannot reserve ahead.
    bool Reserve(uint64_t size);
    // Flushes the content to the device.
    bool Sync();
    // Closes; false when a deferred write error surfaced on closing.
    bool Close();
    // Closes (if still open) and removes the file when this object created it and the path
    // still names it. False when it kept the file.
    bool RemoveIfCreated();

    // For other pieces of the platform layer: the system's handle of the open file (a file
    // descriptor on POSIX systems, a HANDLE on Windows), and taking over one they opened
    // themselves.
    intptr_t Native() const { return fd_; }
    void Adopt(intptr_t native, const std::string& path, bool created);

private:
    bool OpenChecked(const char* path, bool write, unsigned newFileMode);
    // Each system's half. True when `path` names a regular file or nothing yet.
    static bool IsRegularOrAbsent(const char* path);
    // Opens a path that passed the first look, checks what the open found and takes it.
    bool OpenNative(const char* path, bool write, unsigned newFileMode);

#if defined(_WIN32)
    intptr_t fd_ = -1;  // the file's HANDLE; -1 (INVALID_HANDLE_VALUE) when closed
#else
    int fd_ = -1;
#endif
    bool created_ = false;
    std::string path_;
    uint64_t device_ = 0;  // with inode_, which file it is (on Windows: volume and file index)
    uint64_t inode_ = 0;
};

}  // namespace lumora::platform
