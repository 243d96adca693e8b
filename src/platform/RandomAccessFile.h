#pragma once
// A file written mostly front to back whose earlier bytes can be patched in place and whose
// tail can be cut off again: what a recorder needs to keep a file valid after a failed write.
// Every call reports failure (a full disk, a file-size limit, a failing device) as false.
//
// It is opened as a RegularFile: whatever is not a regular file is refused, an existing file is
// written over from its start without being truncated first (the writer cuts the old tail once
// its own content is in place), and only a file this object created is ever removed.
//
// Threads: owned by one writer.
#include <cstddef>
#include <cstdint>

#include "platform/RegularFile.h"

namespace lumora::platform {

class RandomAccessFile {
public:
    // Opens `path` for writing from offset 0: the file there, or a new one.
    bool Open(const char* path);
    bool IsOpen() const { return file_.IsOpen(); }
    // True when Open created the file.
    bool Created() const { return file_.Created(); }
    // Appends at the current end; on a short write the bytes that made it lie beyond End().
    bool Append(const void* data, size_t size);
    // Appends two pieces with one call (a chunk header and its payload).
    bool Append2(const void* first, size_t firstSize, const void* second, size_t secondSize);
    // Overwrites bytes that already exist.
    bool WriteAt(uint64_t offset, const void* data, size_t size);
    // Makes room on the disk for `size` bytes from the start.
    bool Reserve(uint64_t size) { return file_.Reserve(size); }
    // Cuts the file to `size` bytes; later appends continue there.
    bool Truncate(uint64_t size);
    // The offset the next Append writes at.
    uint64_t End() const { return end_; }
    // Flushes and closes; false when the flush or close failed.
    bool Close();
    // Closes, and removes the file when Open created it.
    void CloseAndRemoveIfCreated() { file_.RemoveIfCreated(); }

private:
    RegularFile file_;
    uint64_t end_ = 0;
};

}  // namespace lumora::platform
