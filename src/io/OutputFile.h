#pragma once
// A stdio file opened for writing whose every write, flush and close is checked: a full disk or
// a failing device surfaces as a false result instead of a silently short file.
//
// Threads: owned by one writer.
#include <cstddef>
#include <cstdio>

namespace lumora {

class OutputFile {
public:
    OutputFile() = default;
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // Creates or truncates `path`.
    bool Open(const char* path);
    // For libraries that write through stdio themselves; Close still checks what they did.
    std::FILE* Get() const { return file_; }
    bool Write(const void* data, size_t size);
    // Flushes and closes; false when anything written since Open failed.
    bool Close();

private:
    std::FILE* file_ = nullptr;
    bool failed_ = false;
};

}  // namespace lumora
