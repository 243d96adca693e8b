#include "platform/RandomAccessFile.h"

namespace lumora::platform {

bool RandomAccessFile::Open(const char* path) {
    if (file_.IsOpen()) return false;
    end_ = 0;
    return file_.OpenForWriting(path);
}

bool RandomAccessFile::Append(const void* data, size_t size) {
    return Append2(data, size, nullptr, 0);
}

bool RandomAccessFile::Append2(const void* first, size_t firstSize, const void* second,
                               size_t secondSize) {
    // A short write leaves what made it in the file beyond End(); the writer cuts it off.
    if (!file_.IsOpen() || !file_.WriteAt(end_, first, firstSize, second, secondSize)) return false;
    end_ += firstSize + secondSize;
    return true;
}

bool RandomAccessFile::WriteAt(uint64_t offset, const void* data, size_t size) {
    if (!file_.IsOpen() || offset + size > end_) return false;
    return file_.WriteAt(offset, data, size);
}

bool RandomAccessFile::Truncate(uint64_t size) {
    if (!file_.IsOpen() || !file_.Truncate(size)) return false;
    end_ = size;
    return true;
}

bool RandomAccessFile::Close() {
    if (!file_.IsOpen()) return false;
    return file_.Close();
}

}  // namespace lumora::platform
