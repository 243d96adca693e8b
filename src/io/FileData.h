#pragma once
// A whole file read into memory: the reader behind the configuration file.
//
// Threads: a plain value owned by one caller.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

namespace lumora {

class FileData {
public:
    FileData() = default;
    FileData(const FileData&) = delete;
    FileData& operator=(const FileData&) = delete;

    // Reads the existing file at `path` whole. False when it cannot be opened, is not a regular
    // file, the memory cannot be had, or fewer bytes arrive than the file's size promised; the
    // object is then empty.
    bool Read(const char* path);
    void Release();

    std::span<const uint8_t> Bytes() const { return {data_.get(), size_}; }
    size_t Size() const { return size_; }

private:
    std::unique_ptr<uint8_t[]> data_;
    size_t size_ = 0;
};

}  // namespace lumora
