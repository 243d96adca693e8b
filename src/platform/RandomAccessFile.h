#pragma once
// A file written mostly front to back whose earlier bytes can be patched in place and whose
// tail can be cut off again: what a recorder needs to keep a file valid after a failed write.
// Every call reports failure (a full disk, a file-size limit, a failing device) as false.
//
// Threads: owned by one writer.
#include <cstddef>
#include <cstdint>

namespace lumora::platform {

class RandomAccessFile {
public:
    RandomAccessFile() = default;
    ~RandomAccessFile();
    RandomAccessFile(const RandomAccessFile&) = delete;
    RandomAccessFile& operator=(const RandomAccessFile&) = delete;

    // Creates or truncates `path` for writing.
    bool Create(const char* path);
    bool IsOpen() const { return fd_ >= 0; }
    // Appends at the current end; on a short write the bytes that made it stay in the file.
    bool Append(const void* data, size_t size);
    // Appends two pieces with one call (a chunk header and its payload).
    bool Append2(const void* first, size_t firstSize, const void* second, size_t secondSize);
    // Overwrites bytes that already exist.
    bool WriteAt(uint64_t offset, const void* data, size_t size);
    // Cuts the file to `size` bytes; later appends continue there.
    bool Truncate(uint64_t size);
    // The offset the next Append writes at.
    uint64_t End() const { return end_; }
    // Flushes and closes; false when the flush or close failed.
    bool Close();

private:
    int fd_ = -1;
    uint64_t end_ = 0;
};

// Removes a file; false when it could not be removed.
bool RemoveFile(const char* path);

}  // namespace lumora::platform
